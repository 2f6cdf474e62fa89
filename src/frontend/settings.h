// The program settings (Pellux.ini) and the machine profiles (*.pfl).
//
// One Settings record holds every value of both files, each field named after
// its INI key. The load routines fill it; the save routines write only their
// own keys back, replacing values in place and keeping whatever else the file
// holds (comments, keys of other versions). Files written on Windows are read
// as they are: CRLF or LF, "\" in paths turned into "/"; a CRLF file stays
// CRLF when saved, new files get LF.
//
// What this file does not do: reinsert disks, set menu captions, touch the
// display or load ROMs into a running machine by itself. The load routines
// report what they read and the front end acts on it (ApplyProfile for the
// machine, ProfileCaption for the menus, DisksRead for the drives).
//
// Writes go to a temporary file in the same folder which then replaces the
// old one, so a failed write leaves the old file whole.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/machine.h"

constexpr int kProfileUpperRoms = 16;  // ROM000..ROM015; slots 16..31 stay "EMPTY"
constexpr int kFormKeys = 8;           // the FORMS keys
constexpr int kRewindMemoryMin = 8, kRewindMemoryMax = 1024;  // REWINDMEMORY, MB
constexpr int kRecentFiles = 10;       // [RECENT] FILE1..FILE10

inline std::array<std::string, kProfileUpperRoms> DefaultProfileRoms() {
  std::array<std::string, kProfileUpperRoms> roms;
  roms.fill("EMPTY");
  roms[0] = "6128BASIC.ROM";
  roms[7] = "AMSDOS.ROM";
  return roms;
}

struct Settings {
  // The working directory at start-up, without a trailing separator.
  std::string StartDir;

  // Pellux.ini [PATHS]. Directories end with "/".
  std::string ROMDIR, DISKDIR, SNAPDIR, STILLSDIR, PRINTDIR, PFLDIR, CAPTUREDIR;
  std::string FDD0, FDD1, COMPRFDD0, COMPRFDD1;
  std::string TAPEDIR;  // initial folder of the tape dialogs, where recordings go
  std::string TAPE;     // the tape last inserted, remembered like the disks; empty = none
  // [STILLS]
  int32_t SAVETYPE = 0;  // 0 BMP, 1 JPEG, 2 GIF, 3 PNG
  int32_t JPGQUALITY = 80;
  bool NAMEBYDSK = false;
  bool SAVESTILLDIALOG = false;
  bool SAVEHALFSIZE = false;
  int32_t MAXSTILLS = 10;
  int32_t EVERYFRAME = 1;
  // [MISC]
  bool TOOLBAR = true;
  bool INDIVIDUALSET = false;
  bool VIDEODIALOG = false;
  bool FDDSOUNDENABLE = false;
  bool FASTTAPE = true;  // run unthrottled while the tape plays with the motor on
  bool SSMENABLED = false;  // honour screenshot requests made with unused ED codes
  std::string LASTPROFILE = "/Default.pfl";  // file name with one leading "/"
  bool OVERLAY = false;
  int32_t OVERLAYCOLOR = 0;
  bool REWIND = true;
  int32_t REWINDMEMORY = 64;  // MB for the rewind states, kRewindMemoryMin..kRewindMemoryMax
  // Type the command that starts a disk opened from the command line or
  // dropped on the window.
  bool AUTORUN = true;
  // Scale the picture by whole multiples only (black bars around it).
  bool INTEGERSCALE = false;
  // [RECENT] FILE1..FILE10: disk images and snapshots, newest first.
  std::vector<std::string> RECENT;
  // Keyboard and joysticks.
  int32_t KEYBOARDMODE = 1;  // 0 positional (by key place), 1 symbolic (by character)
  bool KEYJOYSTICK = false;  // cursor keys and two fire keys drive joystick 0
  int32_t KEYJOYFIRE1 = 90, KEYJOYFIRE2 = 88;  // virtual-key codes (Z, X by place)
  bool PADJOYSTICK = true;   // host game controllers drive joysticks 0 and 1
  // [FORMS], live window geometry.
  int32_t FORM1XPOS = 100, FORM1YPOS = 100, FORM1W = 392, FORM1H = 384;
  int32_t FORM3XPOS = 400, FORM3YPOS = 100;
  int32_t FORM7XPOS = 400, FORM7YPOS = 100;

