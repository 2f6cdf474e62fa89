#include "debugger/run_control.h"

#include <cstring>

#include "core/machine.h"
#include "debugger/disassembler.h"
#include "devices/screen_text.h"

RunControl::RunControl() = default;

RunControl::~RunControl() {
  if (trace_) std::fclose(trace_);
}

bool RunControl::HasUntil() const {
  return !options_.untilText.empty() || untilPc_ || untilMemory_;
}

std::string RunControl::Setup(Machine& m, const RunControlOptions& options) {
  options_ = options;
  if (!options.symbolsFile.empty())
    if (std::string error = LoadSymbols(options.symbolsFile, symbols_); !error.empty()) return error;
  auto address = [&](const std::string& text, const char* what, uint16_t& out) -> std::string {
    const auto a = ResolveAddress(text, symbols_);
    if (!a) return std::string(what) + ": \"" + text + "\" is neither an address nor a symbol";
    out = *a;
    return {};
  };
  BreakState& s = m.Breaks;
  // --until-pc first: it is the breakpoint that ends the run well.
  if (!options.untilPc.empty()) {
    Breakpoint bp;
    if (std::string e = address(options.untilPc, "--until-pc", bp.First); !e.empty()) return e;
    bp.Last = bp.First;
    bp.Name = SymbolAt(symbols_, bp.First);
    untilPcIndex_ = s.List.size();
    untilPc_ = true;
    AddBreakpoint(s, bp);
  }
  for (const std::string& arg : options.breaks) {
    Breakpoint bp;
    const size_t colon = arg.find(':');
    if (std::string e = address(arg.substr(0, colon), "--break", bp.First); !e.empty()) return e;
    bp.Last = bp.First;
    if (colon != std::string::npos) bp.Condition = arg.substr(colon + 1);
    bp.Name = SymbolAt(symbols_, bp.First);
    if (std::string e = AddBreakpoint(s, bp); !e.empty()) return "--break " + arg + ": " + e;
  }
  for (const std::string& arg : options.watches) {
    Breakpoint bp;
    std::string range = arg, mode = "rw";
    if (const size_t colon = arg.rfind(':'); colon != std::string::npos) {
      range = arg.substr(0, colon);
      mode = arg.substr(colon + 1);
    }
    if (mode == "r")
      bp.Kind = BreakKind::Read;
    else if (mode == "w")
      bp.Kind = BreakKind::Write;
    else if (mode == "rw")
      bp.Kind = BreakKind::Access;
    else
      return "--watch " + arg + ": the access is r, w or rw";
    const size_t dash = range.find('-'), plus = range.find('+');
    if (std::string e = address(range.substr(0, std::min(dash, plus)), "--watch", bp.First); !e.empty()) return e;
    bp.Last = bp.First;
    if (dash != std::string::npos) {
      if (std::string e = address(range.substr(dash + 1), "--watch", bp.Last); !e.empty()) return e;
    } else if (plus != std::string::npos) {
      uint32_t length = 0;
      if (!ParseDebugNumber(range.substr(plus + 1), length) || length == 0 || bp.First + length > 0x10000)
        return "--watch " + arg + ": the length must be 1 or more and stay below &10000";
      bp.Last = static_cast<uint16_t>(bp.First + length - 1);
    }
    bp.Name = SymbolAt(symbols_, bp.First);
    if (std::string e = AddBreakpoint(s, bp); !e.empty()) return "--watch " + arg + ": " + e;
  }
  if (!options.untilMemory.empty()) {
    const size_t eq = options.untilMemory.find('=');
    uint32_t value = 0;
    if (eq == std::string::npos || !ParseDebugNumber(options.untilMemory.substr(eq + 1), value) || value > 255)
      return "--until-memory takes ADDR=VALUE with a byte value";
    if (std::string e = address(options.untilMemory.substr(0, eq), "--until-memory", untilAddress_); !e.empty())
      return e;
    untilValue_ = static_cast<uint8_t>(value);
    untilMemory_ = true;
  }
  for (const std::string& arg : options.dumps) {
    const size_t a = arg.find(':'), b = a == std::string::npos ? a : arg.find(':', a + 1);
    Dump d{};
    uint32_t length = 0;
    if (b == std::string::npos || !ParseDebugNumber(arg.substr(a + 1, b - a - 1), length) || length == 0 ||
        length > 0x10000 || b + 1 >= arg.size())
      return "--dump-memory " + arg + ": takes ADDR:LEN:FILE with LEN from 1 to 65536";
    if (std::string e = address(arg.substr(0, a), "--dump-memory", d.address); !e.empty()) return e;
    d.length = length;
    d.file = arg.substr(b + 1);
    dumps_.push_back(d);
  }
  if (!options.traceFile.empty()) {
    trace_ = std::fopen(options.traceFile.c_str(), "w");
    if (!trace_) return "cannot write the trace file " + options.traceFile + ": " + std::strerror(errno);
  }
  return {};
}

