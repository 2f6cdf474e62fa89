// Z80 executor speed: Z80 instructions per second (items/s) through the CP/M
// shim's flat memory; RunCpm uses the threaded run loop, the SingleSteps
// case the one-call-per-instruction path of the machine's loop.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/cpm_shim.h"

namespace {

constexpr uint64_t kSlice = 10'000'000;

void RunSlices(benchmark::State& state, CpmMachine& m, const std::vector<uint8_t>* reload) {
  std::ostringstream sink;
  uint64_t total = 0;
  for (auto _ : state) {
    const uint64_t before = m.Instructions;
    if (RunCpm(m, sink, kSlice) && reload) {
      LoadCpmImage(m, *reload);
      sink.str({});
    }
    total += m.Instructions - before;
  }
  state.SetItemsProcessed(int64_t(total));
}

// A fixed endless loop of loads, ALU, rotates, a CB and an index op, a branch.
const std::vector<uint8_t> kMixProgram = {
    0x21, 0x00, 0x80,        // LD HL,&8000
    0x0E, 0x00,              // LD C,0
    0x7E,                    // loop: LD A,(HL)
    0xAB,                    // XOR E
    0x5F,                    // LD E,A
    0x23,                    // INC HL
    0x80,                    // ADD A,B
    0x1F,                    // RRA
    0x47,                    // LD B,A
    0xCB, 0x13,              // RL E
    0xDD, 0x77, 0x00,        // LD (IX+0),A
    0x0D,                    // DEC C
    0x20, 0xF1,              // JR NZ,loop
    0xC3, 0x00, 0x01,        // JP &0100
};

// ZEXDOC from its start: mostly the exerciser's CRC and operand-stepping code.
void BM_Zexdoc(benchmark::State& state) {
  const char* env = std::getenv("PELLUCIDORE_SHARED_DIR");
  const std::filesystem::path file =
      std::filesystem::path(env ? env : PELLUCIDORE_SHARED_DIR) / "testdata/z80/zexdoc.com";
  auto m = std::make_unique<CpmMachine>();
  std::string error;
  if (!LoadCpmFile(*m, file.string(), error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<uint8_t> image(m->Bus.Memory.begin() + kCpmLoadAddress, m->Bus.Memory.end());
  RunSlices(state, *m, &image);
}
BENCHMARK(BM_Zexdoc)->Unit(benchmark::kMillisecond);

void BM_InstructionMix(benchmark::State& state) {
  auto m = std::make_unique<CpmMachine>();
  LoadCpmImage(*m, kMixProgram);
  m->Cpu.IX.W = 0xC000;
  RunSlices(state, *m, nullptr);
}
BENCHMARK(BM_InstructionMix)->Unit(benchmark::kMillisecond);

// The same loop, one ExecuteInstruction call per instruction.
void BM_InstructionMixSingleSteps(benchmark::State& state) {
  auto m = std::make_unique<CpmMachine>();
  LoadCpmImage(*m, kMixProgram);
  m->Cpu.IX.W = 0xC000;
  uint64_t total = 0;
  for (auto _ : state) {
    for (uint64_t i = 0; i < kSlice; ++i) ExecuteInstruction(m->Cpu, m->Bus);
    total += kSlice;
  }
  state.SetItemsProcessed(int64_t(total));
}
BENCHMARK(BM_InstructionMixSingleSteps)->Unit(benchmark::kMillisecond);

}  // namespace
