#include "debugger/csl.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

#include "core/machine.h"
#include "devices/ppi.h"
#include "frontend/autotype.h"
#include "storage/disk_image.h"
#include "storage/snapshot.h"
#include "storage/tape.h"

namespace fs = std::filesystem;

namespace {

// A chain that loads itself would never end.
constexpr int kMaxChain = 1000;

struct CommandForm {
  const char* Name;
  int MinArgs, MaxArgs;
};

constexpr CommandForm kCommands[] = {
    {"csl_version", 1, 1},   {"reset", 0, 1},          {"crtc_select", 1, 1},   {"disk_insert", 1, 2},
    {"disk_dir", 1, 1},      {"tape_insert", 1, 1},    {"tape_dir", 1, 1},      {"tape_play", 0, 0},
    {"tape_stop", 0, 0},     {"tape_rewind", 0, 0},    {"snapshot_load", 1, 1}, {"snapshot_dir", 1, 1},
    {"key_delay", 1, 3},     {"key_output", 1, 1},     {"key_from_file", 1, 1}, {"wait", 1, 1},
    {"wait_driveonoff", 0, 1}, {"wait_vsyncoffon", 0, 0}, {"wait_ssm0000", 0, 0}, {"screenshot_name", 1, 1},
    {"screenshot_dir", 1, 1}, {"screenshot", 0, 1},    {"snapshot_name", 1, 1}, {"snapshot", 0, 1},
    {"csl_load", 1, 1},
};

const CommandForm* FindCommand(const std::string& name) {
  for (const CommandForm& c : kCommands)
    if (name == c.Name) return &c;
  return nullptr;
}

// Scripts are written on other systems: quotes may be the typographic ones.
size_t QuoteLength(const std::string& s, size_t i) {
  if (s[i] == '\'') return 1;
  if (s.compare(i, 3, "\xE2\x80\x98") == 0 || s.compare(i, 3, "\xE2\x80\x99") == 0) return 3;
  return 0;
}

bool ParseNumber(const std::string& s, uint64_t& value) {
  if (s.empty() || s.size() > 12 || !std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(uint8_t(c)); }))
    return false;
  value = std::stoull(s);
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(uint8_t(c)));
  return s;
}

bool CrtcNumber(const std::string& arg, uint32_t& type) {
  const std::string a = Lower(arg);
  // 1A, 1B and the "Pussy" are variants of type 1 that this machine does not
  // tell apart.
  if (a == "1a" || a == "1b" || a == "pussy") {
    type = 1;
    return true;
  }
  if (a.size() == 1 && a[0] >= '0' && a[0] <= '4') {
    type = uint32_t(a[0] - '0');
    return true;
  }
  return false;
}

// Checks a line's arguments beyond their count.
std::string CheckArgs(const CslLine& l) {
  uint64_t n = 0;
  const auto& a = l.Args;
  if (l.Command == "csl_version" && a[0].rfind("1.", 0) != 0 && a[0] != "1") return "unsupported version '" + a[0] + "'";
  if (l.Command == "reset" && !a.empty() && Lower(a[0]) != "soft" && Lower(a[0]) != "hard")
    return "reset wants soft or hard, not '" + a[0] + "'";
  uint32_t type;
  if (l.Command == "crtc_select" && !CrtcNumber(a[0], type)) return "unknown CRTC '" + a[0] + "'";
  if (l.Command == "disk_insert" && a.size() == 2 && Lower(a[0]) != "a" && Lower(a[0]) != "b")
    return "drive must be A or B, not '" + a[0] + "'";
  if (l.Command == "key_delay" || l.Command == "wait" || l.Command == "wait_driveonoff")
    for (const std::string& arg : a)
      if (!ParseNumber(arg, n)) return "'" + arg + "' is not a number";
  if ((l.Command == "screenshot" || l.Command == "snapshot") && !a.empty() && Lower(a[0]) != "vsync")
    return l.Command + " takes only 'vsync', not '" + a[0] + "'";
  if (l.Command == "key_output") {
    std::vector<CslKeyGroup> groups;
    std::string error;
    if (!CslKeyGroups(a[0], groups, error)) return error;
  }
  return {};
}

