#include "devices/ppi.h"

#include "core/machine.h"

void PpiReset(Machine&) {}
void PpiWrite(Machine&, uint16_t, uint8_t) {}
uint8_t PpiRead(Machine&, uint16_t) { return 0xFF; }
void KeyboardReset(KeyboardState&) {}
