#include "debugger/debugger_model.h"

#include <algorithm>

#include "core/machine.h"
#include "core/video_step.h"
#include "debugger/disassembler.h"

namespace {

void AppendHex(std::string& s, uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) s += kDigits[(value >> shift) & 15];
}

std::string Hex(uint32_t value, int digits) {
  std::string s;
  AppendHex(s, value, digits);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsHexField(RegisterField f) { return f != RegisterField::Flags && f != RegisterField::IFF1; }

uint16_t* PairOf(Z80Registers& r, RegisterField f) {
  switch (f) {
    case RegisterField::PC: return &r.PC;
    case RegisterField::SP: return &r.SP;
    case RegisterField::AF: return &r.AF.W;
    case RegisterField::BC: return &r.BC.W;
    case RegisterField::DE: return &r.DE.W;
    case RegisterField::HL: return &r.HL.W;
    case RegisterField::IX: return &r.IX.W;
    case RegisterField::IY: return &r.IY.W;
    case RegisterField::AF2: return &r.AF2.W;
    case RegisterField::BC2: return &r.BC2.W;
    case RegisterField::DE2: return &r.DE2.W;
    case RegisterField::HL2: return &r.HL2.W;
    default: return nullptr;
  }
}

// Device fields behind the views; kept here so a change of a device's state
// layout touches only these.
uint8_t CrtcRegisterValue(const Machine& m, int reg) { return m.Crtc.R[reg]; }
void WriteCrtcRegister(Machine& m, int reg, uint8_t value) {
  // Through the ports so the CRTC's write masks apply; the paused program's
  // own register selection is put back afterwards, or its next data write
  // would land in the register the debugger touched.
  const uint8_t selected = m.Crtc.SelectedRegister;
  CrtcWrite(m.Crtc, 0xBC00, static_cast<uint8_t>(reg));
  CrtcWrite(m.Crtc, 0xBD00, value);
  m.Crtc.SelectedRegister = selected;
}
uint8_t PenColour(const Machine& m, int pen) {
  return (pen < 16 ? m.GateArray.PenColours[pen] : m.GateArray.BorderColour) & 31;
}
uint32_t ScreenMode(const Machine& m) { return m.GateArray.ScreenMode; }

// "$1234" operands that a symbol names become the name; bytes and index
// offsets ("$05") stay numbers.
std::string NameOperands(const std::string& text, const SymbolTable& symbols) {
  if (symbols.ByAddress.empty()) return text;
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '$') {
      size_t n = 0;
      while (i + 1 + n < text.size() && HexDigit(text[i + 1 + n]) >= 0) ++n;
      uint16_t value;
      if (n == 4 && ParseHexEntry(std::string_view(text).substr(i + 1, 4), value)) {
        if (std::string name = SymbolAt(symbols, value); !name.empty()) {
          out += name;
          i += 4;
          continue;
        }
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace

void StepInstruction(Machine& m) {
  // The same accounting as the frame loop: the instruction runs in the
  // microsecond where the count is found at 0, and that microsecond is its
  // first, so N steps of an N-NOP instruction move the video N microseconds.
  // An I/O instruction waits for its bus cycle first; the step ends when
  // it has executed.
  Z80Registers& cpu = m.Z80;
  for (;;) {
    VideoStep(m);
    if (cpu.NopCounter == 0) {
      StepZ80(m);
      --cpu.NopCounter;
      if (!cpu.IoDelay) return;
      continue;
    }
    --cpu.NopCounter;
  }
}

bool ParseHexEntry(std::string_view text, uint16_t& value) {
  if (text.size() > 4) text.remove_prefix(text.size() - 4);
  uint16_t v = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    v = static_cast<uint16_t>(v << 4 | digit);
  }
  value = v;
  return true;
}

bool ParseFlagsEntry(std::string_view text, uint8_t& value) {
  if (text.size() > 8) text.remove_prefix(text.size() - 8);
  uint8_t v = 0;
  for (char c : text) {
    if (c != '0' && c != '1') return false;
    v = static_cast<uint8_t>(v << 1 | (c - '0'));
  }
  value = v;
  return true;
}

uint8_t DebuggerModel::ReadView(uint16_t address) const {
  const MemoryMap& mem = m_.Memory;
  const int page = address >> 14;
  const uint16_t offset = address & 0x3FFF;
  if (whatZ80Sees_ || page == 1 || page == 2) return mem.ReadBank[page][offset];
  if (showRom_) return page == 0 ? mem.LowerRom[offset] : mem.UpperRomBank[offset];
  return mem.RamPage[page][offset];
}

void DebuggerModel::Refresh() {
  ComputeListingRange();
  BuildListing();
  BuildDump();
  RedisplayRegisters();
  BuildStack();
  BuildCrtc();
  BuildPsg();
  BuildGateArray();
}

void DebuggerModel::Step() {
  // A step from a stop leaves it behind: the next run checks from the
  // instruction it reaches.
  CancelRun();
  BreakState& s = m_.Breaks;
  s.Stopped = 0;
  s.SkipOnce = 0;
  StepInstruction(m_);
  Refresh();
}

void DebuggerModel::GotoPc() {
  centreOnPc_ = true;
  Refresh();
  centreOnPc_ = false;
}

void DebuggerModel::SetShowRom(bool on) {
  showRom_ = on;
  Refresh();
}

void DebuggerModel::SetWhatZ80Sees(bool on) {
  whatZ80Sees_ = on;
  Refresh();
}

void DebuggerModel::ComputeListingRange() {
  const ByteReader read = [this](uint16_t a) { return ReadView(a); };
  const uint16_t pc = m_.Z80.PC;
  int count = 0, pcIndex = -1;
  for (uint16_t address = 0;;) {
    if (address == pc) pcIndex = count;
    const uint16_t before = address;
    DisassembleOne(read, address);
    ++count;
    if (address <= before) break;  // wrapped past &FFFF
  }
  listingMax_ = std::max(0, count - kListingLines);
  // A PC off the walk's instruction boundaries leaves the listing where it was.
  // Near either end the listing cannot centre PC and stops at its limit.
  const bool centre = followPc_ || centreOnPc_;
  const int wanted = centre && pcIndex >= 0 ? pcIndex - kListingPcLine : listingPosition_;
  listingPosition_ = std::clamp(wanted, 0, listingMax_);
}

void DebuggerModel::BuildListing() {
  const ByteReader read = [this](uint16_t a) { return ReadView(a); };
  uint16_t address = 0;
  for (int i = 0; i < listingPosition_; ++i) DisassembleOne(read, address);
  listing_.clear();
  listingAddress_.clear();
  while (static_cast<int>(listing_.size()) < kListingLines) {
    const uint16_t start = address;
    if (const std::string label = SymbolAt(symbols_, start); !label.empty()) {
      listing_.push_back(std::string(" ").append(label).append(":"));
      listingAddress_.push_back(-1);
      if (static_cast<int>(listing_.size()) == kListingLines) break;
    }
    const std::string text = NameOperands(DisassembleOne(read, address), symbols_);
    const int length = static_cast<uint16_t>(address - start);
    std::string s = " ";
    AppendHex(s, start, 4);
    s += ':';
    s += start == m_.Z80.PC ? '*' : ' ';
    s += ' ';
    for (int i = 0; i < 4; ++i) {
      if (i < length) {
        s += ' ';
        AppendHex(s, read(static_cast<uint16_t>(start + i)), 2);
      } else {
        s += "   ";
      }
    }
    s += "  ";
    s += text;
    listing_.push_back(std::move(s));
    listingAddress_.push_back(start);
  }
}

std::optional<uint16_t> DebuggerModel::ListingAddress(int line) const {
  if (line < 0 || line >= static_cast<int>(listingAddress_.size()) || listingAddress_[line] < 0) return std::nullopt;
  return static_cast<uint16_t>(listingAddress_[line]);
}

void DebuggerModel::SetListingPosition(int position) {
  listingPosition_ = std::clamp(position, 0, listingMax_);
  BuildListing();
}

void DebuggerModel::ListingKey(NavKey key, int line) {
  const bool last = line == kListingLines - 1, first = line == 0;
  if (key == NavKey::Down && last) SetListingPosition(listingPosition_ + 1);
  if (key == NavKey::Up && first) SetListingPosition(listingPosition_ - 1);
  if (key == NavKey::PageDown && last) SetListingPosition(listingPosition_ + kListingLines);
  if (key == NavKey::PageUp && first) SetListingPosition(listingPosition_ - kListingLines);
}

void DebuggerModel::BuildDump() {
  dump_.clear();
  for (int line = 0; line < kDumpLines; ++line) {
    const auto start = static_cast<uint16_t>((dumpPosition_ + line) * kDumpBytesPerLine);
    std::string s = " ";
    AppendHex(s, start, 4);
    s += ':';
    std::string chars;
    for (int i = 0; i < kDumpBytesPerLine; ++i) {
      const uint8_t b = ReadView(static_cast<uint16_t>(start + i));
      s += ' ';
      AppendHex(s, b, 2);
      chars += b < 33 || b > 126 ? '.' : static_cast<char>(b);
    }
    s += "  ";
    s += chars;
    dump_.push_back(std::move(s));
  }
}

void DebuggerModel::SetDumpPosition(int position) {
  dumpPosition_ = std::clamp(position, 0, kDumpScrollMax);
  BuildDump();
}

void DebuggerModel::DumpKey(NavKey key, int line) {
  const bool last = line == kDumpLines - 1, first = line == 0;
  if (key == NavKey::Down && last) SetDumpPosition(dumpPosition_ + 1);
  if (key == NavKey::Up && first) SetDumpPosition(dumpPosition_ - 1);
  if (key == NavKey::PageDown && last) SetDumpPosition(dumpPosition_ + kDumpLines);
  if (key == NavKey::PageUp && first) SetDumpPosition(dumpPosition_ - kDumpLines);
}

void DebuggerModel::BuildStack() {
  stack_.clear();
  const uint16_t sp = m_.Z80.SP;
  for (int i = 0; i < kStackLines; ++i) {
    const auto address = static_cast<uint16_t>(sp + 14 - 2 * i);
    std::string s = " ";
    AppendHex(s, address, 4);
    s += ": ";
    s += address == sp ? '*' : ' ';
    s += ' ';
    AppendHex(s, ReadView(address), 2);
    s += ':';
    AppendHex(s, ReadView(static_cast<uint16_t>(address + 1)), 2);
    stack_.push_back(std::move(s));
  }
}

void DebuggerModel::RedisplayRegisters() {
  Z80Registers& r = m_.Z80;
  PackFlags(r);
  for (int i = 0; i < kRegisterFields; ++i) {
    const auto f = static_cast<RegisterField>(i);
    if (const uint16_t* pair = PairOf(r, f)) registers_[i] = Hex(*pair, 4);
  }
  std::string flags;
  for (int bit = 7; bit >= 0; --bit) flags += (r.AF.B.L >> bit) & 1 ? '1' : '0';
  registers_[static_cast<int>(RegisterField::Flags)] = flags;
  registers_[static_cast<int>(RegisterField::IM)] = std::to_string(r.IM);
  registers_[static_cast<int>(RegisterField::IFF1)] = std::to_string(r.IFF1);
  registers_[static_cast<int>(RegisterField::IR)] = Hex(static_cast<uint32_t>(r.I << 8 | r.R), 4);
}

bool DebuggerModel::AcceptsKey(RegisterField f, char c) {
  if (IsHexField(f)) return HexDigit(c) >= 0;
  return c == '0' || c == '1';
}

bool DebuggerModel::ApplyRegisterEdit(RegisterField f, std::string_view text) {
  Z80Registers& r = m_.Z80;
  bool ok = false;
  if (f == RegisterField::Flags) {
    uint8_t flags;
    if ((ok = ParseFlagsEntry(text, flags))) {
      PackFlags(r);
      r.AF.B.L = flags;
      UnpackFlags(r);
    }
  } else if (f == RegisterField::IFF1) {
    // One flip-flop: the last character counts, as the other entries keep
    // their last characters.
    uint8_t value;
    if ((ok = ParseFlagsEntry(text.substr(text.empty() ? 0 : text.size() - 1), value))) r.IFF1 = value;
  } else {
    uint16_t value;
    ok = ParseHexEntry(text, value);
    if (ok && f == RegisterField::IM) {
      // Only the three modes the CPU has; another number would leave the
      // interrupt logic in a state it never reaches on its own.
      ok = value <= 2;
      if (ok) r.IM = static_cast<uint8_t>(value);
    } else if (ok && f == RegisterField::IR) {
      r.I = static_cast<uint8_t>(value >> 8);
      r.R = static_cast<uint8_t>(value);
    } else if (ok) {
      *PairOf(r, f) = value;
      if (f == RegisterField::AF) UnpackFlags(r);
    }
  }
  if (ok) {
    Refresh();
  } else {
    RedisplayRegisters();
  }
  return ok;
}

void DebuggerModel::BuildCrtc() {
  for (int i = 0; i < kCrtcEdits; ++i) crtc_[i] = Hex(CrtcRegisterValue(m_, kCrtcEditRegisters[i]), 2);
}

// The byte edits take a hex entry like the registers do and keep its low
// byte, as the PC edit keeps the last four digits.
bool DebuggerModel::ApplyCrtcEdit(int edit, std::string_view text) {
  uint16_t value;
  if (edit < 0 || edit >= kCrtcEdits || !ParseHexEntry(text, value)) {
    BuildCrtc();
    return false;
  }
  WriteCrtcRegister(m_, kCrtcEditRegisters[edit], static_cast<uint8_t>(value));
  Refresh();
  return true;
}

void DebuggerModel::BuildPsg() {
  for (int i = 0; i < kPsgEdits; ++i) psg_[i] = Hex(m_.Psg.Registers[i], 2);
}

bool DebuggerModel::ApplyPsgEdit(int reg, std::string_view text) {
  uint16_t value;
  if (reg < 0 || reg >= kPsgEdits || !ParseHexEntry(text, value)) {
    BuildPsg();
    return false;
  }
  // Straight into the register file: the derived periods and volumes follow
  // at the program's next PSG write.
  m_.Psg.Registers[reg] = static_cast<uint8_t>(value);
  Refresh();
  return true;
}

void DebuggerModel::BuildGateArray() {
  const uint8_t offset = monitor_ == 2 ? 32 : 0;
  for (int i = 0; i < kGateArrayPanels; ++i) gateArray_.PanelColour[i] = PenColour(m_, i) + offset;
  gateArray_.ModeText = "Screen Mode: " + std::to_string(ScreenMode(m_));
  gateArray_.RomHighText = "ROM High: ROM " + std::to_string(m_.Memory.SelectedUpperRom);
  gateArray_.LowerRomEnabled = m_.Memory.LowerRomEnabled != 0;
  gateArray_.UpperRomEnabled = m_.Memory.UpperRomEnabled != 0;
}

void DebuggerModel::SetLowerRomEnabled(bool on) {
  m_.Memory.LowerRomEnabled = on;
  UpdateMemoryBanks(m_.Memory);
  Refresh();
}

void DebuggerModel::SetUpperRomEnabled(bool on) {
  m_.Memory.UpperRomEnabled = on;
  UpdateMemoryBanks(m_.Memory);
  Refresh();
}

bool DebuggerModel::PortLogEnabled() const { return m_.PortLog.Enabled != 0; }

void DebuggerModel::SetPortLogEnabled(bool on) { m_.PortLog.Enabled = on; }

void DebuggerModel::ClearPortLog() { m_.PortLog.Count = 0; }

std::vector<std::string> DebuggerModel::PortLogLines() const {
  const PortLogState& log = m_.PortLog;
  const uint64_t first = log.Count > kPortLogCapacity ? log.Count - kPortLogCapacity : 0;
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(log.Count - first));
  for (uint64_t i = first; i < log.Count; ++i) {
    const uint32_t entry = log.Entries[i & (kPortLogCapacity - 1)];
    std::string s = Hex(entry >> 8, 4);
    s += ' ';
    AppendHex(s, entry & 0xFF, 2);
    lines.push_back(std::move(s));
  }
  return lines;
}
