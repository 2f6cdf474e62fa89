#include "debugger/port_log.h"

#include "core/machine.h"

void LogPortWrite(Machine&, uint16_t, uint8_t) {}
