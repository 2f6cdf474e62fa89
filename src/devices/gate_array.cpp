#include "devices/gate_array.h"

#include "core/machine.h"

void GateArrayReset(Machine&) {}
void GateArrayWrite(Machine&, uint8_t) {}
