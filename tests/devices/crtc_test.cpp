#include <gtest/gtest.h>

#include <vector>

#include "video_fixture.h"

using namespace video_test;

namespace {

// Edges and counts seen over a stretch of steps.
struct Trace {
  std::vector<long> hsyncStarts, vsyncStarts, vsyncEnds, frameStarts;
  std::vector<int> hsyncStartHcc;
  long hsyncSteps = 0, dispenSteps = 0;
  std::vector<uint16_t> firstAddresses;  // VideoAddress of the first displayed steps
};

Trace Record(Machine& m, long steps) {
  Trace t;
  for (long i = 0; i < steps; ++i) {
    const uint8_t hsync = m.Crtc.HSYNC, vsync = m.Crtc.VSYNC, vcc = m.Crtc.VCC;
    CrtcStep(m);
    const CrtcState& c = m.Crtc;
    if (!hsync && c.HSYNC) {
      t.hsyncStarts.push_back(i);
      t.hsyncStartHcc.push_back(c.HCC);
    }
    if (!vsync && c.VSYNC) t.vsyncStarts.push_back(i);
    if (vsync && !c.VSYNC) t.vsyncEnds.push_back(i);
    if (vcc != 0 && c.VCC == 0) t.frameStarts.push_back(i);
    t.hsyncSteps += c.HSYNC;
    t.dispenSteps += c.DISPEN;
    if (c.DISPEN && t.firstAddresses.size() < 48) t.firstAddresses.push_back(c.VideoAddress);
  }
  return t;
}

void ExpectSpacing(const std::vector<long>& edges, long spacing) {
  ASSERT_GE(edges.size(), 2u);
  for (size_t i = 1; i < edges.size(); ++i) EXPECT_EQ(edges[i] - edges[i - 1], spacing) << "edge " << i;
}

}  // namespace

class CrtcStandard : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CrtcStandard, FirmwareSettingsGiveThePalTiming) {
  const uint32_t type = GetParam();
  auto m = MakeMachine(type);
  for (int i = 0; i < kFrame; ++i) CrtcStep(*m);  // out of the reset state
  ASSERT_TRUE(RunToVsyncStart(*m));
  // Start the record at a frame start so counts cover whole frames.
  while (m->Crtc.VCC != 0) CrtcStep(*m);
  for (int i = 0; i < kFrame - 1; ++i) CrtcStep(*m);
  const Trace t = Record(*m, 3L * kFrame);

