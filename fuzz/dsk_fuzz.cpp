// libFuzzer target for the DSK loader: the image is inserted from a file and
// from memory, then the controller reads, writes, scans, formats, seeks and
// takes garbage command bytes over whatever was loaded, its disk turning as
// the polls take time. Fails when the image file changes size without a
// format, or the loaded model leaves its bounds.
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
  for (uint8_t b : bytes) {
    f.Now += 4;
    FdcWrite(f, kData, b);
  }
}

// Runs a transfer and its result phase to the end, within a poll budget;
// waiting polls let the disk turn faster than a Z80 would.
void Drain(FdcState& f, size_t& budget) {
  uint8_t next = 0x3C;
  while (budget > 0) {
    f.Now += 4;
    const uint8_t msr = FdcRead(f, kStatus);
    if (msr == 0xF0)
      FdcRead(f, kData);
    else if (msr == 0xB0)
      FdcWrite(f, kData, next++);
    else if ((msr & 0x80) == 0 && (msr & 0x10))
      f.Now += 2000;
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
      if (uint64_t{d.SectorData[t][s]} + d.SectorStored[t][s] > TrackEnd(d, t)) return false;
  }
  return true;
}

bool Exercise(FdcState& f, uint8_t drive) {
  DriveImage& d = f.Drives[drive];
  size_t budget = 1 << 16;
  const uint32_t tracks = d.TrackCount < 4 ? d.TrackCount : 4;
  for (uint32_t t = 0; t < tracks; ++t) {
    const uint32_t sectors = SectorCountOf(d, t);
    const uint8_t unit = static_cast<uint8_t>(drive | (d.Sides == 2 ? (t & 1) << 2 : 0));
    Send(f, {0x0F, unit, static_cast<uint8_t>(t / d.Sides)});
    if (sectors == 0) continue;
    const SectorId last = SectorIdOf(d, t, sectors - 1);
    for (uint32_t s = 0; s < sectors && s < 3; ++s) {
      const SectorId id = SectorIdOf(d, t, s);
      Send(f, {static_cast<uint8_t>(s == 1 ? 0x6C : 0x46), unit, id.C, id.H, id.R, id.N, id.R, 0x2A, 0xFF});
      Drain(f, budget);
    }
    const SectorId first = SectorIdOf(d, t, 0);
    Send(f, {0x46, unit, first.C, first.H, first.R, first.N, last.R, 0x2A, 0xFF});
    Drain(f, budget);
    Send(f, {0x45, unit, first.C, first.H, first.R, first.N, first.R, 0x2A, 0xFF});
    Drain(f, budget);
    Send(f, {0x11, unit, first.C, first.H, first.R, first.N, last.R, 0x2A, 1});
    Drain(f, budget);
    Send(f, {0x42, unit, first.C, first.H, first.R, first.N, 0xFF, 0x2A, 0xFF});
    Drain(f, budget);
  }
  Send(f, {0x42, drive, 0, 0, 0xC1, 2, 0xC9, 0x2A, 0xFF});
  Drain(f, budget);
  // A format of cylinder 1 with sizes from the image's own bytes.
  Send(f, {0x0F, drive, 1});
  const uint8_t n = d.Header[0x22] & 7, count = d.Header[0x23] & 31;
  Send(f, {0x4D, drive, n, count, 0x2A, 0xE5});
  Drain(f, budget);
  if (!Bounded(d)) return false;
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
  // A format that changes a track's size rewrites the image through a file
  // beside it, which the memory file has no folder for: it must fail cleanly.
  f->Drives[0].WriteProtected = size > 0 && (data[0] & 1);
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
