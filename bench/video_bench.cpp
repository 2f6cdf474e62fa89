// The video devices on the per-microsecond path: EmulateTick with the CRTC,
// gate array and renderer at work, and the two steps alone.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "core/machine.h"
#include "devices/crtc_step.h"
#include "devices/render_step.h"

namespace {

constexpr uint8_t kFirmwareCrtc[14] = {63, 40, 46, 0x8E, 38, 0, 25, 30, 0, 7, 0, 0, 0x30, 0x00};

// A machine showing a busy mode 1 screen; without ROMs the Z80 runs NOPs,
// so the time is the loop and the video devices.
std::unique_ptr<Machine> VideoMachine() {
  auto m = CreateMachine({.RomDir = "/nonexistent-rom-dir"});
  for (int r = 0; r < 14; ++r) {
    CrtcWrite(m->Crtc, 0xBC00, static_cast<uint8_t>(r));
    CrtcWrite(m->Crtc, 0xBD00, kFirmwareCrtc[r]);
  }
  GateArrayWrite(*m, 0x81);
  for (int pen = 0; pen < 4; ++pen) {
    GateArrayWrite(*m, static_cast<uint8_t>(pen));
    GateArrayWrite(*m, static_cast<uint8_t>(0x40 | (pen * 7 + 3)));
  }
  for (int a = 0xC000; a < 0x10000; ++a) m->Memory.BaseRam[a] = static_cast<uint8_t>(a * 37 >> 3);
  return m;
}

void ReportSpeed(benchmark::State& state, uint64_t microseconds) {
  state.SetItemsProcessed(static_cast<int64_t>(microseconds));
  // Emulated seconds per wall second.
  state.counters["x_real_time"] =
      benchmark::Counter(static_cast<double>(microseconds) / 1e6, benchmark::Counter::kIsRate);
}

void BM_EmulateTickVideo(benchmark::State& state) {
  auto m = VideoMachine();
  uint64_t us = 0;
  for (auto _ : state) {
    EmulateTick(*m);
    us += m->MicrosecondsPerTick;
  }
  benchmark::DoNotOptimize(m->Video.FrameBitmap[300][300]);
  ReportSpeed(state, us);
}
BENCHMARK(BM_EmulateTickVideo);

// The firmware from the shared ROM folder, when it is there.
void BM_EmulateTickFirmware(benchmark::State& state) {
  const std::filesystem::path roms = std::filesystem::path(PELLUCIDORE_SHARED_DIR) / "roms";
  if (!std::filesystem::exists(roms / "6128Low.ROM")) {
    state.SkipWithError("CPC ROMs not found");
    return;
  }
  auto m = CreateMachine({.RomDir = roms});
  for (int i = 0; i < 100; ++i) EmulateTick(*m);  // past the start-up
  uint64_t us = 0;
  for (auto _ : state) {
    EmulateTick(*m);
    us += m->MicrosecondsPerTick;
  }
  ReportSpeed(state, us);
}
BENCHMARK(BM_EmulateTickFirmware);

void BM_CrtcStep(benchmark::State& state) {
  auto m = VideoMachine();
  for (auto _ : state) {
    for (int i = 0; i < 20000; ++i) CrtcStep(*m);
    benchmark::DoNotOptimize(m->Crtc.VideoAddress);
  }
  ReportSpeed(state, state.iterations() * 20000);
}
BENCHMARK(BM_CrtcStep);

// Worst case: every step inside the picture.
void BM_RenderStepPicture(benchmark::State& state) {
  auto m = VideoMachine();
  m->Crtc.DISPEN = 1;
  m->BeamY = 300;
  for (auto _ : state) {
    for (int i = 0; i < 20000; ++i) {
      m->BeamX = 224 + (i & 31) * 16;
      m->Crtc.VideoAddress = static_cast<uint16_t>(0xC000 + (i & 0x7FF) * 2);
      RenderStep(*m);
    }
    benchmark::ClobberMemory();
  }
  ReportSpeed(state, state.iterations() * 20000);
}
BENCHMARK(BM_RenderStepPicture);

}  // namespace