// The keys of the \(CODE) sequences.
struct SpecialKey {
  const char* Code;
  int Line, Bit;  // Line -1: a character; -2: \(KOF)
  char Character;
};

constexpr SpecialKey kSpecialKeys[] = {
    {"ESC", 8, 2, 0}, {"TAB", 8, 4, 0}, {"CAP", 8, 6, 0}, {"SHI", 2, 5, 0}, {"CTR", 2, 7, 0},
    {"COP", 1, 1, 0}, {"CLR", 2, 0, 0}, {"DEL", 9, 7, 0}, {"RET", 2, 2, 0}, {"ENT", 0, 6, 0},
    {"ARL", 1, 0, 0}, {"ARR", 0, 1, 0}, {"ARU", 0, 0, 0}, {"ARD", 0, 2, 0}, {"FN0", 1, 7, 0},
    {"FN1", 1, 5, 0}, {"FN2", 1, 6, 0}, {"FN3", 0, 5, 0}, {"FN4", 2, 4, 0}, {"FN5", 1, 4, 0},
    {"FN6", 0, 4, 0}, {"FN7", 1, 2, 0}, {"FN8", 1, 3, 0}, {"FN9", 0, 3, 0}, {"{", -1, 0, '{'},
    {"}", -1, 0, '}'}, {"\\", -1, 0, '\\'}, {"'", -1, 0, '\''}, {"\xE2\x80\x98", -1, 0, '\''},
    {"\xE2\x80\x99", -1, 0, '\''}, {"KOF", -2, 0, 0},
};

void AddKey(CslKeyGroup& g, uint8_t line, uint8_t bit) {
  const std::pair<uint8_t, uint8_t> key{line, bit};
  if (std::find(g.Keys.begin(), g.Keys.end(), key) == g.Keys.end()) g.Keys.push_back(key);
  if (key == std::pair<uint8_t, uint8_t>{2, 2} || key == std::pair<uint8_t, uint8_t>{0, 6}) g.CarriageReturn = true;
}

void AddCharacter(CslKeyGroup& g, uint8_t c) {
  AutoTypeKey key;
  if (!CpcKeyForCharacter(c, key)) return;  // unknown: nothing is sent
  if (key.Shift) AddKey(g, 2, 5);
  AddKey(g, key.Line, key.Bit);
}

}  // namespace

bool CslKeyGroups(const std::string& text, std::vector<CslKeyGroup>& groups, std::string& error) {
  groups.clear();
  bool inBraces = false;
  CslKeyGroup current;
  auto close = [&] {
    if (!current.Keys.empty()) groups.push_back(current);
    current = {};
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == '(') {
      // The code runs to the next ')' after at least one character, so \())
      // is not needed and \(\) is the backslash.
      const size_t end = text.find(')', i + 3);
      if (end == std::string::npos) {
        error = "unterminated key code in '" + text + "'";
        return false;
      }
      const std::string code = text.substr(i + 2, end - i - 2);
      const SpecialKey* key = nullptr;
      for (const SpecialKey& k : kSpecialKeys)
        if (code == k.Code) key = &k;
      if (!key) {
        error = "unknown key code '\\(" + code + ")'";
        return false;
      }
      i = end;
      if (key->Line == -2) {
        if (!inBraces && !groups.empty()) groups.back().NoDelayAfter = true;
        continue;
      }
      if (key->Line == -1) AddCharacter(current, uint8_t(key->Character));
      else AddKey(current, uint8_t(key->Line), uint8_t(key->Bit));
    } else if (c == '{' && !inBraces) {
      inBraces = true;
      continue;
    } else if (c == '}' && inBraces) {
      inBraces = false;
    } else {
      AddCharacter(current, uint8_t(c));
    }
    if (!inBraces) close();
  }
  if (inBraces) {
    error = "unclosed '{' in '" + text + "'";
    return false;
  }
  return true;
}

