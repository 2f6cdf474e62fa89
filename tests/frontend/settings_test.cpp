#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"
#include "frontend/settings.h"

namespace {

namespace fs = std::filesystem;

const fs::path kRomDir = RomDir();

std::string Upper(std::string v) {
  for (char& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return v;
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
}

// "SECTION/KEY" (upper-cased) -> value, read independently of the code under
// test; also counts each key's lines so duplicates show.
struct IniView {
  std::map<std::string, std::string> values;
  std::map<std::string, int> lines;
};

IniView ParseIni(const std::string& text) {
  IniView view;
  std::istringstream in(text);
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      section = Upper(line.substr(1, line.find(']') - 1));
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = section + "/" + Upper(line.substr(0, eq));
    view.values[key] = line.substr(eq + 1);
    ++view.lines[key];
  }
  return view;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/pellucidore-settings-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  void MakeDefaultFolders() const {
    for (const char* d : {"ROMS", "DISKS", "SNAPSHOTS", "STILLS", "PRINTS", "PROFILES", "CAPTURES"})
      fs::create_directory(path_ / d);
  }
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(path_)) names.insert(e.path().string());
    return names;
  }

 private:
  fs::path path_;
};

// Start-up as the program runs it.
Settings StartUp(const fs::path& dir) {
  Settings s = DefaultSettings(dir);
  EXPECT_TRUE(LoadSettings(s).Ok);
  return s;
}

const char* const kSettingsKeys[] = {
    "PATHS/ROMDIR",         "PATHS/DISKDIR",      "PATHS/SNAPDIR",       "PATHS/STILLSDIR",
    "PATHS/PRINTDIR",       "PATHS/PFLDIR",       "PATHS/CAPTUREDIR",    "PATHS/FDD0",
    "PATHS/FDD1",           "PATHS/COMPRFDD0",    "PATHS/COMPRFDD1",     "STILLS/SAVETYPE",
    "STILLS/JPGQUALITY",    "STILLS/NAMEBYDSK",   "STILLS/SAVESTILLDIALOG", "STILLS/SAVEHALFSIZE",
    "STILLS/MAXSTILLS",     "STILLS/EVERYFRAME",  "MISC/TOOLBAR",        "MISC/INDIVIDUALSET",
    "MISC/VIDEODIALOG",     "MISC/FDDSOUNDENABLE", "MISC/LASTPROFILE",   "MISC/OVERLAY",
    "MISC/PRINTERIDLE",     "MISC/REWIND",        "MISC/REWINDMEMORY",
    "MISC/OVERLAYCOLOR",    "FORMS/FORM1XPOS",    "FORMS/FORM1YPOS",     "FORMS/FORM1W",
    "FORMS/FORM1H",         "FORMS/FORM3XPOS",    "FORMS/FORM3YPOS",     "FORMS/FORM7XPOS",
    "FORMS/FORM7YPOS",      "MISC/KEYBOARDMODE",  "MISC/KEYJOYSTICK",    "MISC/KEYJOYFIRE1",
    "MISC/KEYJOYFIRE2",     "MISC/PADJOYSTICK"};

std::vector<std::string> ProfileKeys() {
  std::vector<std::string> keys = {
      "CPC/VENDOR",           "CPC/CRTCTYPE",         "CPC/CPUSPEED",          "CPC/Z80SPEED",
      "CPC/CPUSTATES",        "CPC/RAM",              "CPC/RAM4MB",            "CPC/WRPROTECTION0",
      "CPC/WRPROTECTION1",    "DISPLAY/MONITOR",      "DISPLAY/DOUBLESCANLINE", "DISPLAY/KEEPASPECTRATIO",
      "DISPLAY/DIRECTXSTRETCH", "DISPLAY/ZOOM",       "DISPLAY/ZOOMXOFF",      "DISPLAY/ZOOMYOFF",
      "ROMS/ROMLOW",          "SOUND/SOUNDENABLED",   "SOUND/CHANNELS",        "SOUND/SAMPLERATE",
      "SOUND/BITSPERSAMPLE",  "EXPANSIONS/PARMODE",   "EXPANSIONS/LPTADDRESS", "EXPANSIONS/LPTMODE",
      "EXPANSIONS/MOUSEEN",   "EXPANSIONS/LIGHTPEN",  "EXPANSIONS/SERIAL",     "SYMBIFACE/ENABLED",
      "SYMBIFACE/HDD0PATH",   "SYMBIFACE/HDD1PATH",   "PATHS/FDD0",            "PATHS/FDD1",
      "PATHS/COMPRFDD0",      "PATHS/COMPRFDD1"};
  for (int i = 0; i < 16; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "ROMS/ROM%03d", i);
    keys.push_back(key);
  }
  for (int i = 0; i < 8; ++i) keys.push_back("SYMBIFACE/ROM" + std::to_string(i) + "ENABLE");
  for (const char* form : {"FORM1XPOS", "FORM1YPOS", "FORM1W", "FORM1H", "FORM3XPOS", "FORM3YPOS", "FORM7XPOS",
                           "FORM7YPOS"})
    keys.push_back(std::string("FORMS/") + form);
  return keys;
}

