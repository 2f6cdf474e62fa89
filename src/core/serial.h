// RS-232 expansion: a DART-style two-channel controller and an 8253-style
// baud-rate timer, connected to a host serial port.
#pragma once

#include <cstdint>

struct SerialState {
  uint8_t SerialEnabled;
};

void SerialReset(SerialState& s);
void SerialWrite(SerialState& s, uint16_t port, uint8_t value);
uint8_t SerialRead(SerialState& s, uint16_t port);
void SerialPoll(SerialState& s);
