// Breakpoints and watchpoints on a small Z80 program, conditions, symbols.
#include "debugger/breakpoints.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/machine.h"
#include "debugger/symbols.h"

namespace {

// DI; LD HL,&5000; LD A,&3F; LD (HL),A; INC HL; LD BC,&7F10; OUT (C),C;
// CALL &4020; JR &4000 ... &4020: RET
constexpr uint8_t kProgram[] = {0xF3, 0x21, 0x00, 0x50, 0x3E, 0x3F, 0x77, 0x23, 0x01, 0x10,
                                0x7F, 0xED, 0x49, 0xCD, 0x20, 0x40, 0x18, 0xEE};

class BreakpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MachineConfig config;
    config.RomDir = "/nonexistent";
    m = CreateMachine(config);
    Load(0x4000, kProgram, sizeof kProgram);
    const uint8_t ret = 0xC9;
    Load(0x4020, &ret, 1);
    m->Z80.PC = 0x4000;
    m->Z80.SP = 0xBFF0;
  }
  void Load(uint16_t at, const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) WriteByte(m->Memory, static_cast<uint16_t>(at + i), bytes[i]);
  }
  Breakpoint At(BreakKind kind, uint16_t first, uint16_t last, std::string condition = {}) {
    Breakpoint bp;
    bp.Kind = kind;
    bp.First = first;
    bp.Last = last;
    bp.Condition = std::move(condition);
    return bp;
  }
  std::unique_ptr<Machine> m;
};

TEST_F(BreakpointTest, EachKindStopsWhereItShould) {
  Breakpoint out = At(BreakKind::PortOut, 0, 0);
  out.Mask = 0xFF00;
  out.Value = 0x7F00;
  Breakpoint in = At(BreakKind::PortIn, 0, 0);
  in.Mask = 0xFF00;
  in.Value = 0x7F00;
  const struct {
    const char* name;
    Breakpoint bp;
    bool stops;
    uint16_t pc;  // where the machine stands when stopped
    const char* reason;
  } cases[] = {
      {"execute", At(BreakKind::Execute, 0x4007, 0x4007), true, 0x4007, "BREAK at &4007"},
      {"execute range", At(BreakKind::Execute, 0x4020, 0x40FF), true, 0x4020, "BREAK at &4020"},
      {"condition true", At(BreakKind::Execute, 0x4007, 0x4007, "A==&3F && (HL)!=0"), true, 0x4007,
       "BREAK at &4007 if A==&3F && (HL)!=0"},
      {"condition false", At(BreakKind::Execute, 0x4007, 0x4007, "(HL)==0"), false, 0, ""},
      {"write watch", At(BreakKind::Write, 0x5000, 0x5000), true, 0x4007, "WATCH write &5000"},
      {"read watch, never read", At(BreakKind::Read, 0x5000, 0x50FF), false, 0, ""},
      {"access watch on the stack", At(BreakKind::Access, 0xBFEF, 0xBFEF), true, 0x4020, "WATCH access &BFEF"},
      {"out to the gate array", out, true, 0x400D, "WATCH out &7F10"},
      {"in, never made", in, false, 0, ""},
  };
  for (const auto& c : cases) {
    SetUp();
    ASSERT_EQ(AddBreakpoint(m->Breaks, c.bp), "") << c.name;
    EmulateTick(*m);
    EXPECT_EQ(m->Breaks.Stopped, c.stops ? 1 : 0) << c.name;
    EXPECT_EQ(m->Breaks.List[0].Hits, c.stops ? 1u : 0u) << c.name;
    if (!c.stops) continue;
    EXPECT_EQ(m->Z80.PC, c.pc) << c.name;
    EXPECT_EQ(m->Z80.NopCounter, 0u) << c.name << ": at an instruction boundary";
    EXPECT_EQ(m->Breaks.Reason, c.reason) << c.name;
  }
}

TEST_F(BreakpointTest, ResumeRunsOnAndHitsAgain) {
  ASSERT_EQ(AddBreakpoint(m->Breaks, At(BreakKind::Execute, 0x4007, 0x4007)), "");
  EmulateTick(*m);
  ASSERT_TRUE(m->Breaks.Stopped);
  EXPECT_EQ(m->Z80.HL.W, 0x5000);
  ResumeFromBreak(m->Breaks);
  EmulateTick(*m);
  ASSERT_TRUE(m->Breaks.Stopped);
  EXPECT_EQ(m->Z80.PC, 0x4007);
  EXPECT_EQ(m->Z80.HL.W, 0x5000) << "the loop came round once more";
  EXPECT_EQ(m->Breaks.List[0].Hits, 2u);

  // A temporary breakpoint (run to here) goes when hit; a disabled one is ignored.
  ClearBreakpoints(m->Breaks);
  Breakpoint once = At(BreakKind::Execute, 0x4010, 0x4010);
  once.Temporary = true;
  AddBreakpoint(m->Breaks, once);
  Breakpoint off = At(BreakKind::Execute, 0x400D, 0x400D);
  off.Enabled = false;
  AddBreakpoint(m->Breaks, off);
  ResumeFromBreak(m->Breaks);
  EmulateTick(*m);
  EXPECT_EQ(m->Z80.PC, 0x4010);
  EXPECT_EQ(m->Breaks.List.size(), 1u);
  ResumeFromBreak(m->Breaks);
  EmulateTick(*m);
  EXPECT_FALSE(m->Breaks.Stopped);
}

