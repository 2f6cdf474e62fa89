#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <tuple>
#include <vector>

#include "video_fixture.h"

using namespace video_test;

TEST(GateArray, SixRequestsPerFrame52LinesApartEachLostAtTheEndOfItsHsync) {
  auto m = MakeMachine();
  Ticks(*m, 2 * kFrame);
  std::vector<long> rises;
  long highSteps = 0;
  for (long i = 0; i < 2 * kFrame; ++i) {
    const uint8_t before = m->Z80.InterruptRequest;
    Tick(*m);
    if (!before && m->Z80.InterruptRequest) {
      rises.push_back(i);
      ASSERT_TRUE(m->Crtc.HSYNC);
      ASSERT_EQ(m->Crtc.HCC, 46);
    }
    // Nobody accepts it (interrupts are off), so it ends with its HSYNC.
    if (m->Z80.InterruptRequest) {
      ASSERT_TRUE(m->Crtc.HSYNC);
    }
    highSteps += m->Z80.InterruptRequest;
  }
  ASSERT_EQ(rises.size(), 12u);
  for (size_t i = 1; i < rises.size(); ++i) EXPECT_EQ(rises[i] - rises[i - 1], 52 * kLine);
  EXPECT_EQ(highSteps, 12 * 14);
}

TEST(GateArray, ResynchronisesAtTheSecondHsyncAfterVsync) {
  // Counter value at VSYNC start -> request at the second HSYNC after it.
  const std::tuple<uint8_t, bool> cases[] = {{0, false}, {29, false}, {30, true}, {45, true}, {49, true}};
  for (auto [counter, request] : cases) {
    auto m = MakeMachine();
    Ticks(*m, kFrame);
    ASSERT_TRUE(RunToVsyncStart(*m));
    ASSERT_EQ(m->GateArray.IntDelay, 2);
    m->GateArray.IntCounter = counter;
    m->Z80.InterruptRequest = 0;
    int hsyncs = 0;
    bool requested = false;
    while (hsyncs < 2) {
      const uint8_t h = m->Crtc.HSYNC;
      Tick(*m);
      if (!h && m->Crtc.HSYNC) {
        ++hsyncs;
        if (hsyncs == 1) {
          EXPECT_FALSE(m->Z80.InterruptRequest) << int(counter);
        }
      }
    }
    requested = m->Z80.InterruptRequest;
    EXPECT_EQ(requested, request) << int(counter);
    EXPECT_EQ(m->GateArray.IntCounter, 0) << int(counter);
    EXPECT_EQ(m->GateArray.IntDelay, 0);
  }
}

TEST(GateArray, ModeWriteClearsTheCounterOnlyWithBit4AndSetsTheRomEnables) {
  auto m = MakeMachine();
  m->GateArray.IntCounter = 17;
  m->Z80.InterruptRequest = 1;
  GateArrayWrite(*m, 0x8C);  // mode 0, both ROMs off
  EXPECT_EQ(m->GateArray.IntCounter, 17);
  EXPECT_EQ(m->Z80.InterruptRequest, 1);
  EXPECT_EQ(m->Memory.LowerRomEnabled, 0);
  EXPECT_EQ(m->Memory.UpperRomEnabled, 0);
  EXPECT_EQ(m->Memory.ReadBank[0], m->Memory.RamPage[0]);
  GateArrayWrite(*m, 0x9C);
  EXPECT_EQ(m->GateArray.IntCounter, 0);
  EXPECT_EQ(m->Z80.InterruptRequest, 0);
  GateArrayWrite(*m, 0x81);  // mode 1, both ROMs on
  EXPECT_EQ(m->Memory.LowerRomEnabled, 1);
  EXPECT_EQ(m->Memory.UpperRomEnabled, 1);
  EXPECT_EQ(m->Memory.ReadBank[0], m->Memory.LowerRom);
  EXPECT_EQ(m->GateArray.ScreenMode, 1);
}