void RunControl::BeforePeriod(Machine& m, long period) {
  if (!trace_) return;
  const bool on = period >= options_.traceFrom && period < options_.traceFrom + options_.traceFrames;
  if (on == static_cast<bool>(m.Breaks.Trace)) return;
  if (on) {
    m.Breaks.Trace = [this](const Machine& machine) {
      uint16_t address = machine.Z80.PC;
      const uint16_t pc = address;
      const std::string text =
          DisassembleOne([&machine](uint16_t a) { return ReadByte(machine.Memory, a); }, address);
      std::string bytes;
      for (uint16_t a = pc; a != address && bytes.size() < 12; ++a) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", ReadByte(machine.Memory, a));
        bytes += hex;
      }
      std::fprintf(trace_, "%04X  %-12s %-18s %s\n", pc, bytes.c_str(), text.c_str(), RegisterLine(machine).c_str());
    };
  } else {
    m.Breaks.Trace = nullptr;
  }
  RebuildBreaks(m.Breaks);
}

bool RunControl::AfterPeriod(Machine& m, long period) {
  BreakState& s = m.Breaks;
  if (s.Stopped) {
    if (untilPc_ && s.HitIndex == static_cast<int>(untilPcIndex_)) {
      untilMet_ = true;
      report_ = "reached " + DescribeStop(s).substr(6) + "\n";  // "BREAK " dropped: "at &1234 (name)"
      return true;
    }
    exitStatus_ = kExitBreakpoint;
    report_ = s.Reason + "\n" + RegisterLine(m) + "\n";
    return true;
  }
  if (untilMemory_ && ReadByte(m.Memory, untilAddress_) == untilValue_) {
    untilMet_ = true;
    return true;
  }
  // The screen is read five times a second: enough for a script, and cheap.
  if (!options_.untilText.empty() && period % 10 == 9) {
    for (const std::string& line : ScreenText(m)) {
      if (line.find(options_.untilText) != std::string::npos) {
        untilMet_ = true;
        return true;
      }
    }
  }
  return false;
}

std::string RunControl::Finish(Machine& m) {
  if (trace_) {
    std::fclose(trace_);
    trace_ = nullptr;
  }
  m.Breaks.Trace = nullptr;
  if (HasUntil() && !untilMet_ && exitStatus_ == 0) {
    exitStatus_ = kExitUntilNotMet;
    std::string what = !options_.untilText.empty() ? "the text \"" + options_.untilText + "\""
                       : untilPc_                  ? "the address " + options_.untilPc
                                                   : "memory " + options_.untilMemory;
    report_ = "not reached before the end of the run: " + what + "\n";
  }
  for (const Dump& d : dumps_) {
    std::FILE* f = std::fopen(d.file.c_str(), "wb");
    if (!f) return "cannot write " + d.file + ": " + std::strerror(errno);
    for (uint32_t i = 0; i < d.length; ++i) std::fputc(ReadByte(m.Memory, static_cast<uint16_t>(d.address + i)), f);
    if (std::fclose(f) != 0) return "cannot write " + d.file + ": " + std::strerror(errno);
  }
  return {};
}
