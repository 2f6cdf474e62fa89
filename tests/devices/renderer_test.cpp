#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "video_fixture.h"

using namespace video_test;

namespace {

using Pixels = std::array<uint8_t, 8>;

Pixels Expansion(const Machine& m, uint8_t b) {
  Pixels p;
  for (int i = 0; i < 8; ++i) p[i] = m.Video.ByteExpansionTable[b][i];
  return p;
}

void SetPens(Machine& m, const uint8_t (&colours)[16]) {
  for (int pen = 0; pen < 16; ++pen) {
    GateArrayWrite(m, static_cast<uint8_t>(pen));
    GateArrayWrite(m, static_cast<uint8_t>(0x40 | colours[pen]));
  }
}

// Frame rows and columns of the firmware screen once the beam is locked.
constexpr int kPictureTop = 96;      // 48 border lines, two rows each
constexpr int kPictureLeft = 64;     // 4 border characters
constexpr int kPictureWidth = 640;   // 40 characters
constexpr int kPictureHeight = 400;  // 200 lines

}  // namespace

TEST(Renderer, ByteExpansionDecodesEachMode) {
  auto m = MakeMachine();
  uint8_t colours[16];
  for (int pen = 0; pen < 16; ++pen) colours[pen] = static_cast<uint8_t>(pen);  // colour = pen number
  SetPens(*m, colours);
  struct Case {
    uint8_t mode, byte;
    Pixels pens;
  };
  const Case cases[] = {
      {0, 0x80, {1, 1, 1, 1, 0, 0, 0, 0}},  {0, 0x08, {2, 2, 2, 2, 0, 0, 0, 0}},
      {0, 0x20, {4, 4, 4, 4, 0, 0, 0, 0}},  {0, 0x02, {8, 8, 8, 8, 0, 0, 0, 0}},
      {0, 0x40, {0, 0, 0, 0, 1, 1, 1, 1}},  {0, 0x04, {0, 0, 0, 0, 2, 2, 2, 2}},
      {0, 0x10, {0, 0, 0, 0, 4, 4, 4, 4}},  {0, 0x01, {0, 0, 0, 0, 8, 8, 8, 8}},
      {0, 0xFF, {15, 15, 15, 15, 15, 15, 15, 15}},
      {1, 0x88, {3, 3, 0, 0, 0, 0, 0, 0}},  {1, 0x24, {0, 0, 2, 2, 1, 1, 0, 0}},
      {1, 0x11, {0, 0, 0, 0, 0, 0, 3, 3}},  {1, 0x42, {0, 0, 1, 1, 2, 2, 0, 0}},
      {2, 0xA5, {1, 0, 1, 0, 0, 1, 0, 1}},  {2, 0x0F, {0, 0, 0, 0, 1, 1, 1, 1}},
      // Mode 3: mode 1's first two pixels, four pixels wide; b5..b4, b1..b0 unused.
      {3, 0x88, {3, 3, 3, 3, 0, 0, 0, 0}},  {3, 0x44, {0, 0, 0, 0, 3, 3, 3, 3}},
      {3, 0x33, {0, 0, 0, 0, 0, 0, 0, 0}},  {3, 0xCC, {3, 3, 3, 3, 3, 3, 3, 3}},
  };
  // A written mode takes effect at the next HSYNC: one line later it is in.
  auto setMode = [&m](uint8_t value) {
    GateArrayWrite(*m, value);
    Ticks(*m, kLine);
  };
  for (const Case& k : cases) {
    setMode(static_cast<uint8_t>(0x80 | k.mode));
    EXPECT_EQ(Expansion(*m, k.byte), k.pens) << "mode " << int(k.mode) << " byte " << int(k.byte);
  }
  // Green monitor: the same pens, 32 further into the palette.
  m->Video.Monitor = kMonitorGreen;
  setMode(0x82);
  EXPECT_EQ(Expansion(*m, 0xA5), (Pixels{33, 32, 33, 32, 32, 33, 32, 33}));
  // Any other monitor value leaves the table alone.
  m->Video.Monitor = 0;
  setMode(0x80);
  EXPECT_EQ(Expansion(*m, 0xA5), (Pixels{33, 32, 33, 32, 32, 33, 32, 33}));
}

