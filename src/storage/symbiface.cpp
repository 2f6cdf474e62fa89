#include "storage/symbiface.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "core/machine.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kRomRamSize = sizeof(MemoryMap::SymbifaceRomRam);
static_assert(kRomRamSize == 524288);

constexpr uint8_t kIdeErrorAbort = 0x04;
constexpr uint8_t kIdeErrorNoDrive = 0x02;  // also "aborted command" in the card's answers
constexpr uint8_t kIdeErrorRange = 0x10;

void Finish(SymbifaceState& s, uint8_t status, uint8_t error) {
  s.Status = status;
  s.Error = error;
  s.HddActivityColour.store(kHddActivityIdle, std::memory_order_relaxed);
}

void LatchAddress(SymbifaceState& s, SymbifaceDrive& d) {
  d.Cylinder = uint32_t{s.CylinderHigh} * 256 + s.CylinderLow;
  d.Head = s.DriveHead & 0x0F;
  d.Lba = (s.DriveHead >> 6) & 1;
  d.Sector = s.SectorNumber;
}

// Returns true when the transfer has just been set up (no byte moves yet).
bool StartTransfer(SymbifaceState& s) {
  if ((s.Status & 0x48) != kIdeDrdy) return false;
  s.ByteIndex = 0;
  s.Status = kIdeDrq;
  s.Error = 0;
  s.HddActivityColour.store(kHddActivityBusy, std::memory_order_relaxed);
  return true;
}

void TransferSectorByte(SymbifaceState& s, SymbifaceDrive& d, bool write) {
  if ((s.Status & 0x48) == kIdeDrdy) {
    LatchAddress(s, d);
    StartTransfer(s);
    return;
  }
  if ((s.Status & 0x48) != kIdeDrq) return;

  // CHS adds the sector number as it stands (no -1): the fixed 16 x 63
  // geometry of the images, with sector numbers counted from the track start.
  const uint64_t sector = d.Lba ? (uint64_t{d.Head} << 24) + uint64_t{d.Cylinder} * 256 + d.Sector
                                : uint64_t{d.Cylinder} * 1008 + uint64_t{d.Head} * 63 + d.Sector;
  const uint64_t address = sector * kSectorSize + s.ByteIndex;
  if (address > d.ImageSize + kSectorSize) {
    Finish(s, kIdeErr, kIdeErrorRange);
    return;
  }

  // The last sector's worth past the image passes the range test but has no
  // bytes behind it: it reads as zero and swallows writes, so the file keeps
  // its size. The same holds for a file shorter than its header says.
  const off_t offset = static_cast<off_t>(256 + address);
  if (write) {
    if (address < d.UsableSize && ::pwrite(d.Fd, &s.Data, 1, offset) != 1) {
      Finish(s, kIdeErr, kIdeErrorAbort);
      return;
    }
  } else {
    uint8_t byte = 0;
    if (address < d.UsableSize && ::pread(d.Fd, &byte, 1, offset) != 1) {
      Finish(s, kIdeErr, kIdeErrorAbort);
      return;
    }
    s.Data = byte;
  }

  if (++s.ByteIndex < kSectorSize) return;
  s.ByteIndex = 0;
  ++d.Sector;
  if (--s.SectorCount == 0) {
    s.SectorNumber = static_cast<uint8_t>(d.Sector);
    Finish(s, kIdeDrdy | kIdeDsc, 0);
  }
}

void TransferIdentifyByte(SymbifaceState& s) {
  if (StartTransfer(s) || s.Status != kIdeDrq) return;
  s.Data = s.IdentifyBuffer[s.ByteIndex];
  if (++s.ByteIndex == kSectorSize) {
    s.ByteIndex = 0;
    Finish(s, kIdeDrdy, 0);
  }
}

bool NoEffectCommand(uint8_t c) {
  return (c >= 0xE0 && c <= 0xE3) || c == 0xE5 || c == 0xE6 || (c >= 0xF8 && c <= 0xFB) || c == 0xFD;
}