  ExpectSpacing(t.hsyncStarts, kLine);
  for (int hcc : t.hsyncStartHcc) ASSERT_EQ(hcc, 46);
  EXPECT_EQ(t.hsyncSteps, 3L * 312 * 14);
  ASSERT_EQ(t.vsyncStarts.size(), 3u);  // one per frame
  ExpectSpacing(t.vsyncStarts, kFrame);
  ExpectSpacing(t.frameStarts, kFrame);
  const long vsyncLines = type == 0 ? 8 : 16;
  ASSERT_EQ(t.vsyncEnds.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(t.vsyncEnds[i] - t.vsyncStarts[i], vsyncLines * kLine);
  EXPECT_EQ(t.dispenSteps, 3L * 40 * 200);

  // First row: consecutive pairs from &C000; the next scan line of the same
  // characters is &800 further.
  ASSERT_EQ(t.firstAddresses.size(), 48u);
  for (int k = 0; k < 40; ++k) ASSERT_EQ(t.firstAddresses[k], 0xC000 + 2 * k) << k;
  for (int k = 40; k < 48; ++k) ASSERT_EQ(t.firstAddresses[k], 0xC800 + 2 * (k - 40)) << k;
}

INSTANTIATE_TEST_SUITE_P(Types, CrtcStandard, ::testing::Values(0u, 1u, 2u));

TEST(Crtc, AdjustLinesExtendTheFrameWithRasterCountingOn) {
  for (uint8_t adjust : {0, 1, 3}) {
    auto m = MakeMachine();
    WriteCrtc(*m, 5, adjust);
    for (int i = 0; i < 2 * kFrame; ++i) CrtcStep(*m);
    while (m->Crtc.VCC != 0) CrtcStep(*m);
    std::vector<int> adjustRasters;
    std::vector<long> frameStarts;
    long step = 0;
    while (frameStarts.size() < 2) {
      const uint8_t vcc = m->Crtc.VCC;
      CrtcStep(*m);
      ++step;
      if (vcc != 0 && m->Crtc.VCC == 0) frameStarts.push_back(step);
      if (m->Crtc.InAdjust && m->Crtc.HCC == 0 && frameStarts.size() == 1) adjustRasters.push_back(m->Crtc.RA);
    }
    EXPECT_EQ(frameStarts[1] - frameStarts[0], (312L + adjust) * kLine) << "R5=" << int(adjust);
    std::vector<int> expected;
    for (int r = 0; r < adjust; ++r) expected.push_back(r);
    EXPECT_EQ(adjustRasters, expected) << "R5=" << int(adjust);
  }
}

TEST(Crtc, ZeroWidthHsyncIsNeverSeenButStillClocksTheInterruptCounter) {
  auto m = MakeMachine();
  WriteCrtc(*m, 3, 0x80);
  for (int i = 0; i < kFrame; ++i) CrtcStep(*m);
  int changes = 0;
  for (int i = 0; i < 10 * kLine; ++i) {
    const uint8_t counter = m->GateArray.IntCounter;
    CrtcStep(*m);
    ASSERT_EQ(m->Crtc.HSYNC, 0);
    changes += m->GateArray.IntCounter != counter;
  }
  EXPECT_EQ(changes, 10);
}

TEST(Crtc, SecondMatchOfR7InOneFrameStartsNoVsync) {
  auto m = MakeMachine();
  for (int i = 0; i < kFrame; ++i) CrtcStep(*m);
  ASSERT_TRUE(RunToVsyncStart(*m));
  // Move R7 to a row still to come in this frame.
  WriteCrtc(*m, 7, 34);
  int starts = 0;
  while (m->Crtc.VCC != 0) {
    const uint8_t v = m->Crtc.VSYNC;
    CrtcStep(*m);
    starts += !v && m->Crtc.VSYNC;
  }
  EXPECT_EQ(starts, 0);
  // The next frame has its VSYNC at the new row.
  while (!m->Crtc.VSYNC) CrtcStep(*m);
  EXPECT_EQ(m->Crtc.VCC, 34);
}

TEST(Crtc, WriteMasksAndReadableRegistersByType) {
  struct Case {
    int reg;
    uint8_t written;
    uint8_t read[3];  // by type, through &BFxx
  };
  // Write-only registers and 18..30 read 0 on all three chips; R31 reads &FF
  // on the UM6845R only (CPCWiki CRTC page, register read-back per type).
  const Case cases[] = {
      {0, 0x3F, {0x00, 0x00, 0x00}},   {3, 0x8E, {0x00, 0x00, 0x00}},  {11, 0x0F, {0x00, 0x00, 0x00}},
      {12, 0xFF, {0x3F, 0x00, 0x00}},  {13, 0xA5, {0xA5, 0x00, 0x00}}, {14, 0xFF, {0x3F, 0x3F, 0x3F}},
      {15, 0x5A, {0x5A, 0x5A, 0x5A}},  {16, 0x12, {0x00, 0x00, 0x00}}, {17, 0x34, {0x00, 0x00, 0x00}},
      {18, 0x56, {0x00, 0x00, 0x00}},  {30, 0x56, {0x00, 0x00, 0x00}}, {31, 0x78, {0x00, 0xFF, 0x00}},
  };
  for (uint32_t type = 0; type < 3; ++type) {
    auto m = MakeMachine(type);
    for (const Case& k : cases) {
      WriteCrtc(*m, k.reg, k.written);
      CrtcWrite(m->Crtc, 0xBC00, static_cast<uint8_t>(k.reg));
      EXPECT_EQ(CrtcRead(m->Crtc, 0xBF00), k.read[type]) << "type " << type << " R" << k.reg;
      EXPECT_EQ(CrtcRead(m->Crtc, 0xBC00), 0xFF);
      EXPECT_EQ(CrtcRead(m->Crtc, 0xBD00), 0xFF);
    }
    // The masks of the counting registers, seen in the register file.
    struct Mask {
      int reg;
      uint8_t kept[3];
    };
    const Mask masks[] = {{3, {0xFF, 0x0F, 0x0F}}, {4, {0x7F, 0x7F, 0x7F}}, {5, {0x1F, 0x1F, 0x1F}},
                          {8, {0xF3, 0x03, 0x03}}, {9, {0x1F, 0x1F, 0x1F}}, {12, {0x3F, 0x3F, 0x3F}}};
    for (const Mask& k : masks) {
      WriteCrtc(*m, k.reg, 0xFF);
      EXPECT_EQ(m->Crtc.R[k.reg], k.kept[type]) << "type " << type << " R" << k.reg;
    }
  }
  // The select keeps five bits.
  auto m = MakeMachine();
  CrtcWrite(m->Crtc, 0xBC00, 0x2D);
  EXPECT_EQ(m->Crtc.SelectedRegister, 13);
}

TEST(Crtc, StatusRegisterOnlyOnType1) {
  for (uint32_t type = 0; type < 3; ++type) {
    auto m = MakeMachine(type);
    for (int i = 0; i < kFrame; ++i) CrtcStep(*m);
    while (m->Crtc.VCC != 0) CrtcStep(*m);  // top of the picture
    const uint8_t inPicture = CrtcRead(m->Crtc, 0xBE00);
    while (m->Crtc.VerticalDisplay) CrtcStep(*m);
    const uint8_t inBorder = CrtcRead(m->Crtc, 0xBE00);
    m->Crtc.LightPenArmed = 1;
    const uint8_t pending = CrtcRead(m->Crtc, 0xBE00);
    if (type == 1) {
      EXPECT_EQ(inPicture, 0x00);
      EXPECT_EQ(inBorder, 0x20);
      EXPECT_EQ(pending, 0x60);
    } else {
      EXPECT_EQ(inPicture, 0xFF);
      EXPECT_EQ(inBorder, 0xFF);
      EXPECT_EQ(pending, 0xFF);
    }
  }
}

TEST(Crtc, LightPenLatchesTheAddressWhenTheBeamReachesTheTarget) {
  auto m = MakeMachine();
  Ticks(*m, 3 * kFrame);  // beam locked
  m->Crtc.LightPenEnabled = 1;
  m->Crtc.LightPenTargetX = 512;
  m->Crtc.LightPenTargetY = 300;
  m->Crtc.LightPenArmed = 1;
  for (int i = 0; i < kFrame && m->Crtc.LightPenArmed; ++i) Tick(*m);
  ASSERT_EQ(m->Crtc.LightPenArmed, 0);
  EXPECT_EQ(m->BeamX, 512u);
  EXPECT_EQ(m->BeamY, 300u);
  EXPECT_EQ(m->Crtc.R[16] << 8 | m->Crtc.R[17], m->Crtc.MA);
  EXPECT_NE(m->Crtc.MA, 0);

  // Switched off in the settings: the strobe waits.
  m->Crtc.LightPenEnabled = 0;
  m->Crtc.LightPenArmed = 1;
  Ticks(*m, kFrame);
  EXPECT_EQ(m->Crtc.LightPenArmed, 1);
}

TEST(Crtc, VerticalRegisterWrittenMidLineActsOnTheNextStep) {
  auto m = MakeMachine();
  for (int i = 0; i < kFrame; ++i) CrtcStep(*m);
  while (!(m->Crtc.VCC == 5 && m->Crtc.HCC == 10)) CrtcStep(*m);
  ASSERT_TRUE(m->Crtc.DISPEN);
  WriteCrtc(*m, 6, 5);  // the border starts in this row
  CrtcStep(*m);
  EXPECT_EQ(m->Crtc.VerticalDisplay, 0);
  EXPECT_EQ(m->Crtc.DISPEN, 0);
  WriteCrtc(*m, 7, 5);  // and so does VSYNC
  CrtcStep(*m);
  EXPECT_EQ(m->Crtc.VSYNC, 1);
}