TEST(Renderer, BorderAndSyncCharacters) {
  auto m = MakeMachine();
  GateArrayWrite(*m, 0x10);
  GateArrayWrite(*m, 0x46);  // border colour 6
  m->BeamX = 224 + 160;
  m->BeamY = 200;
  struct Case {
    uint8_t hsync, vsync, monitor, doubleScan;
    uint8_t lower, upper;  // rows BeamY - 47 and BeamY - 48
  };
  const Case cases[] = {
      {0, 0, kMonitorColour, 1, 6, 6},  {1, 0, kMonitorColour, 1, 20, 20}, {0, 1, kMonitorColour, 1, 20, 20},
      {0, 0, kMonitorGreen, 1, 38, 38}, {1, 1, kMonitorGreen, 1, 20, 20},  {0, 0, kMonitorColour, 0, 6, 20},
  };
  for (const Case& k : cases) {
    m->Crtc.DISPEN = 0;
    m->Crtc.HSYNC = k.hsync;
    m->Crtc.VSYNC = k.vsync;
    m->Video.Monitor = k.monitor;
    m->Video.DoubleScanLine = k.doubleScan;
    RenderStep(*m);
    for (int x = 160; x < 176; ++x) {
      ASSERT_EQ(m->Video.FrameBitmap[153][x], k.lower) << x;
      ASSERT_EQ(m->Video.FrameBitmap[152][x], k.upper) << x;
    }
    // Neighbours untouched.
    EXPECT_EQ(m->Video.FrameBitmap[153][159], 20);
    EXPECT_EQ(m->Video.FrameBitmap[153][176], 20);
  }
}

TEST(Renderer, FirmwareScreenLandsInTheMiddleOfTheFrame) {
  auto m = MakeMachine();
  GateArrayWrite(*m, 0x82);  // mode 2
  GateArrayWrite(*m, 0x00);
  GateArrayWrite(*m, 0x44);  // pen 0 colour 4
  GateArrayWrite(*m, 0x01);
  GateArrayWrite(*m, 0x4B);  // pen 1 colour 11
  GateArrayWrite(*m, 0x10);
  GateArrayWrite(*m, 0x4C);  // border colour 12
  // A pattern that differs by line and by byte: line L, byte k at
  // &C000 + (L mod 8) * &800 + (L div 8) * 80 + k.
  auto pattern = [](int line, int k) { return static_cast<uint8_t>(line * 7 + k * 13 + 1); };
  for (int line = 0; line < 200; ++line)
    for (int k = 0; k < 80; ++k) m->Memory.BaseRam[0xC000 + (line % 8) * 0x800 + (line / 8) * 80 + k] = pattern(line, k);
  Ticks(*m, 3 * kFrame);

  const auto& frame = m->Video.FrameBitmap;
  for (int y = 0; y < kFrameHeight; ++y) {
    for (int x = 0; x < kFrameWidth; ++x) {
      const bool picture = y >= kPictureTop && y < kPictureTop + kPictureHeight && x >= kPictureLeft &&
                           x < kPictureLeft + kPictureWidth;
      uint8_t expected = 12;
      if (picture) {
        const int line = (y - kPictureTop) / 2, px = x - kPictureLeft;
        expected = (pattern(line, px / 8) >> (7 - px % 8)) & 1 ? 11 : 4;
      }
      ASSERT_EQ(frame[y][x], expected) << "row " << y << " column " << x;
    }
  }
}

TEST(Renderer, SingleScanLineLeavesEveryEvenRowDark) {
  auto m = MakeMachine();
  GateArrayWrite(*m, 0x10);
  GateArrayWrite(*m, 0x4C);  // border colour 12; the pens stay black (20)
  m->Video.DoubleScanLine = 0;
  Ticks(*m, 3 * kFrame);
  for (int y = 0; y < kFrameHeight; ++y) {
    for (int x = 0; x < kFrameWidth; ++x) {
      const bool picture = y >= kPictureTop && y < kPictureTop + kPictureHeight && x >= kPictureLeft &&
                           x < kPictureLeft + kPictureWidth;
      const uint8_t expected = y % 2 == 0 || picture ? 20 : 12;
      ASSERT_EQ(m->Video.FrameBitmap[y][x], expected) << "row " << y << " column " << x;
    }
  }
}

