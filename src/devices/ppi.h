// 8255 PPI and the keyboard matrix it scans through the PSG.
//
// Models: mode 0 as the CPC uses it. Port A is the PSG data bus, port B reads
// VSYNC, the brand and 50 Hz jumpers and the printer's busy line, port C
// drives the PSG bus control (bits 7..6) and the keyboard line select (bits
// 3..0). The control register's mode set (which clears every output latch)
// and its bit set/reset; an output port reads back its latch. The 16-line keyboard
// matrix (lines 0..9 used, line 9 the joystick) and the ways the host feeds
// it: PC keys through the key map, direct matrix presses (AutoType) and the
// mouse used as a joystick.
//
// The cassette: port C bit 4 switches the deck's motor relay, bit 5 is the
// write data line, port B bit 7 reads the tape's level (storage/tape.h).
//
// Leaves out: modes 1 and 2 (handshake lines are not wired on the CPC; the
// mode bits are only stored) and the expansion signal (bit 5 = 0).
#pragma once

#include <atomic>
#include <cstdint>

struct Machine;
struct KeyMap;

struct PpiState {
  uint8_t PortA;  // latch: last value written, or what the PSG put there
  uint8_t PortB;  // latch, read back while port B is an output
  uint8_t PortC;  // latch, both halves
  uint8_t GroupAMode, GroupBMode;
  uint8_t PortAInput, PortBInput, PortCUpperInput, PortCLowerInput;  // 1 = input
  uint8_t Brand;        // 0..7, port B bits 3..1 (VENDOR / 2)
  uint8_t PrinterBusy;  // the printer port's busy line, port B bit 6
};

// The matrix: a 0 bit is a held key. The GUI thread writes it while the
// emulation reads it, one byte at a time.
struct KeyboardState {
  std::atomic<uint8_t> Matrix[16];
  // Reads of line 2 (SHIFT, CONTROL) by the program: the firmware reads it
  // once per keyboard scan, so the host can wait for scans to see a change.
  mutable std::atomic<uint32_t> ShiftLineReads{0};
};

// The joystick is line 9.
constexpr int kJoystickLine = 9;
constexpr int kJoyUp = 0, kJoyDown = 1, kJoyLeft = 2, kJoyRight = 3;
constexpr int kJoyFire3 = 4, kJoyFire1 = 5, kJoyFire2 = 6;

void PpiReset(Machine& m);
void PpiWrite(Machine& m, uint16_t port, uint8_t value);
uint8_t PpiRead(Machine& m, uint16_t port);
// The value of port B as an input: brand, 50 Hz, VSYNC, printer busy,
// cassette data.
uint8_t PpiPortB(const Machine& m);

void KeyboardReset(KeyboardState& k);
void MatrixPress(KeyboardState& k, uint32_t line, uint32_t bit);
void MatrixRelease(KeyboardState& k, uint32_t line, uint32_t bit);
// A PC key (virtual-key code, +256 when extended) through the key map.
void KeyDown(KeyboardState& k, const KeyMap& map, uint32_t code);
void KeyUp(KeyboardState& k, const KeyMap& map, uint32_t code);
uint8_t KeyboardLine(const KeyboardState& k, uint32_t line);

// The mouse used as joystick (MOUSEEN). The main window feeds it every
// mouse move and the button changes.
struct MouseJoystick {
  int LastX = 0, LastY = 0;
  bool HavePosition = false;
};
void MouseJoystickMove(KeyboardState& k, MouseJoystick& mouse, int x, int y);
void MouseJoystickLeftButton(KeyboardState& k, bool down, bool altHeld);
void MouseJoystickRightButton(KeyboardState& k, bool down);
// While the pointer is captured: a pointer within 80 pixels of an edge
// wraps to 100 pixels inside the opposite one. Returns true when it moved;
// the jump is not taken as a joystick movement.
bool MouseJoystickWrap(MouseJoystick& mouse, int& x, int& y, int width, int height);
