#include "debugger/debugger_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>

#include "core/machine.h"

namespace {

// A 6128 without ROM files: the lower ROM reads zeros (NOPs) until a test
// fills it, and the Z80 starts at &0000 with nothing owed.
std::unique_ptr<Machine> NewMachine() {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  return CreateMachine(config);
}

void PutRam(Machine& m, uint16_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) {
    m.Memory.BaseRam[at] = b;
    ++at;
  }
}

int StarLine(const DebuggerModel& d) {
  int found = -1;
  for (int i = 0; i < kListingLines; ++i) {
    if (d.ListingLines()[i][6] == '*') {
      EXPECT_EQ(found, -1) << "two '*' lines";
      found = i;
    }
  }
  return found;
}

class DebuggerModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m = NewMachine();
    // Code in RAM at &4000, all else zero (one-byte NOPs).
    PutRam(*m, 0x4000, {0x21, 0x34, 0x12, 0xDD, 0xCB, 0x05, 0x06, 0x76});
    m->Z80.PC = 0x4000;
  }
  std::unique_ptr<Machine> m;
};

TEST_F(DebuggerModelTest, ListingPutsPcOnLine17WithTheLineFormat) {
  DebuggerModel d(*m);
  d.Refresh();
  ASSERT_EQ(d.ListingLines().size(), static_cast<size_t>(kListingLines));
  // Everything before &4000 is one-byte NOPs, so &4000 is instruction &4000.
  EXPECT_EQ(d.ListingPosition(), 0x4000 - kListingPcLine);
  EXPECT_EQ(d.ListingMax(), (65536 - 2 - 3) - kListingLines);
  EXPECT_EQ(d.ListingLines()[15], " 3FFF:   00           NOP");
  EXPECT_EQ(d.ListingLines()[16], " 4000:*  21 34 12     LD HL,$1234");
  EXPECT_EQ(d.ListingLines()[17], " 4003:   DD CB 05 06  RLC (IX+$05)");
  EXPECT_EQ(d.ListingLines()[18], " 4007:   76           HALT");
  EXPECT_EQ(StarLine(d), kListingPcLine);
}

TEST_F(DebuggerModelTest, PcOffAnInstructionBoundaryLeavesTheListingAndMarksNoLine) {
  DebuggerModel d(*m);
  d.Refresh();
  const int position = d.ListingPosition();
  m->Z80.PC = 0x4001;  // inside LD HL,$1234
  d.Refresh();
  EXPECT_EQ(d.ListingPosition(), position);
  EXPECT_EQ(StarLine(d), -1);
}

TEST_F(DebuggerModelTest, ListingStopsAtItsEndsWhenPcCannotBeCentred) {
  DebuggerModel d(*m);
  m->Z80.PC = 0x0003;
  d.Refresh();
  EXPECT_EQ(d.ListingPosition(), 0);
  EXPECT_EQ(StarLine(d), 3);
  m->Z80.PC = 0xFFFF;
  d.Refresh();
  EXPECT_EQ(d.ListingPosition(), d.ListingMax());
  EXPECT_EQ(StarLine(d), kListingLines - 1);
  EXPECT_EQ(d.ListingLines().back(), " FFFF:*  00           NOP");
}

TEST_F(DebuggerModelTest, ListingCursorKeysScrollOnlyAtTheEdges) {
  DebuggerModel d(*m);
  d.Refresh();
  const int start = d.ListingPosition();
  d.ListingKey(NavKey::Down, 5);
  EXPECT_EQ(d.ListingPosition(), start);
  d.ListingKey(NavKey::Down, kListingLines - 1);
  EXPECT_EQ(d.ListingPosition(), start + 1);
  EXPECT_EQ(StarLine(d), kListingPcLine - 1);
  d.ListingKey(NavKey::PageDown, kListingLines - 1);
  EXPECT_EQ(d.ListingPosition(), start + 31);
  d.ListingKey(NavKey::PageUp, 0);
  d.ListingKey(NavKey::Up, 0);
  EXPECT_EQ(d.ListingPosition(), start);
  d.SetListingPosition(10);
  d.ListingKey(NavKey::PageUp, 0);
  EXPECT_EQ(d.ListingPosition(), 0);
  EXPECT_EQ(d.ListingLines()[0], " 0000:   00           NOP");
}

