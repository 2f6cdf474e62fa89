// Printer port (and the Digiblaster on its data lines).
#pragma once

#include <cstdint>

struct Machine;

struct PrinterState {
  uint8_t LastByte;       // last value written to the port
  uint8_t DigiblasterOn;  // the port feeds the Digiblaster sample ring
};

void PrinterReset(Machine& m);
void PrinterWrite(Machine& m, uint8_t value);
uint8_t PrinterRead(Machine& m, uint8_t soFar);

// Stores the last port byte as the next 22050 Hz Digiblaster sample.
void DigiblasterSampleStep(Machine& m);
