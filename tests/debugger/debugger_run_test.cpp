// Step over, step out, run to cursor, the breakpoint list, symbols in the
// listing and memory search, on small programs in RAM.
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

#include "core/machine.h"
#include "debugger/debugger_model.h"

namespace {

void Put(Machine& m, uint16_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) WriteByte(m.Memory, at++, b);
}

void PushWord(Machine& m, uint16_t value) {
  m.Z80.SP = static_cast<uint16_t>(m.Z80.SP - 2);
  WriteByte(m.Memory, m.Z80.SP, static_cast<uint8_t>(value));
  WriteByte(m.Memory, static_cast<uint16_t>(m.Z80.SP + 1), static_cast<uint8_t>(value >> 8));
}

// Runs periods as the emulation thread would, until the machine stops.
bool RunUntilStop(Machine& m, int periods = 50) {
  for (int i = 0; i < periods && !m.Breaks.Stopped; ++i) EmulateTick(m);
  return m.Breaks.Stopped != 0;
}

class DebuggerRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MachineConfig config;
    config.RomDir = "/nonexistent";
    m = CreateMachine(config);
    // RAM everywhere, so the restarts at &0000 can hold code.
    m->Memory.LowerRomEnabled = 0;
    m->Memory.UpperRomEnabled = 0;
    UpdateMemoryBanks(m->Memory);
    m->Z80.IFF1 = 0;
    Put(*m, 0x4000, {0xCD, 0x00, 0x50, 0x00});        // CALL &5000
    Put(*m, 0x4010, {0xEF, 0x34, 0x12, 0x00});        // RST &28 with an inline word
    Put(*m, 0x4020, {0xF7, 0x00});                    // RST &30
    Put(*m, 0x4030, {0x10, 0xFE, 0x00});              // DJNZ to itself
    Put(*m, 0x4040, {0xED, 0xB0, 0x00});              // LDIR
    Put(*m, 0x4050, {0xC4, 0x00, 0x50, 0x00});        // CALL NZ,&5000
    Put(*m, 0x4060, {0xC9});                          // RET (an outer routine's)
    Put(*m, 0x0028, {0xE1, 0x23, 0x23, 0xE9});        // POP HL, skip the word, JP (HL)
    Put(*m, 0x0030, {0x3C, 0xC9});                    // INC A, RET
    Put(*m, 0x5000, {0x3E, 0x2A, 0xC9});              // LD A,&2A, RET
    Put(*m, 0x5100, {0xC5, 0xCD, 0x00, 0x50, 0xC1, 0xC9});  // PUSH BC, CALL &5000, POP BC, RET
    Put(*m, 0x5200, {0xE1, 0xE9});                    // POP HL, JP (HL): leaves without a RET
    Put(*m, 0x5300, {0xC8, 0xC9});                    // RET Z, RET
    for (int i = 0; i < 16; ++i) WriteByte(m->Memory, static_cast<uint16_t>(0x6000 + i), static_cast<uint8_t>(i + 1));
  }
  std::unique_ptr<Machine> m;
};

