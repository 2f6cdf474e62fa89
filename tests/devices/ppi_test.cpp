#include <gtest/gtest.h>

#include "core/machine.h"
#include "devices/keymap.h"
#include "devices/ppi.h"

namespace {

constexpr uint16_t kPortA = 0xF400, kPortB = 0xF500, kPortC = 0xF600, kControl = 0xF700;

class PpiTest : public ::testing::Test {
 protected:
  void SetUp() override { m = CreateMachine(MachineConfig{.RomDir = "/nonexistent"}); }
  std::unique_ptr<Machine> m;
};

TEST_F(PpiTest, AfterResetEveryPortIsAnInput) {
  PpiWrite(*m, kPortA, 0x55);
  EXPECT_EQ(m->Ppi.PortA, 0);
  PpiWrite(*m, kPortC, 0xC5);
  EXPECT_EQ(PpiRead(*m, kPortC), 0);
  PpiWrite(*m, kControl, 0x82);
  PpiWrite(*m, kPortA, 0x55);
  EXPECT_EQ(m->Ppi.PortA, 0x55);
  EXPECT_EQ(PpiRead(*m, kPortA), 0x55);  // 8255 data sheet: an output reads its latch
}

TEST_F(PpiTest, PortBCarriesBrandRefreshVsyncAndPrinterBusy) {
  struct Case {
    uint8_t vendor;
    bool vsync, busy, output;
    uint8_t expected;
  };
  const Case cases[] = {
      {14, false, false, false, 0x1E}, {14, true, false, false, 0x1F}, {14, false, true, false, 0x5E},
      {0, false, false, false, 0x10},  {10, true, false, false, 0x1B}, {14, true, true, true, 0x00},
  };
  for (const Case& c : cases) {
    auto machine = CreateMachine(MachineConfig{.RomDir = "/nonexistent", .Brand = c.vendor});
    machine->Crtc.VSYNC = c.vsync;
    machine->Ppi.PrinterBusy = c.busy;
    if (c.output) PpiWrite(*machine, kControl, 0x80);  // an output reads its latch, cleared by the mode set
    EXPECT_EQ(PpiRead(*machine, kPortB), c.expected) << "vendor " << int(c.vendor);
  }
  EXPECT_EQ(PpiRead(*m, kControl), 0xFF);
}

TEST_F(PpiTest, BitSetResetNeedsBothHalvesOfPortCAsOutputs) {
  PpiWrite(*m, kControl, 0x07);  // set bit 3: port C is input
  EXPECT_EQ(PpiRead(*m, kPortC), 0x00);
  PpiWrite(*m, kControl, 0x88);  // upper half input, lower output
  PpiWrite(*m, kControl, 0x07);
  EXPECT_EQ(PpiRead(*m, kPortC), 0x00);
  PpiWrite(*m, kControl, 0x82);
  PpiWrite(*m, kControl, 0x07);
  EXPECT_EQ(PpiRead(*m, kPortC), 0x08);
  PpiWrite(*m, kControl, 0x0F);  // set bit 7
  PpiWrite(*m, kControl, 0x06);  // clear bit 3
  EXPECT_EQ(PpiRead(*m, kPortC), 0x80);
}

TEST_F(PpiTest, BitSetResetStartsNoPsgCycle) {
  PpiWrite(*m, kControl, 0x82);
  PpiWrite(*m, kPortA, 9);
  PpiWrite(*m, kControl, 0x0F);  // bit 7
  PpiWrite(*m, kControl, 0x0D);  // bit 6: &C0 = latch, but no bus cycle yet
  EXPECT_EQ(m->Psg.SelectedRegister, 0);
  PpiWrite(*m, kPortC, 0xC0);  // the same function through port C latches
  EXPECT_EQ(m->Psg.SelectedRegister, 9);
}

// Intel 8255 data sheet: every mode set resets all output latches, also
// when it repeats the directions in force.
TEST_F(PpiTest, EveryModeSetClearsAllLatches) {
  struct Case {
    uint8_t control;
    uint8_t portA;  // port A latch after &80, A=&55, B=&66, C=&3A, then control
  };
  const Case cases[] = {
      {0x80, 0x00},  // nothing changed
      {0x81, 0x00},  // lower C now input
      {0x88, 0x00},  // upper C now input
      {0xA0, 0x00},  // group A mode changed
      {0x84, 0x00},  // group B mode only
      {0x82, 0x00},  // port B now input
      // Port A now input: cleared, then it takes the PSG's data bus (&FF).
      {0x90, 0xFF},
  };
  for (const Case& c : cases) {
    PpiReset(*m);
    PpiWrite(*m, kControl, 0x80);
    PpiWrite(*m, kPortA, 0x55);
    PpiWrite(*m, kPortB, 0x66);
    PpiWrite(*m, kPortC, 0x3A);
    ASSERT_EQ(PpiRead(*m, kPortB), 0x66) << "an output port B reads back its latch";
    PpiWrite(*m, kControl, c.control);
    EXPECT_EQ(m->Ppi.PortA, c.portA) << std::hex << int(c.control);
    EXPECT_EQ(m->Ppi.PortB, 0x00) << std::hex << int(c.control);
    EXPECT_EQ(m->Ppi.PortC, 0x00) << std::hex << int(c.control);
  }
  // A port B write while it is an input latches nothing.
  PpiWrite(*m, kControl, 0x82);
  PpiWrite(*m, kPortB, 0x77);
  EXPECT_EQ(m->Ppi.PortB, 0x00);
}

TEST_F(PpiTest, ScanningALineFindsAHeldKey) {
  // The firmware's sequence for line 5.
  MatrixPress(m->Keyboard, 5, 7);
  PpiWrite(*m, kControl, 0x82);
  PpiWrite(*m, kPortA, 14);
  PpiWrite(*m, kPortC, 0xC0);
  PpiWrite(*m, kPortC, 0x00);
  PpiWrite(*m, kControl, 0x92);
  EXPECT_EQ(m->Ppi.PortA, 0xFF);
  PpiWrite(*m, kPortC, 0x45);
  EXPECT_EQ(m->Ppi.PortA, 0x7F);
  MatrixRelease(m->Keyboard, 5, 7);
  EXPECT_EQ(PpiRead(*m, kPortA), 0xFF);  // the read repeats the PSG read
}

TEST_F(PpiTest, KeysThroughTheKeyMap) {
  KeyMap map;
  AssignKey(map, 17, 2, 7);   // left Control
  AssignKey(map, 273, 2, 7);  // right Control
  AssignKey(map, 65, 8, 5);
  KeyDown(m->Keyboard, map, 17);
  KeyDown(m->Keyboard, map, 273);
  EXPECT_EQ(KeyboardLine(m->Keyboard, 2), 0x7F);
  KeyUp(m->Keyboard, map, 273);  // either key releases the shared position
  EXPECT_EQ(KeyboardLine(m->Keyboard, 2), 0xFF);

  for (uint32_t code : {0u, 90u, 513u, 100000u}) KeyDown(m->Keyboard, map, code);  // no entry
  for (uint32_t line = 0; line < 16; ++line) EXPECT_EQ(KeyboardLine(m->Keyboard, line), 0xFF);

  KeyDown(m->Keyboard, map, 65);
  EXPECT_EQ(KeyboardLine(m->Keyboard, 8), 0xDF);
  KeyboardReset(m->Keyboard);
  EXPECT_EQ(KeyboardLine(m->Keyboard, 8), 0xFF);
}

TEST_F(PpiTest, LinesTenToFifteenAlwaysReadFF) {
  for (uint32_t line = 10; line < 16; ++line) MatrixPress(m->Keyboard, line, 0);
  for (uint32_t line = 10; line < 16; ++line) EXPECT_EQ(KeyboardLine(m->Keyboard, line), 0xFF);
  EXPECT_EQ(KeyboardLine(m->Keyboard, 31), 0xFF);  // only bits 3..0 select
}

TEST_F(PpiTest, MouseAsJoystick) {
  KeyboardState& k = m->Keyboard;
  MouseJoystick mouse;
  auto joy = [&] { return KeyboardLine(k, kJoystickLine); };
  MouseJoystickMove(k, mouse, 100, 100);  // first position: reference only
  EXPECT_EQ(joy(), 0xFF);
  MouseJoystickMove(k, mouse, 110, 90);  // right and up
  EXPECT_EQ(joy(), 0xFF & ~(1 << kJoyRight) & ~(1 << kJoyUp));
  MouseJoystickMove(k, mouse, 105, 95);  // left and down
  EXPECT_EQ(joy(), 0xFF & ~(1 << kJoyLeft) & ~(1 << kJoyDown));
  MouseJoystickMove(k, mouse, 105, 95);  // still: both released
  EXPECT_EQ(joy(), 0xFF);

  MouseJoystickLeftButton(k, true, false);
  EXPECT_EQ(joy(), 0xFF & ~(1 << kJoyFire3));
  MouseJoystickLeftButton(k, true, true);
  MouseJoystickRightButton(k, true);
  EXPECT_EQ(joy(), 0xFF & ~(1 << kJoyFire3) & ~(1 << kJoyFire2) & ~(1 << kJoyFire1));
  MouseJoystickLeftButton(k, false, false);
  MouseJoystickRightButton(k, false);
  EXPECT_EQ(joy(), 0xFF);

  // A captured pointer near an edge wraps without moving the joystick.
  int x = 50, y = 300;
  EXPECT_TRUE(MouseJoystickWrap(mouse, x, y, 800, 600));
  EXPECT_EQ(x, 700);
  EXPECT_EQ(y, 300);
  MouseJoystickMove(k, mouse, x, y);
  EXPECT_EQ(joy(), 0xFF);
  x = 400;
  y = 590;
  EXPECT_TRUE(MouseJoystickWrap(mouse, x, y, 800, 600));
  EXPECT_EQ(y, 100);
  x = 400;
  y = 300;
  EXPECT_FALSE(MouseJoystickWrap(mouse, x, y, 800, 600));
}

}  // namespace
