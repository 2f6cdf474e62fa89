#include "devices/keymap.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace {

struct DefaultKey {
  uint16_t Code;
  uint8_t Line, Bit;
};

// PC keys by physical position (US virtual-key codes, which the front end
// derives from scan codes whatever the host layout) onto the CPC keys in the
// same place. Keys the CPC lacks take the nearest spare CPC key: Delete is
// CLR, End and Insert are COPY (not Alt: the window keeps Alt for its
// hotkeys), the keypad is the f-keys whether Num Lock is on or off.
constexpr DefaultKey kDefaultKeys[] = {
    // Top row.
    {27, 8, 2},    // Esc: ESC
    {192, 2, 6},   // ` ~: \ (backquote above)
    {49, 8, 0}, {50, 8, 1}, {51, 7, 1}, {52, 7, 0}, {53, 6, 1},
    {54, 6, 0}, {55, 5, 1}, {56, 5, 0}, {57, 4, 1}, {48, 4, 0},
    {189, 3, 1},   // - _: - =
    {187, 3, 0},   // = +: ^ pound
    {8, 9, 7},     // Backspace: DEL
    {302, 2, 0},   // Delete: CLR
    // Q row.
    {9, 8, 4},     // Tab: TAB
    {81, 8, 3}, {87, 7, 3}, {69, 7, 2}, {82, 6, 2}, {84, 6, 3},
    {89, 5, 3}, {85, 5, 2}, {73, 4, 3}, {79, 4, 2}, {80, 3, 3},
    {219, 3, 2},   // [ {: @ |
    {221, 2, 1},   // ] }: [ {
    {13, 2, 2},    // Return: RETURN
    // A row.
    {20, 8, 6},    // Caps Lock: CAPS LOCK
    {65, 8, 5}, {83, 7, 4}, {68, 7, 5}, {70, 6, 5}, {71, 6, 4},
    {72, 5, 4}, {74, 5, 5}, {75, 4, 5}, {76, 4, 4},
    {186, 3, 5},   // ; :: : *
    {222, 3, 4},   // ' ": ; +
    {220, 2, 3},   // \ | (ISO # ~ beside Return): ] }
    // Z row.
    {16, 2, 5}, {272, 2, 5},  // both Shifts: SHIFT
    {226, 2, 6},   // ISO \ left of Z: \ `
    {90, 8, 7}, {88, 7, 7}, {67, 7, 6}, {86, 6, 7}, {66, 6, 6},
    {78, 5, 6}, {77, 4, 6},
    {188, 4, 7},   // , <
    {190, 3, 7},   // . >
    {191, 3, 6},   // / ?
    // Bottom row.
    {17, 2, 7}, {273, 2, 7},  // both Controls: CONTROL
    {291, 1, 1},   // End: COPY
    {301, 1, 1},   // Insert: COPY
    {32, 5, 7},    // Space: SPACE BAR
    // Cursor keys.
    {294, 0, 0}, {296, 0, 2}, {293, 1, 0}, {295, 0, 1},
    // Keypad with Num Lock on: f0..f9, ".", ENTER.
    {96, 1, 7}, {97, 1, 5}, {98, 1, 6}, {99, 0, 5}, {100, 2, 4},
    {101, 1, 4}, {102, 0, 4}, {103, 1, 2}, {104, 1, 3}, {105, 0, 3},
    {110, 0, 7}, {269, 0, 6},
    // The same keys with Num Lock off.
    {45, 1, 7}, {35, 1, 5}, {40, 1, 6}, {34, 0, 5}, {37, 2, 4},
    {12, 1, 4}, {39, 0, 4}, {36, 1, 2}, {38, 1, 3}, {33, 0, 3},
    {46, 0, 7},
};

uint16_t ReadLe16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

const KeyMapEntry* KeyMapLookup(const KeyMap& map, uint32_t code) {
  if (code < 1 || code > kKeyMapEntries) return nullptr;
  return &map.Entries[code - 1];
}

void AssignKey(KeyMap& map, uint32_t code, uint16_t line, uint16_t bit) {
  if (code < 1 || code > kKeyMapEntries) return;
  map.Entries[code - 1] = {line, bit};
}

KeyMap DefaultKeyMap() {
  KeyMap map;
  for (const DefaultKey& k : kDefaultKeys) AssignKey(map, k.Code, k.Line, k.Bit);
  return map;
}

