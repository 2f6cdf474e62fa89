// The debugger's optional log of port writes that reach the PPI.
#pragma once

#include <cstdint>

struct Machine;

void LogPortWrite(Machine& m, uint16_t port, uint8_t value);
