#include "frontend/benchmark.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/machine.h"

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point programStart;

// Before every other static initialiser of the program.
__attribute__((constructor(101))) void NoteProgramStart() { programStart = Clock::now(); }

}  // namespace

void BenchmarkLoad::Start(Machine& m, uint32_t rate, uint32_t channels, uint32_t bits) {
  if (!m.Psg.SamplingEnabled) {
    PsgSetOutputFormat(m.Psg, rate, channels, bits);
    m.Psg.SamplingEnabled = 1;
  }
  frame_.resize(sizeof m.Video.FrameBitmap);
  sound_.resize(kMaxSoundBufferBytes);
}

void BenchmarkLoad::PublishFrame(const Machine& m) {
  std::memcpy(frame_.data(), &m.Video.FrameBitmap[0][0], frame_.size());
}

void BenchmarkLoad::SubmitSound(const Machine& m) {
  const PsgState& p = m.Psg;
  std::memcpy(sound_.data(), p.Buffers[PsgLastBuffer(p)], static_cast<size_t>(p.SamplesPerBuffer) * p.BlockAlign);
}

double SecondsSinceProgramStart() { return std::chrono::duration<double>(Clock::now() - programStart).count(); }

std::string BenchmarkReport(const BenchmarkFigures& f) {
  const long percent = f.WallSeconds > 0 ? std::lround(f.MachineSeconds / f.WallSeconds * 100.0) : 0;
  char text[256];
  std::snprintf(text, sizeof text,
                "start-up: %.1f ms\n"
                "periods: %ld, machine time: %.2f s, wall time: %.3f s\n"
                "emulated speed: %ld%% of real time\n",
                f.StartupSeconds * 1000.0, f.Periods, f.MachineSeconds, f.WallSeconds, percent);
  return text;
}
