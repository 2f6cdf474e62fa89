// RS-232 expansion: a DART-style two-channel controller and an 8253-style
// baud-rate timer, connected to a serial port of the host.
//
// Modelled: channel A's data port (an output buffer sent once per period and
// an input buffer filled once per period), channel A's write registers and
// its "input waiting" status, channel B's register file, the three timer
// counters, and the line settings (baud rate from counter 0, parity and stop
// bits from A's register 4, data bits and DTR from register 5, RTS from
// registers 3 and 5) applied to the host port whenever a write changes them.
// Not modelled: transmit-ready and error status bits, interrupts, channel B
// data, the timer's counting (only its load value is used).
//
// The host port sits behind SerialHostPort so the core needs no serial
// library; src/platform/serial_port.h has the real one, the tests a fake.
// Everything here runs in the emulation thread except SerialOpen and
// SerialClose, which the owner calls while the emulation is suspended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum class SerialParity : uint8_t { None, Odd, Even };
enum class SerialStopBits : uint8_t { One, OneAndHalf, Two };
// In the order the DART's register bits give them.
enum class SerialRts : uint8_t { Off, On, Handshake, Toggle };

struct SerialLineSettings {
  uint32_t Baud = 0;
  uint8_t DataBits = 8;
  SerialParity Parity = SerialParity::None;
  SerialStopBits StopBits = SerialStopBits::One;
  bool Dtr = false;
  SerialRts Rts = SerialRts::Off;
  bool operator==(const SerialLineSettings&) const = default;
};

struct SerialModemLines {
  bool Cts = false;
  bool Ring = false;
};

class SerialHostPort {
 public:
  virtual ~SerialHostPort() = default;
  // Opens an existing port for exclusive reading and writing and keeps its
  // current settings for Close. On failure returns false and says why.
  virtual bool Open(const std::string& name, std::string& error) = 0;
  // Restores the kept settings and closes.
  virtual void Close() = 0;
  virtual void Apply(const SerialLineSettings& settings) = 0;
  // Errors are swallowed: the emulated machine has no way to see them.
  virtual void Write(const uint8_t* data, size_t count) = 0;
  // What has arrived so far, at most max bytes; never waits.
  virtual size_t Read(uint8_t* data, size_t max) = 0;
  virtual SerialModemLines ModemLines() = 0;
};

inline constexpr const char* kSerialNotConnected = "Not Connected";
inline constexpr size_t kSerialOutputSize = 256;  // the last position is never sent
inline constexpr size_t kSerialInputSize = 255;
inline constexpr uint8_t kSerialPointerIdle = 255;

struct SerialState {
  uint8_t SerialEnabled;       // fitted and its host port is open
  std::string SerialPortName;  // SERIAL; "Not Connected" or empty: not fitted
  std::unique_ptr<SerialHostPort> Host;

  uint8_t ChannelA[6];  // write registers; register 0 bits 5/4 receive CTS/RI
  uint8_t ChannelB[6];
  uint8_t PointerA, PointerB;  // kSerialPointerIdle or the register for the next control access

  uint16_t TimerCounter[3];
  uint8_t TimerMode[3];    // bits 5-0 of the last control word for the counter
  uint8_t TimerToggle[3];  // 1: the next alternate-byte load is the low byte

  uint8_t Output[kSerialOutputSize];
  uint32_t OutputCount;  // at most 255
  uint8_t Input[kSerialInputSize];
  uint32_t InputTotal;
  uint32_t InputRemaining;

  // What the host port was last given, so that unchanged settings are not
  // pushed to the driver again on every byte.
  SerialLineSettings Applied;
  uint8_t SettingsApplied;
};

// Attaches the interface to the named host port through host. Returns an
// empty string when it is open or not fitted; otherwise the interface stays
// switched off and the message names the port that failed.
std::string SerialOpen(SerialState& s, const std::string& portName, std::unique_ptr<SerialHostPort> host);
// Restores the host port's settings and closes it.
void SerialClose(SerialState& s);

void SerialReset(SerialState& s);
void SerialWrite(SerialState& s, uint16_t port, uint8_t value);
uint8_t SerialRead(SerialState& s, uint16_t port);
// Once per period: send the output buffer, fetch input, read the modem lines.
void SerialPoll(SerialState& s);

// The line settings the registers currently ask for.
SerialLineSettings SerialLineSettingsFromRegisters(const SerialState& s);