std::string ParseCsl(const std::string& text, const fs::path& path, CslFile& out) {
  out.Path = path;
  out.Lines.clear();
  std::istringstream in(text);
  std::string raw;
  int number = 0;
  const std::string name = path.filename().string();
  while (std::getline(in, raw)) {
    ++number;
    CslLine line;
    line.Number = number;
    std::string word;
    bool haveWord = false;
    size_t i = 0;
    auto endWord = [&] {
      if (!haveWord) return;
      if (line.Command.empty()) line.Command = Lower(word);
      else line.Args.push_back(word);
      word.clear();
      haveWord = false;
    };
    while (i < raw.size()) {
      const char c = raw[i];
      if (c == ';') break;
      if (size_t q = QuoteLength(raw, i)) {
        endWord();
        i += q;
        std::string quoted;
        bool closed = false;
        while (i < raw.size()) {
          if (raw[i] == '\\' && raw.compare(i, 2, "\\(") == 0) {
            const size_t end = raw.find(')', i + 3);
            if (end == std::string::npos) break;
            quoted += raw.substr(i, end + 1 - i);
            i = end + 1;
          } else if (size_t q2 = QuoteLength(raw, i)) {
            i += q2;
            closed = true;
            break;
          } else {
            quoted += raw[i++];
          }
        }
        if (!closed) return name + ":" + std::to_string(number) + ": unterminated quoted text";
        if (line.Command.empty()) return name + ":" + std::to_string(number) + ": a line must begin with a command";
        line.Args.push_back(quoted);
        continue;
      }
      if (std::isspace(uint8_t(c))) {
        endWord();
      } else {
        word += c;
        haveWord = true;
      }
      ++i;
    }
    endWord();
    if (line.Command.empty()) continue;
    const CommandForm* form = FindCommand(line.Command);
    const std::string where = name + ":" + std::to_string(number) + ": ";
    if (!form) return where + "unknown command '" + line.Command + "'";
    if (int(line.Args.size()) < form->MinArgs || int(line.Args.size()) > form->MaxArgs)
      return where + "wrong number of arguments for " + line.Command;
    if (std::string problem = CheckArgs(line); !problem.empty()) return where + problem;
    out.Lines.push_back(std::move(line));
  }
  return {};
}

CslRunner::CslRunner(CslHost host) : host_(std::move(host)) {}
CslRunner::~CslRunner() = default;

uint64_t CslRunner::Now(const Machine& m) const { return m.ClockAtTick; }

namespace {

std::string LoadScript(const fs::path& file, CslFile& out) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "cannot read " + file.string();
  std::ostringstream text;
  text << in.rdbuf();
  return ParseCsl(text.str(), file, out);
}

// Names written on Windows use "\".
fs::path PathOf(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return fs::path(name);
}

}  // namespace

std::string CslRunner::Start(Machine& m, const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return "CSL script not found: " + file.string();
  if (std::string error = LoadScript(file, file_); !error.empty()) return error;
  next_ = 0;
  running_ = true;
  error_.clear();
  wait_ = Wait::None;
  due_ = Now(m);
  chain_ = 0;
  savedHandler_ = m.Ssm.Handler;
  savedSsmEnabled_ = m.Ssm.Enabled;
  // A script is run for programs that make SSM requests: they are honoured
  // while it runs, whatever the option says.
  m.Ssm.Enabled = 1;
  m.Ssm.Handler = [this](Machine& mm, const SsmRequest& r) { OnSsm(mm, r); };
  return {};
}

void CslRunner::Stop(Machine& m) {
  if (keyDown_) {
    for (const auto& [line, bit] : groups_[group_].Keys) MatrixRelease(m.Keyboard, line, bit);
    keyDown_ = false;
  }
  if (running_ || m.Ssm.Handler) {
    m.Ssm.Handler = savedHandler_;
    m.Ssm.Enabled = savedSsmEnabled_;
  }
  running_ = false;
}

bool CslRunner::Fail(Machine& m, const std::string& message) {
  error_ = message;
  Stop(m);
  return false;
}

fs::path CslRunner::Find(const fs::path& dir, const std::string& name, const fs::path& fallback) const {
  const fs::path p = PathOf(name);
  if (p.is_absolute()) return p;
  const fs::path scriptDir = file_.Path.parent_path();
  std::error_code ec;
  if (!dir.empty()) return (dir.is_absolute() ? dir : scriptDir / dir) / p;
  if (fs::exists(scriptDir / p, ec) || fallback.empty()) return scriptDir / p;
  return fallback / p;
}

