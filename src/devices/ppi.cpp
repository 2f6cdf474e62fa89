#include "devices/ppi.h"

#include "core/machine.h"
#include "devices/keymap.h"

namespace {

constexpr uint8_t kBusFunction = 0xC0;  // port C bits 7..6: PSG BDIR, BC1
constexpr uint8_t kCassetteMotor = 0x10;  // port C bit 4: the motor relay
constexpr uint8_t kCassetteWrite = 0x20;  // port C bit 5: the write data line

// The cassette lines follow port C's upper half; as inputs they float, which
// leaves the relay open and the write line low.
void CassetteLines(Machine& m) {
  const uint8_t out = m.Ppi.PortCUpperInput ? 0 : m.Ppi.PortC;
  TapeSetMotor(m.Tape, out & kCassetteMotor);
  TapeSetWriteLine(m.Tape, out & kCassetteWrite);
}

void ControlWrite(Machine& m, uint8_t value) {
  PpiState& ppi = m.Ppi;
  if (value & 0x80) {
    // Intel 8255 data sheet: a mode set resets every output latch, whether
    // or not the directions change (CPCWiki 8255 page: so does the CPC's).
    ppi.PortA = 0;
    ppi.PortB = 0;
    ppi.PortC = 0;
    ppi.GroupAMode = (value >> 5) & 3;
    ppi.GroupBMode = (value >> 2) & 1;
    ppi.PortAInput = (value >> 4) & 1;
    ppi.PortCUpperInput = (value >> 3) & 1;
    ppi.PortBInput = (value >> 1) & 1;
    ppi.PortCLowerInput = value & 1;
    if (ppi.PortAInput) {
      PsgBusControl(m, ppi.PortC & kBusFunction);
      ppi.PortA = m.Psg.DataBus;
    }
    return;
  }
  // Bit set/reset: only with both halves of port C outputs, and without a
  // PSG bus cycle.
  if (ppi.PortCUpperInput || ppi.PortCLowerInput) return;
  const uint8_t mask = static_cast<uint8_t>(1u << ((value >> 1) & 7));
  if (value & 1) ppi.PortC |= mask; else ppi.PortC &= static_cast<uint8_t>(~mask);
}

}  // namespace

void PpiReset(Machine& m) {
  PpiState& ppi = m.Ppi;
  ppi.PortA = 0;
  ppi.PortB = 0;
  ppi.PortC = 0;
  ppi.GroupAMode = 0;
  ppi.GroupBMode = 0;
  ppi.PortAInput = ppi.PortBInput = ppi.PortCUpperInput = ppi.PortCLowerInput = 1;
  CassetteLines(m);
}

void PpiWrite(Machine& m, uint16_t port, uint8_t value) {
  PpiState& ppi = m.Ppi;
  switch ((port >> 8) & 3) {
    case 0:
      if (ppi.PortAInput) return;
      ppi.PortA = value;
      PsgBusControl(m, ppi.PortC & kBusFunction);
      break;
    case 1:  // nothing on the CPC listens, but an output port latches
      if (!ppi.PortBInput) ppi.PortB = value;
      break;
    case 2:
      if (!ppi.PortCLowerInput) ppi.PortC = (ppi.PortC & 0xF0) | (value & 0x0F);
      // The PSG sees a new bus function only when the upper half is written.
      if (!ppi.PortCUpperInput) {
        ppi.PortC = (ppi.PortC & 0x0F) | (value & 0xF0);
        PsgBusControl(m, ppi.PortC & kBusFunction);
      }
      break;
    case 3:
      ControlWrite(m, value);
      break;
  }
  if ((port & 0x0200) != 0) CassetteLines(m);  // ports C and control
}

uint8_t PpiPortB(const Machine& m) {
  return static_cast<uint8_t>(((m.Ppi.Brand & 7) << 1) | 0x10 | (m.Crtc.VSYNC ? 0x01 : 0) |
                              (PrinterBusyLine(m) ? 0x40 : 0) | (m.Tape.Level ? 0x80 : 0));
}

