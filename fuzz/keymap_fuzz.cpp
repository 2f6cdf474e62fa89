// libFuzzer target for "Keymap.map": a file loads exactly when it holds 2048
// bytes or more, every entry read lies in the matrix or is unassigned, a
// failed load leaves the map alone, saving and loading again gives the same
// map, and pressing then releasing every PC key leaves no CPC key held.
#include <cstddef>
#include <cstdint>

#include "devices/keymap.h"
#include "devices/ppi.h"
#include "memory_file.h"
#include "temp_dir.h"

namespace keymapfuzz {

bool KeyMapFuzzInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  static ScratchDir dir;
  if (!file.Ok() || !dir.Ok()) return true;

  const KeyMap before = DefaultKeyMap();
  KeyMap map = before;
  const KeyMapResult r = LoadKeyMap(map, file.Path());
  if (r.Ok != (size >= kKeyMapFileSize)) return false;
  if (!r.Ok) return map == before && r.Error.find(file.Path()) != std::string::npos;

  for (int i = 0; i < kKeyMapEntries; ++i) {
    const KeyMapEntry& e = map.Entries[i];
    const uint16_t line = static_cast<uint16_t>(data[4 * i] | data[4 * i + 1] << 8);
    const uint16_t bit = static_cast<uint16_t>(data[4 * i + 2] | data[4 * i + 3] << 8);
    const bool inMatrix = line <= 9 && bit <= 7;
    if (inMatrix ? !(e.Line == line && e.Bit == bit) : !(e == KeyMapEntry{})) return false;
  }

  const auto saved = dir.Path() / kKeyMapFileName;
  KeyMap again;
  if (!SaveKeyMap(map, saved).Ok || !LoadKeyMap(again, saved).Ok || !(again == map)) return false;

  KeyboardState k;
  KeyboardReset(k);
  for (uint32_t code = 0; code <= kKeyMapEntries + 1; ++code) KeyDown(k, map, code);
  for (uint32_t code = 0; code <= kKeyMapEntries + 1; ++code) {
    KeyUp(k, map, code);
    KeyName(code);
  }
  for (uint32_t line = 0; line < 16; ++line)
    if (KeyboardLine(k, line) != 0xFF) return false;
  return true;
}

}  // namespace keymapfuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!keymapfuzz::KeyMapFuzzInput(data, size)) __builtin_trap();
  return 0;
}