fs::path CslRunner::OutputPath(const fs::path& dir, const fs::path& fallback, const std::string& name,
                               const char* ext) const {
  // Without a folder from the script or the owner, next to the script.
  const fs::path base = file_.Path.parent_path();
  const fs::path folder = dir.empty() ? (fallback.empty() ? base : fallback) : (dir.is_absolute() ? dir : base / dir);
  return folder / PathOf(name + ext);
}

std::string CslRunner::TakeScreenshot(Machine& m, const std::string& name) {
  const fs::path path = OutputPath(screenshotDir_, host_.ScreenshotDir, name, ".png");
  std::error_code ec;
  if (!path.parent_path().empty()) fs::create_directories(path.parent_path(), ec);
  if (!host_.WriteScreenshot) return "no picture writer";
  if (std::string error = host_.WriteScreenshot(m, path); !error.empty()) return error;
  written_.push_back(path);
  if (host_.Message) host_.Message("CSL: picture " + path.string());
  return {};
}

std::string CslRunner::TakeSnapshot(Machine& m, const std::string& name) {
  const fs::path path = OutputPath(snapshotDir_, host_.SnapshotDir, name, ".sna");
  std::error_code ec;
  if (!path.parent_path().empty()) fs::create_directories(path.parent_path(), ec);
  const SnapshotResult saved = SaveSnapshot(m, path, kSnapshotDefaultVersion);
  if (!saved.Ok) return saved.Error;
  written_.push_back(path);
  if (host_.Message) host_.Message("CSL: snapshot " + path.string());
  return {};
}

void CslRunner::OnSsm(Machine& m, const SsmRequest& r) {
  std::string error;
  switch (r.Kind) {
    case SsmKind::Numbered: {
      error = TakeScreenshot(m, SsmPictureName(m.Crtc.Type, r.Code));
      break;
    }
    // The script's names are used once: a program that repeats ED FE does
    // not overwrite the picture it asked for.
    case SsmKind::Screenshot:
      if (!screenshotName_.empty()) error = TakeScreenshot(m, std::exchange(screenshotName_, {}));
      break;
    case SsmKind::Snapshot:
      if (!snapshotName_.empty()) error = TakeSnapshot(m, std::exchange(snapshotName_, {}));
      break;
    case SsmKind::Release: ssmReleased_ = true; break;
  }
  // A picture that cannot be written does not stop the program; it is said.
  if (!error.empty() && host_.Message) host_.Message("CSL: " + error);
}

// Steps the machine a microsecond at a time until VSYNC goes from off to on
// (after going off first when it is on now); false when the machine is
// frozen. At most two frames' worth of steps.
bool CslRunner::VsyncEdge(Machine& m) {
  const uint32_t saved = m.MicrosecondsPerTick;
  if (saved == 0) return false;
  m.MicrosecondsPerTick = 1;
  bool wasOn = m.Crtc.VSYNC;
  bool found = false;
  for (int i = 0; i < 2 * 20000 * 4 && !found; ++i) {
    EmulateTick(m);
    const bool on = m.Crtc.VSYNC;
    found = on && !wasOn;
    wasOn = on;
  }
  m.MicrosecondsPerTick = saved;
  return found;
}

bool CslRunner::KeysService(Machine& m) {
  while (Now(m) >= due_) {
    if (keyDown_) {
      const CslKeyGroup& g = groups_[group_];
      for (const auto& [line, bit] : g.Keys) MatrixRelease(m.Keyboard, line, bit);
      keyDown_ = false;
      due_ += g.NoDelayAfter ? 0 : g.CarriageReturn ? keyAfterCr_ : keyGap_;
      ++group_;
    } else if (group_ < groups_.size()) {
      for (const auto& [line, bit] : groups_[group_].Keys) MatrixPress(m.Keyboard, line, bit);
      keyDown_ = true;
      due_ += keyPress_;
    } else {
      return true;
    }
  }
  return false;
}

