// NOP lengths, shortened-acknowledge marks and R increments for every opcode
// of every table, run through the executor one opcode at a time.
#include <gtest/gtest.h>

#include <string>

#include "core/z80_timing_tables.h"
#include "core/z80_test_bus.h"

namespace {

constexpr uint16_t kCode = 0x4000;

struct Outcome {
  uint32_t nops;
  uint8_t shortAck;
  int rSteps;  // R increments, modulo 128
  uint16_t pc;
  uint8_t delay;
};

// Runs bytes at kCode with every flag set to flagValue, operands and memory
// zero, and HL/DE/IX/IY/SP pointing at harmless RAM.
template <class Setup>
Outcome RunBytes(std::initializer_list<uint8_t> bytes, uint8_t flagValue, Setup setup) {
  TestBus bus;
  bus.Load(kCode, bytes);
  Z80Registers r = FreshCpu();
  r.PC = kCode;
  r.AF.W = flagValue ? 0x01FF : 0x0100;
  UnpackFlags(r);
  r.BC.W = 0x0001;
  r.DE.W = 0x9000;
  r.HL.W = 0xA000;
  r.IX.W = r.IY.W = 0xB000;
  r.R = 0x10;
  setup(r);
  ExecuteInstruction(r, bus);
  return {r.NopCounter, r.ShortAckFlag, (r.R - 0x10) & 0x7F, r.PC, r.InterruptEnableDelay};
}

Outcome RunBytes(std::initializer_list<uint8_t> bytes, uint8_t flagValue) {
  return RunBytes(bytes, flagValue, [](Z80Registers&) {});
}

// For a conditional opcode: is the branch taken when every flag is flagValue?
bool Taken(unsigned op, uint8_t flagValue) {
  const unsigned cc = (op >> 3) & 7;
  if (op == 0x10) return flagValue == 0;  // DJNZ; B set up below
  // NZ NC PO P hold with every flag clear, Z C PE M with every flag set.
  return (cc & 1) == flagValue;
}

std::string Hex(unsigned v) {
  char s[8];
  std::snprintf(s, sizeof s, "%02X", v);
  return s;
}

}  // namespace

TEST(Z80Timing, UnprefixedOpcodes) {
  for (unsigned op = 0; op < 256; ++op) {
    const TimingCell cell = ParseTimingCell(kUnprefixedTimes, op);
    if (cell.first == 0) continue;  // a prefix, tested with its family
    for (uint8_t flags = 0; flags < 2; ++flags) {
      const Outcome o = RunBytes({uint8_t(op)}, flags, [&](Z80Registers& r) {
        if (op == 0x10) r.BC.B.H = flags ? 1 : 2;
      });
      const bool taken = cell.text.find('/') == std::string::npos || Taken(op, flags);
      SCOPED_TRACE("opcode " + Hex(op) + " flags " + std::to_string(flags) + " cell " + cell.text);
      EXPECT_EQ(o.nops, uint32_t(taken ? cell.first : cell.second));
      EXPECT_EQ(o.shortAck, (taken ? cell.firstShort : cell.secondShort) ? 1 : 0);
      EXPECT_EQ(o.rSteps, 1);
      EXPECT_EQ(o.delay, (op == 0xF3 || op == 0xFB) ? 0 : 1);
    }
  }
}

TEST(Z80Timing, CbOpcodes) {
  for (unsigned op = 0; op < 256; ++op) {
    const bool memory = (op & 7) == 6;
    const uint32_t expected = !memory ? 2 : (op >> 6) == 1 ? 3 : 4;
    const Outcome o = RunBytes({0xCB, uint8_t(op)}, 0);
    SCOPED_TRACE("CB " + Hex(op));
    EXPECT_EQ(o.nops, expected);
    EXPECT_EQ(o.rSteps, 2);
    EXPECT_EQ(o.pc, kCode + 2);
  }
}

