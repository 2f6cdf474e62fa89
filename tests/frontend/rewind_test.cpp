#include "frontend/rewind.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cli_support.h"
#include "core/machine.h"
#include "devices/renderer.h"
#include "frontend/autotype.h"
#include "storage/snapshot.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FrameOf(const Machine& m) {
  const uint8_t* f = &m.Video.FrameBitmap[0][0];
  return Bytes(f, f + size_t{kFrameWidth} * kFrameHeight);
}

TEST(RewindDelta, RoundTripsAndStaysSmall) {
  Bytes big(100000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  Bytes scattered = big;
  for (size_t i = 3; i < scattered.size(); i += 4099) scattered[i] ^= 0x5A;
  Bytes tail = big;
  tail.back() ^= 1;
  struct Case {
    const char* name;
    Bytes from, to;
    size_t maxDelta;
  } cases[] = {
      {"equal", big, big, 8},
      {"scattered bytes", scattered, big, 25 * 16},
      {"last byte", tail, big, 16},
      {"older is longer", Bytes(big.begin(), big.end()), Bytes(big.begin(), big.begin() + 5000), big.size()},
      {"older is shorter", Bytes(big.begin(), big.begin() + 5000), big, big.size()},
      {"from empty", {}, big, big.size() + 16},
      {"to empty", Bytes{1, 2, 3}, {}, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes delta = MakeXorDelta(c.from, c.to);
    EXPECT_LE(delta.size(), c.maxDelta);
    Bytes rebuilt = c.to;
    ASSERT_TRUE(ApplyXorDelta(rebuilt, delta));
    EXPECT_EQ(rebuilt, c.from);
  }
}

TEST(RewindDelta, MalformedDeltaIsRefusedAndChangesNothing) {
  const Bytes from(64, 1), to(64, 2);
  const Bytes good = MakeXorDelta(from, to);
  Bytes truncated(good.begin(), good.end() - 1);
  const Bytes pastEnd = {64, 60, 10, 0xFF};                    // a run beyond the 64 bytes
  const Bytes hugeSize = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};  // a size no state has
  const Bytes unterminated = {0x80, 0x80};
  for (const Bytes& bad : {truncated, pastEnd, hugeSize, unterminated}) {
    Bytes target = to;
    EXPECT_FALSE(ApplyXorDelta(target, bad));
    EXPECT_EQ(target, to);
  }
}

// A bare machine whose RAM we change between captures.
struct RingFixture : testing::Test {
  std::unique_ptr<Machine> m = CreateMachine({.RomDir = "/nonexistent-rom-dir"});
  void CaptureSeconds(RewindRing& ring, int seconds) {
    for (int s = 0; s < seconds; ++s) {
      m->Memory.BaseRam[0x100 + counter] = static_cast<uint8_t>(counter + 1);
      // And 4 KB more, so each second's delta has a size worth budgeting.
      std::memset(m->Memory.BaseRam + 0x4000 + (counter % 8) * 0x1000, counter + 1, 0x1000);
      ++counter;
      for (int p = 0; p < kRewindPeriodsPerSecond; ++p) ring.PeriodEnd(*m);
    }
  }
  int counter = 0;
};

TEST_F(RingFixture, KeepsTheLastSecondsWithinBudget) {
  RewindRing one;  // the size of one state, whole
  CaptureSeconds(one, 1);
  RewindRing ring;
  CaptureSeconds(ring, 40);
  EXPECT_EQ(ring.Count(), size_t{kRewindSeconds});
  EXPECT_LE(ring.MemoryUsed(), ring.Budget());

  // A budget for the newest state and a few deltas keeps only those.
  const size_t small = one.MemoryUsed() + 10 * 0x1000;
  ring.SetBudget(small);
  EXPECT_LT(ring.Count(), 12u);
  EXPECT_GT(ring.Count(), 5u);
  EXPECT_LE(ring.MemoryUsed(), small);
  CaptureSeconds(ring, 5);
  EXPECT_LE(ring.MemoryUsed(), small);

  // The oldest state kept is the one that many seconds back.
  const size_t kept = ring.Count();
  for (size_t i = 1; i < kept; ++i) ASSERT_TRUE(ring.StepBack(*m));
  EXPECT_FALSE(ring.StepBack(*m)) << "nothing older is kept";
  EXPECT_EQ(m->Memory.BaseRam[0x100 + counter - kept], counter - kept + 1);
  EXPECT_NE(m->Memory.BaseRam[0x100 + counter - kept + 1], counter - kept + 2);
}

TEST_F(RingFixture, OffCapturesNothingAndStepBackNeedsTwoStates) {
  RewindRing ring;
  ring.SetEnabled(false);
  CaptureSeconds(ring, 3);
  EXPECT_EQ(ring.Count(), 0u);
  EXPECT_EQ(ring.MemoryUsed(), 0u);
  EXPECT_TRUE(ring.Frame().empty());

  ring.SetEnabled(true);
  CaptureSeconds(ring, 1);
  const uint16_t pc = m->Z80.PC = 0x1234;
  EXPECT_FALSE(ring.StepBack(*m));
  EXPECT_EQ(m->Z80.PC, pc);
  // Less than a second of periods keeps nothing new.
  for (int p = 0; p < kRewindPeriodsPerSecond - 1; ++p) ring.PeriodEnd(*m);
  EXPECT_EQ(ring.Count(), 1u);
}

// The 6128 running a BASIC program that changes memory, the screen and the
// sound every second: ten seconds with the ring capturing, five steps back,
// and the machine is the one of second five.
TEST(Rewind, FiveSecondsBackIsTheStateOfThatMoment) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  auto m = CreateMachine({.RomDir = RomDir()});
  for (int i = 0; i < 75; ++i) EmulateTick(*m);
  AutoTypeState typing;
  ASSERT_TRUE(StartAutoType(typing, AutoTypeTextFromLines("10 MODE 1:T=0\n"
                                                           "20 T=T+1:PRINT T;:POKE &5000+T,T:BORDER T AND 15\n"
                                                           "30 SOUND 1,100+T,20,7:INK 1,T AND 15\n"
                                                           "40 F=TIME:WHILE TIME<F+300:WEND:GOTO 20\n"
                                                           "RUN\n")));
  while (AutoTypeStep(typing, m->Keyboard))
    for (int i = 0; i < 3; ++i) EmulateTick(*m);
  for (int i = 0; i < 10; ++i) EmulateTick(*m);

  RewindRing ring;
  Bytes state[11], frame[11], baseRam5, nextFrame5;
  Z80Registers z80At5{};
  for (int period = 1; period <= 10 * kRewindPeriodsPerSecond; ++period) {
    EmulateTick(*m);
    ring.PeriodEnd(*m);
    if (period == 5 * kRewindPeriodsPerSecond + 1) nextFrame5 = FrameOf(*m);
    if (period % kRewindPeriodsPerSecond) continue;
    const int second = period / kRewindPeriodsPerSecond;
    state[second] = EncodeSnapshot(*m, 3, false);
    frame[second] = FrameOf(*m);
    if (second == 5) {
      baseRam5.assign(m->Memory.BaseRam, m->Memory.BaseRam + sizeof m->Memory.BaseRam);
      z80At5 = m->Z80;
    }
  }
  ASSERT_EQ(ring.Count(), 10u);
  ASSERT_NE(state[5], state[10]) << "the program should change the machine";
  ASSERT_NE(frame[5], frame[10]) << "the program should change the picture";
  EXPECT_NE(m->Memory.BaseRam[0x5000 + 8], 0) << "the program should be poking";

  MatrixPress(m->Keyboard, 8, 2);  // held by the user while rewinding
  const Bytes keys(reinterpret_cast<const uint8_t*>(&m->Keyboard),
                   reinterpret_cast<const uint8_t*>(&m->Keyboard) + sizeof m->Keyboard);
  for (int step = 0; step < 5; ++step) ASSERT_TRUE(ring.StepBack(*m)) << "step " << step;
  EXPECT_EQ(ring.Count(), 5u);

  EXPECT_EQ(EncodeSnapshot(*m, 3, false), state[5]) << "registers, devices or memory differ";
  EXPECT_EQ(0, std::memcmp(m->Memory.BaseRam, baseRam5.data(), baseRam5.size()));
  EXPECT_EQ(m->Z80.PC, z80At5.PC);
  EXPECT_EQ(m->Z80.SP, z80At5.SP);
  EXPECT_EQ(m->Z80.AF.W >> 8, z80At5.AF.W >> 8);
  EXPECT_EQ(m->Z80.FlagZ, z80At5.FlagZ);
  EXPECT_EQ(m->Z80.FlagC, z80At5.FlagC);
  EXPECT_EQ(m->Z80.HL.W, z80At5.HL.W);
  EXPECT_EQ(m->Z80.IX.W, z80At5.IX.W);
  EXPECT_EQ(m->Z80.R, z80At5.R);
  EXPECT_EQ(0, std::memcmp(&m->Keyboard, keys.data(), keys.size())) << "the keys held now were replaced";
  MatrixRelease(m->Keyboard, 8, 2);

  const std::span<const uint8_t> shown = ring.Frame();
  EXPECT_TRUE(std::equal(shown.begin(), shown.end(), frame[5].begin(), frame[5].end()))
      << "the picture shown is not the one of second five";
  EmulateTick(*m);
  ring.PeriodEnd(*m);
  EXPECT_EQ(FrameOf(*m), nextFrame5) << "the next frame differs from the one rendered then";

  // Run on to second ten: the same machine as the first time.
  for (int period = 2; period <= 5 * kRewindPeriodsPerSecond; ++period) {
    EmulateTick(*m);
    ring.PeriodEnd(*m);
  }
  EXPECT_EQ(EncodeSnapshot(*m, 3, false), state[10]);
  EXPECT_EQ(FrameOf(*m), frame[10]);
  EXPECT_EQ(ring.Count(), 10u);
}

}  // namespace