TEST(Settings, FirstStartCreatesBothFilesWithEveryKeyAndA6128) {
  TempDir dir;
  dir.MakeDefaultFolders();
  Settings s = DefaultSettings(dir.path());
  const SettingsResult settingsLoad = LoadSettings(s);
  ASSERT_TRUE(settingsLoad.Ok) << settingsLoad.Error;
  EXPECT_TRUE(settingsLoad.FileCreated);
  const SettingsResult profileLoad = LoadProfile(s);
  ASSERT_TRUE(profileLoad.Ok) << profileLoad.Error;
  EXPECT_TRUE(profileLoad.FileCreated);
  EXPECT_EQ(ProfileCaption(s), "Current: Default.pfl");

  const IniView ini = ParseIni(ReadText(dir.path() / "Pellux.ini"));
  for (const char* key : kSettingsKeys) {
    EXPECT_EQ(ini.values.count(key), 1u) << key;
    EXPECT_EQ(ini.lines.at(key), 1) << key << " written twice";
  }
  EXPECT_EQ(ini.values.at("PATHS/ROMDIR"), dir.path().string() + "/ROMS/");
  EXPECT_EQ(ini.values.at("PATHS/PFLDIR"), dir.path().string() + "/PROFILES/");
  EXPECT_EQ(ini.values.at("MISC/LASTPROFILE"), "/Default.pfl");
  EXPECT_EQ(ini.values.at("MISC/TOOLBAR"), "1");
  EXPECT_EQ(ini.values.at("FORMS/FORM1W"), "392");
  EXPECT_EQ(ini.values.at("STILLS/JPGQUALITY"), "80");
  EXPECT_EQ(ini.values.at("MISC/REWIND"), "1");
  EXPECT_EQ(ini.values.at("MISC/REWINDMEMORY"), "64");

  const IniView pfl = ParseIni(ReadText(dir.path() / "PROFILES" / "Default.pfl"));
  for (const std::string& key : ProfileKeys()) EXPECT_EQ(pfl.values.count(key), 1u) << key;
  const std::map<std::string, std::string> expected = {
      {"CPC/VENDOR", "14"},         {"CPC/CRTCTYPE", "0"},          {"CPC/CPUSPEED", "20000"},
      {"CPC/RAM", "0"},             {"CPC/CPUSTATES", "1"},         {"DISPLAY/MONITOR", "1"},
      {"DISPLAY/DOUBLESCANLINE", "1"}, {"SOUND/SOUNDENABLED", "0"}, {"SOUND/SAMPLERATE", "22050"},
      {"EXPANSIONS/LPTADDRESS", "888"}, {"EXPANSIONS/SERIAL", "Not Connected"},
      {"ROMS/ROMLOW", "6128LOW.ROM"},  // names are stored upper-cased
      {"ROMS/ROM000", "6128BASIC.ROM"}, {"ROMS/ROM007", "AMSDOS.ROM"}, {"ROMS/ROM015", "EMPTY"}};
  for (const auto& [key, value] : expected) EXPECT_EQ(pfl.values.at(key), value) << key;

  const MachineConfig c = MachineConfigFromSettings(s);
  EXPECT_EQ(c.RamBankLimit, 0);
  EXPECT_EQ(c.CrtcType, 0u);
  EXPECT_EQ(c.MicrosecondsPerTick, 20000u);
  EXPECT_EQ(c.Brand, 14);
  EXPECT_EQ(c.Monitor, 1u);
  EXPECT_TRUE(c.DoubleScanLine);
  EXPECT_FALSE(c.SoundEnabled);
  EXPECT_EQ(c.UpperRoms[16], "EMPTY");

  // A second start finds both files and writes nothing new.
  Settings again = DefaultSettings(dir.path());
  EXPECT_FALSE(LoadSettings(again).FileCreated);
  EXPECT_FALSE(LoadProfile(again).FileCreated);
  EXPECT_EQ(again.ROMLow, "6128LOW.ROM");
}

