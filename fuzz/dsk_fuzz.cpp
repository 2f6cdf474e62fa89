// libFuzzer target for the DSK loader: the image is inserted from a file and
// from memory, then the controller reads, writes, seeks and takes garbage
// command bytes over whatever was loaded. Fails when the image file changes
// size or the loaded model leaves its bounds.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "memory_file.h"
#include "storage/fdc.h"

namespace dskfuzz {

constexpr uint16_t kMotor = 0xFA7E, kStatus = 0xFB7E, kData = 0xFB7F;

void Send(FdcState& f, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) FdcWrite(f, kData, b);
}

// Runs a transfer and its result phase to the end, within a byte budget.
void Drain(FdcState& f, size_t& budget) {
  uint8_t next = 0x3C;
  while (budget > 0) {
    const uint8_t msr = FdcRead(f, kStatus);
    if (msr == 0xF0)
      FdcRead(f, kData);
    else if (msr == 0xB0)
      FdcWrite(f, kData, next++);
    else
      break;
    --budget;
  }
  for (int i = 0; i < 16 && FdcRead(f, kStatus) == 0xD0; ++i) FdcRead(f, kData);
}

bool Bounded(const DriveImage& d) {
  if (d.TrackCount > kMaxTracks) return false;
  for (uint32_t t = 0; t < d.TrackCount; ++t) {
    if (SectorCountOf(d, t) > kMaxSectorsPerTrack || TrackEnd(d, t) > d.ImageSize) return false;
    for (uint32_t s = 0; s < SectorCountOf(d, t); ++s)
      if (SectorIdOf(d, t, s).N > 6) return false;
  }
  return true;
}

bool Exercise(FdcState& f, uint8_t drive) {
  DriveImage& d = f.Drives[drive];
  size_t budget = 1 << 16;
  const uint32_t tracks = d.TrackCount < 4 ? d.TrackCount : 4;
  for (uint32_t t = 0; t < tracks; ++t) {
    const uint32_t sectors = SectorCountOf(d, t);
    if (sectors == 0) continue;
    const SectorId last = SectorIdOf(d, t, sectors - 1);
    for (uint32_t s = 0; s < sectors && s < 3; ++s) {
      const SectorId id = SectorIdOf(d, t, s);
      Send(f, {0x46, drive, id.C, id.H, id.R, id.N, id.R, 0x2A, 0xFF});
      Drain(f, budget);
    }
    const SectorId first = SectorIdOf(d, t, 0);
    Send(f, {0x46, drive, first.C, first.H, first.R, first.N, last.R, 0x2A, 0xFF});
    Drain(f, budget);
    Send(f, {0x45, drive, first.C, first.H, first.R, first.N, first.R, 0x2A, 0xFF});
    Drain(f, budget);
  }
  Send(f, {0x42, drive, 0, 0, 0xC1, 2, 0xC9, 0x2A, 0xFF});
  Drain(f, budget);
  Send(f, {0x0F, drive, 60});
  FdcFrameTick(f);
  Send(f, {0x4A, drive});
  Drain(f, budget);
  Send(f, {0x07, drive});
  for (int i = 0; i < 4; ++i) FdcFrameTick(f);
  Send(f, {0x08});
  Drain(f, budget);
  return Bounded(d);
}

bool DskFuzzInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  if (!file.Ok()) return true;
  auto f = std::make_unique<FdcState>();
  FdcReset(*f);
  OpenDiskFile(f->Drives[0], file.Path());
  OpenDiskFromMemory(f->Drives[1], std::vector<uint8_t>(data, data + size));
  FdcWrite(*f, kMotor, 1);
  Send(*f, {0x03, 0xA1, 0x03});
  bool ok = Exercise(*f, 0) && Exercise(*f, 1);

  // The creator field as raw traffic on the data register.
  size_t budget = 4096;
  for (size_t i = 0x22; i < 0x30 && i < size; ++i) {
    FdcWrite(*f, kData, data[i]);
    Drain(*f, budget);
  }
  FdcFrameTick(*f);
  EjectDisk(f->Drives[0]);
  return ok && file.Size() == static_cast<int64_t>(size);
}

}  // namespace dskfuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!dskfuzz::DskFuzzInput(data, size)) __builtin_trap();
  return 0;
}
