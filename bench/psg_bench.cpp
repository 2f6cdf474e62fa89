// The PSG's share of the frame loop: one sample with every generator busy.
#include <benchmark/benchmark.h>

#include "core/machine.h"

namespace {

void BM_PsgSampleStep(benchmark::State& state) {
  auto m = CreateMachine(MachineConfig{.RomDir = "/nonexistent"});
  PsgSetOutputFormat(m->Psg, 44100, 2, 16);
  const uint8_t regs[][2] = {{0, 100}, {2, 57}, {4, 13}, {6, 5}, {7, 0x30}, {8, 15}, {9, 0x10}, {10, 9},
                             {11, 40}, {13, 14}};
  for (const auto& r : regs) PsgWriteRegister(m->Psg, r[0], r[1]);
  for (auto _ : state) {
    PsgSampleStep(*m);
    benchmark::DoNotOptimize(m->Psg.SampleIndex);
  }
}
BENCHMARK(BM_PsgSampleStep);

}  // namespace
