#include "frontend/cpc_key_names.h"

#include <cctype>

namespace {

struct NamedKey {
  const char* Name;
  uint8_t Line, Bit;
};

constexpr NamedKey kKeys[] = {
    {"ESC", 8, 2},      {"1", 8, 0},        {"2", 8, 1},        {"3", 7, 1},        {"4", 7, 0},
    {"5", 6, 1},        {"6", 6, 0},        {"7", 5, 1},        {"8", 5, 0},        {"9", 4, 1},
    {"0", 4, 0},        {"_", 3, 1},        {"^", 3, 0},        {"CLR", 2, 0},      {"DEL", 9, 7},
    {"TAB", 8, 4},      {"Q", 8, 3},        {"W", 7, 3},        {"E", 7, 2},        {"R", 6, 2},
    {"T", 6, 3},        {"Y", 5, 3},        {"U", 5, 2},        {"I", 4, 3},        {"O", 4, 2},
    {"P", 3, 3},        {"|", 3, 2},        {"[", 2, 1},        {"RETURN", 2, 2},   {"CAPS LOCK", 8, 6},
    {"A", 8, 5},        {"S", 7, 4},        {"D", 7, 5},        {"F", 6, 5},        {"G", 6, 4},
    {"H", 5, 4},        {"J", 5, 5},        {"K", 4, 5},        {"L", 4, 4},        {":", 3, 5},
    {";", 3, 4},        {"]", 2, 3},        {"SHIFT", 2, 5},    {"Z", 8, 7},        {"X", 7, 7},
    {"C", 7, 6},        {"V", 6, 7},        {"B", 6, 6},        {"N", 5, 6},        {"M", 4, 6},
    {",", 4, 7},        {".", 3, 7},        {"/", 3, 6},        {"\\", 2, 6},       {"CONTROL", 2, 7},
    {"COPY", 1, 1},     {"SPACE BAR", 5, 7}, {"SPACE", 5, 7},   {"ENTER", 0, 6},    {"f0", 1, 7},
    {"f1", 1, 5},       {"f2", 1, 6},       {"f3", 0, 5},       {"f4", 2, 4},       {"f5", 1, 4},
    {"f6", 0, 4},       {"f7", 1, 2},       {"f8", 1, 3},       {"f9", 0, 3},       {"KEYPAD .", 0, 7},
    {"UP", 0, 0},       {"DOWN", 0, 2},     {"LEFT", 1, 0},     {"RIGHT", 0, 1},
};

// Line 9; fire 1 on bit 5 and fire 2 on bit 4 as the firmware's key numbers
// 77 and 76 have them (cpctech "Scanning the keyboard and joysticks").
constexpr NamedKey kJoystick[] = {
    {"UP", 9, 0}, {"DOWN", 9, 1}, {"LEFT", 9, 2}, {"RIGHT", 9, 3}, {"FIRE1", 9, 5}, {"FIRE2", 9, 4},
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(uint8_t(a[i])) != std::toupper(uint8_t(b[i]))) return false;
  return true;
}

template <size_t N>
bool Find(const NamedKey (&table)[N], std::string_view name, CpcKeyPosition& key) {
  for (const NamedKey& k : table) {
    if (SameName(k.Name, name)) {
      key = {k.Line, k.Bit};
      return true;
    }
  }
  return false;
}

}  // namespace

bool FindCpcKey(std::string_view name, CpcKeyPosition& key) { return Find(kKeys, name, key); }
bool FindJoystickDirection(std::string_view name, CpcKeyPosition& key) { return Find(kJoystick, name, key); }

std::string CpcKeyNameList() {
  std::string list;
  for (const NamedKey& k : kKeys) list.append(list.empty() ? "" : ", ").append(k.Name);
  return list;
}
