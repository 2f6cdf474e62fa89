#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "video_fixture.h"

using namespace video_test;

// The counter counts HSYNC ends (cpctech's gate array interrupt notes), so a
// request rises as an HSYNC ends; acknowledged at once, they come 52 lines
// apart.
TEST(GateArray, SixRequestsPerFrame52LinesApartAtTheEndOfHsync) {
  auto m = MakeMachine();
  MachineBus bus{*m};
  Ticks(*m, 2 * kFrame);
  bus.InterruptAccepted();
  m->Z80.InterruptRequest = 0;
  std::vector<long> rises;
  for (long i = 0; i < 2 * kFrame; ++i) {
    const uint8_t hsync = m->Crtc.HSYNC;
    Tick(*m);
    if (m->Z80.InterruptRequest) {
      rises.push_back(i);
      ASSERT_TRUE(hsync && !m->Crtc.HSYNC) << "raised as the HSYNC ends";
      ASSERT_EQ(m->Crtc.HCC, 46 + 14);
      m->Z80.InterruptRequest = 0;
      bus.InterruptAccepted();
    }
  }
  ASSERT_EQ(rises.size(), 12u);
  for (size_t i = 1; i < rises.size(); ++i) EXPECT_EQ(rises[i] - rises[i - 1], 52 * kLine);
}

// CPCWiki Gate Array page: with interrupts disabled the request stays armed
// (INT held) while the counter goes on.
TEST(GateArray, ARequestIsHeldUntilTheZ80TakesIt) {
  auto m = MakeMachine();
  Ticks(*m, kFrame);
  for (int guard = 0; !m->Z80.InterruptRequest; ++guard) {
    ASSERT_LT(guard, kFrame);
    Tick(*m);
  }
  for (int i = 0; i < kFrame; ++i) {
    Tick(*m);
    ASSERT_EQ(m->Z80.InterruptRequest, 1) << "dropped after " << i << " us";
  }
}

TEST(GateArray, ResynchronisesAtTheSecondHsyncAfterVsync) {
  // Counter value at VSYNC start -> request at the end of the second HSYNC
  // after it.
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
      if (h && !m->Crtc.HSYNC) {
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
  EXPECT_EQ(m->GateArray.RequestedMode, 1);
}

// CPCWiki Gate Array page: the mode is taken at the next HSYNC, and only
// by an HSYNC of at least 2 us.
TEST(GateArray, AModeChangeWaitsForTheNextHsync) {
  for (uint8_t r3 : {uint8_t(0x8E), uint8_t(0x82), uint8_t(0x81)}) {
    auto m = MakeMachine();
    WriteCrtc(*m, 3, r3);
    Ticks(*m, kFrame);
    while (m->Crtc.HCC != 10) Tick(*m);  // inside the line, far from HSYNC
    GateArrayWrite(*m, 0x82);
    for (int hcc = 11; hcc < 46; ++hcc) {
      Tick(*m);
      ASSERT_EQ(m->GateArray.ScreenMode, 0) << "at character " << int(m->Crtc.HCC);
    }
    Tick(*m);  // the character where HSYNC begins
    ASSERT_TRUE(m->Crtc.HSYNC || (r3 & 0x0F) < 2);
    EXPECT_EQ(m->GateArray.ScreenMode, (r3 & 0x0F) >= 2 ? 2 : 0) << "R3 &" << std::hex << int(r3);
  }
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
  Ticks(*m, kLine);
  EXPECT_EQ(m->Video.ByteExpansionTable[0][0], 99);
  GateArrayWrite(*m, 0x82);
  EXPECT_EQ(m->Video.ByteExpansionTable[0][0], 99) << "not before the HSYNC";
  Ticks(*m, kLine);
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

// A program that keeps interrupts disabled for 3 ms over every other tick
// (as music players and loaders do) still takes all 300 a second: the held
// request is taken at EI, early enough that the 52-line rhythm goes on.
TEST(GateArray, InterruptsDisabledFor3MsLoseNoTick) {
  auto m = MakeMachine();
  const uint8_t program[] = {
      0xF3,                    // &4000 DI
      0x01, 0x8C, 0x7F,        //       LD BC,&7F8C
      0xED, 0x49,              //       OUT (C),C: mode 0, ROMs off
      0x21, 0x00, 0x80,        //       LD HL,&8000
      0xED, 0x56,              //       IM 1
      0x31, 0x00, 0xC0,        //       LD SP,&C000
      0xFB,                    // loop: EI
      0x76,                    //       HALT: a tick
      0x06, 0xFA, 0x10, 0xFE,  //       LD B,250 / DJNZ $: 1 ms
      0xF3,                    //       DI
      0x0E, 0x03,              //       LD C,3
      0x06, 0xFA, 0x10, 0xFE,  // more: LD B,250 / DJNZ $
      0x0D,                    //       DEC C
      0x20, 0xF9,              //       JR NZ,more: 3 ms in all
      0xFB,                    //       EI
      0x18, 0xED,              //       JR loop
  };
  const uint8_t handler[] = {0x34, 0xFB, 0xC9};  // INC (HL) / EI / RET
  std::copy(std::begin(program), std::end(program), m->Memory.BaseRam + 0x4000);
  std::copy(std::begin(handler), std::end(handler), m->Memory.BaseRam + 0x0038);
  m->Z80.PC = 0x4000;
  Ticks(*m, 2 * kFrame);
  uint32_t taken = m->Memory.BaseRam[0x8000];
  uint32_t total = 0;
  for (int frame = 0; frame < 50; ++frame) {  // one second
    Ticks(*m, kFrame);
    total += static_cast<uint8_t>(m->Memory.BaseRam[0x8000] - taken);
    taken = m->Memory.BaseRam[0x8000];
  }
  EXPECT_EQ(total, 300u);
}

TEST(GateArray, AcceptanceClearsBit5OfTheCounter) {
  for (auto [counter, after] : {std::pair<uint8_t, uint8_t>{40, 8}, {20, 20}, {51, 19}}) {
    auto m = MakeMachine();
    m->Memory.BaseRam[0x4000] = 0x00;
    m->Z80.PC = 0x4000;
    m->Z80.SP = 0xC000;
    m->Z80.IFF1 = m->Z80.IFF2 = 1;
    m->Z80.IM = 1;
    m->Z80.InterruptRequest = 1;
    m->GateArray.IntCounter = counter;
    ExecuteInstruction(*m);
    EXPECT_EQ(m->Z80.PC, 0x0038);
    EXPECT_EQ(m->Z80.InterruptRequest, 0);
    EXPECT_EQ(m->GateArray.IntCounter, after) << int(counter);
  }
}
