// The debugger's optional log of port writes that reach the PPI (address
// bit 11 low). The port decoding calls LogPortWrite on every such write; while
// the log is switched on the write is kept in a fixed ring, so the emulation
// thread never allocates or locks for it. The debugger reads the ring only
// while the emulation is paused.
//
// Left out: the log is not unbounded. Once the ring is full the oldest writes
// give way to new ones, since a running program makes thousands a second.
#pragma once

#include <cstdint>

struct Machine;

constexpr uint32_t kPortLogCapacity = 65536;  // a power of two

struct PortLogState {
  uint8_t Enabled;
  uint64_t Count;                         // writes logged since the last clear
  uint32_t Entries[kPortLogCapacity];     // port << 8 | value, ring by Count
};

void LogPortWrite(Machine& m, uint16_t port, uint8_t value);
