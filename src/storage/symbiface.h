// SymbiFace II: IDE hard disks, real-time clock, PS/2 mouse and ROM RAM.
#pragma once

#include <cstdint>

struct Machine;

struct SymbifaceState {
  uint8_t Fitted;
};

void SymbifaceReset(Machine& m);
void SymbifaceWrite(Machine& m, uint16_t port, uint8_t value);
uint8_t SymbifaceRead(Machine& m, uint16_t port);