uint8_t PpiRead(Machine& m, uint16_t port) {
  PpiState& ppi = m.Ppi;
  switch ((port >> 8) & 3) {
    case 0:
      // 8255 data sheet: an output port reads back its latch.
      if (!ppi.PortAInput) return ppi.PortA;
      PsgBusControl(m, ppi.PortC & kBusFunction);
      return ppi.PortA;
    case 1:
      return ppi.PortBInput ? PpiPortB(m) : ppi.PortB;
    case 2:
      return ppi.PortC;
    default:
      return 0xFF;
  }
}

void KeyboardReset(KeyboardState& k) {
  for (auto& line : k.Matrix) line.store(0xFF, std::memory_order_relaxed);
}

void MatrixPress(KeyboardState& k, uint32_t line, uint32_t bit) {
  if (line > 9) return;  // lines 10..15 carry no keys and always read &FF
  k.Matrix[line].fetch_and(static_cast<uint8_t>(~(1u << (bit & 7))), std::memory_order_relaxed);
}

void MatrixRelease(KeyboardState& k, uint32_t line, uint32_t bit) {
  if (line > 9) return;
  k.Matrix[line].fetch_or(static_cast<uint8_t>(1u << (bit & 7)), std::memory_order_relaxed);
}

void KeyDown(KeyboardState& k, const KeyMap& map, uint32_t code) {
  const KeyMapEntry* e = KeyMapLookup(map, code);
  if (e && e->Line != kKeyUnassigned) MatrixPress(k, e->Line, e->Bit);
}

void KeyUp(KeyboardState& k, const KeyMap& map, uint32_t code) {
  const KeyMapEntry* e = KeyMapLookup(map, code);
  if (e && e->Line != kKeyUnassigned) MatrixRelease(k, e->Line, e->Bit);
}

uint8_t KeyboardLine(const KeyboardState& k, uint32_t line) {
  // One writer (the emulation thread): no read-modify-write needed.
  if ((line & 15) == 2) k.ShiftLineReads.store(k.ShiftLineReads.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  return k.Matrix[line & 15].load(std::memory_order_relaxed);
}

void MouseJoystickMove(KeyboardState& k, MouseJoystick& mouse, int x, int y) {
  // The first position seen only becomes the reference.
  if (!mouse.HavePosition) {
    mouse = {x, y, true};
    return;
  }
  auto axis = [&k](int delta, int plus, int minus) {
    if (delta > 0) {
      MatrixPress(k, kJoystickLine, plus);
      MatrixRelease(k, kJoystickLine, minus);
    } else if (delta < 0) {
      MatrixPress(k, kJoystickLine, minus);
      MatrixRelease(k, kJoystickLine, plus);
    } else {
      MatrixRelease(k, kJoystickLine, plus);
      MatrixRelease(k, kJoystickLine, minus);
    }
  };
  axis(x - mouse.LastX, kJoyRight, kJoyLeft);
  axis(y - mouse.LastY, kJoyDown, kJoyUp);
  mouse.LastX = x;
  mouse.LastY = y;
}

void MouseJoystickLeftButton(KeyboardState& k, bool down, bool altHeld) {
  if (down) {
    MatrixPress(k, kJoystickLine, altHeld ? kJoyFire2 : kJoyFire3);
  } else {
    MatrixRelease(k, kJoystickLine, kJoyFire3);
    MatrixRelease(k, kJoystickLine, kJoyFire2);
  }
}

void MouseJoystickRightButton(KeyboardState& k, bool down) {
  if (down) MatrixPress(k, kJoystickLine, kJoyFire1);
  else MatrixRelease(k, kJoystickLine, kJoyFire1);
}

bool MouseJoystickWrap(MouseJoystick& mouse, int& x, int& y, int width, int height) {
  bool moved = false;
  if (x < 80) {
    x = width - 100;
    moved = true;
  } else if (x >= width - 80) {
    x = 100;
    moved = true;
  }
  if (y < 80) {
    y = height - 100;
    moved = true;
  } else if (y >= height - 80) {
    y = 100;
    moved = true;
  }
  // The warp is not a joystick movement: the next move compares with the
  // new position.
  if (moved) {
    mouse.LastX = x;
    mouse.LastY = y;
    mouse.HavePosition = true;
  }
  return moved;
}
