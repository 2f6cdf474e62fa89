#include "debugger/port_log.h"

#include "core/machine.h"

void LogPortWrite(Machine& m, uint16_t port, uint8_t value) {
  PortLogState& log = m.PortLog;
  if (!log.Enabled) return;
  log.Entries[log.Count & (kPortLogCapacity - 1)] = static_cast<uint32_t>(port) << 8 | value;
  ++log.Count;
}
