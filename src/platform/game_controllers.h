// Host game controllers and joysticks as the CPC's joysticks, through SDL2.
//
// The first device plugged in drives CPC joystick 0 (matrix line 9), the
// second joystick 1, which the CPC wires to line 6 beside the keys 6, 5, R,
// T, G and F. Devices come and go while the program runs: each poll picks up
// new ones (into the lowest free joystick) and drops unplugged ones, releasing
// what they held. A device SDL knows as a game controller uses its D-pad and
// left stick for the directions and A and B for FIRE 1 and FIRE 2; any other
// joystick its first hat and first two axes, and buttons 0 and 1.
//
// Runs on the GUI thread; the matrix bits it writes are the ones the
// emulation reads without a lock. Leaves out: more than two devices at once,
// the third fire button, analogue (paddle) use.
#pragma once

#include <cstdint>
#include <memory>

struct KeyboardState;

// The CPC joystick bits of a matrix line: 0 up, 1 down, 2 left, 3 right,
// 4 FIRE 2, 5 FIRE 1 (CPC464 user manual, JOY table; cpctech's keyboard
// page agrees; bit 6 is a third button few joysticks have).
namespace cpcjoy {
constexpr uint8_t kUp = 1, kDown = 2, kLeft = 4, kRight = 8, kFire2 = 16, kFire1 = 32;
constexpr uint8_t kAll = 0x3F;
}  // namespace cpcjoy

// The matrix line of CPC joystick 0 or 1.
uint32_t CpcJoystickLine(int joystick);

// Dead zone of an analogue axis (of -32768..32767): closer to the centre
// reads as centred.
constexpr int kStickDeadZone = 8000;

// The direction bits of one axis pair, with the dead zone.
uint8_t StickBits(int x, int y);

class GameControllers {
 public:
  GameControllers();
  ~GameControllers();
  GameControllers(const GameControllers&) = delete;
  GameControllers& operator=(const GameControllers&) = delete;

  // Starts SDL's joystick support; false when there is none (no SDL, or
  // the subsystem does not start): Poll then does nothing.
  bool Open();
  // Closes every device and SDL's joystick support; the caller releases
  // the matrix first (Release) if the machine goes on.
  void Close();
  bool IsOpen() const;

  // Picks up plugged and unplugged devices and writes their state into
  // joysticks 0 and 1, pressing and releasing only what changed.
  void Poll(KeyboardState& k);
  // Releases every bit the pads hold, and forgets it.
  void Release(KeyboardState& k);
  // The bits the pads hold on CPC joystick 0 or 1 (cpcjoy values).
  uint8_t Held(int joystick) const;
  // Devices in use (0..2).
  int Connected() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