TEST_F(BreakpointTest, InterruptStopsAtTheHandler) {
  const uint8_t program[] = {0xED, 0x56, 0xFB, 0x76};  // IM 1; EI; HALT
  Load(0x4000, program, sizeof program);
  // The firmware's screen timing, so that HSYNCs come and the gate array
  // asks for interrupts.
  const uint8_t crtc[] = {63, 40, 46, 0x8E, 38, 0, 25, 30, 0, 7};
  for (uint8_t r = 0; r < sizeof crtc; ++r) m->Crtc.R[r] = crtc[r];
  AddBreakpoint(m->Breaks, At(BreakKind::Interrupt, 0, 0));
  EmulateTick(*m);
  ASSERT_TRUE(m->Breaks.Stopped);
  EXPECT_EQ(m->Z80.PC, 0x0038);
  EXPECT_EQ(m->Breaks.Reason, "INTERRUPT");
}

TEST_F(BreakpointTest, NothingSetMeansTheMachineRunsAsBefore) {
  auto other = CreateMachine(MachineConfig{.RomDir = "/nonexistent"});
  for (uint16_t a = 0x4000; a < 0x4100; ++a) WriteByte(other->Memory, a, ReadByte(m->Memory, a));
  other->Z80.PC = 0x4000;
  other->Z80.SP = 0xBFF0;
  // A breakpoint that never hits takes the checking loop; the machines stay equal.
  AddBreakpoint(m->Breaks, At(BreakKind::Execute, 0x9000, 0x9000));
  for (int i = 0; i < 5; ++i) {
    EmulateTick(*m);
    EmulateTick(*other);
  }
  EXPECT_EQ(m->Z80.PC, other->Z80.PC);
  EXPECT_EQ(m->Z80.HL.W, other->Z80.HL.W);
  EXPECT_EQ(m->MicrosecondCounter.load(), other->MicrosecondCounter.load());
  EXPECT_EQ(std::memcmp(m->Video.FrameBitmap, other->Video.FrameBitmap, sizeof m->Video.FrameBitmap), 0);
}

TEST(BreakCondition, Expressions) {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  auto m = CreateMachine(config);
  m->Z80.AF.B.H = 0x3F;
  m->Z80.HL.W = 0x5000;
  m->Z80.BC.W = 0x7F10;
  WriteByte(m->Memory, 0x5000, 0x12);
  const struct {
    const char* text;
    bool holds;
  } cases[] = {
      {"A==&3F", true},          {"A==$3F && (HL)!=0", true}, {"(HL)==#12", true},
      {"(HL+1)==0", true},       {"BC==0x7F10", true},        {"B==127 && C==16", true},
      {"A==&3F && (HL)==0", false}, {"A<&3F || A>&3F", false}, {"!(HL)", false},
      {"[A+1]*2==&80", true},    {"A&&0", false},             {"A&&&0F", true},
      {"HL>=&4000 && HL<&8000", true}, {"a==3fh", true},      {"ROM==-1 || ROM>=0", true},
      {"RAM==0", true},          {"A&&0||1", true},           {"2+3*4==14", true},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ConditionHolds(c.text, *m, &error), c.holds) << c.text;
    EXPECT_EQ(error, "") << c.text;
  }
  for (const char* bad : {"A==", "(HL", "Q==1", "A==&3F )", "", "A=3"}) {
    EXPECT_NE(CheckCondition(bad), "") << bad;
  }
  Breakpoint bp;
  bp.Condition = "A==";
  EXPECT_NE(AddBreakpoint(m->Breaks, bp), "");
  EXPECT_TRUE(m->Breaks.List.empty());
}

TEST(Symbols, CommonAssemblerFormats) {
  SymbolTable t;
  const size_t n = ParseSymbols(
      "start EQU &4000\n"
      "loop: equ 0x4010 ; comment\n"
      "Screen = $C000\n"
      "sjlabel: EQU 0x00004123\n"
      "PASMO EQU 01234H\n"
      "rasm_label #8000 B0\n"
      "txt 1234h\n"
      "  ld a,5\n"
      "9bad EQU 1\n"
      "toobig EQU &12345\n",
      t);
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(ResolveAddress("start", t), 0x4000);
  EXPECT_EQ(ResolveAddress("loop", t), 0x4010);
  EXPECT_EQ(ResolveAddress("SCREEN", t), 0xC000) << "any case when none matches exactly";
  EXPECT_EQ(ResolveAddress("sjlabel", t), 0x4123);
  EXPECT_EQ(ResolveAddress("PASMO", t), 0x1234);
  EXPECT_EQ(ResolveAddress("rasm_label", t), 0x8000);
  EXPECT_EQ(ResolveAddress("txt", t), 0x1234);
  EXPECT_EQ(ResolveAddress("&BB5A", t), 0xBB5A);
  EXPECT_FALSE(ResolveAddress("nowhere", t));
  EXPECT_FALSE(ResolveAddress("&10000", t));
  EXPECT_EQ(SymbolAt(t, 0x4010), "loop");
}

}  // namespace
