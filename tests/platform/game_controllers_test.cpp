#include "platform/game_controllers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "cpc_screen.h"
#include "devices/ppi.h"

#ifdef PELLUCIDORE_HAVE_SDL2
#include <SDL.h>

namespace {

using namespace cpc_screen;

// SDL's virtual joysticks stand in for plugged-in pads: no hardware needed.
class VirtualPad {
 public:
  explicit VirtualPad(SDL_JoystickType type = SDL_JOYSTICK_TYPE_UNKNOWN, int axes = 2, int buttons = 2, int hats = 1) {
    index_ = SDL_JoystickAttachVirtual(type, axes, buttons, hats);
    if (index_ >= 0) {
      id_ = SDL_JoystickGetDeviceInstanceID(index_);
      joystick_ = SDL_JoystickOpen(index_);
    }
  }
  ~VirtualPad() { Unplug(); }
  bool ok() const { return joystick_ != nullptr; }
  int index() const { return index_; }
  void Unplug() {
    if (!joystick_) return;
    SDL_JoystickClose(joystick_);
    joystick_ = nullptr;
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
      if (SDL_JoystickGetDeviceInstanceID(i) == id_) SDL_JoystickDetachVirtual(i);
  }
  void Hat(Uint8 value) { SDL_JoystickSetVirtualHat(joystick_, 0, value); }
  void Axis(int axis, Sint16 value) { SDL_JoystickSetVirtualAxis(joystick_, axis, value); }
  void Button(int button, bool down) { SDL_JoystickSetVirtualButton(joystick_, button, down ? 1 : 0); }
  void Centre(int axes, int buttons, bool hat) {
    for (int a = 0; a < axes; ++a) Axis(a, 0);
    for (int b = 0; b < buttons; ++b) Button(b, false);
    if (hat) Hat(SDL_HAT_CENTERED);
  }

 private:
  int index_ = -1;
  SDL_JoystickID id_ = -1;
  SDL_Joystick* joystick_ = nullptr;
};

class Pads : public testing::Test {
 protected:
  void SetUp() override {
    // The test's own hold on SDL's joysticks: its virtual pads outlive
    // pads.Close().
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0 || !pads.Open())
      GTEST_SKIP() << "SDL joystick support does not start here";
    sdlStarted = true;
    KeyboardReset(k);
  }
  void TearDown() override {
    pads.Close();
    if (sdlStarted) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  }
  bool sdlStarted = false;
  uint8_t Pressed(uint32_t line) const { return static_cast<uint8_t>(~KeyboardLine(k, line)); }
  GameControllers pads;
  KeyboardState k;
};

TEST_F(Pads, PlainJoystickHatAxesAndButtonsDriveJoystickZero) {
  VirtualPad pad;
  ASSERT_TRUE(pad.ok()) << SDL_GetError();
  pads.Poll(k);
  ASSERT_EQ(pads.Connected(), 1);
  struct Case {
    const char* what;
    std::function<void()> set;
    uint8_t bits;
  } cases[] = {
      {"hat up", [&] { pad.Hat(SDL_HAT_UP); }, cpcjoy::kUp},
      {"hat down right", [&] { pad.Hat(SDL_HAT_RIGHTDOWN); }, cpcjoy::kDown | cpcjoy::kRight},
      {"stick left", [&] { pad.Axis(0, -32000); }, cpcjoy::kLeft},
      {"stick up", [&] { pad.Axis(1, -20000); }, cpcjoy::kUp},
      {"stick inside the dead zone", [&] { pad.Axis(0, kStickDeadZone - 1); }, 0},
      {"button 0", [&] { pad.Button(0, true); }, cpcjoy::kFire1},
      {"button 1", [&] { pad.Button(1, true); }, cpcjoy::kFire2},
  };
  for (const Case& c : cases) {
    pad.Centre(2, 2, true);
    c.set();
    pads.Poll(k);
    EXPECT_EQ(Pressed(9), c.bits) << c.what;
    EXPECT_EQ(Pressed(6), 0) << c.what;
  }
  pad.Centre(2, 2, true);
  pads.Poll(k);
  EXPECT_EQ(Pressed(9), 0);
}

