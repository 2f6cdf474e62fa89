#include "debugger/breakpoints.h"

#include <cctype>
#include <cstdio>

#include "core/machine.h"

// A compiled condition: a small tree evaluated on 32-bit signed values.
struct BreakExpr {
  enum Op : uint8_t {
    Number, Register, Peek, Not, Neg,
    Mul, Div, Mod, Add, Sub, And, Or, Xor, Shl, Shr,
    Lt, Le, Gt, Ge, Eq, Ne, LogAnd, LogOr,
  };
  Op op = Number;
  int32_t value = 0;  // the number, or the register's index
  std::unique_ptr<BreakExpr> a, b;
};

namespace {

enum Reg : int32_t { rA, rF, rB, rC, rD, rE, rH, rL, rI, rR, rAF, rBC, rDE, rHL, rIX, rIY, rSP, rPC, rIXH, rIXL,
                     rIYH, rIYL, rRom, rRam, rIM, rIFF };

struct RegName {
  const char* name;
  Reg reg;
};
constexpr RegName kRegisters[] = {
    {"A", rA},     {"F", rF},     {"B", rB},     {"C", rC},     {"D", rD},   {"E", rE},     {"H", rH},
    {"L", rL},     {"I", rI},     {"R", rR},     {"AF", rAF},   {"BC", rBC}, {"DE", rDE},   {"HL", rHL},
    {"IX", rIX},   {"IY", rIY},   {"SP", rSP},   {"PC", rPC},   {"IXH", rIXH}, {"IXL", rIXL}, {"IYH", rIYH},
    {"IYL", rIYL}, {"ROM", rRom}, {"RAM", rRam}, {"IM", rIM},   {"IFF", rIFF}};

int32_t RegisterValue(Reg r, const Machine& m) {
  Z80Registers z = m.Z80;
  PackFlags(z);
  switch (r) {
    case rA: return z.AF.B.H;
    case rF: return z.AF.B.L;
    case rB: return z.BC.B.H;
    case rC: return z.BC.B.L;
    case rD: return z.DE.B.H;
    case rE: return z.DE.B.L;
    case rH: return z.HL.B.H;
    case rL: return z.HL.B.L;
    case rI: return z.I;
    case rR: return z.R;
    case rAF: return z.AF.W;
    case rBC: return z.BC.W;
    case rDE: return z.DE.W;
    case rHL: return z.HL.W;
    case rIX: return z.IX.W;
    case rIY: return z.IY.W;
    case rSP: return z.SP;
    case rPC: return z.PC;
    case rIXH: return z.IX.B.H;
    case rIXL: return z.IX.B.L;
    case rIYH: return z.IY.B.H;
    case rIYL: return z.IY.B.L;
    case rRom: return m.Memory.UpperRomEnabled ? static_cast<int32_t>(m.Memory.SelectedUpperRom) : -1;
    case rRam: return static_cast<int32_t>(m.Memory.RamConfiguration);
    case rIM: return z.IM;
    case rIFF: return z.IFF1;
  }
  return 0;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::unique_ptr<BreakExpr> Parse(std::string& error) {
    auto e = LogOr();
    Skip();
    if (!error_.empty() || pos_ != s_.size()) {
      error = error_.empty() ? "unexpected \"" + std::string(s_.substr(pos_)) + "\"" : error_;
      return nullptr;
    }
    return e;
  }

 private:
  using Ptr = std::unique_ptr<BreakExpr>;

  void Skip() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  bool Take(std::string_view token) {
    Skip();
    if (s_.substr(pos_, token.size()) != token) return false;
    pos_ += token.size();
    return true;
  }
  static Ptr Make(BreakExpr::Op op, Ptr a, Ptr b = nullptr) {
    auto e = std::make_unique<BreakExpr>();
    e->op = op;
    e->a = std::move(a);
    e->b = std::move(b);
    return e;
  }
  Ptr Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return Make(BreakExpr::Number, nullptr);
  }

