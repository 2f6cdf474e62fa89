// Gate array: pens, border, screen mode, ROM enables and the 52-line
// interrupt counter.
#pragma once

#include <cstdint>

struct Machine;

struct GateArrayState {
  uint8_t SelectedPen;
  uint8_t PenColours[16];
  uint8_t BorderColour;
  uint8_t ScreenMode;
  uint8_t IntCounter;
  uint8_t IntDelay;
};

void GateArrayReset(Machine& m);
void GateArrayWrite(Machine& m, uint8_t value);
