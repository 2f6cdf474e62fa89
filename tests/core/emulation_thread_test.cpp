#include "core/emulation_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/machine.h"

namespace {

using namespace std::chrono_literals;

std::unique_ptr<Machine> EmptyMachine() {
  MachineConfig config;
  config.RomDir = "/nonexistent";  // no ROMs: the CPU runs zero bytes (NOPs)
  return CreateMachine(config);
}

class CountingHooks : public PeriodHooks {
 public:
  void PublishFrame(Machine&) override { ++published; }
  std::atomic<int> published{0};
};

bool WaitFor(const std::function<bool()>& condition) {
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(EmulationThread, SuspendParksBetweenPeriods) {
  auto m = EmptyMachine();
  CountingHooks hooks;
  EmulationThread thread(*m, hooks);
  thread.SetThrottle(false);
  thread.Start();
  ASSERT_TRUE(WaitFor([&] { return thread.Periods() > 3; }));

  for (int i = 0; i < 200; ++i) {
    thread.SuspendEmulation();
    // Parked: nothing moves while the main thread owns the machine.
    const uint64_t periods = thread.Periods();
    const uint32_t micro = m->MicrosecondCounter.load();
    m->Memory.BaseRam[0x100] = static_cast<uint8_t>(i);
    EXPECT_EQ(thread.Periods(), periods);
    EXPECT_EQ(m->MicrosecondCounter.load(), micro);
    EXPECT_EQ(micro % 20000, 0u) << "suspended inside a period";
    thread.ResumeEmulation();
  }
  const uint64_t before = thread.Periods();
  ASSERT_TRUE(WaitFor([&] { return thread.Periods() > before + 2; })) << "thread did not resume";
  thread.Stop();
  EXPECT_FALSE(thread.Running());
  EXPECT_EQ(hooks.published.load(), static_cast<int>(thread.Periods()));
}

TEST(EmulationThread, StateChangedWhileSuspendedIsSeenAfterResume) {
  auto m = EmptyMachine();
  CountingHooks hooks;
  EmulationThread thread(*m, hooks);
  thread.SetThrottle(false);
  thread.Start();
  thread.SuspendEmulation();
  // A machine frozen at speed 0 keeps presenting but runs no instruction.
  m->MicrosecondsPerTick = 0;
  m->Z80.PC = 0x1234;
  thread.ResumeEmulation();
  const uint64_t start = thread.Periods();
  ASSERT_TRUE(WaitFor([&] { return thread.Periods() > start + 5; }));
  thread.SuspendEmulation();
  EXPECT_EQ(m->Z80.PC, 0x1234);
  m->MicrosecondsPerTick = 20000;
  thread.ResumeEmulation();
  ASSERT_TRUE(WaitFor([&] {
    thread.SuspendEmulation();
    bool moved = m->Z80.PC != 0x1234;
    thread.ResumeEmulation();
    return moved;
  }));
  thread.Stop();
}

TEST(EmulationThread, NestedSuspendAndStopWhileSuspended) {
  auto m = EmptyMachine();
  CountingHooks hooks;
  EmulationThread thread(*m, hooks);
  thread.Start();  // throttled: 20 ms periods
  thread.SuspendEmulation();
  thread.SuspendEmulation();
  thread.ResumeEmulation();
  const uint64_t periods = thread.Periods();
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(thread.Periods(), periods) << "one resume of two suspends must not release the thread";
  thread.Stop();  // must not deadlock on a parked thread
  EXPECT_FALSE(thread.Running());
}

TEST(EmulationThread, ThrottledPeriodsKeepTime) {
  auto m = EmptyMachine();
  CountingHooks hooks;
  EmulationThread thread(*m, hooks);
  thread.Start();
  std::this_thread::sleep_for(300ms);
  thread.Stop();
  // 15 periods at 20 ms; generous bounds, as a loaded machine may lag.
  EXPECT_GE(thread.Periods(), 5u);
  EXPECT_LE(thread.Periods(), 17u);
}

}  // namespace