  // Binary levels from the loosest: each a list of (token, op), longest first.
  struct Level {
    std::initializer_list<std::pair<std::string_view, BreakExpr::Op>> ops;
  };
  Ptr Binary(int level) {
    static const Level kLevels[] = {
        {{{"||", BreakExpr::LogOr}}},
        {{{"&&", BreakExpr::LogAnd}}},
        {{{"==", BreakExpr::Eq}, {"!=", BreakExpr::Ne}, {"<=", BreakExpr::Le}, {">=", BreakExpr::Ge},
          {"<", BreakExpr::Lt}, {">", BreakExpr::Gt}}},
        {{{"|", BreakExpr::Or}, {"^", BreakExpr::Xor}}},
        {{{"&", BreakExpr::And}}},
        {{{"<<", BreakExpr::Shl}, {">>", BreakExpr::Shr}}},
        {{{"+", BreakExpr::Add}, {"-", BreakExpr::Sub}}},
        {{{"*", BreakExpr::Mul}, {"/", BreakExpr::Div}, {"%", BreakExpr::Mod}}},
    };
    if (level == static_cast<int>(std::size(kLevels))) return Unary();
    Ptr left = Binary(level + 1);
    for (;;) {
      bool matched = false;
      for (const auto& [token, op] : kLevels[level].ops) {
        Skip();
        if (s_.substr(pos_, token.size()) != token) continue;
        // "|" is not the first half of "||", nor "&" of "&&", "<" of "<<".
        if (token.size() == 1 && pos_ + 1 < s_.size() && s_[pos_ + 1] == token[0]) continue;
        pos_ += token.size();
        left = Make(op, std::move(left), Binary(level + 1));
        matched = true;
        break;
      }
      if (!matched) return left;
    }
  }
  Ptr LogOr() { return Binary(0); }

  Ptr Unary() {
    if (Take("!")) return Make(BreakExpr::Not, Unary());
    if (Take("-")) return Make(BreakExpr::Neg, Unary());
    return Primary();
  }

  Ptr Primary() {
    Skip();
    if (pos_ >= s_.size()) return Fail("the condition ends too early");
    // (x) is the byte at x, as Z80 assembly writes it; [x] is grouping.
    if (Take("(")) {
      Ptr inner = LogOr();
      if (!Take(")")) return Fail("a \"(\" is not closed");
      return Make(BreakExpr::Peek, std::move(inner));
    }
    if (Take("[")) {
      Ptr inner = LogOr();
      if (!Take("]")) return Fail("a \"[\" is not closed");
      return inner;
    }
    size_t end = pos_;
    if (s_[end] == '&' || s_[end] == '$' || s_[end] == '#') ++end;  // a hex prefix
    while (end < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[end])) || s_[end] == '_')) ++end;
    const std::string_view word = s_.substr(pos_, end - pos_);
    if (word.empty()) return Fail("unexpected \"" + std::string(s_.substr(pos_)) + "\"");
    uint32_t number = 0;
    if (ParseDebugNumber(word, number)) {
      pos_ = end;
      auto e = Make(BreakExpr::Number, nullptr);
      e->value = static_cast<int32_t>(number);
      return e;
    }
    std::string upper(word);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const RegName& r : kRegisters) {
      if (upper != r.name) continue;
      pos_ = end;
      auto e = Make(BreakExpr::Register, nullptr);
      e->value = r.reg;
      return e;
    }
    return Fail("unknown name \"" + std::string(word) + "\"");
  }

  std::string_view s_;
  size_t pos_ = 0;
  std::string error_;
};

std::shared_ptr<const BreakExpr> Compile(std::string_view text, std::string& error) {
  Parser p(text);
  return std::shared_ptr<const BreakExpr>(p.Parse(error));
}

bool IsWatch(BreakKind k) {
  return k == BreakKind::Read || k == BreakKind::Write || k == BreakKind::Access || k == BreakKind::PortIn ||
         k == BreakKind::PortOut;
}

const char* KindWord(BreakKind k) {
  switch (k) {
    case BreakKind::Execute: return "BREAK";
    case BreakKind::Read: return "WATCH read";
    case BreakKind::Write: return "WATCH write";
    case BreakKind::Access: return "WATCH access";
    case BreakKind::PortIn: return "WATCH in";
    case BreakKind::PortOut: return "WATCH out";
    case BreakKind::Interrupt: return "INTERRUPT";
    case BreakKind::Vsync: return "VSYNC";
    case BreakKind::ScanLine: return "SCAN LINE";
  }
  return "BREAK";
}

std::string Hex4(uint32_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "&%04X", v & 0xFFFF);
  return text;
}

// The breakpoint and its condition hold: count it and stop.
bool Hit(Machine& m, size_t index, uint16_t address) {
  BreakState& s = m.Breaks;
  Breakpoint& bp = s.List[index];
  if (bp.Compiled && EvaluateCondition(*bp.Compiled, m) == 0) return false;
  ++bp.Hits;
  if (s.Stopped) return true;  // the first hit of the instruction is the one reported
  s.Stopped = 1;
  s.HitIndex = static_cast<int>(index);
  s.HitAddress = address;
  s.Reason = DescribeStop(s);
  if (bp.Temporary) {
    s.List.erase(s.List.begin() + static_cast<long>(index));
    s.HitIndex = -1;
    RebuildBreaks(s);
  }
  return true;
}

}  // namespace

