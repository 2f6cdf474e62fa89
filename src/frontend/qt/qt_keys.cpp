#include "frontend/qt/qt_keys.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include "platform/key_codes.h"

namespace {

int VirtualKeyFromQtKey(int key, Qt::KeyboardModifiers modifiers) {
  const bool keypad = modifiers & Qt::KeypadModifier;
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return key;  // same numbers
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return keypad ? 0x60 + (key - Qt::Key_0) : key;
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return vk::kF1 + (key - Qt::Key_F1);
  constexpr int E = vk::kExtended;
  switch (key) {
    case Qt::Key_Escape: return vk::kEscape;
    case Qt::Key_Tab: case Qt::Key_Backtab: return vk::kTab;
    case Qt::Key_Backspace: return vk::kBack;
    case Qt::Key_Return: return vk::kReturn;
    case Qt::Key_Enter: return vk::kReturn + E;
    case Qt::Key_Space: return vk::kSpace;
    case Qt::Key_Shift: return vk::kShift;
    case Qt::Key_Control: return vk::kControl;
    case Qt::Key_Alt: return vk::kMenu;
    case Qt::Key_AltGr: return vk::kMenu + E;
    case Qt::Key_CapsLock: return vk::kCapital;
    case Qt::Key_NumLock: return vk::kNumLock;
    case Qt::Key_Left: return vk::kLeft + E;
    case Qt::Key_Up: return vk::kUp + E;
    case Qt::Key_Right: return vk::kRight + E;
    case Qt::Key_Down: return vk::kDown + E;
    case Qt::Key_Insert: return 0x2D + E;
    case Qt::Key_Delete: return 0x2E + E;
    case Qt::Key_Home: return 0x24 + E;
    case Qt::Key_End: return 0x23 + E;
    case Qt::Key_PageUp: return 0x21 + E;
    case Qt::Key_PageDown: return 0x22 + E;
    case Qt::Key_Plus: return keypad ? vk::kAdd : 0xBB;
    case Qt::Key_Equal: return 0xBB;
    case Qt::Key_Minus: return keypad ? vk::kSubtract : 0xBD;
    case Qt::Key_Asterisk: return keypad ? 0x6A : '8';
    case Qt::Key_Slash: return keypad ? 0x6F + E : 0xBF;
    case Qt::Key_Period: return keypad ? 0x6E : 0xBE;
    case Qt::Key_Comma: return 0xBC;
    case Qt::Key_Semicolon: return 0xBA;
    case Qt::Key_Apostrophe: return 0xDE;
    case Qt::Key_QuoteLeft: return 0xC0;
    case Qt::Key_BracketLeft: return 0xDB;
    case Qt::Key_Backslash: return 0xDC;
    case Qt::Key_BracketRight: return 0xDD;
    case Qt::Key_Less: case Qt::Key_Greater: return 0xE2;
    default: return 0;
  }
}

}  // namespace

int VirtualKeyFromEvent(const QKeyEvent* event) {
  const quint32 scan = event->nativeScanCode();
  const auto platform = QGuiApplication::platformName();
  // X11 and Wayland key codes are evdev codes plus 8; offscreen events carry
  // them only when synthesised as those platforms send them.
  if (scan > 8 && (platform == "xcb" || platform.startsWith("wayland") || platform == "offscreen")) {
    if (int code = VirtualKeyFromEvdev(scan - 8)) return code;
  }
  return VirtualKeyFromQtKey(event->key(), event->modifiers());
}

uint32_t HostKeyFromEvent(const QKeyEvent* event) {
  if (const quint32 scan = event->nativeScanCode()) return 0x10000 | scan;
  return static_cast<uint32_t>(VirtualKeyFromEvent(event));
}
