// RunInstructions against single steps: the same state after every run,
// whatever the run's length, with interrupts, HALT, prefixes, block and I/O
// instructions in the way.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "core/z80_test_bus.h"

namespace {

// Raises the interrupt line every kEvery memory reads, as a device would
// between instructions; kEvery = 0 never does (and says so with kQuiet).
template <unsigned kEvery, bool kTimed>
struct LineBus : TestBus {
  static constexpr bool kTimedIo = kTimed;
  static constexpr bool kQuiet = kEvery == 0;
  Z80Registers* Cpu = nullptr;
  unsigned Reads = 0;
  uint8_t ReadByte(uint16_t a) {
    if constexpr (kEvery != 0)
      if (++Reads % kEvery == 0) Cpu->InterruptRequest = 1;
    return TestBus::ReadByte(a);
  }
};

// IM 1, then a loop of OUT, DI/EI, an index load, a lone DD, CB, NEG, LDIR,
// IN and HALT; the handler at &38 swaps register sets and returns with EI.
const std::vector<uint8_t> kProgram = [] {
  std::vector<uint8_t> p = {
      0x31, 0x00, 0xF0,        // LD SP,&F000
      0xED, 0x56,              // IM 1
      0xFB,                    // EI
      0xD3, 0x10,              // &06: OUT (&10),A
      0xF3, 0x3C, 0xFB,        // DI; INC A; EI
      0xDD, 0x21, 0x34, 0x12,  // LD IX,&1234
      0xDD, 0xDD, 0x23,        // DD; INC IX
      0xCB, 0x27,              // SLA A
      0xED, 0x44,              // NEG
      0x21, 0x00, 0x80,        // LD HL,&8000
      0x11, 0x00, 0x81,        // LD DE,&8100
      0x01, 0x03, 0x00,        // LD BC,3
      0xED, 0xB0,              // LDIR
      0xED, 0x78,              // IN A,(C)
      0x76,                    // HALT
      0x18, 0xE0,              // JR &06
  };
  p.resize(0x38);
  p.insert(p.end(), {0x08, 0xD9, 0xFB, 0xED, 0x4D});  // EX AF,AF'; EXX; EI; RETI
  return p;
}();

auto State(Z80Registers& r) {
  PackFlags(r);
  return std::tuple(r.AF.W, r.BC.W, r.DE.W, r.HL.W, r.PC, r.SP, r.IX.W, r.IY.W, r.AF2.W, r.BC2.W, r.DE2.W,
                    r.HL2.W, r.R, r.I, r.IM, r.IFF1, r.IFF2, r.NopCounter, r.InterruptEnableDelay,
                    r.ShortAckFlag, r.Halted, r.InterruptRequest, r.IoDelay);
}

template <class Bus>
struct Side {
  std::unique_ptr<Bus> bus = std::make_unique<Bus>();
  Z80Registers r = FreshCpu();
  Side() {
    std::copy(kProgram.begin(), kProgram.end(), bus->Memory.begin());
    bus->Cpu = &r;
  }
};

template <class Bus>
void ExpectRunsMatchSingleSteps(bool lineAtStart) {
  Side<Bus> stepped, run;
  stepped.r.InterruptRequest = run.r.InterruptRequest = lineAtStart;
  const auto never = [](const Z80Registers&) { return false; };
  const unsigned lengths[] = {1, 2, 5, 64, 333};
  for (unsigned i = 0; i < 40; ++i) {
    const unsigned n = lengths[i % 5];
    for (unsigned k = 0; k < n; ++k) ExecuteInstruction(stepped.r, *stepped.bus);
    ASSERT_EQ(RunInstructions(run.r, *run.bus, n, never), n);
    ASSERT_EQ(State(run.r), State(stepped.r)) << "after run " << i;
    ASSERT_EQ(run.bus->Memory, stepped.bus->Memory) << "after run " << i;
    ASSERT_EQ(run.bus->PortWrites.size(), stepped.bus->PortWrites.size());
    ASSERT_EQ(run.bus->PortsRead, stepped.bus->PortsRead);
    ASSERT_EQ(run.bus->InterruptsAccepted, stepped.bus->InterruptsAccepted);
  }
  // The interrupt path must have been taken often, not just survived.
  if (Bus::kQuiet) {
    EXPECT_EQ(run.bus->InterruptsAccepted, lineAtStart ? 1 : 0);
  } else {
    EXPECT_GT(run.bus->InterruptsAccepted, 20);
  }
}

TEST(Z80Run, MatchesSingleStepsWhateverTheRunLength) {
  ExpectRunsMatchSingleSteps<LineBus<97, false>>(false);
  ExpectRunsMatchSingleSteps<LineBus<97, true>>(false);  // I/O waits for its bus cycle
  ExpectRunsMatchSingleSteps<LineBus<0, false>>(false);
  ExpectRunsMatchSingleSteps<LineBus<0, false>>(true);  // a quiet bus with the line already up
}

TEST(Z80Run, StopsBeforeTheInstructionAskedAndRunsNoneForZero) {
  Side<LineBus<0, false>> s;
  const auto atNeg = [](const Z80Registers& r) { return r.PC == 0x14; };
  EXPECT_EQ(RunInstructions(s.r, *s.bus, 0, atNeg), 0u);
  EXPECT_EQ(s.r.PC, 0);
  EXPECT_EQ(s.r.NopCounter, 0u);
  // LD SP; IM 1; EI; OUT; DI; INC A; EI; LD IX; DD; INC IX; SLA A.
  EXPECT_EQ(RunInstructions(s.r, *s.bus, 1000, atNeg), 11u);
  EXPECT_EQ(s.r.PC, 0x14);
  EXPECT_EQ(s.r.NopCounter, 2u);  // SLA A's length
  EXPECT_EQ(RunInstructions(s.r, *s.bus, 1000, atNeg), 0u);
}

}  // namespace
