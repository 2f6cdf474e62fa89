// A booted CPC 6128 for tests that type into BASIC and read the screen.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli_support.h"
#include "core/machine.h"
#include "devices/screen_text.h"
#include "frontend/autotype.h"

namespace cpc_screen {

inline void RunTicks(Machine& m, int ticks) {
  for (int i = 0; i < ticks; ++i) EmulateTick(m);
}

// Until BASIC has said "Ready" (three emulated seconds at most).
inline bool WaitForReady(Machine& m) {
  for (int i = 0; i < 150; ++i) {
    RunTicks(m, 1);
    for (const std::string& row : ScreenText(m))
      if (row == "Ready") return true;
  }
  return false;
}

inline std::unique_ptr<Machine> BootedCpc() {
  MachineConfig config;
  config.RomDir = RomDir();
  auto m = CreateMachine(config);
  return WaitForReady(*m) ? std::move(m) : nullptr;
}

// Types text through the AutoType engine, each press and release lasting
// three firmware keyboard scans.
inline void TypeText(Machine& m, const std::string& text) {
  AutoTypeState typing;
  StartAutoType(typing, text);
  for (bool more = true; more;) {
    AutoTypeShiftAhead(typing, m.Keyboard);
    RunTicks(m, 1);
    more = AutoTypeStep(typing, m.Keyboard);
    RunTicks(m, 2);
  }
}

// The text typed since the last "Ready": the rows below it joined, every
// row but the last one being a full 40-column line.
inline std::string TypedLine(const Machine& m) {
  const std::vector<std::string> rows = ScreenText(m);
  size_t ready = rows.size();
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i] == "Ready") ready = i;
  size_t last = rows.size();
  while (last > ready + 1 && rows[last - 1].empty()) --last;
  std::string line;
  for (size_t i = ready + 1; i < last; ++i) {
    std::string row = rows[i];
    if (i + 1 < last) row.resize(40, ' ');
    line += row;
  }
  return line;
}

}  // namespace cpc_screen
