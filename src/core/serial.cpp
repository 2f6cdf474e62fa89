#include "core/serial.h"

#include <algorithm>
#include <cstring>

namespace {

struct BaudCount {
  uint16_t Count;
  uint32_t Baud;
};

// Timer counts that the CPC serial firmware uses for the standard rates; the
// divisions do not come out exact, so they are matched by table.
constexpr BaudCount kBaudCounts[] = {
    {7, 19200},  {13, 9600},  {17, 7200},  {26, 4800},  {35, 3600},   {52, 2400},
    {63, 2000},  {69, 1800},  {104, 1200}, {208, 600},  {416, 300},   {625, 200},
    {833, 150},  {1136, 110}, {1667, 75},  {2500, 50},  {2777, 45},
};

uint32_t BaudFromCount(uint16_t n) {
  if (n == 0 || n == 4) return 31250;
  for (const BaudCount& b : kBaudCounts)
    if (b.Count == n) return b.Baud;
  return 125000u / n;
}

void ApplySettings(SerialState& s) {
  const SerialLineSettings wanted = SerialLineSettingsFromRegisters(s);
  if (s.SettingsApplied && wanted == s.Applied) return;
  s.Host->Apply(wanted);
  s.Applied = wanted;
  s.SettingsApplied = 1;
}

void LoadCounter(SerialState& s, int counter, uint8_t value) {
  uint16_t& c = s.TimerCounter[counter];
  switch ((s.TimerMode[counter] >> 4) & 3) {
    case 1:
      c = static_cast<uint16_t>((c & 0xFF00) | value);
      break;
    case 2:
      c = static_cast<uint16_t>((c & 0x00FF) | (value << 8));
      break;
    case 3:
      if (s.TimerToggle[counter])
        c = static_cast<uint16_t>((c & 0xFF00) | value);
      else
        c = static_cast<uint16_t>((c & 0x00FF) | (value << 8));
      s.TimerToggle[counter] ^= 1;
      break;
    default:
      break;
  }
}

void ControlWrite(uint8_t& pointer, uint8_t* registers, uint8_t value) {
  if ((pointer & 7) < 6) registers[pointer & 7] = value;
  pointer = kSerialPointerIdle;
}

}  // namespace

SerialLineSettings SerialLineSettingsFromRegisters(const SerialState& s) {
  const uint8_t r3 = s.ChannelA[3], r4 = s.ChannelA[4], r5 = s.ChannelA[5];
  SerialLineSettings out;
  out.Baud = BaudFromCount(s.TimerCounter[0]);
  // Bit 0 enables parity and bit 1 picks even or odd. Enabling parity on the
  // host whatever bit 0 says would put a parity bit on the wire that an 8N1
  // peer cannot frame, so a cleared bit 0 means no parity at all.
  if (r4 & 0x01) out.Parity = (r4 & 0x02) ? SerialParity::Even : SerialParity::Odd;
  // Stop bits as the DART encodes them: 01 one, 10 one and a half, 11 two
  // (00, the synchronous modes, has no asynchronous meaning: one). Reading
  // 01 as one and a half would turn the usual setting into 1.5 stop bits.
  switch ((r4 >> 2) & 3) {
    case 2:
      out.StopBits = SerialStopBits::OneAndHalf;
      break;
    case 3:
      out.StopBits = SerialStopBits::Two;
      break;
    default:
      out.StopBits = SerialStopBits::One;
      break;
  }
  out.Dtr = (r5 & 0x80) != 0;
  out.DataBits = static_cast<uint8_t>(5 + ((r5 >> 5) & 3));
  out.Rts = static_cast<SerialRts>(((r3 >> 5) & 1) * 2 + ((r5 >> 1) & 1));
  return out;
}

