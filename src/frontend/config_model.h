// What the configuration dialogs show and store, apart from the widgets:
// the track-bar scales of speed, Z80 multiplier and RAM, the brand list,
// the ROM list of the ROM directory and the host's parallel ports.
//
// The Qt dialogs (frontend/qt/machine_config_dialog.* and settings_dialog.*) read and write Settings
// only through these mappings, so the arithmetic is tested without a
// window. The serial port list comes from the platform library and is not
// here.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

inline constexpr std::array<const char*, 8> kBrandNames = {"ISP", "TRIUMPH",   "SAISHO", "SOLAVOX",
                                                           "AWA", "SCHNEIDER", "ORION",  "AMSTRAD"};
inline constexpr std::array<const char*, 3> kCrtcTypeNames = {"0: HD6845S-UM6845", "1: UM6845R", "2: MC6845"};
inline constexpr std::array<const char*, 6> kParallelModeNames = {
    "Not Connected",       "Use the Default Printer", "Print to RTF file",
    "Use an existing LPT", "Print to BIN file",       "Use Digiblaster"};
inline constexpr int kParModeExistingLpt = 3;
inline constexpr std::array<const char*, 7> kDirectoryKinds = {"ROMS",     "DISKS",    "SNAPSHOTS", "STILLS",
                                                               "PARALLEL", "PROFILES", "CAPTURES"};
inline constexpr const char* kEmptyRom = "EMPTY";

// "CPC Speed" track bar, 0..100: ten per cent of the normal speed a step.
inline constexpr int kSpeedPositions = 100;
inline constexpr int kSpeedNormalPosition = 10;
int SpeedPositionFromSetting(int32_t cpuSpeed);
int32_t CpuSpeedFromPosition(int position);
std::string SpeedLabel(int position);  // "CPC Speed 100%"
// "Z80 @ " track bar, 1..20.
std::string Z80Label(int position);  // "Z80 @ 4 Mhz"
// A speed above 100 % and a multiplier above 1 cannot be chosen together.
inline bool Z80BarEnabled(int speedPosition) { return speedPosition < 11; }
inline bool SpeedBarEnabled(int z80Position) { return z80Position < 2; }

// RAM track bar, 1 (top, 576 KB) .. 9 (bottom, 64 KB); RAM = 8 - position.
int RamPositionFromSetting(int32_t ram);
int32_t RamFromPosition(int position);
std::string RamLabel(int position);  // "128 KB"

// The brand's index in kBrandNames for a VENDOR value, or -1 when the value
// is not one of the eight even codes.
int BrandIndexFromVendor(int32_t vendor);

// "EMPTY", then the upper-cased name of every file in romDir (and in the
// built-in firmware folder, when given) whose name ends in ".ROM" in any
// case, each once. Missing directories give "EMPTY" alone.
std::vector<std::string> RomList(const std::filesystem::path& romDir, const std::filesystem::path& builtInDir = {});

// The file name of a path without its directory ("" for "").
std::string FileNameOnly(const std::string& path);

// "Frame" for 1, else "Frames".
const char* FramesWord(int everyFrame);

struct ParallelPort {
  std::string Name;      // shown in the drop-down
  uint16_t Address = 0;  // I/O base address (LPTADDRESS)
  std::string Device{};  // the kernel's name, "parport0": /dev/parport0
};
inline constexpr size_t kMaxParallelPorts = 16;
// The host's parallel ports as the kernel lists them (one folder per port
// holding "base-addr"), at most kMaxParallelPorts. None when the folder is
// missing, as on hosts without the parport driver.
std::vector<ParallelPort> ListParallelPorts(const std::filesystem::path& procDir = "/proc/sys/dev/parport");
