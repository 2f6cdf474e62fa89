// The cost of breakpoints: the firmware's idle loop with none set and with
// ten execution breakpoints that never hit (the loop checks every
// instruction against them).
#include <benchmark/benchmark.h>

#include <filesystem>

#include "core/machine.h"

namespace {

void BM_FirmwareWithBreakpoints(benchmark::State& state) {
  const std::filesystem::path roms = std::filesystem::path(PELLUCIDORE_SHARED_DIR) / "roms";
  if (!std::filesystem::exists(roms / "6128Low.ROM")) {
    state.SkipWithError("CPC ROMs not found");
    return;
  }
  auto m = CreateMachine({.RomDir = roms});
  for (int i = 0; i < 100; ++i) EmulateTick(*m);  // past the start-up
  for (int i = 0; i < state.range(0); ++i) {
    Breakpoint bp;
    bp.First = bp.Last = static_cast<uint16_t>(0x8000 + i * 0x111);  // RAM the firmware never runs
    AddBreakpoint(m->Breaks, bp);
  }
  uint64_t us = 0;
  for (auto _ : state) {
    EmulateTick(*m);
    us += m->MicrosecondsPerTick;
  }
  if (m->Breaks.Stopped) state.SkipWithError("a breakpoint was hit");
  state.counters["x_real_time"] = benchmark::Counter(static_cast<double>(us) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FirmwareWithBreakpoints)->Arg(0)->Arg(10);

}  // namespace