TEST_F(DebuggerModelTest, DumpLinesAndScrolling) {
  PutRam(*m, 0x8000, {'A', 'b', ' ', '!', '~', 0x7F, 0x00, 0xFF});
  DebuggerModel d(*m);
  d.SetDumpPosition(0x8000 / 8);
  ASSERT_EQ(d.DumpLines().size(), static_cast<size_t>(kDumpLines));
  EXPECT_EQ(d.DumpLines()[0], " 8000: 41 62 20 21 7E 7F 00 FF  Ab.!~...");
  EXPECT_EQ(d.DumpLines()[1], " 8008: 00 00 00 00 00 00 00 00  ........");
  d.DumpKey(NavKey::Up, 3);
  EXPECT_EQ(d.DumpPosition(), 0x1000);
  d.DumpKey(NavKey::Up, 0);
  EXPECT_EQ(d.DumpPosition(), 0x0FFF);
  d.DumpKey(NavKey::PageDown, kDumpLines - 1);
  EXPECT_EQ(d.DumpPosition(), 0x1007);
  d.SetDumpPosition(100000);
  EXPECT_EQ(d.DumpPosition(), kDumpScrollMax);
  EXPECT_EQ(d.DumpLines()[0].substr(0, 6), " FFF8:");
  EXPECT_EQ(d.DumpLines()[1].substr(0, 6), " 0000:");  // the last page wraps
  d.DumpKey(NavKey::Down, kDumpLines - 1);
  EXPECT_EQ(d.DumpPosition(), kDumpScrollMax);
}

TEST_F(DebuggerModelTest, StackShowsFourteenWordsAroundSp) {
  m->Z80.SP = 0x8000;
  PutRam(*m, 0x8000, {0x12, 0x34});
  PutRam(*m, 0x800E, {0xAB, 0xCD});
  DebuggerModel d(*m);
  d.Refresh();
  ASSERT_EQ(d.StackLines().size(), static_cast<size_t>(kStackLines));
  EXPECT_EQ(d.StackLines()[0], " 800E:   AB:CD");
  EXPECT_EQ(d.StackLines()[7], " 8000: * 12:34");
  EXPECT_EQ(d.StackLines()[13], " 7FF4:   00:00");
}

TEST_F(DebuggerModelTest, RegisterEntries) {
  m->Z80.IX.W = 0x5555;
  m->Z80.AF.B.H = 0xFF;
  DebuggerModel d(*m);
  d.Refresh();
  struct Entry {
    RegisterField field;
    const char* text;
    bool accepted;
    const char* shown;
  };
  const Entry entries[] = {
      {RegisterField::PC, "12345", true, "2345"},
      {RegisterField::BC, "abcd", true, "ABCD"},
      {RegisterField::DE, "7", true, "0007"},
      {RegisterField::HL, "", true, "0000"},
      {RegisterField::HL2, "beef", true, "BEEF"},
      {RegisterField::IX, "12G4", false, "5555"},
      {RegisterField::Flags, "1", true, "00000001"},
      {RegisterField::IR, "8001", true, "8001"},
      {RegisterField::IM, "2", true, "2"},
      {RegisterField::IM, "3", false, "2"},
      {RegisterField::IFF1, "1", true, "1"},
      {RegisterField::IFF1, "2", false, "1"},
  };
  for (const Entry& e : entries) {
    EXPECT_EQ(d.ApplyRegisterEdit(e.field, e.text), e.accepted) << e.text;
    EXPECT_EQ(d.RegisterText(e.field), e.shown) << e.text;
  }
  const Z80Registers& r = m->Z80;
  EXPECT_EQ(r.PC, 0x2345);
  EXPECT_EQ(r.BC.W, 0xABCD);
  EXPECT_EQ(r.HL2.W, 0xBEEF);
  EXPECT_EQ(r.IX.W, 0x5555);
  EXPECT_EQ(r.I, 0x80);
  EXPECT_EQ(r.R, 0x01);
  EXPECT_EQ(r.IM, 2);
  EXPECT_EQ(r.IFF1, 1);
  // "1" in the flags sets F = &01: the live flags follow.
  EXPECT_EQ(r.AF.B.L, 0x01);
  EXPECT_EQ(r.FlagC, 1);
  EXPECT_EQ(r.FlagS + r.FlagZ + r.FlagY + r.FlagH + r.FlagX + r.FlagPV + r.FlagN, 0);
  EXPECT_EQ(d.RegisterText(RegisterField::AF), "FF01");
  // AF written whole unpacks F as well.
  EXPECT_TRUE(d.ApplyRegisterEdit(RegisterField::AF, "12C0"));
  EXPECT_EQ(r.AF.B.H, 0x12);
  EXPECT_EQ(r.FlagS, 1);
  EXPECT_EQ(r.FlagZ, 1);
  EXPECT_EQ(r.FlagC, 0);
  EXPECT_EQ(d.RegisterText(RegisterField::Flags), "11000000");
  // A flags entry keeps its last 8 characters.
  EXPECT_TRUE(d.ApplyRegisterEdit(RegisterField::Flags, "1110000001"));
  EXPECT_EQ(r.AF.B.L, 0x81);
}

