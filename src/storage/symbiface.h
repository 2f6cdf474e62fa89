// SymbiFace II expansion card: the IDE interface with a master and a slave
// hard disk image, the real-time clock with its CMOS RAM, the PS/2 mouse and
// the 512 KB of RAM that stands in for upper ROMs.
//
// Ports &FD06..&FD17 (Z80In/Z80Out hand over &FD00..&FD3F); nothing answers
// while the card is not fitted (MemoryMap::SymbifaceEnabled). The RAM's
// mapping into pages 1 and 3 is done by UpdateMemoryBanks; this file only
// sets the flags. Disk images stay open and single bytes are moved in place
// at file offset 256 + address, as the controller transfers them.
//
// Left out: the IDE timing (every command completes at once), interrupts,
// the identify data (all zero), the clock's alarms and periodic interrupt
// (the time always follows the host), PS/2 mouse commands.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

struct Machine;
struct MemoryMap;

inline constexpr const char* kSymbifacePersistentFile = "SymbiPersistant.bin";

constexpr uint32_t kHddActivityIdle = 0x00007F;
constexpr uint32_t kHddActivityBusy = 0x0000FF;

// IDE status bits.
constexpr uint8_t kIdeErr = 0x01;
constexpr uint8_t kIdeDrq = 0x08;
constexpr uint8_t kIdeDsc = 0x10;
constexpr uint8_t kIdeDrdy = 0x40;

struct SymbifaceDrive {
  SymbifaceDrive() = default;
  SymbifaceDrive(const SymbifaceDrive&) = delete;
  SymbifaceDrive& operator=(const SymbifaceDrive&) = delete;
  ~SymbifaceDrive();

  uint8_t Present;
  int Fd = -1;
  uint8_t ImageHeader[256];
  uint64_t ImageSize;   // header size field (offset 56) x 1024
  uint64_t UsableSize;  // disk bytes the file really holds, at most ImageSize
  // Address latched when a command starts.
  uint32_t Cylinder;
  uint32_t Head;
  uint8_t Lba;
  uint32_t Sector;
};

struct SymbifaceState {
  // IDE task file.
  uint8_t Data, Error, SectorCount, SectorNumber, CylinderLow, CylinderHigh, DriveHead, Command, Status,
      DeviceControl, DriveAddress;
  uint8_t CurrentDrive;
  uint32_t ByteIndex;
  SymbifaceDrive Drive[2];
  uint8_t IdentifyBuffer[512];
  std::atomic<uint32_t> HddActivityColour{kHddActivityIdle};  // the status bar's third lamp

  // Clock. Clock, when set, replaces the host's local time (tests).
  uint8_t CmosRam[256];
  uint8_t CmosIndex;
  uint8_t BinaryMode;
  uint8_t Hour24;
  std::tm (*Clock)();

  // Mouse, fed by the main window while the machine runs.
  std::atomic<uint8_t> MouseState{1};
  std::atomic<double> MouseX, MouseY;
  std::atomic<uint8_t> MouseButtons;
  std::atomic<uint8_t> MouseWheel;
};

void SymbifaceReset(Machine& m);
void SymbifaceWrite(Machine& m, uint16_t port, uint8_t value);
uint8_t SymbifaceRead(Machine& m, uint16_t port);

// Fits or removes the card and sets its DIP switches (ROM0ENABLE..ROM7ENABLE).
void SymbifaceConfigure(MemoryMap& memory, bool enabled, const bool (&dipSwitch)[8]);

// Opens an image for the master (0) or slave (1); an empty path leaves the
// drive absent. Returns why the drive is absent, or empty when it is present.
std::string SymbifaceOpenImage(SymbifaceState& s, int drive, const std::filesystem::path& file);
void SymbifaceCloseImages(SymbifaceState& s);

// "SymbiPersistant.bin": 524288 bytes of ROM RAM, then the 256 CMOS bytes.
// Load leaves the memory as it is when the file is missing or short; both
// return why they failed, or empty.
std::string SymbifaceLoadPersistent(Machine& m, const std::filesystem::path& file);
std::string SymbifaceSavePersistent(const Machine& m, const std::filesystem::path& file);

// Program start and end (and both, in turn, when the configuration is
// applied): the persistent file in the start directory, and the images.
void SymbifaceStart(Machine& m, const std::filesystem::path& startDir, const std::filesystem::path& hdd0,
                    const std::filesystem::path& hdd1);
std::string SymbifaceEnd(Machine& m, const std::filesystem::path& startDir);

// Main-window mouse input: movement already scaled to the card's units
// (window pixels x emulated-to-window ratio / 2; right and up positive),
// button bit 0 left / 1 right, the wheel delta with its sign.
void SymbifaceMouseMove(SymbifaceState& s, double dx, double dy);
void SymbifaceMouseButton(SymbifaceState& s, int bit, bool pressed);
void SymbifaceMouseWheel(SymbifaceState& s, int delta);
