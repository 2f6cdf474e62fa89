// Qt key events to Windows virtual-key codes (+256 for extended keys).
#pragma once

#include <cstdint>

class QKeyEvent;

// By the physical key when the platform reports a scan code (X11, Wayland),
// otherwise by the key Qt names (the offscreen platform, tests).
int VirtualKeyFromEvent(const QKeyEvent* event);
// The physical key, the same in a press and its release whatever modifiers
// changed in between: the scan code, else the virtual-key code.
uint32_t HostKeyFromEvent(const QKeyEvent* event);