namespace {

// BeamX just after the pull at each of the next n HSYNC starts.
std::vector<uint32_t> BeamAtHsyncStarts(Machine& m, int n) {
  std::vector<uint32_t> beams;
  while (static_cast<int>(beams.size()) < n) {
    const uint8_t h = m.Crtc.HSYNC;
    CrtcStep(m);
    if (!h && m.Crtc.HSYNC) beams.push_back(m.BeamX);
    // The rest of the loop's beam advance.
    m.BeamX += 16;
    if (m.BeamX == 1024) {
      m.BeamX = 0;
      m.BeamY = (m.BeamY + 2) % 624;
    }
  }
  return beams;
}

}  // namespace

TEST(Renderer, HsyncMovedLaterRelocksAtOnceEarlierSlidesFor63Lines) {
  auto m = MakeMachine();
  Ticks(*m, 3 * kFrame);
  for (uint32_t b : BeamAtHsyncStarts(*m, 4)) ASSERT_EQ(b, 0u);

  WriteCrtc(*m, 2, 47);
  for (uint32_t b : BeamAtHsyncStarts(*m, 4)) EXPECT_EQ(b, 0u);

  WriteCrtc(*m, 2, 46);
  const std::vector<uint32_t> beams = BeamAtHsyncStarts(*m, 70);
  for (int k = 0; k < 70; ++k) {
    const uint32_t expected = k < 63 ? 992 - 16 * k : 0;  // pulled one character per line
    ASSERT_EQ(beams[k], expected) << "line " << k;
  }
}

TEST(Renderer, FarVsyncRollsBy100RowsPerFrameThenLocks) {
  struct Case {
    uint8_t r7;
    std::vector<uint32_t> beamYBefore;  // BeamY at each VSYNC start, before the capture
  };
  // Row 10 comes 160 lines early (BeamY 304), row 17 104 lines early (416).
  const Case cases[] = {{10, {304, 204, 104, 0, 0}}, {17, {416, 516, 0, 0}}, {33, {48, 0, 0}}};
  for (const Case& k : cases) {
    auto m = MakeMachine();
    Ticks(*m, 3 * kFrame);
    ASSERT_TRUE(RunToVsyncStart(*m));
    ASSERT_EQ(m->BeamY, 0u);  // locked
    WriteCrtc(*m, 7, k.r7);
    for (size_t i = 0; i < k.beamYBefore.size(); ++i) {
      uint32_t before = 0;
      for (;;) {
        const uint8_t v = m->Crtc.VSYNC;
        before = m->BeamY;
        Tick(*m);
        if (!v && m->Crtc.VSYNC) break;
      }
      EXPECT_EQ(before, k.beamYBefore[i]) << "R7=" << int(k.r7) << " VSYNC " << i;
    }
  }
}