TEST(Settings, KeyboardModeIsSymbolicUnlessTheFileSaysPositional) {
  TempDir dir;
  dir.MakeDefaultFolders();
  Settings s = StartUp(dir.path());
  EXPECT_EQ(s.KEYBOARDMODE, 1);
  EXPECT_FALSE(s.KEYJOYSTICK);
  EXPECT_TRUE(s.PADJOYSTICK);
  s.KEYBOARDMODE = 0;
  s.KEYJOYSTICK = true;
  s.KEYJOYFIRE1 = 32;
  ASSERT_TRUE(SaveSettings(s).Ok);
  Settings again = StartUp(dir.path());
  EXPECT_EQ(again.KEYBOARDMODE, 0);
  EXPECT_TRUE(again.KEYJOYSTICK);
  EXPECT_EQ(again.KEYJOYFIRE1, 32);
  // Quitting remembers a mode switched from the menu.
  again.KEYBOARDMODE = 1;
  ASSERT_TRUE(SaveLastState(again).Ok);
  EXPECT_EQ(StartUp(dir.path()).KEYBOARDMODE, 1);
}

TEST(Settings, WithoutProfilesFolderTheProfileWriteFailsAndLeavesNoFile) {
  TempDir dir;
  Settings s = DefaultSettings(dir.path());
  ASSERT_TRUE(LoadSettings(s).Ok);
  const SettingsResult r = LoadProfile(s);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Error, "Unable to write to " + dir.path().string() + "/PROFILES/Default.pfl");
  // Only the settings file: no temporary left behind.
  EXPECT_EQ(dir.Listing(), std::set<std::string>{(dir.path() / "Pellux.ini").string()});
}

TEST(Settings, FailedWriteKeepsTheOldFileWhole) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: a read-only folder does not stop writes";
  TempDir dir;
  dir.MakeDefaultFolders();
  Settings s = StartUp(dir.path());
  const std::string before = ReadText(dir.path() / "Pellux.ini");
  fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
  s.ROMDIR = "/elsewhere/";
  const SettingsResult r = SaveSettings(s);
  fs::permissions(dir.path(), fs::perms::owner_all);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Error, "Unable to write to " + dir.path().string() + "/Pellux.ini");
  EXPECT_EQ(ReadText(dir.path() / "Pellux.ini"), before);
}

TEST(Settings, AnUnreadableFileIsNotOverwritten) {
  TempDir dir;
  fs::create_directory(dir.path() / "Pellux.ini");  // not a file
  WriteText(dir.path() / "Pellux.ini" / "keep", "x");
  Settings s = DefaultSettings(dir.path());
  ASSERT_TRUE(LoadSettings(s).Ok);
  EXPECT_EQ(s.ROMDIR, dir.path().string() + "/ROMS/");  // defaults stand
  const SettingsResult r = SaveLastState(s);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Error, "Unable to write to " + dir.path().string() + "/Pellux.ini");
  EXPECT_EQ(ReadText(dir.path() / "Pellux.ini" / "keep"), "x");
}

struct ProfileCase {
  const char* line;  // "[SECTION]\nKEY=value"
  int32_t Settings::*field;
  int32_t expected;
};

