// libFuzzer target for the ROM image loader: the file is read into a slot and
// compared with what the format says it holds (an AMSDOS header dropped when
// its checksum and length hold, at most 16 KB kept, the rest of the slot zero). The
// image then runs as the firmware of a machine for a few frames, since a ROM
// from the internet is code the emulator will execute.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/machine.h"
#include "core/rom_header.h"
#include "memory_file.h"

namespace romfuzz {

bool RomFuzzInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  if (!file.Ok()) return true;
  static uint8_t slot[kBlockSize];
  std::memset(slot, 0xA5, sizeof slot);
  if (!LoadRomImage(file.Path(), slot)) return false;  // a readable file always loads

  const size_t start = size >= kAmsdosHeaderSize && HasAmsdosHeader(data, size) ? kAmsdosHeaderSize : 0;
  const size_t length = std::min<size_t>(size - start, kBlockSize);
  if (length > 0 && std::memcmp(slot, data + start, length) != 0) return false;
  if (std::any_of(slot + length, slot + kBlockSize, [](uint8_t b) { return b != 0; })) return false;

  // One machine for the whole run; every input starts it from reset.
  static std::unique_ptr<Machine> m = [] {
    MachineConfig c;
    c.RomDir = "/nonexistent";
    c.MicrosecondsPerTick = 2000;
    return CreateMachine(c);
  }();
  std::memcpy(m->Memory.LowerRom, slot, kBlockSize);
  std::memcpy(m->Memory.UpperRomImage[0], slot, kBlockSize);
  m->Memory.UpperRomPresent[0] = 1;
  ResetMachine(*m);
  for (int i = 0; i < 4; ++i) EmulateTick(*m);  // the sanitizers judge this part
  return true;
}

}  // namespace romfuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!romfuzz::RomFuzzInput(data, size)) __builtin_trap();
  return 0;
}
