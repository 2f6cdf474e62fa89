// 8255 PPI: PSG bus, keyboard line select, cassette and printer lines, and
// the keyboard matrix it scans.
#pragma once

#include <cstdint>

struct Machine;

struct PpiState {
  uint8_t PortA, PortB, PortC, Control;
};

struct KeyboardState {
  uint8_t Matrix[16];
};

void PpiReset(Machine& m);
void PpiWrite(Machine& m, uint16_t port, uint8_t value);
uint8_t PpiRead(Machine& m, uint16_t port);
void KeyboardReset(KeyboardState& k);
