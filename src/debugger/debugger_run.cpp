// The debugger model's running to a place, breakpoint list, symbols and
// memory search.
#include <algorithm>
#include <cstdio>

#include "core/machine.h"
#include "debugger/debugger_model.h"
#include "debugger/disassembler.h"

namespace {

std::string Hex4(uint32_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "&%04X", v & 0xFFFF);
  return text;
}

bool IsCall(uint8_t op) { return op == 0xCD || (op & 0xC7) == 0xC4 || (op & 0xC7) == 0xC7; }

// DJNZ, HALT and LDIR/CPIR/INIR/OTIR/LDDR/CPDR/INDR/OTDR: the machine comes
// back to the same PC until they are done.
bool IsRepeat(uint8_t op, uint8_t op2) { return op == 0x10 || op == 0x76 || (op == 0xED && (op2 & 0xF4) == 0xB0); }

}  // namespace

StepResult DebuggerModel::StepOver() {
  const uint16_t pc = m_.Z80.PC;
  const uint8_t op = ReadByte(m_.Memory, pc);
  const uint8_t op2 = ReadByte(m_.Memory, static_cast<uint16_t>(pc + 1));
  const bool call = IsCall(op);
  if (!call && !IsRepeat(op, op2)) {
    Step();
    return StepResult::Stepped;
  }
  uint16_t next = pc;
  DisassembleOne([this](uint16_t a) { return ReadByte(m_.Memory, a); }, next);
  Breakpoint bp;
  bp.Kind = BreakKind::Execute;
  bp.First = bp.Last = next;
  bp.Temporary = true;
  bp.Name = "step over";
  if (call) {
    // The return lands after the instruction once the return address is
    // off the stack; a recursive call passing the same place lower on the
    // stack does not count. Routines that return past inline data (the
    // firmware's restarts take a word, print routines a string) land a
    // little further on.
    bp.Last = static_cast<uint16_t>(std::min<uint32_t>(next + 255u, 0xFFFF));
    if (bp.Last < bp.First) bp.Last = bp.First;
    bp.Condition = "SP>=" + Hex4(m_.Z80.SP);
  }
  ::AddBreakpoint(m_.Breaks, bp);
  PrepareRun();
  return StepResult::Running;
}

void DebuggerModel::StepOut() {
  BreakState& s = m_.Breaks;
  s.StepOutLevel = m_.Z80.SP;
  s.ReturnSp = -1;
  RebuildBreaks(s);
  PrepareRun();
}

void DebuggerModel::RunToCursor(uint16_t address) {
  Breakpoint bp;
  bp.Kind = BreakKind::Execute;
  bp.First = bp.Last = address;
  bp.Temporary = true;
  bp.Name = "run to cursor";
  ::AddBreakpoint(m_.Breaks, bp);
  PrepareRun();
}

void DebuggerModel::PrepareRun() {
  BreakState& s = m_.Breaks;
  s.Stopped = 0;
  s.HitIndex = -1;
  s.Reason.clear();
  // Also after a pause at a breakpoint's address: Run goes on from there.
  s.SkipOnce = 1;
}

void DebuggerModel::CancelRun() {
  BreakState& s = m_.Breaks;
  std::erase_if(s.List, [](const Breakpoint& bp) { return bp.Temporary; });
  s.StepOutLevel = -1;
  s.ReturnSp = -1;
  RebuildBreaks(s);
}

std::string DebuggerModel::StopText() const { return m_.Breaks.Stopped ? m_.Breaks.Reason : std::string(); }

std::string DebuggerModel::LoadSymbolFile(const std::filesystem::path& file) {
  SymbolTable table;
  if (std::string error = LoadSymbols(file, table); !error.empty()) return error;
  SetSymbols(std::move(table));
  return {};
}

void DebuggerModel::SetSymbols(SymbolTable table) {
  symbols_ = std::move(table);
  BuildListing();
}

std::vector<BreakpointRow> DebuggerModel::BreakpointRows() const {
  std::vector<BreakpointRow> rows;
  const std::vector<Breakpoint>& list = m_.Breaks.List;
  for (size_t i = 0; i < list.size(); ++i) {
    const Breakpoint& bp = list[i];
    if (bp.Temporary) continue;
    std::string text = kBreakKindNames[static_cast<size_t>(bp.Kind)];
    switch (bp.Kind) {
      case BreakKind::Interrupt:
      case BreakKind::Vsync:
        break;
      case BreakKind::ScanLine:
        text.append(" ").append(std::to_string(bp.First));
        break;
      case BreakKind::PortIn:
      case BreakKind::PortOut:
        text.append(" ").append(Hex4(bp.Value)).append("/").append(Hex4(bp.Mask));
        break;
      default:
        text.append(" ").append(Hex4(bp.First));
        if (bp.Last != bp.First) text.append("-").append(Hex4(bp.Last));
        break;
    }
    if (!bp.Name.empty()) text.append(" (").append(bp.Name).append(")");
    if (!bp.Condition.empty()) text.append(" if ").append(bp.Condition);
    rows.push_back({i, std::move(text), bp.Enabled, bp.Hits});
  }
  return rows;
}

