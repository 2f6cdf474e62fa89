// Shared set-up for the video device tests: a machine without ROMs (all
// zero, so the Z80 runs NOPs with interrupts off) and the firmware's CRTC
// settings.
#pragma once

#include <cstdint>
#include <memory>

#include "core/machine.h"
#include "devices/crtc_step.h"

namespace video_test {

constexpr int kLine = 64;               // microseconds per scan line
constexpr int kFrame = 312 * kLine;     // microseconds per frame

// R0..R13 as the firmware programs them: 64 us lines, 312 lines, a 40 x 25
// picture at &C000.
constexpr uint8_t kStandardCrtc[14] = {63, 40, 46, 0x8E, 38, 0, 25, 30, 0, 7, 0, 0, 0x30, 0x00};

inline void WriteCrtc(Machine& m, int reg, uint8_t value) {
  CrtcWrite(m.Crtc, 0xBC00, static_cast<uint8_t>(reg));
  CrtcWrite(m.Crtc, 0xBD00, value);
}

inline std::unique_ptr<Machine> MakeMachine(uint32_t crtcType = 0) {
  auto m = CreateMachine({.RomDir = "/nonexistent-rom-dir", .CrtcType = crtcType});
  for (int r = 0; r < 14; ++r) WriteCrtc(*m, r, kStandardCrtc[r]);
  m->MicrosecondsPerTick = 1;  // EmulateTick runs one step
  return m;
}

// One microsecond of the whole machine loop.
inline void Tick(Machine& m) { EmulateTick(m); }

inline void Ticks(Machine& m, int n) {
  m.MicrosecondsPerTick = n;
  EmulateTick(m);
  m.MicrosecondsPerTick = 1;
}

// Runs until VSYNC has just started (at most two frames).
inline bool RunToVsyncStart(Machine& m) {
  for (int i = 0; i < 2 * kFrame + 1; ++i) {
    const uint8_t before = m.Crtc.VSYNC;
    Tick(m);
    if (!before && m.Crtc.VSYNC) return true;
  }
  return false;
}

}  // namespace video_test
