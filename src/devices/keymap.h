// The key map: which CPC matrix position each PC key presses.
//
// A PC key code is the Windows virtual-key code of the key, plus 256 for
// extended keys (the Qt front end translates physical keys to these codes, so
// "Keymap.map" files from elsewhere work unchanged). Codes 1..512 have an
// entry; several codes may share a matrix position, one code has at most one.
//
// "Keymap.map" is exactly 2048 bytes: the entries in code order from code 1,
// each as line then bit, 16-bit little-endian, no header. Line &FFFF means
// no CPC key.
//
// Leaves out: the mapper dialog (front end).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

constexpr uint16_t kKeyUnassigned = 0xFFFF;
constexpr int kKeyMapEntries = 512;
constexpr size_t kKeyMapFileSize = 2048;
inline constexpr const char* kKeyMapFileName = "Keymap.map";

struct KeyMapEntry {
  uint16_t Line = kKeyUnassigned;  // 0..9
  uint16_t Bit = 0;                // 0..7
  bool operator==(const KeyMapEntry&) const = default;
};

struct KeyMap {
  std::array<KeyMapEntry, kKeyMapEntries> Entries;  // code 1 at index 0
  bool operator==(const KeyMap&) const = default;
};

// The entry of a code, or null for codes outside 1..512.
const KeyMapEntry* KeyMapLookup(const KeyMap& map, uint32_t code);
// Sets a code's entry (the mapper's "ASSIGN KEY"); other codes are untouched.
void AssignKey(KeyMap& map, uint32_t code, uint16_t line, uint16_t bit);

// The CPC keyboard laid out on a PC keyboard by position, used when there
// is no "Keymap.map".
KeyMap DefaultKeyMap();

struct KeyMapResult {
  bool Ok = false;
  std::string Error;  // why not, for the caller's message
};

// Reads the file into map; on failure map is left as it was. Entries that
// name no matrix position (line above 9, bit above 7) read as unassigned.
// The caller then releases every key (KeyboardReset).
KeyMapResult LoadKeyMap(KeyMap& map, const std::filesystem::path& file);
// The key map of a session: the file when it loads, else the built-in map.
// A missing file is no problem; a damaged one is, and the text returned names
// the file and the reason (empty when there is nothing to say). The file is
// never written here, so a damaged map stays for the user to mend.
std::string LoadSessionKeyMap(KeyMap& map, const std::filesystem::path& file);
// Writes the 2048 bytes, replacing the file.
KeyMapResult SaveKeyMap(const KeyMap& map, const std::filesystem::path& file);

// The name shown for a PC key code.
std::string KeyName(uint32_t code);