TEST(Settings, ProfileValuesAreCorrectedOnlyWhereTheRulesSay) {
  const ProfileCase cases[] = {
      {"[CPC]\nVENDOR=7", &Settings::VENDOR, 14},
      {"[CPC]\nVENDOR=16", &Settings::VENDOR, 14},
      {"[CPC]\nVENDOR=-2", &Settings::VENDOR, 14},
      {"[CPC]\nVENDOR=10", &Settings::VENDOR, 10},
      {"[CPC]\nRAM=9", &Settings::RAM, 1},
      {"[CPC]\nRAM=-2", &Settings::RAM, 1},
      {"[CPC]\nRAM=-1", &Settings::RAM, -1},
      {"[CPC]\nRAM=7", &Settings::RAM, 7},
      {"[SOUND]\nSAMPLERATE=48000", &Settings::SAMPLERATE, 22050},
      {"[SOUND]\nSAMPLERATE=44100", &Settings::SAMPLERATE, 44100},
      {"[SOUND]\nCHANNELS=0", &Settings::CHANNELS, 1},
      {"[SOUND]\nCHANNELS=2", &Settings::CHANNELS, 2},
      {"[SOUND]\nBITSPERSAMPLE=12", &Settings::BITSPERSAMPLE, 8},
      {"[SOUND]\nBITSPERSAMPLE=16", &Settings::BITSPERSAMPLE, 16},
      {"[DISPLAY]\nMONITOR=3", &Settings::MONITOR, 1},
      {"[DISPLAY]\nMONITOR=2", &Settings::MONITOR, 2},
      // Taken as they stand.
      {"[CPC]\nCRTCTYPE=5", &Settings::CRTCTYPE, 5},
      {"[CPC]\nCPUSPEED=-400", &Settings::CPUSPEED, -400},
      {"[EXPANSIONS]\nPARMODE=9", &Settings::PARMODE, 9},
      // Not numbers: the default.
      {"[CPC]\nCPUSPEED=fast", &Settings::CPUSPEED, 20000},
      {"[CPC]\nCPUSPEED=12abc", &Settings::CPUSPEED, 20000},
      {"[CPC]\nCPUSPEED=99999999999", &Settings::CPUSPEED, 20000},
      {"[CPC]\nCPUSPEED=", &Settings::CPUSPEED, 20000},
  };
  TempDir dir;
  dir.MakeDefaultFolders();
  for (const ProfileCase& c : cases) {
    Settings s = StartUp(dir.path());
    WriteText(dir.path() / "PROFILES" / "Default.pfl", std::string(c.line) + "\n");
    ASSERT_TRUE(LoadProfile(s).Ok);
    EXPECT_EQ(s.*c.field, c.expected) << c.line;
  }

  Settings s = StartUp(dir.path());
  WriteText(dir.path() / "PROFILES" / "Default.pfl", "[EXPANSIONS]\nLPTADDRESS=70000\nSERIAL=/dev/ttyS0\n");
  ASSERT_TRUE(LoadProfile(s).Ok);
  EXPECT_EQ(s.LPTADDRESS, 70000 & 0xFFFF);
  EXPECT_TRUE(s.SerialConnected);
  EXPECT_FALSE(s.Hdd0Present);
}

TEST(Settings, GarbledFilesGiveDefaultsAndValidMachines) {
  std::string garbage = "[CPC\nVENDOR\n=5\n[CPC]\nRAM=<<<END\nCRTCTYPE=2\nEND\n[SOUND]\nCHANNELS=2";
  const char binary[] = "\0\xff\xfe[ROMS]\nROMLow=";
  garbage += std::string(binary, sizeof binary - 1);
  garbage += std::string(100000, 'A') + "\r\r\n[DISPLAY]\nMONITOR=-7\n";
  uint32_t seed = 12345;
  for (int i = 0; i < 4096; ++i) {
    seed = seed * 1103515245 + 12345;
    garbage += static_cast<char>(seed >> 24);
  }
  TempDir dir;
  dir.MakeDefaultFolders();
  WriteText(dir.path() / "Pellux.ini", garbage);
  WriteText(dir.path() / "PROFILES" / "Default.pfl", garbage);
  Settings s = DefaultSettings(dir.path());
  ASSERT_TRUE(LoadSettings(s).Ok);
  ASSERT_TRUE(LoadProfile(s).Ok);
  EXPECT_EQ(s.VENDOR % 2, 0);
  EXPECT_GE(s.RAM, -1);
  EXPECT_LE(s.RAM, 7);
  EXPECT_TRUE(s.MONITOR == 1 || s.MONITOR == 2);
  EXPECT_EQ(s.LASTPROFILE.front(), '/');
  // Saving keeps the file readable.
  ASSERT_TRUE(SaveProfile(s).Ok);
  Settings again = DefaultSettings(dir.path());
  ASSERT_TRUE(LoadSettings(again).Ok);
  ASSERT_TRUE(LoadProfile(again).Ok);
  EXPECT_EQ(again.CRTCTYPE, s.CRTCTYPE);
  EXPECT_EQ(again.ROMLow, Upper(s.ROMLow));
}