TEST_F(DebuggerRunTest, StepOverAndStepOutRunThroughToTheRightPlace) {
  struct Case {
    const char* name;
    bool stepOut;
    uint16_t pc;
    std::initializer_list<uint16_t> stack;  // pushed in order before the step
    uint16_t bc;
    uint16_t wantPc;
    uint16_t wantSpBelowTop;  // &BFF0 minus SP at the stop
    uint8_t wantA;
    uint16_t wantBc;
  };
  const Case cases[] = {
      {"over CALL", false, 0x4000, {}, 0, 0x4003, 0, 0x2A, 0},
      {"over CALL cc not taken", false, 0x4050, {}, 0, 0x4053, 0, 0, 0},
      {"over RST returning past its inline word", false, 0x4010, {}, 0, 0x4013, 0, 0, 0},
      {"over RST", false, 0x4020, {}, 0, 0x4021, 0, 1, 0},
      {"over DJNZ", false, 0x4030, {}, 0x0500, 0x4032, 0, 0, 0},
      {"over LDIR", false, 0x4040, {}, 0x0010, 0x4042, 0, 0, 0},
      // After PUSH BC: the POP brings SP back above where the step began,
      // but only the RET leaves the routine.
      {"out past a nested CALL and a POP", true, 0x5101, {0x4003, 0x1234}, 0, 0x4003, 0, 0x2A, 0x1234},
      {"out from the RET itself", true, 0x5002, {0x4003}, 0, 0x4003, 0, 0, 0},
      {"out past a RET cc not taken", true, 0x5300, {0x4003}, 0, 0x4003, 0, 0, 0},
      // No return instruction of its own: the next return that leaves its
      // level (the caller's) ends the step.
      {"out of a RET-less routine", true, 0x5200, {0x4321, 0x4060}, 0, 0x4321, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    DebuggerModel d(*m);
    m->Z80.SP = 0xBFF0;
    for (uint16_t word : c.stack) PushWord(*m, word);
    m->Z80.PC = c.pc;
    m->Z80.AF.B.H = 0;
    m->Z80.AF.B.L = 0x40;  // Z: CALL NZ is not taken
    if (c.pc == 0x5300) m->Z80.AF.B.L = 0;  // NZ: RET Z is not taken
    UnpackFlags(m->Z80);
    m->Z80.BC.W = c.bc;
    m->Z80.HL.W = 0x6000;
    m->Z80.DE.W = 0x7000;
    if (c.stepOut) {
      d.StepOut();
    } else {
      ASSERT_EQ(d.StepOver(), StepResult::Running);
    }
    ASSERT_TRUE(RunUntilStop(*m));
    EXPECT_EQ(m->Z80.PC, c.wantPc);
    EXPECT_EQ(0xBFF0 - m->Z80.SP, c.wantSpBelowTop);
    EXPECT_EQ(m->Z80.AF.B.H, c.wantA);
    EXPECT_EQ(m->Z80.BC.W, c.wantBc);
    EXPECT_TRUE(d.BreakpointRows().empty()) << "the temporary breakpoint is gone";
    EXPECT_EQ(m->Breaks.StepOutLevel, -1);
    EXPECT_FALSE(d.StopText().empty());
    if (c.pc == 0x4040) {
      EXPECT_EQ(ReadByte(m->Memory, 0x700F), 16) << "LDIR copied its 16 bytes";
    }
  }
}

TEST_F(DebuggerRunTest, StepOverAPlainInstructionIsAStepAndAStoppedMachineStaysPut) {
  DebuggerModel d(*m);
  m->Z80.PC = 0x5000;
  EXPECT_EQ(d.StepOver(), StepResult::Stepped);
  EXPECT_EQ(m->Z80.PC, 0x5002);
  EXPECT_EQ(m->Z80.AF.B.H, 0x2A);

  // A stop holds even when the breakpoint that made it was temporary.
  m->Z80.PC = 0x4000;
  d.RunToCursor(0x5002);
  ASSERT_TRUE(RunUntilStop(*m));
  EXPECT_EQ(m->Z80.PC, 0x5002);
  EXPECT_EQ(d.StopText(), "BREAK at &5002 (run to cursor)");
  const uint64_t clock = m->ClockAtTick;
  EmulateTick(*m);
  EXPECT_EQ(m->Z80.PC, 0x5002);
  EXPECT_EQ(m->ClockAtTick, clock);
}

TEST_F(DebuggerRunTest, RunToCursorAtPcRunsRoundToItAndCancelDropsIt) {
  DebuggerModel d(*m);
  // A loop: INC A, JR back.
  Put(*m, 0x4070, {0x3C, 0x18, 0xFD});
  m->Z80.PC = 0x4070;
  m->Z80.AF.B.H = 0;
  d.RunToCursor(0x4070);
  ASSERT_TRUE(RunUntilStop(*m));
  EXPECT_EQ(m->Z80.PC, 0x4070);
  EXPECT_EQ(m->Z80.AF.B.H, 1) << "the loop went round once";

  // A run to a place never reached is dropped at the pause.
  d.RunToCursor(0x9000);
  EXPECT_FALSE(RunUntilStop(*m, 3));
  d.CancelRun();
  EXPECT_TRUE(m->Breaks.List.empty());
  EXPECT_FALSE(m->Breaks.Active);
}

TEST_F(DebuggerRunTest, BreakpointListAddsByAddressLabelAndKind) {
  DebuggerModel d(*m);
  SymbolTable symbols;
  ParseSymbols("routine EQU &5000\nscreen: equ 0xC000\n", symbols);
  d.SetSymbols(symbols);
  const struct {
    BreakKind kind;
    const char* where;
    const char* condition;
    const char* row;  // nullptr: refused
  } cases[] = {
      {BreakKind::Execute, "routine", "A==&2A", "exec &5000 (routine) if A==&2A"},
      {BreakKind::Execute, "&4000", "", "exec &4000"},
      {BreakKind::Write, "screen+&4000", "", "write &C000-&FFFF (screen)"},
      {BreakKind::Read, "&6000-&600F", "", "read &6000-&600F"},
      {BreakKind::PortOut, "&7F00", "", "out &7F00/&FF00"},
      {BreakKind::PortIn, "&F500/&FF00", "", "in &F500/&FF00"},
      {BreakKind::ScanLine, "200", "", "line 200"},
      {BreakKind::Vsync, "", "", "vsync"},
      {BreakKind::Execute, "nowhere", "", nullptr},
      {BreakKind::Execute, "&4000", "A==", nullptr},
      {BreakKind::Read, "&6000-&5000", "", nullptr},
      {BreakKind::ScanLine, "many", "", nullptr},
  };
  size_t added = 0;
  for (const auto& c : cases) {
    const std::string error = d.AddBreakpoint(c.kind, c.where, c.condition);
    if (!c.row) {
      EXPECT_FALSE(error.empty()) << c.where;
      continue;
    }
    ASSERT_EQ(error, "") << c.where;
    ASSERT_EQ(d.BreakpointRows().size(), ++added);
    EXPECT_EQ(d.BreakpointRows().back().Text, c.row);
  }

  // From a NOP before &4000: the disabled breakpoint there lets the machine
  // pass, the conditional one at the routine stops it and counts the hit.
  while (d.BreakpointRows().size() > 2) d.RemoveBreakpoint(2);
  d.SetBreakpointEnabled(1, false);
  m->Z80.PC = 0x3FFF;
  m->Z80.SP = 0xBFF0;
  m->Z80.AF.B.H = 0x2A;
  d.PrepareRun();
  ASSERT_TRUE(RunUntilStop(*m));
  EXPECT_EQ(m->Z80.PC, 0x5000);
  EXPECT_EQ(d.BreakpointRows()[0].Hits, 1u);
  EXPECT_EQ(d.BreakpointRows()[1].Hits, 0u);
  EXPECT_FALSE(d.BreakpointRows()[1].Enabled);
}

TEST_F(DebuggerRunTest, ListingNamesLabelsAndOperands) {
  DebuggerModel d(*m);
  SymbolTable symbols;
  ParseSymbols("start EQU &4000\nroutine EQU &5000\n", symbols);
  d.SetSymbols(symbols);
  m->Z80.PC = 0x4000;
  d.Refresh();
  const auto& lines = d.ListingLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kListingLines));
  int label = -1;
  for (int i = 0; i < kListingLines; ++i)
    if (lines[i] == " start:") label = i;
  ASSERT_GE(label, 0);
  EXPECT_EQ(lines[label + 1], " 4000:*  CD 00 50     CALL routine");
  EXPECT_FALSE(d.ListingAddress(label));
  EXPECT_EQ(d.ListingAddress(label + 1), 0x4000);
  // Bytes and numbers without a symbol stay numbers.
  m->Z80.PC = 0x5000;
  d.Refresh();
  bool found = false;
  for (const auto& line : d.ListingLines()) found |= line == " 5000:*  3E 2A        LD A,$2A";
  EXPECT_TRUE(found);
}

