// One microsecond of the video side: the CRTC clock, the character render
// while the beam is in the visible window, and the beam advance. Shared by the
// frame loop and the debugger's single step so both move the picture alike.
#pragma once

#include "core/machine.h"
#include "devices/crtc_step.h"
#include "devices/render_step.h"

inline void VideoStep(Machine& m) {
  CrtcStep(m);  // may pull the beam back at HSYNC/VSYNC
  uint32_t beamX = m.BeamX;
  // BeamY is even, so 48 is the first drawn position; the bound also keeps
  // the row above (BeamY - 48) inside the frame.
  if (beamX - 224 < 992 - 224 && m.BeamY >= 48) RenderStep(m);
  beamX += 16;
  if (beamX == 1024) {
    beamX = 0;
    m.BeamY += 2;
    if (m.BeamY == 624) m.BeamY = 0;
  }
  m.BeamX = beamX;
}
