#include "storage/fdc.h"

#include "core/machine.h"

void FdcReset(Machine&) {}
void FdcWrite(Machine&, uint16_t, uint8_t) {}
uint8_t FdcRead(Machine&, uint16_t) { return 0xFF; }
void FdcFrameTick(Machine&) {}
