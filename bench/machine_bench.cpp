// The whole machine as the window runs it: a 6128 with its firmware, the
// sound chip sampled and the frame and sound copied out every period (the
// runner's --benchmark load). "x_real_time" is emulated seconds per second
// of the thread's CPU time: the machine runs on this one thread, and CPU time
// holds still on a shared, busy computer where wall time does not.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "core/emulation_thread.h"
#include "core/machine.h"
#include "frontend/autotype.h"
#include "frontend/benchmark.h"

namespace {

constexpr int kPeriodsPerSecond = 50;

class WindowLoad : public PeriodHooks {
 public:
  explicit WindowLoad(Machine& m) { load_.Start(m, 44100, 2, 16); }
  void PublishFrame(Machine& m) override { load_.PublishFrame(m); }
  void SubmitSound(Machine& m) override { load_.SubmitSound(m); }

 private:
  BenchmarkLoad load_;
};

std::filesystem::path RomDir(benchmark::State& state) {
  const std::filesystem::path roms = std::filesystem::path(PELLUCIDORE_SHARED_DIR) / "roms";
  if (!std::filesystem::exists(roms / "6128Low.ROM")) {
    state.SkipWithError(("CPC firmware not found in " + roms.string() + ": whole-machine cases skipped").c_str());
    return {};
  }
  return roms;
}

void Report(benchmark::State& state, uint64_t periods) {
  state.counters["x_real_time"] =
      benchmark::Counter(static_cast<double>(periods) / kPeriodsPerSecond, benchmark::Counter::kIsRate);
}

// Power on, then 50 s at Ready: start-up included, as a user's session has it.
void BM_MachineBootIdle50s(benchmark::State& state) {
  const std::filesystem::path roms = RomDir(state);
  if (roms.empty()) return;
  uint64_t periods = 0;
  for (auto _ : state) {
    auto m = CreateMachine({.RomDir = roms});
    WindowLoad hooks(*m);
    for (int i = 0; i < 50 * kPeriodsPerSecond; ++i) RunPeriod(*m, hooks);
    periods += 50 * kPeriodsPerSecond;
    benchmark::DoNotOptimize(m->Video.FrameBitmap[100][100]);
  }
  Report(state, periods);
}
BENCHMARK(BM_MachineBootIdle50s)->Unit(benchmark::kMillisecond);

// BASIC printing without end: the screen scrolls and the firmware is busy
// all the time. One iteration is one emulated second; typing the program
// is left out of the timing.
void BM_MachinePrintLoop(benchmark::State& state) {
  const std::filesystem::path roms = RomDir(state);
  if (roms.empty()) return;
  auto m = CreateMachine({.RomDir = roms});
  WindowLoad hooks(*m);
  for (int i = 0; i < 2 * kPeriodsPerSecond; ++i) RunPeriod(*m, hooks);  // to Ready
  AutoTypeState typing;
  StartAutoType(typing, AutoTypeTextFromLines("10 PRINT \"HELLO \";:GOTO 10\nRUN\n"));
  while (AutoTypeStep(typing, m->Keyboard))
    for (int i = 0; i < 3; ++i) RunPeriod(*m, hooks);
  uint64_t periods = 0;
  for (auto _ : state) {
    for (int i = 0; i < kPeriodsPerSecond; ++i) RunPeriod(*m, hooks);
    periods += kPeriodsPerSecond;
  }
  benchmark::DoNotOptimize(m->Video.FrameBitmap[100][100]);
  Report(state, periods);
}
BENCHMARK(BM_MachinePrintLoop)->Unit(benchmark::kMillisecond);

}  // namespace