TEST(Settings, MachineGetsOnlyValuesItCanRunWith) {
  Settings s = DefaultSettings("/tmp");
  s.CRTCTYPE = 5;
  s.CPUSPEED = -400;
  s.Z80SPEED = 99;
  s.PARMODE = 9;
  s.RAM = 12;
  const MachineConfig c = MachineConfigFromSettings(s);
  EXPECT_EQ(c.CrtcType, 0u);
  EXPECT_EQ(c.MicrosecondsPerTick, 0u);
  EXPECT_EQ(c.Z80Multiplier, 20u);
  EXPECT_EQ(c.PrinterMode, 0u);
  EXPECT_EQ(c.RamBankLimit, 7);
}

TEST(Settings, DrivesAndWindowsOfAProfileCountOnlyWithIndividualSet) {
  TempDir dir;
  dir.MakeDefaultFolders();
  const std::string profileText =
      "[PATHS]\nFDD0=/disks/game.dsk\n[FORMS]\nFORM1XPOS=7\n[CPC]\nCRTCTYPE=1\n";
  WriteText(dir.path() / "Pellux.ini", "[PATHS]\nFDD0=/disks/global.dsk\n[FORMS]\nFORM1XPOS=300\n");
  WriteText(dir.path() / "PROFILES" / "Default.pfl", profileText);

  Settings s = DefaultSettings(dir.path());
  SettingsResult r = LoadSettings(s);
  EXPECT_TRUE(r.DisksRead);
  r = LoadProfile(s);
  EXPECT_FALSE(r.DisksRead);
  EXPECT_EQ(s.CRTCTYPE, 1);
  EXPECT_EQ(s.FDD0, "/disks/global.dsk");
  EXPECT_EQ(s.FORM1XPOS, 300);

  // Shutdown still writes them to the profile.
  ASSERT_TRUE(SaveProfileState(s).Ok);
  const IniView pfl = ParseIni(ReadText(dir.path() / "PROFILES" / "Default.pfl"));
  EXPECT_EQ(pfl.values.at("PATHS/FDD0"), "/disks/global.dsk");
  EXPECT_EQ(pfl.values.at("FORMS/FORM1XPOS"), "300");
  EXPECT_EQ(pfl.values.at("CPC/CRTCTYPE"), "1");  // untouched by the state save

  WriteText(dir.path() / "Pellux.ini", "[MISC]\nINDIVIDUALSET=1\n[PATHS]\nFDD0=/disks/global.dsk\n");
  WriteText(dir.path() / "PROFILES" / "Default.pfl", profileText);
  Settings individual = DefaultSettings(dir.path());
  r = LoadSettings(individual);
  EXPECT_FALSE(r.DisksRead);
  EXPECT_EQ(individual.FDD0, "");
  r = LoadProfile(individual);
  EXPECT_TRUE(r.DisksRead);
  EXPECT_EQ(individual.FDD0, "/disks/game.dsk");
  EXPECT_EQ(individual.FORM1XPOS, 7);
  EXPECT_EQ(individual.FORM1YPOS, 100);
}

TEST(Settings, RewindMemoryIsKeptToItsRange) {
  struct Case {
    const char* written;
    int32_t read;
  } cases[] = {{"32", 32}, {"0", kRewindMemoryMin}, {"99999", kRewindMemoryMax}, {"lots", 64}};
  for (const Case& c : cases) {
    TempDir dir;
    dir.MakeDefaultFolders();
    WriteText(dir.path() / "Pellux.ini", std::string("[MISC]\nREWIND=0\nREWINDMEMORY=") + c.written + "\n");
    Settings s = DefaultSettings(dir.path());
    ASSERT_TRUE(LoadSettings(s).Ok);
    EXPECT_EQ(s.REWINDMEMORY, c.read) << c.written;
    EXPECT_FALSE(s.REWIND);
  }
}