KeyMapResult LoadKeyMap(KeyMap& map, const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {false, "cannot open " + file.string() + ": " + std::strerror(errno)};
  unsigned char bytes[kKeyMapFileSize];
  in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
  if (in.bad()) return {false, "cannot read " + file.string() + ": " + std::strerror(errno)};
  if (static_cast<size_t>(in.gcount()) != sizeof bytes)
    return {false, file.string() + " is shorter than " + std::to_string(kKeyMapFileSize) + " bytes"};
  KeyMap loaded;
  for (int i = 0; i < kKeyMapEntries; ++i) {
    const uint16_t line = ReadLe16(bytes + i * 4);
    const uint16_t bit = ReadLe16(bytes + i * 4 + 2);
    // A position outside the matrix would press nothing sensible; keep the
    // code free instead.
    if (line <= 9 && bit <= 7) loaded.Entries[i] = {line, bit};
  }
  map = loaded;
  return {true, {}};
}

std::string LoadSessionKeyMap(KeyMap& map, const std::filesystem::path& file) {
  map = DefaultKeyMap();
  std::error_code ec;
  if (!std::filesystem::exists(file, ec) && !ec) return {};
  const KeyMapResult r = LoadKeyMap(map, file);
  if (r.Ok) return {};
  return "Key map not used: " + r.Error + ". The built-in map is used for this session; the file is left as it is.";
}

KeyMapResult SaveKeyMap(const KeyMap& map, const std::filesystem::path& file) {
  unsigned char bytes[kKeyMapFileSize];
  for (int i = 0; i < kKeyMapEntries; ++i) {
    const KeyMapEntry& e = map.Entries[i];
    bytes[i * 4] = static_cast<unsigned char>(e.Line);
    bytes[i * 4 + 1] = static_cast<unsigned char>(e.Line >> 8);
    bytes[i * 4 + 2] = static_cast<unsigned char>(e.Bit);
    bytes[i * 4 + 3] = static_cast<unsigned char>(e.Bit >> 8);
  }
  // Written beside the old file and renamed over it, so a failed write
  // never leaves a truncated map behind.
  std::filesystem::path temp = file;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return {false, "cannot write " + file.string()};
    out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    out.close();
    if (!out) {
      std::error_code ec;
      std::filesystem::remove(temp, ec);
      return {false, "cannot write " + file.string()};
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, file, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return {false, "cannot write " + file.string()};
  }
  return {true, {}};
}

std::string KeyName(uint32_t code) {
  switch (code) {
    case 8: return "BACKSPACE";
    case 9: return "TAB";
    case 13: return "RETURN";
    case 20: return "CAPS LOCK";
    case 27: return "ESCAPE";
    case 32: return "SPACE BAR";
    case 16: return "LEFT SHIFT";
    case 17: return "LEFT CONTROL";
    case 18: return "LEFT ALT";
    case 272: return "RIGHT SHIFT";
    case 273: return "RIGHT RCONTROL";
    case 274: return "RIGHT ALT";
    case 12: return "NUMPAD 5 (NUM LOCK OFF)";
    case 33: return "NUMPAD PAGE UP (NUM LOCK OFF)";
    case 34: return "NUMPAD PAGE DOWN (NUM LOCK OFF)";
    case 35: return "END (NUM LOCK OFF)";
    case 36: return "HOME (NUM LOCK OFF)";
    case 37: return "NUMPAD LEFT ARROW (NUM LOCK OFF)";
    case 38: return "NUMPAD UP ARROW (NUM LOCK OFF)";
    case 39: return "NUMPAD RIGHT ARROW (NUM LOCK OFF)";
    case 40: return "NUMPAD DOWN ARROW (NUM LOCK OFF)";
    case 45: return "INSERT (NUM LOCK OFF)";
    case 46: return "DELETE (NUM LOCK OFF)";
    case 110: return "NUMPAD .";
    case 186: return "COLUMN";
    case 187: return "PLUS";
    case 188: return "COMMA";
    case 189: return "MINUS";
    case 190: return "FULLSTOP";
    case 191: return "RIGHT SLASH";
    case 192: return "CIRCUMFLEX";
    case 219: return "LEFT BRACKET";
    case 220: return "LEFT SLASH";
    case 221: return "RIGHT BRACKET";
    case 222: return "TONE";
    case 226: return "SECONDARY LEFT SLASH";
    case 269: return "NUMPAD ENTER";
    case 289: return "PAGE UP";
    case 290: return "PAGE DOWN";
    case 291: return "END";
    case 292: return "HOME";
    case 293: return "LEFT ARROW";
    case 294: return "UP ARROW";
    case 295: return "RIGHT ARROW";
    case 296: return "DOWN ARROW";
    case 301: return "INSERT";
    case 302: return "DELETE";
    case 65535: return "Not assigned";
    default: break;
  }
  if (code >= 48 && code <= 57) return std::string(1, static_cast<char>(code));
  if (code >= 65 && code <= 90) return std::string(1, static_cast<char>(code));
  if (code >= 96 && code <= 105) return "NUMPAD " + std::to_string(code - 96);
  return "Unknown (Code: " + std::to_string(code) + ")";
}
