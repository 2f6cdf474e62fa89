// A flat 64 KB bus for driving the Z80 executor in tests: records port
// writes and interrupt acknowledges, answers port reads from a queue.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <vector>

#include "core/z80.h"

struct PortWrite {
  uint16_t port;
  uint8_t value;
  bool operator==(const PortWrite&) const = default;
};

struct TestBus {
  std::array<uint8_t, 0x10000> Memory{};
  std::deque<uint8_t> PortReads;  // answered in order, then &FF
  std::vector<uint16_t> PortsRead;
  std::vector<PortWrite> PortWrites;
  int InterruptsAccepted = 0;

  uint8_t ReadByte(uint16_t a) const { return Memory[a]; }
  void WriteByte(uint16_t a, uint8_t v) { Memory[a] = v; }
  uint8_t Z80In(uint16_t port) {
    PortsRead.push_back(port);
    if (PortReads.empty()) return 0xFF;
    const uint8_t v = PortReads.front();
    PortReads.pop_front();
    return v;
  }
  void Z80Out(uint16_t port, uint8_t v) { PortWrites.push_back({port, v}); }
  void InterruptAccepted() { ++InterruptsAccepted; }

  void Load(uint16_t address, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) Memory[address++] = b;
  }
};

// A CPU just out of reset with timing on, the stack well away from code.
inline Z80Registers FreshCpu() {
  Z80Registers r{};
  r.CountCycles = 1;
  ResetZ80(r);
  r.SP = 0xF000;
  return r;
}