TEST(DebuggerKeys, EditsTakeOnlyTheirCharacters) {
  EXPECT_TRUE(DebuggerModel::AcceptsKey(RegisterField::PC, 'f'));
  EXPECT_TRUE(DebuggerModel::AcceptsKey(RegisterField::IR, 'A'));
  EXPECT_FALSE(DebuggerModel::AcceptsKey(RegisterField::SP, 'g'));
  EXPECT_TRUE(DebuggerModel::AcceptsKey(RegisterField::Flags, '1'));
  EXPECT_FALSE(DebuggerModel::AcceptsKey(RegisterField::Flags, '2'));
  EXPECT_FALSE(DebuggerModel::AcceptsKey(RegisterField::IFF1, 'A'));
}

TEST_F(DebuggerModelTest, EditingPcRecentresTheListing) {
  DebuggerModel d(*m);
  d.Refresh();
  ASSERT_TRUE(d.ApplyRegisterEdit(RegisterField::PC, "4007"));
  EXPECT_EQ(d.ListingLines()[kListingPcLine], " 4007:*  76           HALT");
}

// Markers in each place that can show at &0000 and &C000.
void MarkMemory(Machine& m) {
  m.Memory.LowerRom[0] = 0xA1;
  m.Memory.BaseRam[0x0000] = 0xB1;
  m.Memory.UpperRomBank[0] = 0xA2;
  m.Memory.BaseRam[0xC000] = 0xB2;  // screen RAM
  m.Memory.BaseRam[0x4000] = 0xB3;
}

TEST_F(DebuggerModelTest, MemoryViewModes) {
  MarkMemory(*m);
  ASSERT_TRUE(m->Memory.LowerRomEnabled);
  ASSERT_FALSE(m->Memory.UpperRomEnabled);
  DebuggerModel d(*m);
  d.Refresh();
  // Opens on what the Z80 sees.
  EXPECT_TRUE(d.WhatZ80Sees());
  EXPECT_EQ(d.ReadView(0x0000), 0xA1);
  EXPECT_EQ(d.ReadView(0xC000), 0xB2);
  d.SetWhatZ80Sees(false);
  EXPECT_TRUE(d.RomButtonEnabled());
  // RAM: the RAM of every page.
  EXPECT_EQ(d.ReadView(0x0000), 0xB1);
  EXPECT_EQ(d.ReadView(0xC000), 0xB2);
  EXPECT_EQ(d.ReadView(0x4000), 0xB3);
  // ROM: the lower and the selected upper ROM whatever the enables.
  d.SetShowRom(true);
  EXPECT_EQ(d.ReadView(0x0000), 0xA1);
  EXPECT_EQ(d.ReadView(0xC000), 0xA2);
  EXPECT_EQ(d.ReadView(0x4000), 0xB3);
  // What the Z80 sees: the enables decide; the ROM/RAM button is off.
  d.SetWhatZ80Sees(true);
  EXPECT_FALSE(d.RomButtonEnabled());
  EXPECT_EQ(d.ReadView(0x0000), 0xA1);
  EXPECT_EQ(d.ReadView(0xC000), 0xB2);
  d.SetDumpPosition(0xC000 / 8);
  EXPECT_EQ(d.DumpLines()[0].substr(0, 10), " C000: B2 ");
  d.SetUpperRomEnabled(true);
  d.SetLowerRomEnabled(false);
  EXPECT_TRUE(m->Memory.UpperRomEnabled);
  EXPECT_EQ(d.ReadView(0x0000), 0xB1);
  EXPECT_EQ(d.ReadView(0xC000), 0xA2);
  EXPECT_EQ(d.DumpLines()[0].substr(0, 10), " C000: A2 ");
  EXPECT_TRUE(d.GateArray().UpperRomEnabled);
  EXPECT_FALSE(d.GateArray().LowerRomEnabled);
}

