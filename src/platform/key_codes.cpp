#include "platform/key_codes.h"

namespace {

constexpr int E = vk::kExtended;

// Indexed by evdev code. Codes 1..88 follow PC scan code set 1, so this is the
// US layout's virtual key of each physical key.
constexpr int kEvdevToVk[] = {
    0,                                                                   // 0
    0x1B, '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 0xBD, 0xBB,  // 1 Esc .. 13 =
    0x08, 0x09,                                                          // 14 Backspace, 15 Tab
    'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P', 0xDB, 0xDD,        // 16 .. 27 ]
    0x0D, 0x11,                                                          // 28 Enter, 29 Left Ctrl
    'A', 'S', 'D', 'F', 'G', 'H', 'J', 'K', 'L', 0xBA, 0xDE, 0xC0,       // 30 .. 41 `
    0x10, 0xDC,                                                          // 42 Left Shift, 43 backslash
    'Z', 'X', 'C', 'V', 'B', 'N', 'M', 0xBC, 0xBE, 0xBF,                 // 44 .. 53 /
    0x10, 0x6A, 0x12, 0x20, 0x14,                                        // 54 RShift, 55 KP*, 56 Alt, 57, 58 Caps
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79,          // 59 F1 .. 68 F10
    0x90, 0x91,                                                          // 69 NumLock, 70 ScrollLock
    0x67, 0x68, 0x69, 0x6D, 0x64, 0x65, 0x66, 0x6B,                      // 71 KP7 .. 78 KP+
    0x61, 0x62, 0x63, 0x60, 0x6E,                                        // 79 KP1 .. 83 KP.
    0, 0, 0xE2, 0x7A, 0x7B,                                              // 84, 85, 86 <>, 87 F11, 88 F12
    0, 0, 0, 0, 0, 0, 0,                                                 // 89 .. 95
    0x0D + E, 0x11 + E, 0x6F + E, 0x2C + E, 0x12 + E,                    // 96 KPEnter .. 100 Right Alt
    0,                                                                   // 101
    0x24 + E, 0x26 + E, 0x21 + E, 0x25 + E, 0x27 + E,                    // 102 Home .. 106 Right
    0x23 + E, 0x28 + E, 0x22 + E, 0x2D + E, 0x2E + E,                    // 107 End .. 111 Delete
    0, 0, 0, 0, 0, 0, 0,                                                 // 112 .. 118
    0x13,                                                                // 119 Pause
    0, 0, 0, 0, 0,                                                       // 120 .. 124
    0x5B + E, 0x5C + E, 0x5D + E,                                        // 125 LWin, 126 RWin, 127 Menu
};

}  // namespace

int VirtualKeyFromEvdev(uint32_t evdev) {
  if (evdev >= sizeof kEvdevToVk / sizeof kEvdevToVk[0]) return 0;
  return kEvdevToVk[evdev];
}