TEST(Settings, MissingLastProfileIsCreatedWithDefaults) {
  TempDir dir;
  dir.MakeDefaultFolders();
  WriteText(dir.path() / "Pellux.ini", "[MISC]\nLASTPROFILE=\\Other.pfl\n");
  Settings s = DefaultSettings(dir.path());
  ASSERT_TRUE(LoadSettings(s).Ok);
  s.CRTCTYPE = 2;  // left over from an earlier profile
  const SettingsResult r = LoadProfile(s);
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_TRUE(r.FileCreated);
  EXPECT_EQ(s.CRTCTYPE, 0);
  EXPECT_EQ(ProfileCaption(s), "Current: Other.pfl");
  EXPECT_EQ(ParseIni(ReadText(dir.path() / "PROFILES" / "Other.pfl")).values.at("CPC/CRTCTYPE"), "0");
}

TEST(Settings, ProfileNameKeepsOneLeadingSeparatorAndStaysInTheProfilesFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"\\Default.pfl", "/Default.pfl"},
      {"Mine.pfl", "/Mine.pfl"},
      {"\\..\\..\\etc\\x.pfl", "/x.pfl"},
      {"\\", "/Default.pfl"},
  };
  TempDir dir;
  for (const auto& [written, read] : cases) {
    WriteText(dir.path() / "Pellux.ini", std::string("[MISC]\nLASTPROFILE=") + written + "\n");
    Settings s = DefaultSettings(dir.path());
    ASSERT_TRUE(LoadSettings(s).Ok);
    EXPECT_EQ(s.LASTPROFILE, read) << written;
    EXPECT_EQ(ProfilePath(s), dir.path().string() + "/PROFILES" + read) << written;
  }
}