  // Profile [CPC]
  int32_t VENDOR = 14;  // 2 x brand index; 14 = "AMSTRAD"
  int32_t CRTCTYPE = 0;
  int32_t CPUSPEED = 20000;
  int32_t Z80SPEED = 1;
  bool CPUSTATES = true;
  int32_t RAM = 0;  // RamBankLimit: -1 = 64 KB, 0 = 128 KB, n = (n + 2) x 64 KB
  bool RAM4MB = false;
  bool WRPROTECTION0 = true;
  bool WRPROTECTION1 = true;
  // [DISPLAY]
  int32_t MONITOR = 1;  // 1 colour, 2 green
  bool DOUBLESCANLINE = true;
  bool KEEPASPECTRATIO = false;
  bool DIRECTXSTRETCH = false;
  int32_t ZOOM = 0, ZOOMXOFF = 0, ZOOMYOFF = 0;
  // [ROMS]
  std::string ROMLow = "6128Low.ROM";
  std::array<std::string, kProfileUpperRoms> ROM = DefaultProfileRoms();  // ROM000..ROM015
  // [SOUND]
  bool SOUNDENABLED = false;
  int32_t CHANNELS = 1;
  int32_t SAMPLERATE = 22050;
  int32_t BITSPERSAMPLE = 8;
  // [EXPANSIONS]
  int32_t PARMODE = 0;
  uint16_t LPTADDRESS = 888;
  int32_t LPTMODE = 1;
  int32_t PRINTERIDLE = 5;  // seconds without printing that end a default-printer job
  bool MOUSEEN = false;
  bool LIGHTPEN = false;
  std::string SERIAL = "Not Connected";
  // [SYMBIFACE]
  bool SYMBIFACE = false;  // key ENABLED
  std::array<bool, 8> ROMENABLE = {true, true, true, true, true, true, true, true};  // ROM0ENABLE..ROM7ENABLE
  std::string HDD0PATH, HDD1PATH;

  // Derived whenever a profile is read or applied (DeriveProfileFields).
  bool SerialConnected = false;
  bool Hdd0Present = false;
  bool Hdd1Present = false;

  // Set by "Apply && Save", cleared by "Just Apply"; read when another
  // profile is loaded.
  bool ProfileCommitted = false;
};

struct SettingsResult {
  bool Ok = true;
  std::string Error;        // "Unable to write to <file>" when !Ok
  bool FileCreated = false; // the file was missing and has been written
  bool DisksRead = false;   // FDD0/FDD1 came from this file: reinsert A, then B
};

enum class MissingFile { Create, Leave };

// A record holding every default for the given start directory. The start
// directory is made absolute and loses any trailing separator.
Settings DefaultSettings(const std::filesystem::path& startDir);

std::string SettingsPath(const Settings& s);  // StartDir + "/Pellux.ini"
std::string ProfilePath(const Settings& s);   // PFLDIR + LASTPROFILE

// Reads Pellux.ini into s (s.StartDir must be set). A missing file leaves the
// defaults and, with MissingFile::Create, is written by SaveSettings then
// SaveLastState.
SettingsResult LoadSettings(Settings& s, MissingFile missing = MissingFile::Create);
SettingsResult SaveSettings(const Settings& s);
SettingsResult SaveLastState(const Settings& s);

// Reads the profile at ProfilePath(s) into s; a missing one is created
// (SaveProfile then SaveProfileState) with MissingFile::Create.
SettingsResult LoadProfile(Settings& s, MissingFile missing = MissingFile::Create);
// The same for a profile file anywhere; never creates it.
SettingsResult LoadProfileFile(Settings& s, const std::filesystem::path& file);
SettingsResult SaveProfile(const Settings& s);
SettingsResult SaveProfileState(const Settings& s);

void DeriveProfileFields(Settings& s);

// "Current: Default.pfl" for LASTPROFILE "/Default.pfl".
std::string ProfileCaption(const Settings& s);

// The machine a profile describes. ROM names are matched against ROMDIR
// without regard to case, since profiles store them upper-cased and were
// written on a file system that ignores case.
MachineConfig MachineConfigFromSettings(const Settings& s);

// Applies a (new) profile to an existing machine: configuration and ROMs.
// Opening and resetting the devices afterwards is the caller's.
void ApplyProfile(Machine& m, const Settings& s);
