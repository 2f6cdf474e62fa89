#include "frontend/autotype.h"

#include "devices/ppi.h"

namespace {

constexpr uint8_t kShiftLine = 2, kShiftBit = 5;

struct CharKey {
  char Plain, Shifted;
  uint8_t Line, Bit;
};

// The symbol keys, character without and with SHIFT.
constexpr CharKey kSymbolKeys[] = {
    {'1', '!', 8, 0}, {'2', '"', 8, 1},  {'3', '#', 7, 1}, {'4', '$', 7, 0},  {'5', '%', 6, 1},
    {'6', '&', 6, 0}, {'7', '\'', 5, 1}, {'8', '(', 5, 0}, {'9', ')', 4, 1},  {'0', '_', 4, 0},
    {'-', '=', 3, 1}, {'@', '|', 3, 2},  {'[', '{', 2, 1}, {']', '}', 2, 3},  {':', '*', 3, 5},
    {';', '+', 3, 4}, {',', '<', 4, 7},  {'.', '>', 3, 7}, {'/', '?', 3, 6},  {'\\', '`', 2, 6},
};

// Letters a..z.
constexpr uint8_t kLetterKeys[26][2] = {
    {8, 5}, {6, 6}, {7, 6}, {7, 5}, {7, 2}, {6, 5}, {6, 4}, {5, 4}, {4, 3}, {5, 5}, {4, 5}, {4, 4}, {4, 6},
    {5, 6}, {4, 2}, {3, 3}, {8, 3}, {6, 2}, {7, 4}, {6, 3}, {5, 2}, {6, 7}, {7, 3}, {7, 7}, {5, 3}, {8, 7},
};

}  // namespace

bool CpcKeyForCharacter(uint8_t c, AutoTypeKey& key) {
  if (c >= 'a' && c <= 'z') key = {kLetterKeys[c - 'a'][0], kLetterKeys[c - 'a'][1], false};
  else if (c >= 'A' && c <= 'Z') key = {kLetterKeys[c - 'A'][0], kLetterKeys[c - 'A'][1], true};
  else if (c == ' ') key = {5, 7, false};
  else if (c == 13) key = {2, 2, false};  // RETURN
  else if (c == 10) key = {2, 7, false};  // CONTROL alone types nothing
  else if (c == '^') key = {3, 0, false};
  else if (c == 163) key = {3, 0, true};  // pound sign
  else {
    for (const CharKey& k : kSymbolKeys) {
      if (c == static_cast<uint8_t>(k.Plain)) {
        key = {k.Line, k.Bit, false};
        return true;
      }
      if (c == static_cast<uint8_t>(k.Shifted)) {
        key = {k.Line, k.Bit, true};
        return true;
      }
    }
    return false;
  }
  return true;
}

AutoTypeKey AutoTypeKeyFor(uint8_t c) {
  AutoTypeKey key;
  if (CpcKeyForCharacter(c, key)) return key;
  return {5, 7, false};  // everything else: SPACE BAR
}

std::string AutoTypeTextFromLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  std::string_view::size_type start = 0;
  while (start < text.size()) {
    auto end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    out.append(text.substr(start, end - start));
    out += "\r\n";
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return out;
}

bool StartAutoType(AutoTypeState& s, std::string text) {
  if (text.empty()) return false;
  s.AutoTypeText = std::move(text);
  // A new text while typing carries on from the current position. When it
  // is shorter than that position, typing starts over from its beginning:
  // the user asked for it to be typed.
  if (s.AutoTypePosition > s.AutoTypeText.size()) s.AutoTypePosition = 0;
  return true;
}

void StopAutoType(AutoTypeState& s) {
  // A key held at this moment stays held until a later run's first step.
  s.AutoTypeText.clear();
  s.AutoTypePosition = 0;
}

bool AutoTypeStep(AutoTypeState& s, KeyboardState& k) {
  if (s.AutoTypeKeyDown) {
    MatrixRelease(k, s.AutoTypeLine, s.AutoTypeBit);
    if (s.AutoTypeShift) MatrixRelease(k, kShiftLine, kShiftBit);
    s.AutoTypeKeyDown = false;
    if (s.AutoTypePosition >= s.AutoTypeText.size()) {
      s.AutoTypePosition = 0;
      return false;
    }
    return true;
  }
  if (s.AutoTypePosition >= s.AutoTypeText.size()) {
    s.AutoTypePosition = 0;
    return false;
  }
  const uint8_t c = static_cast<uint8_t>(s.AutoTypeText[s.AutoTypePosition++]);
  const AutoTypeKey key = AutoTypeKeyFor(c);
  s.AutoTypeKeyDown = true;
  s.AutoTypeLine = key.Line;
  s.AutoTypeBit = key.Bit;
  s.AutoTypeShift = key.Shift;
  if (s.ShiftPressedAhead && !key.Shift) MatrixRelease(k, kShiftLine, kShiftBit);
  s.ShiftPressedAhead = false;  // from here SHIFT goes with the key
  if (key.Shift) MatrixPress(k, kShiftLine, kShiftBit);
  MatrixPress(k, key.Line, key.Bit);
  return true;
}

void AutoTypeShiftAhead(AutoTypeState& s, KeyboardState& k) {
  if (s.AutoTypeKeyDown || s.AutoTypePosition >= s.AutoTypeText.size()) return;
  if (AutoTypeKeyFor(static_cast<uint8_t>(s.AutoTypeText[s.AutoTypePosition])).Shift) {
    MatrixPress(k, kShiftLine, kShiftBit);
    s.ShiftPressedAhead = true;
  }
}

void AutoTypeDropShiftAhead(AutoTypeState& s, KeyboardState& k) {
  if (!s.ShiftPressedAhead) return;
  MatrixRelease(k, kShiftLine, kShiftBit);
  s.ShiftPressedAhead = false;
}

void AutoTypeReleaseKeys(AutoTypeState& s, KeyboardState& k) {
  if (s.AutoTypeKeyDown) {
    MatrixRelease(k, s.AutoTypeLine, s.AutoTypeBit);
    if (s.AutoTypeShift) MatrixRelease(k, kShiftLine, kShiftBit);
    s.AutoTypeKeyDown = false;
  }
  AutoTypeDropShiftAhead(s, k);
}
