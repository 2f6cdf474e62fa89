// CPC keys by name, as the key mapper shows them ("A", "RETURN", "SPACE BAR",
// "f7", "COPY", ...), for the runner's timed key presses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct CpcKeyPosition {
  uint8_t Line, Bit;
};

// Case-insensitive; "SPACE" is accepted for the space bar and "KEYPAD ." for
// the keypad's full stop. False for an unknown name.
bool FindCpcKey(std::string_view name, CpcKeyPosition& key);
// Joystick 0: UP, DOWN, LEFT, RIGHT, FIRE1, FIRE2 (case-insensitive).
bool FindJoystickDirection(std::string_view name, CpcKeyPosition& key);
// The accepted key names, comma separated, for messages and --help.
std::string CpcKeyNameList();