TEST(Settings, WindowsWrittenFilesAreReadAndKeepTheirExtrasOnSave) {
  TempDir dir;
  dir.MakeDefaultFolders();
  const std::string ini =
      "; written by hand\r\n"
      "[Paths]\r\n"
      "RomDir=C:\\CPC\\ROMS\\\r\n"
      "pflDir=" + dir.path().string() + "/PROFILES/\r\n"
      "FDD0=C:\\CPC\\DISKS\\GAME.ZIP\r\n"
      "Colour=blue\r\n"
      "[misc]\r\n"
      "LastProfile=\\Mine.pfl\r\n"
      "IndividualSet=0\r\n"
      "[Stills]\r\n"
      "MaxStills = 20 \r\n";
  const std::string pfl =
      "[cpc]\r\n"
      "; my machine\r\n"
      "crtctype=2\r\n"
      "Cpustates=0\r\n"
      "ram=-1\r\n"
      "Turbo=on\r\n"
      "[roms]\r\n"
      "romlow=464LOW.ROM\r\n"
      "rom000=464BASIC.ROM\r\n"
      "[SymbiFace]\r\n"
      "Hdd0Path=D:\\HDD\\master.img\r\n"
      "; the end\r\n";
  WriteText(dir.path() / "Pellux.ini", ini);
  WriteText(dir.path() / "PROFILES" / "Mine.pfl", pfl);

  Settings s = DefaultSettings(dir.path());
  ASSERT_TRUE(LoadSettings(s).Ok);
  ASSERT_TRUE(LoadProfile(s).Ok);
  EXPECT_EQ(s.ROMDIR, "C:/CPC/ROMS/");
  EXPECT_EQ(s.FDD0, "C:/CPC/DISKS/GAME.ZIP");
  EXPECT_EQ(s.LASTPROFILE, "/Mine.pfl");
  EXPECT_EQ(s.MAXSTILLS, 20);
  EXPECT_EQ(s.CRTCTYPE, 2);
  EXPECT_FALSE(s.CPUSTATES);
  EXPECT_EQ(s.RAM, -1);
  EXPECT_EQ(s.ROMLow, "464LOW.ROM");
  EXPECT_EQ(s.ROM[0], "464BASIC.ROM");
  EXPECT_EQ(s.HDD0PATH, "D:/HDD/master.img");
  EXPECT_TRUE(s.Hdd0Present);

  s.CRTCTYPE = 1;
  s.JPGQUALITY = 55;
  ASSERT_TRUE(SaveSettings(s).Ok);
  ASSERT_TRUE(SaveLastState(s).Ok);
  ASSERT_TRUE(SaveProfile(s).Ok);
  ASSERT_TRUE(SaveProfileState(s).Ok);

  for (const fs::path& file : {dir.path() / "Pellux.ini", dir.path() / "PROFILES" / "Mine.pfl"}) {
    const std::string text = ReadText(file);
    size_t bareNewlines = 0;
    for (size_t i = 0; i < text.size(); ++i)
      if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) ++bareNewlines;
    EXPECT_EQ(bareNewlines, 0u) << file << " lost its CRLF line ends";
  }
  const std::string savedIni = ReadText(dir.path() / "Pellux.ini");
  const std::string savedPfl = ReadText(dir.path() / "PROFILES" / "Mine.pfl");
  EXPECT_NE(savedIni.find("; written by hand"), std::string::npos);
  EXPECT_NE(savedPfl.find("; my machine"), std::string::npos);
  EXPECT_NE(savedPfl.find("; the end"), std::string::npos);
  const IniView iniView = ParseIni(savedIni);
  const IniView pflView = ParseIni(savedPfl);
  EXPECT_EQ(iniView.values.at("PATHS/COLOUR"), "blue");
  EXPECT_EQ(iniView.values.at("STILLS/JPGQUALITY"), "55");
  EXPECT_EQ(iniView.lines.at("PATHS/ROMDIR"), 1);
  EXPECT_EQ(pflView.values.at("CPC/TURBO"), "on");
  EXPECT_EQ(pflView.values.at("CPC/CRTCTYPE"), "1");
  EXPECT_EQ(pflView.lines.at("CPC/CRTCTYPE"), 1);
  EXPECT_EQ(pflView.lines.at("CPC/CPUSTATES"), 1);
  EXPECT_EQ(pflView.lines.at("ROMS/ROMLOW"), 1);
  // Replaced in place: the comment still sits above the key it described.
  EXPECT_LT(savedPfl.find("; my machine"), savedPfl.find("crtctype=1"));
}

TEST(Settings, ProfileDescribesTheMachineThatIsBuilt) {
  if (!fs::exists(kRomDir / "464Low.ROM")) GTEST_SKIP() << "no ROM images in " << kRomDir;
  TempDir dir;
  dir.MakeDefaultFolders();
  WriteText(dir.path() / "Pellux.ini", "[PATHS]\nROMDIR=" + kRomDir.string() + "/\n");
  WriteText(dir.path() / "PROFILES" / "Default.pfl",
            "[CPC]\nCRTCTYPE=1\nRAM=-1\nCPUSPEED=40000\nZ80SPEED=3\n"
            "[ROMS]\nROMLow=464LOW.ROM\nROM000=464BASIC.ROM\nROM007=EMPTY\nROM003=NOSUCH.ROM\n");
  Settings s = StartUp(dir.path());
  ASSERT_TRUE(LoadProfile(s).Ok);

  const MachineConfig c = MachineConfigFromSettings(s);
  EXPECT_EQ(c.LowerRom, "464Low.ROM");  // found although stored upper-cased
  auto m = CreateMachine(c);
  EXPECT_EQ(m->Crtc.Type, 1u);
  EXPECT_EQ(m->Memory.RamBankLimit, -1);
  EXPECT_EQ(m->MicrosecondsPerTick, 40000u);
  EXPECT_EQ(m->Z80Multiplier, 3u);

  const std::string lower = ReadText(kRomDir / "464Low.ROM");
  const std::string basic = ReadText(kRomDir / "464BASIC.ROM");
  ASSERT_EQ(lower.size(), kBlockSize);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m->Memory.LowerRom), kBlockSize), lower);
  EXPECT_TRUE(m->Memory.UpperRomPresent[0]);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m->Memory.UpperRomImage[0]), kBlockSize), basic);
  EXPECT_FALSE(m->Memory.UpperRomPresent[3]);
  EXPECT_FALSE(m->Memory.UpperRomPresent[7]);

  // Applying another profile to the same machine swaps the ROMs.
  s.ROMLow = "6128LOW.ROM";
  s.CRTCTYPE = 2;
  ApplyProfile(*m, s);
  EXPECT_EQ(m->Crtc.Type, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m->Memory.LowerRom), kBlockSize),
            ReadText(kRomDir / "6128Low.ROM"));
}

