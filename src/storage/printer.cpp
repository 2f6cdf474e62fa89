#include "storage/printer.h"

#include "core/machine.h"

void PrinterReset(Machine&) {}
void PrinterWrite(Machine& m, uint8_t value) { m.Printer.LastByte = value; }
uint8_t PrinterRead(Machine&, uint8_t soFar) { return soFar; }
void DigiblasterSampleStep(Machine&) {}