bool ParseDebugNumber(std::string_view text, uint32_t& value) {
  int base = 10;
  if (text.empty()) return false;
  if (text[0] == '&' || text[0] == '$' || text[0] == '#') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && (text.back() == 'h' || text.back() == 'H') &&
             std::isdigit(static_cast<unsigned char>(text[0]))) {
    base = 16;
    text.remove_suffix(1);
  }
  if (text.empty() || text.size() > 8) return false;
  uint32_t v = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  }
  value = v;
  return true;
}

int32_t EvaluateCondition(const BreakExpr& e, const Machine& m) {
  auto a = [&] { return EvaluateCondition(*e.a, m); };
  auto b = [&] { return EvaluateCondition(*e.b, m); };
  switch (e.op) {
    case BreakExpr::Number: return e.value;
    case BreakExpr::Register: return RegisterValue(static_cast<Reg>(e.value), m);
    case BreakExpr::Peek: return ReadByte(m.Memory, static_cast<uint16_t>(a()));
    case BreakExpr::Not: return !a();
    case BreakExpr::Neg: return -a();
    case BreakExpr::Mul: return a() * b();
    case BreakExpr::Div: {
      const int32_t d = b();
      return d == 0 ? 0 : a() / d;
    }
    case BreakExpr::Mod: {
      const int32_t d = b();
      return d == 0 ? 0 : a() % d;
    }
    case BreakExpr::Add: return a() + b();
    case BreakExpr::Sub: return a() - b();
    case BreakExpr::And: return a() & b();
    case BreakExpr::Or: return a() | b();
    case BreakExpr::Xor: return a() ^ b();
    case BreakExpr::Shl: return static_cast<int32_t>(static_cast<uint32_t>(a()) << (b() & 31));
    case BreakExpr::Shr: return static_cast<int32_t>(static_cast<uint32_t>(a()) >> (b() & 31));
    case BreakExpr::Lt: return a() < b();
    case BreakExpr::Le: return a() <= b();
    case BreakExpr::Gt: return a() > b();
    case BreakExpr::Ge: return a() >= b();
    case BreakExpr::Eq: return a() == b();
    case BreakExpr::Ne: return a() != b();
    case BreakExpr::LogAnd: return a() && b();
    case BreakExpr::LogOr: return a() || b();
  }
  return 0;
}

std::string CheckCondition(std::string_view text) {
  std::string error;
  Compile(text, error);
  return error;
}

bool ConditionHolds(std::string_view text, const Machine& m, std::string* error) {
  std::string why;
  const auto e = Compile(text, why);
  if (error) *error = why;
  return e && EvaluateCondition(*e, m) != 0;
}

std::string AddBreakpoint(BreakState& s, Breakpoint bp) {
  if (bp.Last < bp.First) return "the range ends before it starts";
  bp.Compiled.reset();
  if (!bp.Condition.empty()) {
    std::string error;
    bp.Compiled = Compile(bp.Condition, error);
    if (!error.empty()) return "in the condition \"" + bp.Condition + "\": " + error;
  }
  s.List.push_back(std::move(bp));
  RebuildBreaks(s);
  return {};
}

void RemoveBreakpoint(BreakState& s, size_t index) {
  if (index >= s.List.size()) return;
  s.List.erase(s.List.begin() + static_cast<long>(index));
  RebuildBreaks(s);
}

void ClearBreakpoints(BreakState& s) {
  s.List.clear();
  RebuildBreaks(s);
}

void RebuildBreaks(BreakState& s) {
  s.Active = s.Trace ? 1 : 0;
  s.Watching = 0;
  s.ExecuteMap.assign(0x10000, 0);
  for (const Breakpoint& bp : s.List) {
    if (!bp.Enabled) continue;
    s.Active = 1;
    if (IsWatch(bp.Kind)) s.Watching = 1;
    if (bp.Kind == BreakKind::Execute)
      for (uint32_t a = bp.First; a <= bp.Last; ++a) s.ExecuteMap[a] = 1;
  }
}

void ResumeFromBreak(BreakState& s) {
  s.SkipOnce = s.Stopped;
  s.Stopped = 0;
  s.HitIndex = -1;
  s.Reason.clear();
}

