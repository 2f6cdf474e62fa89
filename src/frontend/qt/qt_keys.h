// Qt key events to Windows virtual-key codes (+256 for extended keys).
#pragma once

class QKeyEvent;

// By the physical key when the platform reports a scan code (X11, Wayland),
// otherwise by the key Qt names (the offscreen platform, tests).
int VirtualKeyFromEvent(const QKeyEvent* event);
