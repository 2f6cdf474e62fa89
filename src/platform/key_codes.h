// Host key codes to Windows virtual-key codes (+256 for extended keys), the
// numbering that key map files use. Translation goes by the physical key
// (evdev code), so a key map works whatever layout the host keyboard has.
#pragma once

#include <cstdint>

// Windows virtual-key codes the front end itself tests for.
namespace vk {
constexpr int kBack = 0x08, kTab = 0x09, kReturn = 0x0D, kShift = 0x10, kControl = 0x11, kMenu = 0x12,
              kCapital = 0x14, kEscape = 0x1B, kSpace = 0x20, kLeft = 0x25, kUp = 0x26, kRight = 0x27,
              kDown = 0x28, kAdd = 0x6B, kSubtract = 0x6D, kF1 = 0x70, kF12 = 0x7B, kNumLock = 0x90;
constexpr int kExtended = 256;
}  // namespace vk

// evdev key code (X11 keycode - 8) to virtual-key code + 256 when extended;
// 0 for a key with no Windows counterpart.
int VirtualKeyFromEvdev(uint32_t evdev);
