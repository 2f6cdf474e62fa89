// uPD765 floppy disk controller and the two drives.
#pragma once

#include <cstdint>

struct Machine;

struct FdcState {
  uint8_t Motor;
};

void FdcReset(Machine& m);
void FdcWrite(Machine& m, uint16_t port, uint8_t value);
uint8_t FdcRead(Machine& m, uint16_t port);
// Head movement progress, once per 20 ms period.
void FdcFrameTick(Machine& m);