// The runner: reads the start folder, writes nothing to it.
using CliRun = CommandResult;

CliRun RunCli(const std::string& args) { return RunCommand(Cli() + " " + args); }

class CliStartDir : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kRomDir / "6128Low.ROM")) GTEST_SKIP() << "no ROM images in " << kRomDir;
    dir_.MakeDefaultFolders();
    WriteText(dir_.path() / "Pellux.ini", "[PATHS]\r\nROMDIR=" + kRomDir.string() + "/\r\n");
  }
  void WriteProfile(const std::string& text) const { WriteText(dir_.path() / "PROFILES" / "Default.pfl", text); }
  CliRun Run(const std::string& extra) const {
    return RunCli("--start-dir '" + dir_.path().string() + "' --frames 10 --benchmark " + extra);
  }
  TempDir dir_;
};

TEST_F(CliStartDir, ProfileSpeedSetsTheMachineTime) {
  WriteProfile("[CPC]\nCPUSPEED=40000\n");
  const auto before = dir_.Listing();
  CliRun run = Run("");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("machine time: 0.40 s"), std::string::npos) << run.out;
  EXPECT_EQ(dir_.Listing(), before) << "the runner wrote into the start folder";

  run = Run("--speed 50");  // an explicit option wins
  EXPECT_NE(run.out.find("machine time: 0.10 s"), std::string::npos) << run.out;

  fs::remove(dir_.path() / "PROFILES" / "Default.pfl");
  run = Run("");  // no profile: the default speed, and none is created
  EXPECT_NE(run.out.find("machine time: 0.20 s"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(dir_.path() / "PROFILES" / "Default.pfl"));
}

TEST_F(CliStartDir, ProfileRomNamesChooseTheImages) {
  WriteProfile("[ROMS]\nROMLow=NOSUCH.ROM\n");
  CliRun run = Run("");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("lower ROM not found"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("NOSUCH.ROM"), std::string::npos) << run.out;

  WriteProfile("[ROMS]\nROMLow=464LOW.ROM\n");
  run = Run("");
  EXPECT_EQ(run.status, 0) << run.out;

  // --rom-dir overrides ROMDIR: an image only that folder holds (the
  // built-in firmware has none of this name) is found there and only there.
  fs::copy_file(kRomDir / "464Low.ROM", dir_.path() / "ROMS" / "OWNLOW.ROM");
  WriteProfile("[ROMS]\nROMLow=OWNLOW.ROM\n");
  run = Run("--rom-dir '" + (dir_.path() / "ROMS").string() + "'");
  EXPECT_EQ(run.status, 0) << run.out;
  run = Run("");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("lower ROM not found"), std::string::npos) << run.out;
}

TEST_F(CliStartDir, ProfileOptionReadsTheGivenFile) {
  WriteProfile("[CPC]\nCPUSPEED=40000\n");
  WriteText(dir_.path() / "fast.pfl", "[CPC]\r\nCpuSpeed=60000\r\n");
  CliRun run = Run("--profile '" + (dir_.path() / "fast.pfl").string() + "'");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("machine time: 0.60 s"), std::string::npos) << run.out;

  run = Run("--profile '" + (dir_.path() / "none.pfl").string() + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("profile not found"), std::string::npos) << run.out;
}

// No ROM folder: the built-in firmware serves, and nothing is written.
TEST(CliStartDirEmpty, StartFolderIsLeftEmpty) {
  TempDir dir;
  const CliRun run = RunCli("--start-dir '" + dir.path().string() + "' --frames 1");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(dir.Listing().empty());
}

}  // namespace
