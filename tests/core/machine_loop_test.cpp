#include <gtest/gtest.h>

#include <cstring>

#include "core/machine.h"

namespace {

// A machine with no ROMs, running code placed in RAM at &4000.
struct LoopFixture : testing::Test {
  void SetUp() override {
    MachineConfig config;
    config.RomDir = "/nonexistent";
    m = CreateMachine(config);
    m->Z80.PC = 0x4000;
    m->Z80.SP = 0xC000;
  }
  void Fill(uint8_t opcode, size_t count = 0x4000) { std::memset(m->Memory.BaseRam + 0x4000, opcode, count); }
  std::unique_ptr<Machine> m;
};

TEST_F(LoopFixture, StepsPerTickFollowSpeed) {
  struct Case {
    uint32_t steps;
    uint32_t multiplier;
    uint8_t opcode;
    uint16_t pcAdvance;  // one-byte instructions run
    uint16_t spDrop;
  } cases[] = {
      {20000, 1, 0x00, 20000, 0},           // 100 %: 20000 steps
      {10, 4, 0x00, 40, 0},                 // four 1-NOP instructions per step
      {10, 4, 0xC5, 10, 20},                // one 4-NOP PUSH BC per step
      {10, 1, 0xC5, 3, 6},                  // 10 steps: PUSHes at 1, 5, 9
      {0, 1, 0x00, 0, 0},                   // speed 0 runs nothing
  };
  for (const Case& c : cases) {
    SetUp();
    std::memset(m->Memory.BaseRam, c.opcode, sizeof m->Memory.BaseRam);
    m->Memory.LowerRomEnabled = 0;
    UpdateMemoryBanks(m->Memory);
    m->MicrosecondsPerTick = c.steps;
    m->Z80Multiplier = c.multiplier;
    const uint32_t micro = m->MicrosecondCounter;
    EmulateTick(*m);
    SCOPED_TRACE(testing::Message() << c.steps << " steps x" << c.multiplier << " opcode " << int(c.opcode));
    EXPECT_EQ(m->MicrosecondCounter - micro, c.steps);
    EXPECT_EQ(static_cast<uint16_t>(m->Z80.PC - 0x4000), c.pcAdvance);
    EXPECT_EQ(static_cast<uint16_t>(0xC000 - m->Z80.SP), c.spDrop);
  }
}

TEST_F(LoopFixture, HaltWithInterruptsOffRaisesROncePerMicrosecond) {
  Fill(0x76, 1);  // HALT; interrupts are off after reset
  m->MicrosecondsPerTick = 100;
  m->Z80.R = 0x80;
  EmulateTick(*m);
  EXPECT_EQ(m->Z80.PC, 0x4000);
  EXPECT_EQ(m->Z80.Halted, 1);
  EXPECT_EQ(m->Z80.R, 0x80 | 100);
}

}  // namespace