bool CslRunner::Service(Machine& m) {
  if (!running_) return false;
  for (;;) {
    switch (wait_) {
      case Wait::None: break;
      case Wait::Time:
        if (Now(m) < due_) return true;
        break;
      case Wait::Keys:
        if (!KeysService(m)) return true;
        break;
      case Wait::DriveOnOff: {
        const bool on = m.Fdc.Motor != 0;
        if (driveWasOn_ && !on && driveCount_ > 0) --driveCount_;
        driveWasOn_ = on;
        if (driveCount_ > 0) return true;
        due_ = Now(m);
        break;
      }
      case Wait::Ssm0000:
        if (!ssmReleased_) return true;
        due_ = Now(m);
        break;
      case Wait::Vsync: break;
    }
    wait_ = Wait::None;
    if (next_ >= file_.Lines.size()) {
      Stop(m);
      return false;
    }
    const CslLine& line = file_.Lines[next_++];
    if (!Execute(m, line)) return false;
  }
}

bool CslRunner::Execute(Machine& m, const CslLine& line) {
  const std::string where = file_.Path.filename().string() + ":" + std::to_string(line.Number) + ": ";
  const std::string& c = line.Command;
  const auto& a = line.Args;
  uint64_t n = 0;
  auto missing = [&](const fs::path& p) { return Fail(m, where + "file not found: " + p.string()); };
  std::error_code ec;
  if (c == "csl_version") {
  } else if (c == "reset") {
    // The machine's reset is a power-on that clears RAM; soft keeps it, as
    // the reset button does, and leaves the clearing to the firmware, which
    // clears only the 64 KB it uses.
    const bool soft = !a.empty() && Lower(a[0]) == "soft";
    std::vector<uint8_t> base, expansion;
    if (soft) {
      base.assign(std::begin(m.Memory.BaseRam), std::end(m.Memory.BaseRam));
      expansion.assign(std::begin(m.Memory.ExpansionRam), std::end(m.Memory.ExpansionRam));
    } else {
      std::memset(m.Memory.ExpansionRam, 0, sizeof m.Memory.ExpansionRam);
    }
    ResetMachine(m);
    if (soft) {
      std::copy(base.begin(), base.end(), m.Memory.BaseRam);
      std::copy(expansion.begin(), expansion.end(), m.Memory.ExpansionRam);
    }
  } else if (c == "crtc_select") {
    uint32_t type = 0;
    CrtcNumber(a[0], type);
    if (host_.SelectCrtc) host_.SelectCrtc(m, type);
    else m.Crtc.Type = type;
  } else if (c == "disk_insert") {
    const int drive = a.size() == 2 && Lower(a[0]) == "b" ? 1 : 0;
    const fs::path p = Find(diskDir_, a.back(), host_.DiskDir);
    if (!fs::is_regular_file(p, ec)) return missing(p);
    std::vector<std::string> choices;
    const InsertResult r = InsertDiskPath(m.Fdc.Drives[drive], p.string(), "", &choices);
    if (r.Status != InsertStatus::Inserted)
      return Fail(m, where + "cannot insert " + p.string() + (r.Messages.empty() ? "" : ": " + r.Messages[0]));
  } else if (c == "disk_dir") {
    diskDir_ = PathOf(a[0]);
  } else if (c == "tape_dir") {
    tapeDir_ = PathOf(a[0]);
  } else if (c == "snapshot_dir") {
    snapshotDir_ = PathOf(a[0]);
  } else if (c == "screenshot_dir") {
    screenshotDir_ = PathOf(a[0]);
  } else if (c == "screenshot_name") {
    screenshotName_ = a[0];
  } else if (c == "snapshot_name") {
    snapshotName_ = a[0];
  } else if (c == "tape_insert") {
    const fs::path p = Find(tapeDir_, a[0], host_.TapeDir);
    if (!fs::is_regular_file(p, ec)) return missing(p);
    TapeLoadResult loaded = LoadTapeImage(p);
    if (!loaded.Image) return Fail(m, where + loaded.Error);
    TapeInsert(m.Tape, std::move(loaded.Image));
  } else if (c == "tape_play") {
    TapePlay(m.Tape);
  } else if (c == "tape_stop") {
    TapeStop(m.Tape);
  } else if (c == "tape_rewind") {
    TapeRewind(m.Tape);
  } else if (c == "snapshot_load") {
    const fs::path p = Find(snapshotDir_, a[0], host_.SnapshotDir);
    if (!fs::is_regular_file(p, ec)) return missing(p);
    const SnapshotResult loaded = LoadSnapshot(m, p);
    if (!loaded.Ok) return Fail(m, where + loaded.Error);
  } else if (c == "key_delay") {
    uint64_t v[3] = {};
    for (size_t i = 0; i < a.size(); ++i) ParseNumber(a[i], v[i]);
    keyPress_ = v[0];
    keyGap_ = a.size() >= 2 ? v[1] : v[0];
    keyAfterCr_ = a.size() >= 3 ? v[2] : keyGap_;
  } else if (c == "key_output" || c == "key_from_file") {
    std::string text = a[0];
    if (c == "key_from_file") {
      const fs::path p = Find({}, a[0], {});
      std::ifstream in(p, std::ios::binary);
      if (!in) return missing(p);
      std::ostringstream s;
      s << in.rdbuf();
      // Plain text: each line end is one RETURN, and no \( codes or braces.
      text.clear();
      const std::string raw = s.str();
      for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        if (raw[i] == '\n' || raw[i] == '\r') text += "\\(RET)";
        else if (raw[i] == '\\') text += "\\(\\)";
        else if (raw[i] == '{') text += "\\({)";
        else if (raw[i] == '}') text += "\\(})";
        else text += raw[i];
      }
    }
    std::string error;
    if (!CslKeyGroups(text, groups_, error)) return Fail(m, where + error);
    group_ = 0;
    keyDown_ = false;
    wait_ = Wait::Keys;
  } else if (c == "wait") {
    ParseNumber(a[0], n);
    due_ += n;
    wait_ = Wait::Time;
  } else if (c == "wait_driveonoff") {
    driveCount_ = 1;
    if (!a.empty()) ParseNumber(a[0], n), driveCount_ = uint32_t(std::min<uint64_t>(n, UINT32_MAX));
    // A motor already turning counts as started: scripts often type the
    // command that starts it just before.
    driveWasOn_ = m.Fdc.Motor != 0;
    wait_ = Wait::DriveOnOff;
  } else if (c == "wait_ssm0000") {
    ssmReleased_ = false;
    wait_ = Wait::Ssm0000;
  } else if (c == "wait_vsyncoffon") {
    if (!VsyncEdge(m)) return Fail(m, where + "no VSYNC (the machine is frozen or the CRTC stopped)");
    due_ = Now(m);
  } else if (c == "screenshot" || c == "snapshot") {
    const bool shot = c == "screenshot";
    if (!a.empty() && !VsyncEdge(m)) return Fail(m, where + "no VSYNC (the machine is frozen or the CRTC stopped)");
    if (!a.empty()) due_ = Now(m);
    std::string& name = shot ? screenshotName_ : snapshotName_;
    char fallback[48];
    std::snprintf(fallback, sizeof fallback, "PELLUCIDORE_%s_%06llu", shot ? "SCREEN" : "SNAP",
                  static_cast<unsigned long long>(written_.size() + 1));
    const std::string use = name.empty() ? std::string(fallback) : std::exchange(name, {});
    if (std::string error = shot ? TakeScreenshot(m, use) : TakeSnapshot(m, use); !error.empty())
      return Fail(m, where + error);
  } else if (c == "csl_load") {
    fs::path p = Find({}, a[0], {});
    if (!fs::is_regular_file(p, ec) && p.extension().empty()) {
      for (const char* ext : {".CSL", ".csl"})
        if (fs::is_regular_file(fs::path(p).replace_extension(ext), ec)) p.replace_extension(ext);
    }
    if (!fs::is_regular_file(p, ec)) return missing(p);
    if (++chain_ > kMaxChain) return Fail(m, where + "more than 1000 scripts chained");
    CslFile next;
    if (std::string error = LoadScript(p, next); !error.empty()) return Fail(m, error);
    // The chained script's own folder is the base of its relative names;
    // the folders and names set so far stay.
    file_ = std::move(next);
    next_ = 0;
  }
  return true;
}