std::string DescribeStop(const BreakState& s) {
  if (s.HitIndex < 0 || s.HitIndex >= static_cast<int>(s.List.size())) return s.Reason;
  const Breakpoint& bp = s.List[static_cast<size_t>(s.HitIndex)];
  std::string text = KindWord(bp.Kind);
  switch (bp.Kind) {
    case BreakKind::Interrupt:
    case BreakKind::Vsync:
      break;
    case BreakKind::ScanLine:
      text.append(" ").append(std::to_string(bp.First));
      break;
    case BreakKind::Execute:
      text.append(" at ").append(Hex4(s.HitAddress));
      break;
    default:
      text.append(" ").append(Hex4(s.HitAddress));
      break;
  }
  if (!bp.Name.empty()) text += " (" + bp.Name + ")";
  if (!bp.Condition.empty()) text += " if " + bp.Condition;
  return text;
}

std::string RegisterLine(const Machine& m) {
  Z80Registers z = m.Z80;
  PackFlags(z);
  char text[160];
  std::snprintf(text, sizeof text,
                "PC=&%04X SP=&%04X AF=&%04X BC=&%04X DE=&%04X HL=&%04X IX=&%04X IY=&%04X "
                "AF'=&%04X BC'=&%04X DE'=&%04X HL'=&%04X I=&%02X R=&%02X IM=%u IFF1=%u",
                z.PC, z.SP, z.AF.W, z.BC.W, z.DE.W, z.HL.W, z.IX.W, z.IY.W, z.AF2.W, z.BC2.W, z.DE2.W, z.HL2.W, z.I,
                z.R, z.IM, z.IFF1);
  return text;
}

bool BreakBeforeInstruction(Machine& m) {
  BreakState& s = m.Breaks;
  const Z80Registers& z = m.Z80;
  if (s.Trace) s.Trace(m);
  if (s.SkipOnce) {  // the instruction the machine stopped before runs now
    s.SkipOnce = 0;
    return false;
  }
  if (!s.ExecuteMap.empty() && s.ExecuteMap[z.PC]) {
    for (size_t i = 0; i < s.List.size(); ++i) {
      const Breakpoint& bp = s.List[i];
      if (bp.Enabled && bp.Kind == BreakKind::Execute && z.PC >= bp.First && z.PC <= bp.Last &&
          Hit(m, i, z.PC))
        return true;
    }
  }
  return false;
}

void BreakOnAccess(Machine& m, BreakKind kind, uint16_t address) {
  BreakState& s = m.Breaks;
  for (size_t i = 0; i < s.List.size(); ++i) {
    const Breakpoint& bp = s.List[i];
    if (!bp.Enabled) continue;
    bool match = false;
    switch (bp.Kind) {
      case BreakKind::Read:
      case BreakKind::Write:
      case BreakKind::Access:
        match = (bp.Kind == kind || (bp.Kind == BreakKind::Access && kind != BreakKind::PortIn &&
                                     kind != BreakKind::PortOut)) &&
                address >= bp.First && address <= bp.Last;
        break;
      case BreakKind::PortIn:
      case BreakKind::PortOut:
        match = bp.Kind == kind && (address & bp.Mask) == (bp.Value & bp.Mask);
        break;
      default:
        break;
    }
    if (match && Hit(m, i, address)) return;
  }
}

void BreakAfterInterrupt(Machine& m) {
  BreakState& s = m.Breaks;
  for (size_t i = 0; i < s.List.size(); ++i)
    if (s.List[i].Enabled && s.List[i].Kind == BreakKind::Interrupt && Hit(m, i, m.Z80.PC)) return;
}

void BreakAfterVideoStep(Machine& m) {
  BreakState& s = m.Breaks;
  const uint8_t vsync = m.Crtc.VSYNC, hsync = m.Crtc.HSYNC;
  const bool vsyncStart = vsync && !s.LastVsync;
  const bool lineStart = hsync && !s.LastHsync;
  s.LastVsync = vsync;
  s.LastHsync = hsync;
  if (vsyncStart) s.LinesSinceVsync = 0;
  else if (lineStart) ++s.LinesSinceVsync;
  if (!vsyncStart && !lineStart) return;
  for (size_t i = 0; i < s.List.size(); ++i) {
    const Breakpoint& bp = s.List[i];
    if (!bp.Enabled) continue;
    if ((bp.Kind == BreakKind::Vsync && vsyncStart) ||
        (bp.Kind == BreakKind::ScanLine && lineStart && s.LinesSinceVsync == bp.First)) {
      if (Hit(m, i, m.Z80.PC)) return;
    }
  }
}