namespace {

// A hand-assembled program at &4000: sets the mode (ROMs off), pens 0, 1,
// 2, 3, 15 and the border, narrows the picture to 32 x 20 characters
// through the CRTC, writes three screen bytes and loops.
std::vector<uint8_t> DrawingProgram(uint8_t mode, const uint8_t (&bytes)[3]) {
  std::vector<uint8_t> p = {0xF3, 0x01, static_cast<uint8_t>(0x8C | mode), 0x7F, 0xED, 0x49};  // DI; mode
  const uint8_t pens[][2] = {{0, 4}, {1, 11}, {2, 12}, {3, 6}, {15, 26}, {0x10, 23}};
  for (auto [pen, colour] : pens) {
    for (uint8_t v : {pen, static_cast<uint8_t>(0x40 | colour)}) {
      p.insert(p.end(), {0x0E, v, 0xED, 0x49});  // LD C,v; OUT (C),C
    }
  }
  const uint8_t crtc[][2] = {{1, 32}, {6, 20}};
  for (auto [reg, value] : crtc) {
    p.insert(p.end(), {0x01, reg, 0xBC, 0xED, 0x49});    // LD BC,&BCrr; OUT (C),C
    p.insert(p.end(), {0x01, value, 0xBD, 0xED, 0x49});  // LD BC,&BDvv; OUT (C),C
  }
  const uint16_t addresses[3] = {0xC000, 0xC001, 0xC800};
  for (int i = 0; i < 3; ++i)  // LD A,n; LD (nn),A
    p.insert(p.end(), {0x3E, bytes[i], 0x32, static_cast<uint8_t>(addresses[i]), static_cast<uint8_t>(addresses[i] >> 8)});
  p.insert(p.end(), {0x18, 0xFE});  // JR $
  return p;
}

}  // namespace

TEST(Renderer, ProgramDrawsInEachMode) {
  struct Case {
    uint8_t mode;
    uint8_t bytes[3];  // at &C000, &C001 (line 0) and &C800 (line 1)
    uint8_t line0[16], line1[8];  // expected colours
  };
  // Pen colours: 0 -> 4, 1 -> 11, 2 -> 12, 3 -> 6, 15 -> 26.
  const Case cases[] = {
      {0, {0x80, 0xFF, 0x0C}, {11, 11, 11, 11, 4, 4, 4, 4, 26, 26, 26, 26, 26, 26, 26, 26}, {12, 12, 12, 12, 12, 12, 12, 12}},
      {1, {0x88, 0x0F, 0xF0}, {6, 6, 4, 4, 4, 4, 4, 4, 12, 12, 12, 12, 12, 12, 12, 12}, {11, 11, 11, 11, 11, 11, 11, 11}},
      {2, {0xA5, 0x0F, 0x80}, {11, 4, 11, 4, 4, 11, 4, 11, 4, 4, 4, 4, 11, 11, 11, 11}, {11, 4, 4, 4, 4, 4, 4, 4}},
      {3, {0x88, 0x44, 0xCC}, {6, 6, 6, 6, 4, 4, 4, 4, 4, 4, 4, 4, 6, 6, 6, 6}, {6, 6, 6, 6, 6, 6, 6, 6}},
  };
  for (const Case& k : cases) {
    auto m = MakeMachine();
    const std::vector<uint8_t> program = DrawingProgram(k.mode, k.bytes);
    std::copy(program.begin(), program.end(), m->Memory.BaseRam + 0x4000);
    m->Z80.PC = 0x4000;
    Ticks(*m, 3 * kFrame);

    const auto& frame = m->Video.FrameBitmap;
    ASSERT_EQ(m->GateArray.ScreenMode, k.mode);
    for (int x = 0; x < 16; ++x) {
      EXPECT_EQ(frame[kPictureTop][kPictureLeft + x], k.line0[x]) << "mode " << int(k.mode) << " x " << x;
      EXPECT_EQ(frame[kPictureTop + 1][kPictureLeft + x], k.line0[x]) << "mode " << int(k.mode) << " x " << x;
    }
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(frame[kPictureTop + 2][kPictureLeft + x], k.line1[x]) << "mode " << int(k.mode) << " x " << x;
    // The rest of the 32 x 20 picture is pen 0; the border is colour 23.
    EXPECT_EQ(frame[kPictureTop + 2][kPictureLeft + 8], 4);
    EXPECT_EQ(frame[kPictureTop][kPictureLeft - 1], 23);
    EXPECT_EQ(frame[kPictureTop - 1][kPictureLeft], 23);
    EXPECT_EQ(frame[kPictureTop][kPictureLeft + 511], 4);
    EXPECT_EQ(frame[kPictureTop][kPictureLeft + 512], 23);
    EXPECT_EQ(frame[kPictureTop + 319][kPictureLeft], 4);
    EXPECT_EQ(frame[kPictureTop + 320][kPictureLeft], 23);
  }
}