std::string SerialOpen(SerialState& s, const std::string& portName, std::unique_ptr<SerialHostPort> host) {
  SerialClose(s);
  s.SerialPortName = portName;
  if (portName.empty() || portName == kSerialNotConnected || !host) return {};
  std::string reason;
  if (!host->Open(portName, reason)) {
    return "Serial port " + portName + " could not be opened" + (reason.empty() ? "" : ": " + reason);
  }
  s.Host = std::move(host);
  s.SettingsApplied = 0;
  s.OutputCount = 0;
  s.InputTotal = s.InputRemaining = 0;
  s.SerialEnabled = 1;
  return {};
}

void SerialClose(SerialState& s) {
  if (s.Host) s.Host->Close();
  s.Host.reset();
  s.SerialEnabled = 0;
}

void SerialReset(SerialState& s) {
  std::memset(s.ChannelA, 0, sizeof s.ChannelA);
  std::memset(s.ChannelB, 0, sizeof s.ChannelB);
  s.PointerA = s.PointerB = kSerialPointerIdle;
  for (int i = 0; i < 3; ++i) {
    s.TimerCounter[i] = 0;
    s.TimerMode[i] = 0;
    s.TimerToggle[i] = 1;
  }
}

void SerialWrite(SerialState& s, uint16_t port, uint8_t value) {
  if (!s.SerialEnabled) return;
  switch (port & 0x0303) {
    case 0x0200:
      // Past 255 bytes the last slot is overwritten and never sent.
      s.Output[s.OutputCount] = value;
      if (s.OutputCount < kSerialOutputSize - 1) ++s.OutputCount;
      break;
    case 0x0201:
      if (s.PointerA == kSerialPointerIdle) {
        if (value < 8) s.PointerA = value;
      } else if (s.PointerA == 0) {
        s.PointerA = kSerialPointerIdle;
      } else {
        ControlWrite(s.PointerA, s.ChannelA, value);
      }
      break;
    case 0x0203:
      if (s.PointerB == kSerialPointerIdle) {
        if (value & 7) s.PointerB = value;
      } else {
        ControlWrite(s.PointerB, s.ChannelB, value);
      }
      break;
    case 0x0300:
    case 0x0301:
    case 0x0302:
      LoadCounter(s, port & 3, value);
      break;
    case 0x0303: {
      const int counter = value >> 6;
      if (counter < 3) {
        s.TimerMode[counter] = value & 0x3F;
        // As on the 8253, a control word restarts the low/high byte sequence.
        s.TimerToggle[counter] = 1;
      }
      break;
    }
    default:  // channel B data is not modelled
      break;
  }
  ApplySettings(s);
}

uint8_t SerialRead(SerialState& s, uint16_t port) {
  if (!s.SerialEnabled) return 0xFF;
  switch (port & 0x0303) {
    case 0x0200:
      if (s.InputRemaining == 0) return 0xFF;
      return s.Input[s.InputTotal - s.InputRemaining--];
    case 0x0201:
      if (s.PointerA != kSerialPointerIdle && (s.PointerA & 7) != 0) return 0xFF;
      return s.InputRemaining ? 1 : 0;
    case 0x0203: {
      uint8_t result;
      if (s.PointerB == kSerialPointerIdle)
        result = s.ChannelB[0];
      else
        result = (s.PointerB & 7) < 6 ? s.ChannelB[s.PointerB & 7] : 0xFF;
      s.PointerB = kSerialPointerIdle;
      return result;
    }
    default:
      return 0xFF;
  }
}

void SerialPoll(SerialState& s) {
  if (!s.SerialEnabled) return;
  if (s.OutputCount) {
    s.Host->Write(s.Output, s.OutputCount);
    s.OutputCount = 0;
  }
  if (s.InputRemaining == 0) {
    const size_t n = std::min(s.Host->Read(s.Input, kSerialInputSize), kSerialInputSize);
    s.InputTotal = s.InputRemaining = static_cast<uint32_t>(n);
  }
  const SerialModemLines lines = s.Host->ModemLines();
  s.ChannelA[0] = static_cast<uint8_t>((s.ChannelA[0] & ~0x30) | (lines.Cts ? 0x20 : 0) | (lines.Ring ? 0x10 : 0));
}
