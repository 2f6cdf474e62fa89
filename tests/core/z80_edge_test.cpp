// Interrupt acceptance, prefixes, R, flag packing and the instructions whose
// results this design fixes in detail.
#include <gtest/gtest.h>

#include <memory>

#include "core/z80_test_bus.h"

namespace {

constexpr uint16_t kCode = 0x4000;

struct Cpu {
  std::unique_ptr<TestBus> bus = std::make_unique<TestBus>();
  Z80Registers r = FreshCpu();

  explicit Cpu(std::initializer_list<uint8_t> code) {
    bus->Load(kCode, code);
    r.PC = kCode;
  }
  void Step() { ExecuteInstruction(r, *bus); }
  uint16_t StackWord() const { return uint16_t(bus->Memory[r.SP] | bus->Memory[r.SP + 1] << 8); }
  uint8_t F() {
    PackFlags(r);
    return r.AF.B.L;
  }
};

TEST(Z80Flags, ResetPacksToFFAndEveryFlagIsSet) {
  Z80Registers r{};
  ResetZ80(r);
  EXPECT_EQ(r.FlagS + r.FlagZ + r.FlagY + r.FlagH + r.FlagX + r.FlagPV + r.FlagN + r.FlagC, 8);
  PackFlags(r);
  EXPECT_EQ(r.AF.W, 0xFFFF);
  EXPECT_EQ(r.PC, 0);
  EXPECT_EQ(r.InterruptEnableDelay, 1);
}

TEST(Z80Flags, PackAndUnpackRoundTripWithFlagsInBitOrder) {
  Z80Registers r{};
  for (unsigned f = 0; f < 256; ++f) {
    r.AF.B.L = uint8_t(f);
    UnpackFlags(r);
    const uint8_t bytes[8] = {r.FlagS, r.FlagZ, r.FlagY, r.FlagH, r.FlagX, r.FlagPV, r.FlagN, r.FlagC};
    for (int i = 0; i < 8; ++i) ASSERT_EQ(bytes[i], (f >> (7 - i)) & 1) << "F " << f << " flag " << i;
    r.AF.B.L = 0;
    PackFlags(r);
    ASSERT_EQ(r.AF.B.L, f);
  }
}

TEST(Z80Flags, PushPopAndExchangeUseThePackedByte) {
  // SCF; PUSH AF; POP BC; EX AF,AF'; (F' was &00) ; EX AF,AF'
  Cpu c({0x37, 0xF5, 0xC1, 0x08, 0x08});
  c.r.AF.W = 0x1200;
  UnpackFlags(c.r);
  c.r.AF2.W = 0x3400;
  for (int i = 0; i < 3; ++i) c.Step();
  EXPECT_EQ(c.r.BC.W, 0x1201);
  c.Step();
  EXPECT_EQ(c.r.AF.B.H, 0x34);
  EXPECT_EQ(c.r.FlagC, 0);
  EXPECT_EQ(c.r.AF2.W, 0x1201);
  c.Step();
  EXPECT_EQ(c.r.FlagC, 1);
}

TEST(Z80R, IncrementKeepsBitSeven) {
  struct Case { uint8_t before, after; } cases[] = {{0x00, 0x01}, {0x7F, 0x00}, {0xFF, 0x80}, {0x80, 0x81}};
  for (auto [before, after] : cases) {
    Cpu c({0x00});
    c.r.R = before;
    c.Step();
    EXPECT_EQ(c.r.R, after) << int(before);
  }
}

TEST(Z80Interrupt, AcceptanceLengthsByModeAndPreviousInstruction) {
  struct Case {
    uint8_t im;
    uint8_t previous;  // opcode run before the request is seen
    uint8_t countCycles;
    uint32_t nops;
  } cases[] = {
      {1, 0x00, 1, 5}, {0, 0x00, 1, 5}, {2, 0x00, 1, 19},
      {1, 0x03, 1, 4}, {2, 0x03, 1, 18},  // INC BC shortens the acknowledge
      {2, 0x00, 0, 1},
  };
  for (const Case& k : cases) {
    Cpu c({k.previous});
    c.r.IM = k.im;
    c.r.I = 0x80;
    c.r.IFF1 = c.r.IFF2 = 1;
    c.r.CountCycles = k.countCycles;
    c.bus->Memory[0x80FF] = 0x34;
    c.bus->Memory[0x8100] = 0x12;
    c.Step();
    c.r.InterruptRequest = 1;
    const uint8_t r = c.r.R;
    c.Step();
    SCOPED_TRACE("IM " + std::to_string(k.im) + " after " + std::to_string(k.previous));
    EXPECT_EQ(c.r.NopCounter, k.nops);
    EXPECT_EQ(c.r.PC, k.im == 2 ? 0x1234 : 0x0038);
    EXPECT_EQ(c.StackWord(), kCode + 1);
    EXPECT_EQ(c.r.IFF1 + c.r.IFF2 + c.r.InterruptRequest, 0);
    EXPECT_EQ(c.bus->InterruptsAccepted, 1);
    EXPECT_EQ(c.r.R, uint8_t(r + 1));
  }
}

TEST(Z80Interrupt, HaltedCpuPushesTheAddressAfterHalt) {
  Cpu c({0x76});
  c.r.IM = 1;
  c.r.IFF1 = c.r.IFF2 = 1;
  c.Step();
  c.Step();
  EXPECT_EQ(c.r.PC, kCode);
  c.r.InterruptRequest = 1;
  c.Step();
  EXPECT_EQ(c.r.PC, 0x0038);
  EXPECT_EQ(c.StackWord(), kCode + 1);
  EXPECT_EQ(c.r.Halted, 0);
}

// Each sequence runs with a request pending; the interrupt must be taken at
// the step given and not before.
TEST(Z80Interrupt, EiDiAndLonePrefixesHoldOffOneBoundary) {
  struct Case {
    const char* name;
    std::initializer_list<uint8_t> code;
    uint8_t iff;
    int acceptedAtStep;  // 0 = never within four steps
    uint16_t pushed;
  } cases[] = {
      {"EI then NOP", {0xFB, 0x00, 0x00}, 0, 3, kCode + 2},
      {"NOP", {0x00, 0x00}, 1, 1, kCode},
      {"DI", {0xF3, 0x00, 0x00}, 1, 1, kCode},  // taken before DI runs
      {"IFF1 clear", {0x00, 0x00, 0x00, 0x00}, 0, 0, 0},
  };
  for (const Case& k : cases) {
    Cpu c(k.code);
    c.r.IM = 1;
    c.r.IFF1 = c.r.IFF2 = k.iff;
    c.r.InterruptRequest = 1;
    int at = 0;
    for (int step = 1; step <= 4 && !at; ++step) {
      c.Step();
      if (c.r.PC == 0x0038) at = step;
    }
    EXPECT_EQ(at, k.acceptedAtStep) << k.name;
    if (at) {
      EXPECT_EQ(c.StackWord(), k.pushed) << k.name;
    }
  }
  // With the request raised only once the prefix or EI has run.
  for (auto code : {std::initializer_list<uint8_t>{0xDD, 0x00}, {0xFB, 0x00}, {0xF3, 0x00}}) {
    Cpu c(code);
    c.r.IM = 1;
    c.r.IFF1 = c.r.IFF2 = 1;
    c.Step();
    EXPECT_EQ(c.r.InterruptEnableDelay, 0);
    c.r.InterruptRequest = 1;
    c.Step();
    EXPECT_EQ(c.r.PC, kCode + 2) << "the byte after " << int(*code.begin()) << " runs first";
  }
}

TEST(Z80Prefix, LoneDdIsAOneNopInstructionOfItsOwn) {
  Cpu c({0xDD, 0x00});
  const uint8_t r = c.r.R;
  c.Step();
  EXPECT_EQ(c.r.PC, kCode + 1);
  EXPECT_EQ(c.r.NopCounter, 1u);
  EXPECT_EQ(c.r.R, r + 1);
  c.Step();
  EXPECT_EQ(c.r.PC, kCode + 2);
  EXPECT_EQ(c.r.NopCounter, 1u);
  EXPECT_EQ(c.r.R, r + 2);
}

TEST(Z80Prefix, IndexLoadAndUndefinedEdOpcodes) {
  struct Case {
    std::initializer_list<uint8_t> code;
    uint16_t pc;
    uint32_t nops;
  } cases[] = {{{0xDD, 0x21, 0x34, 0x12}, kCode + 4, 4}, {{0xED, 0x77}, kCode + 2, 2},
               {{0xED, 0xFF}, kCode + 2, 2}, {{0xED, 0x00}, kCode + 2, 2}};
  for (const Case& k : cases) {
    Cpu c(k.code);
    const Z80Registers before = c.r;
    c.Step();
    EXPECT_EQ(c.r.PC, k.pc);
    EXPECT_EQ(c.r.NopCounter, k.nops);
    if (*k.code.begin() == 0xDD) {
      EXPECT_EQ(c.r.IX.W, 0x1234);
    } else {
      EXPECT_EQ(c.r.AF.W, before.AF.W);
      EXPECT_EQ(c.r.HL.W, before.HL.W);
      EXPECT_EQ(c.F(), 0xFF);
    }
  }
}

TEST(Z80Arithmetic, DaaFollowsTheChip) {
  struct Case {
    uint8_t a, op, operand;  // op: ADD A,n (C6) or SUB n (D6), then DAA
    uint8_t result, c, h;
  } cases[] = {
      {0x27, 0xC6, 0x15, 0x42, 0, 1},  // 3C: low digit adjusted
      {0x99, 0xC6, 0x01, 0x00, 1, 1},  // 9A: both digits, carry out
      {0x90, 0xC6, 0x90, 0x80, 1, 0},  // carry from the add itself
      {0x42, 0xD6, 0x15, 0x27, 0, 0},  // 2D after a half borrow
      {0x00, 0xD6, 0x01, 0x99, 1, 0},  // FF after a borrow
      {0x10, 0xD6, 0x0B, 0xFF, 0, 1},  // H stays: half borrow, low digit < 6
  };
  for (const Case& k : cases) {
    Cpu c({k.op, k.operand, 0x27});
    c.r.AF.B.H = k.a;
    c.Step();
    c.Step();
    SCOPED_TRACE(std::to_string(k.a) + (k.op == 0xC6 ? " + " : " - ") + std::to_string(k.operand));
    EXPECT_EQ(c.r.AF.B.H, k.result);
    EXPECT_EQ(c.r.FlagC, k.c);
    EXPECT_EQ(c.r.FlagH, k.h);
    EXPECT_EQ(c.r.FlagN, k.op == 0xD6 ? 1 : 0);
    EXPECT_EQ(c.r.FlagZ, k.result == 0 ? 1 : 0);
    EXPECT_EQ(c.r.FlagPV, ParityTable[k.result]);
  }
}

TEST(Z80Arithmetic, SubtractAndCompareResults) {
  struct Case {
    const char* name;
    std::initializer_list<uint8_t> code;
    uint8_t a, carry;
    uint8_t resultA, f;
  } cases[] = {
      // 0 - 127 - 1 = -128 fits: no overflow, as on the chip.
      {"SBC A,&7F", {0xDE, 0x7F}, 0x00, 1, 0x80, 0x80 | 0x10 | 0x02 | 0x01},
      // Y and X come from the difference &01, not from &20.
      {"CP &20", {0xFE, 0x20}, 0x21, 0, 0x21, 0x02},
      {"CP &08", {0xFE, 0x08}, 0x10, 0, 0x10, 0x10 | 0x08 | 0x02},
      {"NEG", {0xED, 0x44}, 0x80, 0, 0x80, 0x80 | 0x04 | 0x02 | 0x01},
  };
  for (const Case& k : cases) {
    Cpu c(k.code);
    c.r.AF.B.H = k.a;
    c.r.FlagC = k.carry;
    c.Step();
    EXPECT_EQ(c.r.AF.B.H, k.resultA) << k.name;
    EXPECT_EQ(c.F(), k.f) << k.name;
  }
}

TEST(Z80Block, LdirCopiesOneByteWhenBcIsOne) {
  Cpu c({0xED, 0xB0});
  c.r.BC.W = 1;
  c.r.HL.W = 0x5000;
  c.r.DE.W = 0x6000;
  c.bus->Memory[0x5000] = 0x5A;
  c.Step();
  EXPECT_EQ(c.bus->Memory[0x6000], 0x5A);
  EXPECT_EQ(c.r.NopCounter, 5u);
  EXPECT_EQ(c.r.FlagPV, 0);
  EXPECT_EQ(c.r.PC, kCode + 2);
  EXPECT_EQ(c.r.BC.W, 0);
}

TEST(Z80Block, LdirRepeatsPerStepAndKeepsPvWhileRepeating) {
  for (uint8_t countCycles : {1, 0}) {
    Cpu c({0xED, 0xB0});
    c.r.CountCycles = countCycles;
    c.r.BC.W = 3;
    c.r.HL.W = 0x5000;
    c.r.DE.W = 0x6000;
    c.r.FlagPV = 0;
    c.bus->Load(0x5000, {1, 2, 3});
    int steps = 0;
    uint32_t nops = 0;
    while (c.r.PC == kCode && steps < 10) {
      c.Step();
      ++steps;
      nops += c.r.NopCounter;
      if (c.r.BC.W != 0) {
        EXPECT_EQ(c.r.FlagPV, 0);
      }
    }
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(nops, countCycles ? 6u + 6 + 5 : 3u);
    EXPECT_EQ(c.bus->Memory[0x6002], 3);
    EXPECT_EQ(c.r.R, 6);
  }
}

TEST(Z80Block, CpirStopsOnTheMatch) {
  Cpu c({0xED, 0xB1});
  c.r.AF.B.H = 2;
  c.r.BC.W = 5;
  c.r.HL.W = 0x5000;
  c.bus->Load(0x5000, {1, 2, 3});
  c.Step();
  EXPECT_EQ(c.r.PC, kCode);
  EXPECT_EQ(c.r.NopCounter, 6u);
  EXPECT_EQ(c.r.ShortAckFlag, 1);
  EXPECT_EQ(c.r.FlagZ, 0);
  EXPECT_EQ(c.r.FlagPV, 1);
  c.Step();
  EXPECT_EQ(c.r.PC, kCode + 2);
  EXPECT_EQ(c.r.NopCounter, 5u);
  EXPECT_EQ(c.r.ShortAckFlag, 0);
  EXPECT_EQ(c.r.FlagZ, 1);
  EXPECT_EQ(c.r.FlagPV, 1);  // BC = 3 left
  EXPECT_EQ(c.r.FlagN, 1);
  EXPECT_EQ(c.r.HL.W, 0x5002);
}

TEST(Z80Block, OtirSendsToThePortWithBAlreadyDecremented) {
  Cpu c({0xED, 0xB3});
  c.r.BC.W = 0x0210;
  c.r.HL.W = 0x50F0;
  c.bus->Load(0x50F0, {0xAA, 0xBB});
  c.Step();
  EXPECT_EQ(c.r.NopCounter, 6u);
  EXPECT_EQ(c.r.PC, kCode);
  c.Step();
  EXPECT_EQ(c.r.NopCounter, 5u);
  EXPECT_EQ(c.r.PC, kCode + 2);
  const std::vector<PortWrite> expected = {{0x0110, 0xAA}, {0x0010, 0xBB}};
  EXPECT_EQ(c.bus->PortWrites, expected);
  EXPECT_EQ(c.r.FlagZ, 1);
  EXPECT_EQ(c.r.FlagN, 1);  // bit 7 of &BB
  // k = &BB + L (&F2) passes 255; PV = parity((k & 7) ^ B) = parity(5).
  EXPECT_EQ(c.r.FlagC, 1);
  EXPECT_EQ(c.r.FlagH, 1);
  EXPECT_EQ(c.r.FlagPV, 1);
}

TEST(Z80IndexedBit, RotateCopiesIntoTheRegisterNamedByTheLowBits) {
  for (uint8_t sub : {0x00, 0x06}) {
    Cpu c({0xDD, 0xCB, 0x05, sub});
    c.r.IX.W = 0x3000;
    c.bus->Memory[0x3005] = 0x81;
    const Z80Registers before = c.r;
    c.Step();
    EXPECT_EQ(c.bus->Memory[0x3005], 0x03);
    EXPECT_EQ(c.r.BC.B.H, sub == 0 ? 0x03 : before.BC.B.H);
    EXPECT_EQ(c.r.BC.B.L, before.BC.B.L);
    EXPECT_EQ(c.r.AF.B.H, before.AF.B.H);
    EXPECT_EQ(c.r.DE.W, before.DE.W);
    EXPECT_EQ(c.r.HL.W, before.HL.W);
    EXPECT_EQ(c.r.IX.W, before.IX.W);
    EXPECT_EQ(c.r.SP, before.SP);
    EXPECT_EQ(c.r.PC, kCode + 4);
    EXPECT_EQ(c.r.NopCounter, 7u);
    EXPECT_EQ(c.F(), 0x01 | 0x04);  // C out of bit 7, &03 has even parity
  }
}

TEST(Z80IndexedBit, BitTakesYAndXFromTheAddressHighByte) {
  Cpu c({0xFD, 0xCB, 0x10, 0x7E});
  c.r.IY.W = 0x23E0;  // + &10 = &23F0
  c.bus->Memory[0x23F0] = 0x80;
  c.Step();
  EXPECT_EQ(c.r.FlagY, 1);
  EXPECT_EQ(c.r.FlagX, 0);
  EXPECT_EQ(c.r.FlagS, 1);
  EXPECT_EQ(c.r.FlagZ, 0);
  EXPECT_EQ(c.r.NopCounter, 6u);
}

}  // namespace
