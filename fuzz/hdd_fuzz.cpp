// libFuzzer target for hard disk images: the file is opened as the SymbiFace
// II master, then the IDE commands listed in the header's spare bytes (64..87,
// six task-file bytes each) run to the end of their transfers. An image that
// is refused must be refused with its name; one that opens must keep its size
// however far the addresses point.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/machine.h"
#include "memory_file.h"

namespace hddfuzz {

bool HddFuzzInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  if (!file.Ok()) return true;
  static std::unique_ptr<Machine> m = [] {
    MachineConfig c;
    c.RomDir = "/nonexistent";
    c.SymbifaceEnabled = true;
    return CreateMachine(c);
  }();
  ResetMachine(*m);
  SymbifaceState& s = m->Symbiface;
  const std::string error = SymbifaceOpenImage(s, 0, file.Path());
  if (!error.empty()) return size < 256 && error.find(file.Path()) != std::string::npos;
  if (!s.Drive[0].Present || s.Drive[0].UsableSize > size - 256) return false;

  for (size_t k = 0; k < 4; ++k) {
    const uint8_t* t = data + 64 + 6 * k;
    SymbifaceWrite(*m, 0xFD0A, t[0] & 3);  // at most three sectors a command
    SymbifaceWrite(*m, 0xFD0B, t[1]);
    SymbifaceWrite(*m, 0xFD0C, t[2]);
    SymbifaceWrite(*m, 0xFD0D, t[3]);
    SymbifaceWrite(*m, 0xFD0E, t[4]);
    SymbifaceWrite(*m, 0xFD0F, t[5]);
    for (int budget = 4 * 512 + 8; budget > 0 && (SymbifaceRead(*m, 0xFD06) & kIdeDrq); --budget) {
      if ((t[5] & 0xF0) == 0x30)
        SymbifaceWrite(*m, 0xFD08, static_cast<uint8_t>(budget));
      else
        SymbifaceRead(*m, 0xFD08);
    }
  }
  SymbifaceCloseImages(s);
  return file.Size() == static_cast<int64_t>(size);
}

}  // namespace hddfuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!hddfuzz::HddFuzzInput(data, size)) __builtin_trap();
  return 0;
}
