// The PSG's cost per emulated second: one 20 ms batch per iteration, the
// chip run through it and its buffer completed, as EmulateTick does.
// "psg_seconds_per_emulated_second" is the wall time one second of sound
// costs.
#include <benchmark/benchmark.h>

#include <utility>
#include <vector>

#include "core/machine.h"

namespace {

using Writes = std::vector<std::pair<uint8_t, uint8_t>>;

void RunBatches(benchmark::State& state, const Writes& writes) {
  auto m = CreateMachine(MachineConfig{.RomDir = "/nonexistent"});
  PsgSetOutputFormat(m->Psg, 44100, 2, 16);
  for (const auto& [reg, value] : writes) PsgWriteRegister(m->Psg, reg, value);
  uint64_t batches = 0;
  for (auto _ : state) {
    PsgBeginBatch(m->Psg, 20000);
    PsgEndBatch(m->Psg);
    ++batches;
  }
  benchmark::DoNotOptimize(m->Psg.Buffers[0][0]);
  state.counters["psg_seconds_per_emulated_second"] = benchmark::Counter(
      static_cast<double>(batches) * 0.02, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// What the firmware leaves between sounds: periods 0, all channels quiet.
void BM_PsgSilent(benchmark::State& state) { RunBatches(state, {{7, 0x3F}}); }
BENCHMARK(BM_PsgSilent);

// Three tones, noise on one channel and a triangle envelope on another.
void BM_PsgMusic(benchmark::State& state) {
  RunBatches(state, {{0, 142}, {2, 71}, {4, 0x1C}, {5, 1}, {6, 5}, {7, 0x30}, {8, 15}, {9, 0x10}, {10, 9},
                     {11, 40}, {13, 14}});
}
BENCHMARK(BM_PsgMusic);

// The worst case: the shortest periods everywhere, every generator audible.
void BM_PsgBusiest(benchmark::State& state) {
  RunBatches(state, {{0, 1}, {2, 1}, {4, 1}, {6, 1}, {7, 0}, {8, 0x10}, {9, 15}, {10, 15}, {11, 0}, {13, 8}});
}
BENCHMARK(BM_PsgBusiest);

}  // namespace
