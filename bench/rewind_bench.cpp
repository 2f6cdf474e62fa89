// What rewind costs the whole machine: a 6128 at Ready and one running a
// BASIC PRINT loop (screen and memory changing all the time), each
// iteration one emulated second, with the ring off and on. The difference
// of the two is the capture, once a second.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "core/machine.h"
#include "frontend/autotype.h"
#include "frontend/rewind.h"

namespace {

std::unique_ptr<Machine> Firmware6128(benchmark::State& state, const char* program) {
  const std::filesystem::path roms = std::filesystem::path(PELLUCIDORE_SHARED_DIR) / "roms";
  if (!std::filesystem::exists(roms / "6128Low.ROM")) {
    state.SkipWithError("CPC ROMs not found");
    return nullptr;
  }
  auto m = CreateMachine({.RomDir = roms});
  for (int i = 0; i < 100; ++i) EmulateTick(*m);  // past the start-up
  if (program) {
    AutoTypeState typing;
    StartAutoType(typing, AutoTypeTextFromLines(program));
    while (AutoTypeStep(typing, m->Keyboard))
      for (int i = 0; i < 3; ++i) EmulateTick(*m);
  }
  return m;
}

void RunSeconds(benchmark::State& state, const char* program) {
  auto m = Firmware6128(state, program);
  if (!m) return;
  RewindRing ring;
  ring.SetEnabled(state.range(0) != 0);
  uint64_t us = 0;
  for (auto _ : state) {
    for (int p = 0; p < kRewindPeriodsPerSecond; ++p) {
      EmulateTick(*m);
      ring.PeriodEnd(*m);
      us += m->MicrosecondsPerTick;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(us));
  state.counters["x_real_time"] = benchmark::Counter(static_cast<double>(us) / 1e6, benchmark::Counter::kIsRate);
  state.counters["kept_bytes"] = static_cast<double>(ring.MemoryUsed());
  state.counters["kept_seconds"] = static_cast<double>(ring.Count());
}

void BM_RewindIdle(benchmark::State& state) { RunSeconds(state, nullptr); }
BENCHMARK(BM_RewindIdle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_RewindPrintLoop(benchmark::State& state) { RunSeconds(state, "10 PRINT I;:I=I+1:GOTO 10\nRUN\n"); }
BENCHMARK(BM_RewindPrintLoop)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// One capture alone, on a machine that has run a second since the last: the
// figure to weigh against the CPU time of an emulated second above.
void BM_RewindCapture(benchmark::State& state) {
  auto m = Firmware6128(state, "10 PRINT I;:I=I+1:GOTO 10\nRUN\n");
  if (!m) return;
  RewindRing ring;
  for (int s = 0; s < 8; ++s) {
    for (int p = 0; p < kRewindPeriodsPerSecond; ++p) EmulateTick(*m);
    ring.Capture(*m);
  }
  for (auto _ : state) {
    ++m->Memory.BaseRam[0x4000];
    ring.Capture(*m);
  }
  state.counters["kept_bytes"] = static_cast<double>(ring.MemoryUsed());
}
BENCHMARK(BM_RewindCapture)->Unit(benchmark::kMicrosecond);

}  // namespace