TEST_F(DebuggerRunTest, FollowPcOffKeepsTheListingUntilGotoPc) {
  DebuggerModel d(*m);
  m->Z80.PC = 0x4000;
  d.Refresh();
  const int position = d.ListingPosition();
  d.SetFollowPc(false);
  m->Z80.PC = 0x5000;
  d.Refresh();
  EXPECT_EQ(d.ListingPosition(), position);
  d.GotoPc();
  EXPECT_NE(d.ListingPosition(), position);
}

TEST_F(DebuggerRunTest, MemorySearchFindsBytesAndTextBothWaysAndWraps) {
  DebuggerModel d(*m);
  Put(*m, 0x8000, {'R', 'e', 'a', 'd', 'y'});
  Put(*m, 0x9000, {'R', 'e', 'a', 'd', 'y'});
  d.Refresh();
  d.SetDumpPosition(0x8800 / kDumpBytesPerLine);
  uint16_t at = 0;
  ASSERT_EQ(d.Search("\"Ready\"", true, &at), "");
  EXPECT_EQ(at, 0x9000);
  EXPECT_EQ(d.DumpPosition(), 0x9000 / kDumpBytesPerLine);
  ASSERT_EQ(d.Search("\"Ready\"", true, &at), "");
  EXPECT_EQ(at, 0x8000) << "wraps past &FFFF";
  ASSERT_EQ(d.Search("\"Ready\"", false, &at), "");
  EXPECT_EQ(at, 0x9000) << "backwards wraps below &0000";
  ASSERT_EQ(d.Search("52 65 61", true, &at), "");
  EXPECT_EQ(at, 0x9000) << "a new pattern starts at the dump";
  ASSERT_EQ(d.Search("ED B0", true, &at), "");
  EXPECT_EQ(at, 0x4040);
  EXPECT_EQ(d.Search("\"Not there at all\"", true), "not found");
  EXPECT_NE(d.Search("ZZ", true), "");
  EXPECT_NE(d.Search("123", true), "");
  EXPECT_NE(d.Search("", true), "");
}

}  // namespace