TEST_F(Pads, SecondPadIsJoystickOneAndUnpluggingReleasesAndFreesItsPlace) {
  VirtualPad first, second;
  ASSERT_TRUE(first.ok() && second.ok()) << SDL_GetError();
  pads.Poll(k);
  ASSERT_EQ(pads.Connected(), 2);
  first.Hat(SDL_HAT_LEFT);
  second.Hat(SDL_HAT_UP);
  second.Button(0, true);
  pads.Poll(k);
  EXPECT_EQ(Pressed(9), cpcjoy::kLeft);
  EXPECT_EQ(Pressed(6), cpcjoy::kUp | cpcjoy::kFire1);  // the keys 6 and F

  first.Unplug();
  pads.Poll(k);
  EXPECT_EQ(pads.Connected(), 1);
  EXPECT_EQ(Pressed(9), 0);
  EXPECT_EQ(Pressed(6), cpcjoy::kUp | cpcjoy::kFire1);

  VirtualPad third;
  ASSERT_TRUE(third.ok());
  third.Hat(SDL_HAT_RIGHT);
  pads.Poll(k);
  EXPECT_EQ(Pressed(9), cpcjoy::kRight);  // into the free joystick 0

  // A released matrix (focus lost) gets the pads' state back at the next poll.
  pads.Release(k);
  EXPECT_EQ(Pressed(9), 0);
  pads.Poll(k);
  EXPECT_EQ(Pressed(9), cpcjoy::kRight);
  pads.Close();
  EXPECT_EQ(pads.Connected(), 0);
}

TEST_F(Pads, GameControllerUsesDpadStickAndAB) {
  VirtualPad pad(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX, SDL_CONTROLLER_BUTTON_MAX, 0);
  ASSERT_TRUE(pad.ok()) << SDL_GetError();
  if (!SDL_IsGameController(pad.index())) GTEST_SKIP() << "SDL gives this virtual pad no controller mapping";
  pads.Poll(k);
  pad.Button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, true);
  pad.Button(SDL_CONTROLLER_BUTTON_B, true);
  pads.Poll(k);
  EXPECT_EQ(Pressed(9), cpcjoy::kDown | cpcjoy::kFire2);
  pad.Centre(SDL_CONTROLLER_AXIS_MAX, SDL_CONTROLLER_BUTTON_MAX, false);
  pad.Axis(SDL_CONTROLLER_AXIS_LEFTX, 30000);
  pad.Button(SDL_CONTROLLER_BUTTON_A, true);
  pads.Poll(k);
  EXPECT_EQ(Pressed(9), cpcjoy::kRight | cpcjoy::kFire1);
}

// What a BASIC program reads: JOY(0) and JOY(1) printed in a loop.
TEST_F(Pads, BasicReadsBothJoysticks) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  auto m = BootedCpc();
  ASSERT_TRUE(m);
  TypeText(*m, "10 LOCATE 1,1:PRINT JOY(0);JOY(1);\"    \":GOTO 10\rRUN\r");
  VirtualPad first, second;
  ASSERT_TRUE(first.ok() && second.ok());
  struct Case {
    VirtualPad* pad;
    std::function<void(VirtualPad&)> set;
    int joy0, joy1;
  } cases[] = {
      {&first, [](VirtualPad& p) { p.Hat(SDL_HAT_UP); }, 1, 0},
      {&first, [](VirtualPad& p) { p.Hat(SDL_HAT_DOWN); }, 2, 0},
      {&first, [](VirtualPad& p) { p.Hat(SDL_HAT_LEFT); }, 4, 0},
      {&first, [](VirtualPad& p) { p.Hat(SDL_HAT_RIGHT); }, 8, 0},
      {&first, [](VirtualPad& p) { p.Button(1, true); }, 16, 0},
      {&first, [](VirtualPad& p) { p.Button(0, true); }, 32, 0},
      {&second, [](VirtualPad& p) { p.Hat(SDL_HAT_UP); }, 0, 1},
      {&second, [](VirtualPad& p) { p.Hat(SDL_HAT_DOWN); }, 0, 2},
      {&second, [](VirtualPad& p) { p.Hat(SDL_HAT_LEFT); }, 0, 4},
      {&second, [](VirtualPad& p) { p.Hat(SDL_HAT_RIGHT); }, 0, 8},
      {&second, [](VirtualPad& p) { p.Button(1, true); }, 0, 16},
      {&second, [](VirtualPad& p) { p.Button(0, true); }, 0, 32},
  };
  for (const Case& c : cases) {
    first.Centre(2, 2, true);
    second.Centre(2, 2, true);
    c.set(*c.pad);
    pads.Poll(m->Keyboard);
    RunTicks(*m, 10);  // the loop reads and prints after the next scan
    int joy0 = -1, joy1 = -1;
    std::sscanf(ScreenText(*m)[0].c_str(), "%d %d", &joy0, &joy1);
    EXPECT_EQ(joy0, c.joy0) << ScreenText(*m)[0];
    EXPECT_EQ(joy1, c.joy1) << ScreenText(*m)[0];
  }
}

}  // namespace
#endif
