// AutoType: types a text into the CPC keyboard matrix, one character per
// two steps (pressed on one, released on the next), with SHIFT held where
// the character needs it.
//
// Models the engine only: the character-to-key table and the step. Whoever
// owns it paces it (the main window's 50 ms timer, or the runner by emulated
// time) and calls AutoTypeStep until it returns false. The editor window and
// its files belong to the Qt front end.
//
// Text is in the single-byte code page the CPC keyboard table is written
// for (Latin-1: the pound sign is 163).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct KeyboardState;

struct AutoTypeState {
  std::string AutoTypeText;
  uint32_t AutoTypePosition = 0;  // characters pressed so far
  bool AutoTypeKeyDown = false;
  uint32_t AutoTypeLine = 0, AutoTypeBit = 0;
  bool AutoTypeShift = false;
  bool ShiftPressedAhead = false;  // SHIFT is down for the next character
};

struct AutoTypeKey {
  uint8_t Line, Bit;
  bool Shift;
};

// The matrix key (and SHIFT) that types one character.
AutoTypeKey AutoTypeKeyFor(uint8_t c);
// The same without AutoType's fallback: false for a character no CPC key
// types (AutoType presses SPACE BAR for those). Space and RETURN count.
bool CpcKeyForCharacter(uint8_t c, AutoTypeKey& key);

// Editor text to typing text: each line followed by carriage return and
// line feed. Accepts "\n", "\r\n" and "\r" line ends.
std::string AutoTypeTextFromLines(std::string_view text);

// Replaces the text; returns false (and changes nothing) when it is empty.
bool StartAutoType(AutoTypeState& s, std::string text);
void StopAutoType(AutoTypeState& s);

// One tick; true while there is more to do.
bool AutoTypeStep(AutoTypeState& s, KeyboardState& k);

// Presses SHIFT now when the character the next step presses needs it; a
// no-op while a key is held. For a caller that can run it a little before
// that step: the firmware scans the lines one after another, so SHIFT and a
// key pressed at the same instant, inside a scan, can be read as the key
// alone (a lower-case letter). The step releases SHIFT with its key as usual.
void AutoTypeShiftAhead(AutoTypeState& s, KeyboardState& k);
// Releases a SHIFT pressed ahead; for a new text, whose next character may
// not want it.
void AutoTypeDropShiftAhead(AutoTypeState& s, KeyboardState& k);
// Releases every key typing holds (the character's key, its SHIFT, a SHIFT
// pressed ahead), so that a stopped run leaves no key down.
void AutoTypeReleaseKeys(AutoTypeState& s, KeyboardState& k);