TEST(GateArray, PenSelectColourAndBorder) {
  auto m = MakeMachine();
  GateArrayWrite(*m, 0x03);  // pen 3
  GateArrayWrite(*m, 0x4B);  // colour 11
  EXPECT_EQ(m->GateArray.PenColours[3], 11);
  // The expansion table follows at once (mode 0: byte &CC is pen 3 twice).
  for (uint8_t px : m->Video.ByteExpansionTable[0xCC]) EXPECT_EQ(px, 11);

  GateArrayWrite(*m, 0x10);  // the border
  GateArrayWrite(*m, 0x54);
  EXPECT_EQ(m->GateArray.BorderColour, 20);
  GateArrayWrite(*m, 0x5F);  // bits 7..6 = 01, colour 31
  EXPECT_EQ(m->GateArray.BorderColour, 31);
  for (int pen = 0; pen < 16; ++pen) EXPECT_EQ(m->GateArray.PenColours[pen], pen == 3 ? 11 : 20) << pen;

  // RAM configuration values are not the gate array's.
  GateArrayWrite(*m, 0xC4);
  EXPECT_EQ(m->GateArray.ScreenMode, 0);
  EXPECT_EQ(m->GateArray.BorderColour, 31);
}

TEST(GateArray, OnlyAModeChangeRebuildsTheExpansionTable) {
  auto m = MakeMachine();
  m->Video.ByteExpansionTable[0][0] = 99;  // a marker the rebuild would overwrite
  GateArrayWrite(*m, 0x80);  // mode 0 again
  EXPECT_EQ(m->Video.ByteExpansionTable[0][0], 99);
  GateArrayWrite(*m, 0x82);
  EXPECT_EQ(m->Video.ByteExpansionTable[0][0], 20);
}

TEST(GateArray, ResetBlacksThePensAndKeepsTheCounter) {
  auto m = MakeMachine();
  GateArrayWrite(*m, 0x05);
  GateArrayWrite(*m, 0x4A);
  GateArrayWrite(*m, 0x8E);
  m->GateArray.IntCounter = 40;
  GateArrayReset(*m);
  EXPECT_EQ(m->GateArray.PenColours[5], 20);
  EXPECT_EQ(m->GateArray.ScreenMode, 0);
  EXPECT_EQ(m->GateArray.SelectedPen, 0);
  EXPECT_EQ(m->GateArray.IntCounter, 40);
  for (int b = 0; b < 256; ++b)
    for (uint8_t px : m->Video.ByteExpansionTable[b]) ASSERT_EQ(px, 20);
}

TEST(HardwareColours, TwentySevenColoursAndTheGreenMonitorBlacks) {
  std::set<std::tuple<int, int, int>> distinct;
  for (int i = 0; i < 32; ++i) {
    const Rgb& c = HardwareColourTable[i];
    distinct.emplace(c.R, c.G, c.B);
  }
  EXPECT_EQ(distinct.size(), 27u);
  // 1, 8, 9, 16, 17 repeat 0, 5, 3, 4, 2.
  const int repeats[][2] = {{1, 0}, {8, 5}, {9, 3}, {16, 4}, {17, 2}};
  for (auto [a, b] : repeats) {
    EXPECT_EQ(HardwareColourTable[a].R, HardwareColourTable[b].R);
    EXPECT_EQ(HardwareColourTable[a].G, HardwareColourTable[b].G);
    EXPECT_EQ(HardwareColourTable[a].B, HardwareColourTable[b].B);
  }
  // The green monitor shows exactly those five as black.
  std::set<int> blacks;
  for (int i = 0; i < 32; ++i) {
    const Rgb& c = HardwareColourTable[32 + i];
    if (c.R == 0 && c.G == 0 && c.B == 0) blacks.insert(i);
  }
  EXPECT_EQ(blacks, (std::set<int>{1, 8, 9, 16, 17}));
}

TEST(GateArray, Z80TakesSixInterruptsPerFrame) {
  auto m = MakeMachine();
  // &4000: DI; mode 0, ROMs off; LD HL,&8000; IM 1; LD SP,&C000; EI;
  // HALT; JR back to the HALT. &0038: INC (HL); EI; RET.
  const uint8_t program[] = {0xF3, 0x01, 0x8C, 0x7F, 0xED, 0x49, 0x21, 0x00, 0x80, 0xED,
                             0x56, 0x31, 0x00, 0xC0, 0xFB, 0x76, 0x18, 0xFD};
  const uint8_t handler[] = {0x34, 0xFB, 0xC9};
  std::copy(std::begin(program), std::end(program), m->Memory.BaseRam + 0x4000);
  std::copy(std::begin(handler), std::end(handler), m->Memory.BaseRam + 0x0038);
  m->Z80.PC = 0x4000;
  Ticks(*m, 2 * kFrame);
  const uint8_t before = m->Memory.BaseRam[0x8000];
  Ticks(*m, 10 * kFrame);
  EXPECT_EQ(static_cast<uint8_t>(m->Memory.BaseRam[0x8000] - before), 60);
}
