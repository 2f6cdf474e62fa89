#include "core/serial.h"

void SerialReset(SerialState&) {}
void SerialWrite(SerialState&, uint16_t, uint8_t) {}
uint8_t SerialRead(SerialState&, uint16_t) { return 0xFF; }
void SerialPoll(SerialState&) {}