void Dispatch(SymbifaceState& s) {
  s.CurrentDrive = (s.DriveHead >> 4) & 1;
  SymbifaceDrive& d = s.Drive[s.CurrentDrive];
  if (!d.Present) {
    s.Status = kIdeErr;
    s.Error = kIdeErrorNoDrive;
    return;
  }
  const uint8_t c = s.Command;
  if (c >= 0x10 && c <= 0x1F) {  // recalibrate
    d.Cylinder = d.Head = d.Sector = 0;
    s.Status = kIdeDrdy | kIdeDsc;
    s.Error = 0;
  } else if (c >= 0x20 && c <= 0x27) {
    TransferSectorByte(s, d, false);
  } else if (c >= 0x30 && c <= 0x37) {
    TransferSectorByte(s, d, true);
  } else if (c >= 0x70 && c <= 0x7F) {  // seek
    LatchAddress(s, d);
    s.ByteIndex = 0;
    s.Status = kIdeDrdy | kIdeDsc;
    s.Error = 0;
  } else if (c == 0xEC) {
    TransferIdentifyByte(s);
  } else if (NoEffectCommand(c)) {
    s.Status = kIdeDrdy;
    s.Error = 0;
  } else {
    s.Status = kIdeErr;
    s.Error = kIdeErrorNoDrive;
  }
}

uint8_t ClockValue(const SymbifaceState& s, int value) {
  if (s.BinaryMode) return static_cast<uint8_t>(value);
  return static_cast<uint8_t>((value / 10) * 16 + value % 10);
}

std::tm HostLocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return t;
}

uint8_t ClockRead(const SymbifaceState& s) {
  const uint8_t index = s.CmosIndex;
  switch (index) {
    case 0x00: case 0x02: case 0x04: case 0x06: case 0x07: case 0x08: case 0x09: case 0x32: break;
    case 0x0A: return s.CmosRam[0x0A] & 0x7F;  // never mid-update
    case 0x0D: return s.CmosRam[0x0D] | 0x80;  // time valid
    default: return s.CmosRam[index];
  }
  const std::tm t = s.Clock ? s.Clock() : HostLocalTime();
  const int year = t.tm_year + 1900;
  switch (index) {
    case 0x00: return ClockValue(s, t.tm_sec % 60);
    case 0x02: return ClockValue(s, t.tm_min);
    case 0x04: return ClockValue(s, !s.Hour24 && t.tm_hour >= 13 ? t.tm_hour - 12 : t.tm_hour);
    case 0x06: return ClockValue(s, t.tm_wday + 1);
    case 0x07: return ClockValue(s, t.tm_mday);
    case 0x08: return ClockValue(s, t.tm_mon + 1);
    case 0x09: return ClockValue(s, year % 100);
    default: return ClockValue(s, year / 100 % 100);
  }
}

// The integer part of an accumulator, keeping the fraction; only its low
// six bits reach the CPC, so huge values are reduced first.
int TakeWhole(std::atomic<double>& acc) {
  const double v = acc.load(std::memory_order_relaxed);
  if (!std::isfinite(v)) {
    acc.store(0, std::memory_order_relaxed);
    return 0;
  }
  const double whole = std::trunc(v);
  acc.store(v - whole, std::memory_order_relaxed);
  return static_cast<int>(std::fmod(whole, 64.0));
}

uint8_t MouseRead(SymbifaceState& s) {
  switch (s.MouseState.load(std::memory_order_relaxed)) {
    case 1:
      s.MouseState.store(2, std::memory_order_relaxed);
      return static_cast<uint8_t>(0x40 + (TakeWhole(s.MouseX) & 0x3F));
    case 2:
      s.MouseState.store(3, std::memory_order_relaxed);
      return static_cast<uint8_t>(0x80 + (TakeWhole(s.MouseY) & 0x3F));
    case 3: {
      s.MouseState.store(0, std::memory_order_relaxed);
      const uint8_t wheel = s.MouseWheel.exchange(0, std::memory_order_relaxed);
      if (wheel != 0) return static_cast<uint8_t>(0xE0 + wheel);
      return static_cast<uint8_t>(0xC0 + s.MouseButtons.load(std::memory_order_relaxed));
    }
    default:
      return 0;
  }
}