TEST_F(DebuggerModelTest, ListingReadsThroughTheView) {
  m->Memory.LowerRom[0] = 0xC3;
  m->Memory.LowerRom[1] = 0x00;
  m->Memory.LowerRom[2] = 0x40;
  m->Z80.PC = 0;
  DebuggerModel d(*m);
  d.Refresh();
  // The lower ROM is enabled: the code at PC is the ROM's from the start.
  EXPECT_EQ(d.ListingLines()[0], " 0000:*  C3 00 40     JP $4000");
  EXPECT_EQ(d.ListingLines()[1], " 0003:   00           NOP");
  d.SetWhatZ80Sees(false);
  EXPECT_EQ(d.ListingLines()[0], " 0000:*  00           NOP");
  d.SetShowRom(true);
  EXPECT_EQ(d.ListingLines()[0], " 0000:*  C3 00 40     JP $4000");
}

TEST_F(DebuggerModelTest, CrtcEditGoesThroughTheCrtcAndKeepsItsSelection) {
  DebuggerModel d(*m);
  d.Refresh();
  CrtcWrite(m->Crtc, 0xBC00, 12);
  ASSERT_TRUE(d.ApplyCrtcEdit(1, "28"));  // "Hor. Disp."
  EXPECT_EQ(m->Crtc.R[1], 0x28);
  EXPECT_EQ(d.CrtcText(1), "28");
  ASSERT_TRUE(d.ApplyCrtcEdit(4, "ff"));  // "Vert. Total", 7 bits
  EXPECT_EQ(m->Crtc.R[4], 0x7F);
  EXPECT_EQ(d.CrtcText(4), "7F");
  EXPECT_EQ(m->Crtc.SelectedRegister, 12);
  EXPECT_FALSE(d.ApplyCrtcEdit(0, "x"));
}

TEST_F(DebuggerModelTest, PsgEditStoresStraightIntoTheRegisterFile) {
  DebuggerModel d(*m);
  d.Refresh();
  ASSERT_TRUE(d.ApplyPsgEdit(7, "3f"));
  EXPECT_EQ(m->Psg.Registers[7], 0x3F);
  EXPECT_EQ(d.PsgText(7), "3F");
  EXPECT_EQ(d.PsgText(15), "00");
}

TEST_F(DebuggerModelTest, GateArrayView) {
  m->GateArray.PenColours[1] = 0x0A;
  m->GateArray.BorderColour = 0x14;
  m->GateArray.ScreenMode = 1;
  SelectUpperRom(m->Memory, 7);
  DebuggerModel d(*m);
  d.Refresh();
  EXPECT_EQ(d.GateArray().PanelColour[1], 0x0A);
  EXPECT_EQ(d.GateArray().PanelColour[16], 0x14);
  EXPECT_EQ(d.GateArray().ModeText, "Screen Mode: 1");
  EXPECT_EQ(d.GateArray().RomHighText, "ROM High: ROM 7");
  d.SetMonitor(2);
  d.Refresh();
  EXPECT_EQ(d.GateArray().PanelColour[1], 0x0A + 32);
}