std::string DebuggerModel::AddBreakpoint(BreakKind kind, std::string_view where, std::string_view condition) {
  Breakpoint bp;
  bp.Kind = kind;
  bp.Condition = std::string(condition);
  const std::string text(where);
  auto address = [&](const std::string& part, uint16_t& out) -> std::string {
    const auto a = ResolveAddress(part, symbols_);
    if (!a) return "\"" + part + "\" is neither an address nor a symbol";
    out = *a;
    return {};
  };
  switch (kind) {
    case BreakKind::Interrupt:
    case BreakKind::Vsync:
      break;
    case BreakKind::ScanLine: {
      uint32_t line = 0;
      // The CRTC counts at most 128 character rows of 32 lines.
      if (!ParseDebugNumber(text, line) || line > 4095) return "the scan line is a number from 0 to 4095";
      bp.First = bp.Last = static_cast<uint16_t>(line);
      break;
    }
    case BreakKind::PortIn:
    case BreakKind::PortOut: {
      const size_t slash = text.find('/');
      uint32_t mask = 0xFF00;
      // The CPC's devices decode the high address byte only, so a bare port
      // means any port with that high byte; /MASK says otherwise.
      if (slash != std::string::npos && (!ParseDebugNumber(text.substr(slash + 1), mask) || mask > 0xFFFF))
        return "the port mask \"" + text.substr(slash + 1) + "\" is not a 16-bit number";
      if (std::string e = address(text.substr(0, slash), bp.Value); !e.empty()) return e;
      bp.Mask = static_cast<uint16_t>(mask);
      break;
    }
    default: {
      const size_t dash = text.find('-'), plus = text.find('+');
      if (std::string e = address(text.substr(0, std::min(dash, plus)), bp.First); !e.empty()) return e;
      bp.Last = bp.First;
      if (dash != std::string::npos) {
        if (std::string e = address(text.substr(dash + 1), bp.Last); !e.empty()) return e;
      } else if (plus != std::string::npos) {
        uint32_t length = 0;
        if (!ParseDebugNumber(text.substr(plus + 1), length) || length == 0 || bp.First + length > 0x10000)
          return "the length must be 1 or more and stay within memory";
        bp.Last = static_cast<uint16_t>(bp.First + length - 1);
      }
      bp.Name = SymbolAt(symbols_, bp.First);
      break;
    }
  }
  return ::AddBreakpoint(m_.Breaks, std::move(bp));
}

void DebuggerModel::RemoveBreakpoint(size_t index) { ::RemoveBreakpoint(m_.Breaks, index); }

void DebuggerModel::SetBreakpointEnabled(size_t index, bool on) {
  if (index >= m_.Breaks.List.size()) return;
  m_.Breaks.List[index].Enabled = on;
  RebuildBreaks(m_.Breaks);
}

std::string DebuggerModel::Search(std::string_view pattern, bool forward, uint16_t* found) {
  std::vector<uint8_t> bytes;
  if (!pattern.empty() && pattern.front() == '"') {
    pattern.remove_prefix(1);
    if (!pattern.empty() && pattern.back() == '"') pattern.remove_suffix(1);
    bytes.assign(pattern.begin(), pattern.end());
  } else {
    std::string digits;
    for (char c : pattern) {
      if (c == ' ' || c == ',') continue;
      uint16_t ignored;
      if (!ParseHexEntry(std::string_view(&c, 1), ignored)) return "search for hex bytes, or for text in quotes";
      digits += c;
    }
    if (digits.size() % 2) return "hex bytes take two digits each";
    for (size_t i = 0; i < digits.size(); i += 2) {
      uint16_t value = 0;
      ParseHexEntry(std::string_view(digits).substr(i, 2), value);
      bytes.push_back(static_cast<uint8_t>(value));
    }
  }
  if (bytes.empty()) return "nothing to search for";
  if (bytes != searchBytes_) {
    searchBytes_ = bytes;
    lastMatch_.reset();
  }
  const auto dumpStart = static_cast<uint16_t>(dumpPosition_ * kDumpBytesPerLine);
  // A first search looks at the dump's first address itself.
  int address = lastMatch_ ? *lastMatch_ + (forward ? 1 : -1) : dumpStart;
  for (int tried = 0; tried < 0x10000; ++tried, address += forward ? 1 : -1) {
    const auto start = static_cast<uint16_t>(address);
    bool match = true;
    for (size_t i = 0; i < bytes.size() && match; ++i) match = ReadView(static_cast<uint16_t>(start + i)) == bytes[i];
    if (!match) continue;
    lastMatch_ = start;
    if (found) *found = start;
    SetDumpPosition(start / kDumpBytesPerLine);
    return {};
  }
  return "not found";
}
