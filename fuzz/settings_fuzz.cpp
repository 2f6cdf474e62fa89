// libFuzzer target for "Pellux.ini" and a profile: the input is the settings
// file, then, after a line "==PROFILE==", the profile. Both are read from a
// scratch start directory (the profiles folder is pinned there whatever the
// file says, so nothing is written elsewhere). Checks: reading never fails,
// every value the machine takes is in its range, and what is saved reads back
// the same.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "frontend/settings.h"
#include "temp_dir.h"

namespace settingsfuzz {

constexpr std::string_view kSplit = "\n==PROFILE==\n";

void Write(const std::filesystem::path& file, std::string_view data) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Read into s as the program does at start-up, with the profiles folder kept
// inside the scratch directory.
bool Load(Settings& s, const std::filesystem::path& dir, std::string_view profile, bool writeProfile) {
  s = DefaultSettings(dir);
  if (!LoadSettings(s, MissingFile::Leave).Ok) return false;
  const std::string name = s.LASTPROFILE;
  if (name.empty() || name[0] != '/' || name.find('/', 1) != std::string::npos || name == "/." || name == "/..")
    return false;
  s.PFLDIR = (dir / "PROFILES").string() + "/";
  s.LASTPROFILE = "/Test.pfl";
  if (writeProfile) Write(ProfilePath(s), profile);
  return LoadProfile(s, MissingFile::Leave).Ok;
}

bool InRange(const Settings& s) {
  if (s.VENDOR < 0 || s.VENDOR > 14 || s.VENDOR % 2 != 0) return false;
  if (s.RAM < -1 || s.RAM > 7 || (s.MONITOR != 1 && s.MONITOR != 2)) return false;
  if ((s.CHANNELS != 1 && s.CHANNELS != 2) || (s.SAMPLERATE != 22050 && s.SAMPLERATE != 44100) ||
      (s.BITSPERSAMPLE != 8 && s.BITSPERSAMPLE != 16))
    return false;
  if (s.SerialConnected != (s.SERIAL != "Not Connected") || s.Hdd0Present != !s.HDD0PATH.empty()) return false;
  const MachineConfig c = MachineConfigFromSettings(s);
  return c.CrtcType <= 2 && c.RamBankLimit >= -1 && c.RamBankLimit <= 7 && c.MicrosecondsPerTick <= 200000 &&
         c.Z80Multiplier >= 1 && c.Z80Multiplier <= 20 && c.PrinterMode <= 5 && c.Brand <= 14;
}

// The values both files carry, compared after a save and a second read.
bool SameValues(const Settings& a, const Settings& b) {
  return a.ROMDIR == b.ROMDIR && a.DISKDIR == b.DISKDIR && a.SNAPDIR == b.SNAPDIR && a.STILLSDIR == b.STILLSDIR &&
         a.PRINTDIR == b.PRINTDIR && a.CAPTUREDIR == b.CAPTUREDIR && a.FDD0 == b.FDD0 && a.FDD1 == b.FDD1 &&
         a.COMPRFDD0 == b.COMPRFDD0 && a.COMPRFDD1 == b.COMPRFDD1 && a.SAVETYPE == b.SAVETYPE &&
         a.JPGQUALITY == b.JPGQUALITY && a.MAXSTILLS == b.MAXSTILLS && a.EVERYFRAME == b.EVERYFRAME &&
         a.TOOLBAR == b.TOOLBAR && a.INDIVIDUALSET == b.INDIVIDUALSET && a.OVERLAYCOLOR == b.OVERLAYCOLOR &&
         a.FORM1XPOS == b.FORM1XPOS && a.FORM1H == b.FORM1H && a.FORM7YPOS == b.FORM7YPOS &&
         a.VENDOR == b.VENDOR && a.CRTCTYPE == b.CRTCTYPE && a.CPUSPEED == b.CPUSPEED && a.Z80SPEED == b.Z80SPEED &&
         a.RAM == b.RAM && a.RAM4MB == b.RAM4MB && a.WRPROTECTION0 == b.WRPROTECTION0 && a.MONITOR == b.MONITOR &&
         a.ZOOM == b.ZOOM && a.ZOOMXOFF == b.ZOOMXOFF && a.ROMLow.size() == b.ROMLow.size() &&
         a.SAMPLERATE == b.SAMPLERATE && a.PARMODE == b.PARMODE && a.LPTADDRESS == b.LPTADDRESS &&
         a.LPTMODE == b.LPTMODE && a.SERIAL == b.SERIAL && a.SYMBIFACE == b.SYMBIFACE && a.ROMENABLE == b.ROMENABLE &&
         a.HDD0PATH == b.HDD0PATH && a.HDD1PATH == b.HDD1PATH;
}

bool SettingsFuzzInput(const uint8_t* data, size_t size) {
  static ScratchDir dir;
  if (!dir.Ok()) return true;
  dir.Clear();
  std::filesystem::create_directory(dir.Path() / "PROFILES");
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find(kSplit);
  const std::string_view ini = input.substr(0, split);
  const std::string_view profile = split == std::string_view::npos ? std::string_view() : input.substr(split + kSplit.size());
  Write(dir.Path() / "Pellux.ini", ini);

  Settings s;
  if (!Load(s, dir.Path(), profile, true) || !InRange(s)) return false;

  // A file the parser could not take is left alone by the saves; only files
  // it read are rewritten and read again.
  const bool saved = SaveSettings(s).Ok && SaveLastState(s).Ok && SaveProfile(s).Ok && SaveProfileState(s).Ok;
  if (!saved) return true;
  Settings again;
  if (!Load(again, dir.Path(), {}, false) || !InRange(again)) return false;
  return SameValues(s, again);
}

}  // namespace settingsfuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!settingsfuzz::SettingsFuzzInput(data, size)) __builtin_trap();
  return 0;
}