void SetRomRamFlag(MemoryMap& memory, uint8_t& flag, uint8_t value) {
  flag = value;
  UpdateMemoryBanks(memory);
}

void ApplyRegisterB(SymbifaceState& s) {
  s.BinaryMode = (s.CmosRam[0x0B] >> 2) & 1;
  s.Hour24 = (s.CmosRam[0x0B] >> 1) & 1;
}

}  // namespace

SymbifaceDrive::~SymbifaceDrive() {
  if (Fd >= 0) ::close(Fd);
}

void SymbifaceReset(Machine& m) {
  SymbifaceState& s = m.Symbiface;
  s.HddActivityColour.store(kHddActivityIdle, std::memory_order_relaxed);
  m.Memory.SymbifaceRomRamWindow = 0;
  m.Memory.SymbifaceRomRamActive = 0;
  UpdateMemoryBanks(m.Memory);
  s.Status = kIdeDrdy;
  s.Data = s.Error = s.SectorCount = s.SectorNumber = s.CylinderLow = s.CylinderHigh = 0;
  s.DriveHead = s.Command = s.DeviceControl = s.DriveAddress = 0;
  s.ByteIndex = 0;
}

void SymbifaceWrite(Machine& m, uint16_t port, uint8_t value) {
  if (!m.Memory.SymbifaceEnabled) return;
  SymbifaceState& s = m.Symbiface;
  switch (port) {
    case 0xFD06: s.DeviceControl = value; break;
    case 0xFD08:
      s.Data = value;
      if (s.Status == kIdeDrq) Dispatch(s);
      break;
    case 0xFD0A: s.SectorCount = value; break;
    case 0xFD0B: s.SectorNumber = value; break;
    case 0xFD0C: s.CylinderLow = value; break;
    case 0xFD0D: s.CylinderHigh = value; break;
    case 0xFD0E: s.DriveHead = value; break;
    case 0xFD0F:
      s.Command = value;
      Dispatch(s);
      break;
    case 0xFD11: SetRomRamFlag(m.Memory, m.Memory.SymbifaceRomRamActive, 0); break;
    case 0xFD14:
      s.CmosRam[s.CmosIndex] = value;
      ApplyRegisterB(s);
      break;
    case 0xFD15: s.CmosIndex = value; break;
    case 0xFD17: SetRomRamFlag(m.Memory, m.Memory.SymbifaceRomRamWindow, 0); break;
    default: break;
  }
}

uint8_t SymbifaceRead(Machine& m, uint16_t port) {
  if (!m.Memory.SymbifaceEnabled) return 0xFF;
  SymbifaceState& s = m.Symbiface;
  switch (port) {
    case 0xFD06: return s.Status;
    case 0xFD07: return s.DriveAddress;
    case 0xFD08:
      if (s.Status == kIdeDrq) Dispatch(s);
      return s.Data;
    case 0xFD09: return s.Error;
    case 0xFD0A: return s.SectorCount;
    case 0xFD0B: return s.SectorNumber;
    case 0xFD0C: return s.CylinderLow;
    case 0xFD0D: return s.CylinderHigh;
    case 0xFD0E: return s.DriveHead;
    case 0xFD0F: {
      const uint8_t status = s.Status;
      if (status & kIdeErr) s.Status = kIdeDrdy;
      return status;
    }
    case 0xFD10: return MouseRead(s);
    case 0xFD11: SetRomRamFlag(m.Memory, m.Memory.SymbifaceRomRamActive, 1); return 0xFF;
    case 0xFD14: return ClockRead(s);
    case 0xFD17: SetRomRamFlag(m.Memory, m.Memory.SymbifaceRomRamWindow, 1); return 0xFF;
    default: return 0xFF;
  }
}

void SymbifaceConfigure(MemoryMap& memory, bool enabled, const bool (&dipSwitch)[8]) {
  memory.SymbifaceEnabled = enabled;
  for (int i = 0; i < 8; ++i) memory.SymbifaceDipSwitch[i] = dipSwitch[i];
  UpdateMemoryBanks(memory);
}

