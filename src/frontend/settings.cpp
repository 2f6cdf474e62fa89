#include "frontend/settings.h"

// SI_NO_CONVERSION comes from the build; the template bodies are compiled
// here rather than taken from the packaged library (which pulls in ICU).
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "core/builtin_roms.h"

namespace {

namespace fs = std::filesystem;

// Settings files are a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaxIniSize = 4u << 20;

const char* const kFormKeyNames[kFormKeys] = {"FORM1XPOS", "FORM1YPOS", "FORM1W",    "FORM1H",
                                              "FORM3XPOS", "FORM3YPOS", "FORM7XPOS", "FORM7YPOS"};

std::array<int32_t*, kFormKeys> FormFields(Settings& s) {
  return {&s.FORM1XPOS, &s.FORM1YPOS, &s.FORM1W,    &s.FORM1H,
          &s.FORM3XPOS, &s.FORM3YPOS, &s.FORM7XPOS, &s.FORM7YPOS};
}
std::array<const int32_t*, kFormKeys> FormFields(const Settings& s) {
  return {&s.FORM1XPOS, &s.FORM1YPOS, &s.FORM1W,    &s.FORM1H,
          &s.FORM3XPOS, &s.FORM3YPOS, &s.FORM7XPOS, &s.FORM7YPOS};
}

std::string UpperRomKey(int i) {
  char key[8];
  std::snprintf(key, sizeof key, "ROM%03d", i);
  return key;
}
std::string DipSwitchKey(int i) { return "ROM" + std::to_string(i) + "ENABLE"; }

std::string ToUpper(std::string v) {
  for (char& c : v)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return v;
}

bool EqualNoCase(const std::string& a, const std::string& b) { return ToUpper(a) == ToUpper(b); }

std::string FromWindows(std::string v) {
  std::replace(v.begin(), v.end(), '\\', '/');
  return v;
}

// A profile always lives in the profiles directory, so only the file name
// of LASTPROFILE counts; it is kept with one leading separator.
std::string NormaliseProfileName(const std::string& value, const std::string& fallback) {
  std::string v = FromWindows(value);
  const size_t slash = v.find_last_of('/');
  std::string name = slash == std::string::npos ? v : v.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return fallback;
  return "/" + name;
}

// Decimal with an optional sign, or hexadecimal after "$" or "0x": settings
// files written by hand or by older tools carry both. Anything else, or a
// value outside 32 bits, is not a number and reads as the key's default.
bool ParseInt(const char* text, int32_t& out) {
  std::string v(text);
  size_t i = 0;
  bool negative = false;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
  int base = 10;
  if (i < v.size() && v[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < v.size() && v[i] == '0' && (v[i + 1] == 'x' || v[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == v.size()) return false;
  int64_t value = 0;
  for (; i < v.size(); ++i) {
    const char c = v[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value * base + digit;
    if (value > 0x80000000LL) return false;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return false;
  out = static_cast<int32_t>(value);
  return true;
}

enum class FileState { Missing, Loaded, Unreadable };

// One INI file in memory: read, changed key by key, written back whole.
class IniFile {
 public:
  IniFile() {
    ini_.SetUnicode(true);
    ini_.SetSpaces(false);
  }

  FileState Load(const fs::path& file) {
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (ec || !fs::exists(status)) return FileState::Missing;
    if (!fs::is_regular_file(status)) return FileState::Unreadable;
    const auto size = fs::file_size(file, ec);
    if (ec || size > kMaxIniSize) return FileState::Unreadable;
    std::ifstream in(file, std::ios::binary);
    if (!in) return FileState::Unreadable;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return FileState::Unreadable;
    crlf_ = data.find("\r\n") != std::string::npos;
    trailer_ = TrailingComments(data);
    if (ini_.LoadData(data) < 0) return FileState::Unreadable;
    return FileState::Loaded;
  }

  int32_t Int(const char* section, const std::string& key, int32_t def) const {
    const char* v = ini_.GetValue(section, key.c_str(), nullptr);
    int32_t value;
    return v && ParseInt(v, value) ? value : def;
  }
  bool Bool(const char* section, const std::string& key, bool def) const {
    return Int(section, key, def ? 1 : 0) != 0;
  }
  std::string String(const char* section, const std::string& key, const std::string& def) const {
    const char* v = ini_.GetValue(section, key.c_str(), nullptr);
    return v ? std::string(v) : def;
  }
  std::string Path(const char* section, const std::string& key, const std::string& def) const {
    return FromWindows(String(section, key, def));
  }

  void Set(const char* section, const std::string& key, const std::string& value) {
    ini_.SetValue(section, key.c_str(), value.c_str());
  }
  void Set(const char* section, const std::string& key, int32_t value) { Set(section, key, std::to_string(value)); }
  void Set(const char* section, const std::string& key, bool value) { Set(section, key, std::string(value ? "1" : "0")); }

  bool Serialise(std::string& out) const {
    std::string data;
    if (ini_.Save(data) < 0) return false;
    if (!trailer_.empty()) data += "\n" + trailer_;
    // One blank line between sections, as people write them; and the line
    // endings of a file that came from Windows.
    out.clear();
    out.reserve(data.size() + data.size() / 16);
    int newlines = 0;
    for (const char c : data) {
      if (c == '\r') continue;
      if (c == '\n') {
        if (++newlines > 2) continue;
        if (crlf_) out += '\r';
      } else {
        newlines = 0;
      }
      out += c;
    }
    return true;
  }

 private:
  // The parser ties each comment to the entry that follows it, so comments
  // after the last entry would be lost; they are put back on save.
  static std::string TrailingComments(const std::string& data) {
    std::vector<std::string> lines;
    std::istringstream in(data);
    for (std::string line; std::getline(in, line);) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
      const size_t first = line.find_first_not_of(" \t");
      lines.push_back(first == std::string::npos ? std::string() : line.substr(first));
    }
    auto isComment = [](const std::string& l) { return !l.empty() && (l[0] == ';' || l[0] == '#'); };
    size_t from = lines.size();
    while (from > 0 && (lines[from - 1].empty() || isComment(lines[from - 1]))) --from;
    if (from == 0) {
      // Only comments: the first block is the file's own comment, which
      // the parser keeps.
      while (from < lines.size() && isComment(lines[from])) ++from;
    }
    std::string trailer;
    for (size_t i = from; i < lines.size(); ++i)
      if (isComment(lines[i])) trailer += lines[i] + "\n";
    return trailer;
  }

  CSimpleIniA ini_;
  bool crlf_ = false;
  std::string trailer_;
};

// Writes the whole file next to the old one and renames it over it, so a
// failure leaves either the old file or the new one, never a part.
bool ReplaceFile(const fs::path& target, const std::string& data) {
  std::error_code ec;
  fs::path file = target;
  if (fs::is_symlink(file, ec)) {
    const fs::path resolved = fs::weakly_canonical(file, ec);
    if (!ec) file = resolved;
  }
  fs::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  struct stat old {};
  const bool hadFile = ::stat(file.c_str(), &old) == 0;

  fs::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    std::string name = file.filename().string();
    name.insert(name.begin(), '.');
    name += '.';
    name += std::to_string(::getpid());
    name += '-';
    name += std::to_string(attempt);
    name += ".tmp";
    temp = dir / name;
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = true;
  size_t done = 0;
  while (ok && done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok && hadFile) ::fchmod(fd, old.st_mode & 07777);
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), file.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

SettingsResult WriteFailure(const std::string& file) {
  SettingsResult r;
  r.Ok = false;
  char message[4096 + 32];
  std::snprintf(message, sizeof message, "Unable to write to %s", file.c_str());
  r.Error = message;
  return r;
}

// Reads the file (when present), lets `write` set its keys and stores it.
// A file that exists but cannot be read is not overwritten: that would lose
// every key the routine does not write.
template <typename Writer>
SettingsResult UpdateIni(const std::string& file, Writer write) {
  IniFile ini;
  if (ini.Load(file) == FileState::Unreadable) return WriteFailure(file);
  write(ini);
  std::string data;
  if (!ini.Serialise(data) || !ReplaceFile(file, data)) return WriteFailure(file);
  return {};
}

void WriteForms(IniFile& ini, const Settings& s) {
  const auto fields = FormFields(s);
  for (int i = 0; i < kFormKeys; ++i) ini.Set("FORMS", kFormKeyNames[i], *fields[i]);
}

void ReadForms(const IniFile& ini, Settings& s, const Settings& d) {
  const auto fields = FormFields(s);
  const auto defaults = FormFields(d);
  for (int i = 0; i < kFormKeys; ++i) *fields[i] = ini.Int("FORMS", kFormKeyNames[i], *defaults[i]);
}

void ReadDrives(const IniFile& ini, Settings& s) {
  s.FDD0 = ini.Path("PATHS", "FDD0", "");
  s.FDD1 = ini.Path("PATHS", "FDD1", "");
  s.COMPRFDD0 = ini.Path("PATHS", "COMPRFDD0", "");
  s.COMPRFDD1 = ini.Path("PATHS", "COMPRFDD1", "");
  s.TAPE = ini.Path("PATHS", "TAPE", "");
}

void WriteDrives(IniFile& ini, const Settings& s) {
  ini.Set("PATHS", "FDD0", s.FDD0);
  ini.Set("PATHS", "FDD1", s.FDD1);
  ini.Set("PATHS", "COMPRFDD0", s.COMPRFDD0);
  ini.Set("PATHS", "COMPRFDD1", s.COMPRFDD1);
  ini.Set("PATHS", "TAPE", s.TAPE);
}

bool ValidVendor(int32_t v) { return v >= 0 && v <= 15 && v % 2 == 0; }

// Reads every profile key into s. `individual` says whether the drives and
// window keys count (INDIVIDUALSET).
void ReadProfile(const IniFile& ini, Settings& s, bool individual, SettingsResult& r) {
  const Settings d = DefaultSettings(s.StartDir);

  s.VENDOR = ini.Int("CPC", "VENDOR", d.VENDOR);
  s.CRTCTYPE = ini.Int("CPC", "CRTCTYPE", d.CRTCTYPE);
  s.CPUSPEED = ini.Int("CPC", "CPUSPEED", d.CPUSPEED);
  s.Z80SPEED = ini.Int("CPC", "Z80SPEED", d.Z80SPEED);
  s.CPUSTATES = ini.Bool("CPC", "CPUStates", d.CPUSTATES);
  s.RAM = ini.Int("CPC", "RAM", d.RAM);
  s.WRPROTECTION0 = ini.Bool("CPC", "WRPROTECTION0", d.WRPROTECTION0);
  s.WRPROTECTION1 = ini.Bool("CPC", "WRPROTECTION1", d.WRPROTECTION1);
  // A brand is an even code 0..14; a negative even code names none, so it is
  // corrected along with the odd ones and those above 14.
  if (!ValidVendor(s.VENDOR)) s.VENDOR = 14;
  if (s.RAM < -1 || s.RAM > 7) s.RAM = 1;
  s.RAM4MB = ini.Bool("CPC", "RAM4MB", d.RAM4MB);

  s.MONITOR = ini.Int("DISPLAY", "MONITOR", d.MONITOR);
  if (s.MONITOR != 1 && s.MONITOR != 2) s.MONITOR = 1;
  s.DOUBLESCANLINE = ini.Bool("DISPLAY", "DOUBLESCANLINE", d.DOUBLESCANLINE);
  s.KEEPASPECTRATIO = ini.Bool("DISPLAY", "KEEPASPECTRATIO", d.KEEPASPECTRATIO);
  s.DIRECTXSTRETCH = ini.Bool("DISPLAY", "DIRECTXSTRETCH", d.DIRECTXSTRETCH);
  s.ZOOM = ini.Int("DISPLAY", "ZOOM", d.ZOOM);
  s.ZOOMXOFF = ini.Int("DISPLAY", "ZOOMXOFF", d.ZOOMXOFF);
  s.ZOOMYOFF = ini.Int("DISPLAY", "ZOOMYOFF", d.ZOOMYOFF);

  s.ROMLow = ini.Path("ROMS", "ROMLow", d.ROMLow);
  for (int i = 0; i < kProfileUpperRoms; ++i) s.ROM[i] = ini.Path("ROMS", UpperRomKey(i), d.ROM[i]);

  s.SOUNDENABLED = ini.Bool("SOUND", "SOUNDENABLED", d.SOUNDENABLED);
  s.CHANNELS = ini.Int("SOUND", "CHANNELS", d.CHANNELS);
  s.SAMPLERATE = ini.Int("SOUND", "SAMPLERATE", d.SAMPLERATE);
  s.BITSPERSAMPLE = ini.Int("SOUND", "BITSPERSAMPLE", d.BITSPERSAMPLE);
  if (s.CHANNELS != 1 && s.CHANNELS != 2) s.CHANNELS = 1;
  if (s.SAMPLERATE != 22050 && s.SAMPLERATE != 44100 && s.SAMPLERATE != 48000) s.SAMPLERATE = 22050;
  if (s.BITSPERSAMPLE != 8 && s.BITSPERSAMPLE != 16) s.BITSPERSAMPLE = 8;

  s.PARMODE = ini.Int("EXPANSIONS", "PARMODE", d.PARMODE);
  s.LPTADDRESS = static_cast<uint16_t>(ini.Int("EXPANSIONS", "LPTADDRESS", d.LPTADDRESS) & 0xFFFF);
  s.LPTMODE = ini.Int("EXPANSIONS", "LPTMODE", d.LPTMODE);
  s.MOUSEEN = ini.Bool("EXPANSIONS", "MOUSEEN", d.MOUSEEN);
  s.LIGHTPEN = ini.Bool("EXPANSIONS", "LIGHTPEN", d.LIGHTPEN);
  s.SERIAL = ini.String("EXPANSIONS", "SERIAL", d.SERIAL);

  s.SYMBIFACE = ini.Bool("SYMBIFACE", "ENABLED", d.SYMBIFACE);
  for (int i = 0; i < 8; ++i) s.ROMENABLE[i] = ini.Bool("SYMBIFACE", DipSwitchKey(i), d.ROMENABLE[i]);
  s.HDD0PATH = ini.Path("SYMBIFACE", "HDD0PATH", d.HDD0PATH);
  s.HDD1PATH = ini.Path("SYMBIFACE", "HDD1PATH", d.HDD1PATH);
  DeriveProfileFields(s);

  if (individual) {
    ReadDrives(ini, s);
    r.DisksRead = true;
    ReadForms(ini, s, d);
  }
}

std::string StripTrailingSeparators(std::string dir) {
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  return dir;
}

// Profiles store ROM names upper-cased; the images on disk keep their own
// spelling ("6128Low.ROM"). A name with no exact match takes the first file
// of the folder that matches it regardless of case.
std::string ResolveRomName(const fs::path& dir, const std::string& name) {
  if (name.empty() || name == "EMPTY" || name.find('/') != std::string::npos) return name;
  std::error_code ec;
  if (fs::exists(dir / name, ec)) return name;
  std::string best;
  for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string candidate = it->path().filename().string();
    if (EqualNoCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  return best.empty() ? name : best;
}

}  // namespace

Settings DefaultSettings(const fs::path& startDir) {
  Settings s;
  std::error_code ec;
  fs::path absolute = fs::absolute(startDir, ec);
  if (ec) absolute = startDir;
  s.StartDir = StripTrailingSeparators(absolute.lexically_normal().string());
  s.ROMDIR = s.StartDir + "/ROMS/";
  s.DISKDIR = s.StartDir + "/DISKS/";
  s.SNAPDIR = s.StartDir + "/SNAPSHOTS/";
  s.STILLSDIR = s.StartDir + "/STILLS/";
  s.PRINTDIR = s.StartDir + "/PRINTS/";
  s.PFLDIR = s.StartDir + "/PROFILES/";
  s.CAPTUREDIR = s.StartDir + "/CAPTURES/";
  s.TAPEDIR = s.StartDir + "/TAPES/";
  return s;
}

std::string SettingsPath(const Settings& s) { return s.StartDir + "/Pellux.ini"; }

std::string ProfilePath(const Settings& s) {
  // The separator that ends PFLDIR and the one that starts LASTPROFILE
  // would double; one is enough.
  if (!s.PFLDIR.empty() && s.PFLDIR.back() == '/' && !s.LASTPROFILE.empty() && s.LASTPROFILE.front() == '/')
    return s.PFLDIR + s.LASTPROFILE.substr(1);
  return s.PFLDIR + s.LASTPROFILE;
}

SettingsResult LoadSettings(Settings& s, MissingFile missing) {
  const Settings d = DefaultSettings(s.StartDir);
  const std::string file = SettingsPath(s);
  IniFile ini;
  const FileState state = ini.Load(file);
  SettingsResult r;

  s.INDIVIDUALSET = ini.Bool("MISC", "INDIVIDUALSET", d.INDIVIDUALSET);
  s.ROMDIR = ini.Path("PATHS", "ROMDIR", d.ROMDIR);
  s.DISKDIR = ini.Path("PATHS", "DISKDIR", d.DISKDIR);
  s.SNAPDIR = ini.Path("PATHS", "SNAPDIR", d.SNAPDIR);
  s.STILLSDIR = ini.Path("PATHS", "STILLSDIR", d.STILLSDIR);
  s.PRINTDIR = ini.Path("PATHS", "PRINTDIR", d.PRINTDIR);
  s.PFLDIR = ini.Path("PATHS", "PFLDIR", d.PFLDIR);
  s.CAPTUREDIR = ini.Path("PATHS", "CAPTUREDIR", d.CAPTUREDIR);
  s.TAPEDIR = ini.Path("PATHS", "TAPEDIR", d.TAPEDIR);
  if (!s.INDIVIDUALSET) {
    ReadDrives(ini, s);
    r.DisksRead = true;
    ReadForms(ini, s, d);
  }

  s.SAVETYPE = ini.Int("STILLS", "SAVETYPE", d.SAVETYPE);
  s.JPGQUALITY = ini.Int("STILLS", "JPGQUALITY", d.JPGQUALITY);
  s.SAVESTILLDIALOG = ini.Bool("STILLS", "SAVESTILLDIALOG", d.SAVESTILLDIALOG);
  s.SAVEHALFSIZE = ini.Bool("STILLS", "SAVEHALFSIZE", d.SAVEHALFSIZE);
  s.NAMEBYDSK = ini.Bool("STILLS", "NAMEBYDSK", d.NAMEBYDSK);
  s.MAXSTILLS = ini.Int("STILLS", "MAXSTILLS", d.MAXSTILLS);
  s.EVERYFRAME = ini.Int("STILLS", "EVERYFRAME", d.EVERYFRAME);

  s.TOOLBAR = ini.Bool("MISC", "TOOLBAR", d.TOOLBAR);
  s.LASTPROFILE = NormaliseProfileName(ini.String("MISC", "LASTPROFILE", d.LASTPROFILE), d.LASTPROFILE);
  s.VIDEODIALOG = ini.Bool("MISC", "VIDEODIALOG", d.VIDEODIALOG);
  s.OVERLAY = ini.Bool("MISC", "OVERLAY", d.OVERLAY);
  s.OVERLAYCOLOR = ini.Int("MISC", "OVERLAYCOLOR", d.OVERLAYCOLOR);
  s.FDDSOUNDENABLE = ini.Bool("MISC", "FDDSOUNDENABLE", d.FDDSOUNDENABLE);
  s.PRINTERIDLE = std::clamp(ini.Int("MISC", "PRINTERIDLE", d.PRINTERIDLE), 1, 3600);
  s.REWIND = ini.Bool("MISC", "REWIND", d.REWIND);
  s.REWINDMEMORY = std::clamp(ini.Int("MISC", "REWINDMEMORY", d.REWINDMEMORY), kRewindMemoryMin, kRewindMemoryMax);
  s.AUTORUN = ini.Bool("MISC", "AUTORUN", d.AUTORUN);
  s.INTEGERSCALE = ini.Bool("MISC", "INTEGERSCALE", d.INTEGERSCALE);
  s.RECENT.clear();
  for (int i = 1; i <= kRecentFiles; ++i)
    if (std::string f = ini.String("RECENT", "FILE" + std::to_string(i), ""); !f.empty()) s.RECENT.push_back(f);
  s.KEYBOARDMODE = ini.Int("MISC", "KEYBOARDMODE", d.KEYBOARDMODE) == 0 ? 0 : 1;
  s.KEYJOYSTICK = ini.Bool("MISC", "KEYJOYSTICK", d.KEYJOYSTICK);
  s.KEYJOYFIRE1 = ini.Int("MISC", "KEYJOYFIRE1", d.KEYJOYFIRE1);
  s.KEYJOYFIRE2 = ini.Int("MISC", "KEYJOYFIRE2", d.KEYJOYFIRE2);
  s.PADJOYSTICK = ini.Bool("MISC", "PADJOYSTICK", d.PADJOYSTICK);
  s.FASTTAPE = ini.Bool("MISC", "FASTTAPE", d.FASTTAPE);
  s.SSMENABLED = ini.Bool("MISC", "SSMENABLED", d.SSMENABLED);

  if (state == FileState::Missing && missing == MissingFile::Create) {
    SettingsResult w = SaveSettings(s);
    if (w.Ok) w = SaveLastState(s);
    if (!w.Ok) return w;
    r.FileCreated = true;
  }
  return r;
}

SettingsResult SaveSettings(const Settings& s) {
  return UpdateIni(SettingsPath(s), [&](IniFile& ini) {
    ini.Set("PATHS", "ROMDIR", s.ROMDIR);
    ini.Set("PATHS", "DISKDIR", s.DISKDIR);
    ini.Set("PATHS", "SNAPDIR", s.SNAPDIR);
    ini.Set("PATHS", "STILLSDIR", s.STILLSDIR);
    ini.Set("PATHS", "PRINTDIR", s.PRINTDIR);
    ini.Set("PATHS", "PFLDIR", s.PFLDIR);
    ini.Set("PATHS", "CAPTUREDIR", s.CAPTUREDIR);
    ini.Set("PATHS", "TAPEDIR", s.TAPEDIR);
    ini.Set("STILLS", "SAVETYPE", s.SAVETYPE);
    ini.Set("STILLS", "JPGQUALITY", s.JPGQUALITY);
    ini.Set("STILLS", "NAMEBYDSK", s.NAMEBYDSK);
    ini.Set("STILLS", "SAVESTILLDIALOG", s.SAVESTILLDIALOG);
    ini.Set("STILLS", "SAVEHALFSIZE", s.SAVEHALFSIZE);
    ini.Set("STILLS", "MAXSTILLS", s.MAXSTILLS);
    ini.Set("STILLS", "EVERYFRAME", s.EVERYFRAME);
    ini.Set("MISC", "TOOLBAR", s.TOOLBAR);
    ini.Set("MISC", "INDIVIDUALSET", s.INDIVIDUALSET);
    ini.Set("MISC", "VIDEODIALOG", s.VIDEODIALOG);
    ini.Set("MISC", "FDDSOUNDENABLE", s.FDDSOUNDENABLE);
    ini.Set("MISC", "PRINTERIDLE", s.PRINTERIDLE);
    ini.Set("MISC", "REWIND", s.REWIND);
    ini.Set("MISC", "REWINDMEMORY", s.REWINDMEMORY);
    ini.Set("MISC", "KEYBOARDMODE", s.KEYBOARDMODE);
    ini.Set("MISC", "KEYJOYSTICK", s.KEYJOYSTICK);
    ini.Set("MISC", "KEYJOYFIRE1", s.KEYJOYFIRE1);
    ini.Set("MISC", "KEYJOYFIRE2", s.KEYJOYFIRE2);
    ini.Set("MISC", "PADJOYSTICK", s.PADJOYSTICK);
    ini.Set("MISC", "FASTTAPE", s.FASTTAPE);
    ini.Set("MISC", "SSMENABLED", s.SSMENABLED);
  });
}

SettingsResult SaveLastState(const Settings& s) {
  return UpdateIni(SettingsPath(s), [&](IniFile& ini) {
    WriteDrives(ini, s);
    WriteForms(ini, s);
    ini.Set("MISC", "TOOLBAR", s.TOOLBAR);
    ini.Set("MISC", "LASTPROFILE", s.LASTPROFILE);
    ini.Set("MISC", "OVERLAY", s.OVERLAY);
    ini.Set("MISC", "OVERLAYCOLOR", s.OVERLAYCOLOR);
    ini.Set("MISC", "AUTORUN", s.AUTORUN);
    ini.Set("MISC", "INTEGERSCALE", s.INTEGERSCALE);
    for (int i = 0; i < kRecentFiles; ++i)
      ini.Set("RECENT", "FILE" + std::to_string(i + 1), i < static_cast<int>(s.RECENT.size()) ? s.RECENT[i] : std::string());
    ini.Set("MISC", "KEYBOARDMODE", s.KEYBOARDMODE);  // switched from the menu too
  });
}

SettingsResult LoadProfile(Settings& s, MissingFile missing) {
  const std::string file = ProfilePath(s);
  IniFile ini;
  const FileState state = ini.Load(file);
  SettingsResult r;
  ReadProfile(ini, s, s.INDIVIDUALSET, r);
  if (state == FileState::Missing && missing == MissingFile::Create) {
    SettingsResult w = SaveProfile(s);
    if (w.Ok) w = SaveProfileState(s);
    if (!w.Ok) return w;
    r.FileCreated = true;
  }
  return r;
}

SettingsResult LoadProfileFile(Settings& s, const fs::path& file) {
  IniFile ini;
  ini.Load(file);
  SettingsResult r;
  ReadProfile(ini, s, s.INDIVIDUALSET, r);
  return r;
}

SettingsResult SaveProfile(const Settings& s) {
  return UpdateIni(ProfilePath(s), [&](IniFile& ini) {
    ini.Set("CPC", "VENDOR", s.VENDOR);
    ini.Set("CPC", "CRTCTYPE", s.CRTCTYPE);
    ini.Set("CPC", "CPUSPEED", s.CPUSPEED);
    ini.Set("CPC", "Z80SPEED", s.Z80SPEED);
    ini.Set("CPC", "CPUSTATES", s.CPUSTATES);
    ini.Set("CPC", "RAM", s.RAM);
    ini.Set("CPC", "RAM4MB", s.RAM4MB);
    ini.Set("CPC", "WRPROTECTION0", s.WRPROTECTION0);
    ini.Set("CPC", "WRPROTECTION1", s.WRPROTECTION1);
    ini.Set("DISPLAY", "MONITOR", s.MONITOR);
    ini.Set("DISPLAY", "DOUBLESCANLINE", s.DOUBLESCANLINE);
    ini.Set("DISPLAY", "KEEPASPECTRATIO", s.KEEPASPECTRATIO);
    ini.Set("DISPLAY", "DIRECTXSTRETCH", s.DIRECTXSTRETCH);
    ini.Set("ROMS", "ROMLow", ToUpper(s.ROMLow));
    for (int i = 0; i < kProfileUpperRoms; ++i) ini.Set("ROMS", UpperRomKey(i), ToUpper(s.ROM[i]));
    ini.Set("SOUND", "SOUNDENABLED", s.SOUNDENABLED);
    ini.Set("SOUND", "CHANNELS", s.CHANNELS);
    ini.Set("SOUND", "SAMPLERATE", s.SAMPLERATE);
    ini.Set("SOUND", "BITSPERSAMPLE", s.BITSPERSAMPLE);
    ini.Set("EXPANSIONS", "PARMODE", s.PARMODE);
    ini.Set("EXPANSIONS", "LPTADDRESS", static_cast<int32_t>(s.LPTADDRESS));
    ini.Set("EXPANSIONS", "LPTMODE", s.LPTMODE);
    ini.Set("EXPANSIONS", "MOUSEEN", s.MOUSEEN);
    ini.Set("EXPANSIONS", "LIGHTPEN", s.LIGHTPEN);
    ini.Set("EXPANSIONS", "SERIAL", s.SERIAL);
    ini.Set("SYMBIFACE", "ENABLED", s.SYMBIFACE);
    for (int i = 0; i < 8; ++i) ini.Set("SYMBIFACE", DipSwitchKey(i), s.ROMENABLE[i]);
    ini.Set("SYMBIFACE", "HDD0PATH", s.HDD0PATH);
    ini.Set("SYMBIFACE", "HDD1PATH", s.HDD1PATH);
  });
}

SettingsResult SaveProfileState(const Settings& s) {
  return UpdateIni(ProfilePath(s), [&](IniFile& ini) {
    ini.Set("CPC", "WRPROTECTION0", s.WRPROTECTION0);
    ini.Set("CPC", "WRPROTECTION1", s.WRPROTECTION1);
    ini.Set("DISPLAY", "ZOOM", s.ZOOM);
    ini.Set("DISPLAY", "ZOOMXOFF", s.ZOOMXOFF);
    ini.Set("DISPLAY", "ZOOMYOFF", s.ZOOMYOFF);
    WriteDrives(ini, s);
    WriteForms(ini, s);
  });
}

void DeriveProfileFields(Settings& s) {
  s.SerialConnected = s.SERIAL != "Not Connected";
  s.Hdd0Present = !s.HDD0PATH.empty();
  s.Hdd1Present = !s.HDD1PATH.empty();
}

std::string ProfileCaption(const Settings& s) {
  std::string name = s.LASTPROFILE.empty() ? std::string() : s.LASTPROFILE.substr(1);
  if (name.size() > 255) {
    size_t cut = 255;
    // Do not split a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return "Current: " + name;
}

MachineConfig MachineConfigFromSettings(const Settings& s) {
  MachineConfig c;
  c.RomDir = s.ROMDIR;
  c.BuiltInRomDir = FindBuiltInRomDir();
  c.LowerRom = ResolveRomName(c.RomDir, s.ROMLow);
  c.UpperRoms.fill("EMPTY");
  for (int i = 0; i < kProfileUpperRoms; ++i) c.UpperRoms[i] = ResolveRomName(c.RomDir, s.ROM[i]);
  // The record may also be set by the configuration dialog, so the machine
  // gets only values it can run with: a CRTC type outside 0..2 would index
  // past the per-type tables and a negative speed would run for hours.
  c.RamBankLimit = std::clamp(s.RAM, -1, 7);
  c.Ram4Mb = s.RAM4MB;
  c.CrtcType = s.CRTCTYPE >= 0 && s.CRTCTYPE <= 2 ? static_cast<uint32_t>(s.CRTCTYPE) : 0;
  c.MicrosecondsPerTick = static_cast<uint32_t>(std::clamp(s.CPUSPEED, 0, 200000));
  c.Z80Multiplier = static_cast<uint32_t>(std::clamp(s.Z80SPEED, 1, 20));
  c.CountCycles = s.CPUSTATES;
  c.Brand = static_cast<uint8_t>(ValidVendor(s.VENDOR) ? s.VENDOR : 14);
  c.Monitor = s.MONITOR == 2 ? 2 : 1;
  c.LightPen = s.LIGHTPEN;
  c.DoubleScanLine = s.DOUBLESCANLINE;
  c.SoundEnabled = s.SOUNDENABLED;
  c.SoundChannels = s.CHANNELS == 2 ? 2 : 1;
  c.SampleRate = s.SAMPLERATE == 44100 || s.SAMPLERATE == 48000 ? static_cast<uint32_t>(s.SAMPLERATE) : 22050;
  c.BitsPerSample = s.BITSPERSAMPLE == 16 ? 16 : 8;
  c.PrinterMode = s.PARMODE >= 0 && s.PARMODE <= 5 ? static_cast<uint32_t>(s.PARMODE) : 0;
  c.PrinterIdleSeconds = static_cast<uint32_t>(std::clamp(s.PRINTERIDLE, 1, 3600));
  c.SymbifaceEnabled = s.SYMBIFACE;
  for (int i = 0; i < 8; ++i) c.SymbifaceDipSwitch[i] = s.ROMENABLE[i] ? 1 : 0;
  return c;
}

void ApplyProfile(Machine& m, const Settings& s) {
  const MachineConfig c = MachineConfigFromSettings(s);
  ApplyMachineConfig(m, c);
  m.Memory.LowerRomName = c.LowerRom;
  for (int i = 0; i < kUpperRomSlots; ++i) m.Memory.UpperRomName[i] = c.UpperRoms[i];
  LoadRoms(m.Memory, c.RomDir, c.BuiltInRomDir);
}