TEST_F(DebuggerModelTest, PortLogKeepsPpiWritesWhileSwitchedOn) {
  DebuggerModel d(*m);
  Z80Out(*m, 0xF4FF, 0x0E);  // off: not kept
  d.SetPortLogEnabled(true);
  Z80Out(*m, 0xF6FF, 0xC0);
  Z80Out(*m, 0x7F00, 0x8D);  // gate array: bit 11 high
  Z80Out(*m, 0xF7FF, 0x82);
  EXPECT_EQ(d.PortLogLines(), (std::vector<std::string>{"F6FF C0", "F7FF 82"}));
  d.ClearPortLog();
  EXPECT_TRUE(d.PortLogLines().empty());
  // A full ring keeps the newest writes.
  for (uint32_t i = 0; i < kPortLogCapacity + 3; ++i) Z80Out(*m, 0xF400, static_cast<uint8_t>(i));
  const auto lines = d.PortLogLines();
  ASSERT_EQ(lines.size(), kPortLogCapacity);
  EXPECT_EQ(lines.front(), "F400 03");
  EXPECT_EQ(lines.back(), "F400 02");
  d.SetPortLogEnabled(false);
  EXPECT_FALSE(d.PortLogEnabled());
}

// A machine stepped by the debugger and a twin run by the frame loop for the
// same microseconds end in the same state: the step counts time as the loop.
TEST_F(DebuggerModelTest, StepsKeepTheFrameLoopsTiming) {
  auto twin = NewMachine();
  std::memcpy(twin->Memory.BaseRam, m->Memory.BaseRam, sizeof m->Memory.BaseRam);
  twin->Z80.PC = m->Z80.PC;

  uint32_t microseconds = 0;
  for (int i = 0; i < 400; ++i) {
    const uint32_t owed = m->Z80.NopCounter;
    StepInstruction(*m);
    microseconds += owed + 1;
  }
  twin->MicrosecondsPerTick = microseconds;
  EmulateTick(*twin);
  EXPECT_EQ(m->Z80.PC, twin->Z80.PC);
  EXPECT_EQ(m->Z80.NopCounter, twin->Z80.NopCounter);
  EXPECT_EQ(m->Z80.R, twin->Z80.R);
  EXPECT_EQ(m->BeamX, twin->BeamX);
  EXPECT_EQ(m->BeamY, twin->BeamY);
  EXPECT_EQ(std::memcmp(&m->Crtc, &twin->Crtc, sizeof m->Crtc), 0);
  EXPECT_EQ(std::memcmp(&m->GateArray, &twin->GateArray, sizeof m->GateArray), 0);
  EXPECT_EQ(std::memcmp(&m->Video.FrameBitmap, &twin->Video.FrameBitmap, sizeof m->Video.FrameBitmap), 0);
}

TEST_F(DebuggerModelTest, SteppingHaltStaysOnItAndMovesTheVideoByItsLength) {
  m->Z80.PC = 0x4007;  // HALT
  StepInstruction(*m);  // executes HALT
  ASSERT_EQ(m->Z80.PC, 0x4007);
  for (int i = 0; i < 3; ++i) {
    const uint32_t beamX = m->BeamX;
    StepInstruction(*m);
    EXPECT_EQ(m->Z80.PC, 0x4007);
    EXPECT_EQ(m->Z80.NopCounter, 0u);
    EXPECT_EQ(m->BeamX, beamX + 16);  // one microsecond, no sync near the start
  }
}

TEST_F(DebuggerModelTest, StepMovesTheListing) {
  DebuggerModel d(*m);
  d.Refresh();
  EXPECT_EQ(d.ListingLines()[kListingPcLine].substr(0, 7), " 4000:*");
  d.Step();
  EXPECT_EQ(m->Z80.PC, 0x4003);
  EXPECT_EQ(d.ListingLines()[kListingPcLine].substr(0, 7), " 4003:*");
  EXPECT_EQ(d.RegisterText(RegisterField::HL), "1234");
}

}  // namespace