std::string SymbifaceOpenImage(SymbifaceState& s, int drive, const fs::path& file) {
  SymbifaceDrive& d = s.Drive[drive & 1];
  if (d.Fd >= 0) ::close(d.Fd);
  d.Fd = -1;
  d.Present = 0;
  if (file.empty()) return {};

  const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return "Cannot open " + file.string() + ": " + std::strerror(errno);
  struct stat info{};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 256 ||
      ::pread(fd, d.ImageHeader, 256, 0) != 256) {
    ::close(fd);
    return "Not a hard disk image: " + file.string();
  }
  const uint8_t* k = d.ImageHeader + 56;
  const uint32_t sizeKb = k[0] | k[1] << 8 | k[2] << 16 | uint32_t{k[3]} << 24;
  d.ImageSize = uint64_t{sizeKb} * 1024;
  d.UsableSize = std::min<uint64_t>(d.ImageSize, static_cast<uint64_t>(info.st_size) - 256);
  d.Fd = fd;
  d.Present = 1;
  return {};
}

void SymbifaceCloseImages(SymbifaceState& s) {
  for (SymbifaceDrive& d : s.Drive) {
    if (d.Fd >= 0) ::close(d.Fd);
    d.Fd = -1;
    d.Present = 0;
  }
}

std::string SymbifaceLoadPersistent(Machine& m, const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "Cannot open " + file.string();
  std::vector<char> data(kRomRamSize + 256);
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  if (static_cast<size_t>(in.gcount()) != data.size()) return "File too short: " + file.string();
  std::memcpy(m.Memory.SymbifaceRomRam, data.data(), kRomRamSize);
  std::memcpy(m.Symbiface.CmosRam, data.data() + kRomRamSize, 256);
  // Register B is battery-backed like the rest: the clock's mode follows it.
  ApplyRegisterB(m.Symbiface);
  return {};
}

std::string SymbifaceSavePersistent(const Machine& m, const fs::path& file) {
  fs::path temp = file;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(m.Memory.SymbifaceRomRam), kRomRamSize);
    out.write(reinterpret_cast<const char*>(m.Symbiface.CmosRam), 256);
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      return "Cannot write " + file.string();
    }
  }
  std::error_code ec;
  fs::rename(temp, file, ec);
  if (ec) {
    fs::remove(temp, ec);
    return "Cannot write " + file.string();
  }
  return {};
}

void SymbifaceStart(Machine& m, const fs::path& startDir, const fs::path& hdd0, const fs::path& hdd1) {
  const fs::path persistent = startDir / kSymbifacePersistentFile;
  std::error_code ec;
  if (fs::exists(persistent, ec)) SymbifaceLoadPersistent(m, persistent);
  // A drive whose image cannot be opened is simply absent.
  SymbifaceOpenImage(m.Symbiface, 0, hdd0);
  SymbifaceOpenImage(m.Symbiface, 1, hdd1);
}

std::string SymbifaceEnd(Machine& m, const fs::path& startDir) {
  std::string error = SymbifaceSavePersistent(m, startDir / kSymbifacePersistentFile);
  SymbifaceCloseImages(m.Symbiface);
  return error;
}

void SymbifaceMouseMove(SymbifaceState& s, double dx, double dy) {
  s.MouseX.fetch_add(dx, std::memory_order_relaxed);
  s.MouseY.fetch_add(dy, std::memory_order_relaxed);
  s.MouseState.store(1, std::memory_order_relaxed);
}

void SymbifaceMouseButton(SymbifaceState& s, int bit, bool pressed) {
  const uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
  uint8_t buttons = s.MouseButtons.load(std::memory_order_relaxed);
  buttons = pressed ? (buttons | mask) : (buttons & ~mask);
  s.MouseButtons.store(buttons & ~0x20, std::memory_order_relaxed);
  s.MouseState.store(1, std::memory_order_relaxed);
}

void SymbifaceMouseWheel(SymbifaceState& s, int delta) {
  const uint8_t value = static_cast<uint8_t>(delta >= 0 ? (delta & 0x0F) : ((delta & 0x0F) | 0x10));
  s.MouseWheel.store(value, std::memory_order_relaxed);
  s.MouseState.store(1, std::memory_order_relaxed);
}
