#include "storage/symbiface.h"

#include "core/machine.h"

void SymbifaceReset(Machine&) {}
void SymbifaceWrite(Machine&, uint16_t, uint8_t) {}
uint8_t SymbifaceRead(Machine&, uint16_t) { return 0xFF; }
