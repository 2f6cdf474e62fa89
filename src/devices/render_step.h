// Per-microsecond picture work, inlined into the machine loop: RenderStep
// and the beam synchronisation that CrtcStep runs at the sync edges.
#pragma once

#include <cstring>

#include "core/machine.h"

// 16 pixels at column BeamX - 224 of rows BeamY - 48 and BeamY - 47. The
// loop calls it only while the beam is inside the visible window
// (224 <= BeamX < 992, BeamY >= 48).
inline void RenderStep(Machine& m) {
  const CrtcState& c = m.Crtc;
  VideoState& v = m.Video;
  constexpr uint64_t kSpread = 0x0101010101010101ULL;
  uint64_t left, right;
  if (c.DISPEN) {
    // The picture always comes from the base 64K, whatever the Z80 sees.
    // VideoAddress is even, so the pair never wraps.
    const uint8_t* screen = m.Memory.BaseRam + c.VideoAddress;
    std::memcpy(&left, v.ByteExpansionTable[screen[0]], 8);
    std::memcpy(&right, v.ByteExpansionTable[screen[1]], 8);
  } else {
    const uint8_t border = static_cast<uint8_t>(m.GateArray.BorderColour + (v.Monitor == kMonitorGreen ? kGreenOffset : 0));
    left = right = kSpread * ((c.HSYNC | c.VSYNC) ? kBlackColour : border);
  }
  uint8_t* lower = &v.FrameBitmap[m.BeamY - 47][m.BeamX - 224];
  std::memcpy(lower, &left, 8);
  std::memcpy(lower + 8, &right, 8);
  // Single scan line: the row above stays dark.
  if (!v.DoubleScanLine) left = right = kSpread * kBlackColour;
  uint8_t* upper = lower - kFrameWidth;
  std::memcpy(upper, &left, 8);
  std::memcpy(upper + 8, &right, 8);
}

// HSYNC start: one character back per line until the beam sits at 0 when
// HSYNC begins; the visible 768 pixels then start 14 characters later.
inline void BeamHsyncStart(Machine& m) {
  if (m.BeamX >= 16) m.BeamX -= 16;
}

// VSYNC start: lock at once when near the expected place, else roll the
// picture by 50 scan lines per frame towards it.
inline void BeamVsyncStart(Machine& m) {
  const uint32_t y = m.BeamY;
  if (y < 151 || y >= 479)
    m.BeamY = 0;
  else if (y <= 312)
    m.BeamY = y - 100;
  else
    m.BeamY = y + 100;
}