TEST(Z80Timing, EdOpcodes) {
  for (unsigned op = 0; op < 256; ++op) {
    const TimingCell cell = ParseTimingCell(kEdTimes, op);
    const bool block = (op & 0xF4) == 0xB0;
    const bool countsB = (op & 2) != 0;  // INIR/INDR/OTIR/OTDR count in B
    for (int repeat = 0; repeat < 2; ++repeat) {
      if (repeat && !block) continue;
      const Outcome o = RunBytes({0xED, uint8_t(op)}, 0, [&](Z80Registers& r) {
        r.AF.B.H = 0x55;  // never equal to the zero bytes CPIR compares
        if (countsB) r.BC.W = repeat ? 0x0210 : 0x0110;
        else r.BC.W = repeat ? 2 : 1;
      });
      SCOPED_TRACE("ED " + Hex(op) + (repeat ? " repeating" : "") + " cell " + cell.text);
      EXPECT_EQ(o.nops, uint32_t(repeat ? cell.first : cell.second));
      EXPECT_EQ(o.shortAck, (repeat ? cell.firstShort : cell.secondShort) ? 1 : 0);
      if (op != 0x4F) {  // LD R,A overwrites R
        EXPECT_EQ(o.rSteps, 2);
      }
      if (block) {
        EXPECT_EQ(o.pc, repeat ? kCode : kCode + 2);
      }
    }
  }
}

TEST(Z80Timing, IndexOpcodes) {
  for (uint8_t prefix : {0xDD, 0xFD}) {
    for (unsigned op = 0; op < 256; ++op) {
      const TimingCell cell = ParseTimingCell(kIndexTimes, op);
      SCOPED_TRACE(Hex(prefix) + " " + Hex(op) + " cell " + cell.text);
      if (cell.text == "CB") {
        for (unsigned sub = 0; sub < 256; ++sub) {
          const Outcome o = RunBytes({prefix, 0xCB, 0x05, uint8_t(sub)}, 0);
          EXPECT_EQ(o.nops, (sub >> 6) == 1 ? 6u : 7u) << "sub-opcode " << Hex(sub);
          EXPECT_EQ(o.rSteps, 2);
          EXPECT_EQ(o.pc, kCode + 4);
        }
      } else if (cell.text == "-") {
        const Outcome o = RunBytes({prefix, uint8_t(op)}, 0);
        EXPECT_EQ(o.nops, 1u);
        EXPECT_EQ(o.rSteps, 1);
        EXPECT_EQ(o.pc, kCode + 1);
        EXPECT_EQ(o.delay, 0);
      } else {
        const Outcome o = RunBytes({prefix, uint8_t(op)}, 0);
        EXPECT_EQ(o.nops, uint32_t(cell.first));
        EXPECT_EQ(o.shortAck, cell.firstShort ? 1 : 0);
        EXPECT_EQ(o.rSteps, 2);
        EXPECT_EQ(o.delay, 1);
      }
    }
  }
}

TEST(Z80Timing, HaltRepeatsOneNopAtATime) {
  TestBus bus;
  bus.Load(kCode, {0x76});
  Z80Registers r = FreshCpu();
  r.PC = kCode;
  r.R = 0x7E;
  for (int i = 0; i < 3; ++i) {
    ExecuteInstruction(r, bus);
    EXPECT_EQ(r.PC, kCode);
    EXPECT_EQ(r.NopCounter, 1u);
    EXPECT_EQ(r.Halted, 1);
  }
  EXPECT_EQ(r.R, 0x01);  // 7E -> 7F -> 00 -> 01, bit 7 kept clear
}

TEST(Z80Timing, WithoutCyclesEverythingTakesOneNop) {
  for (auto bytes : {std::initializer_list<uint8_t>{0xCD, 0x00, 0x80}, {0xED, 0xB0}, {0xDD, 0xE3},
                     {0xFD, 0xCB, 0x00, 0x46}}) {
    TestBus bus;
    bus.Load(kCode, bytes);
    Z80Registers r = FreshCpu();
    r.CountCycles = 0;
    r.PC = kCode;
    r.BC.W = 5;
    ExecuteInstruction(r, bus);
    EXPECT_EQ(r.NopCounter, 1u) << "first byte " << Hex(*bytes.begin());
  }
}
