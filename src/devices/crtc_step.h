// One CRTC character clock, inlined into the machine loop. Besides the
// counters it tells the gate array of HSYNC start (a pending mode change),
// HSYNC end (the interrupt counter) and VSYNC start, and pulls the monitor
// beam at HSYNC and VSYNC.
#pragma once

#include "core/machine.h"
#include "devices/render_step.h"

inline void CrtcStep(Machine& m) {
  CrtcState& c = m.Crtc;

  // Character clock: at a line start reset HCC and step the row and frame
  // counters, else advance HCC and MA.
  const uint8_t lineStart = c.EndOfLine;
  if (lineStart) {
    c.EndOfLine = 0;
    c.HorizontalDisplay = 1;
    c.HCC = 0;
    if (c.EndOfRow) {
      c.MARowStart = c.MASaved;
      c.MA = c.MARowStart;
      c.EndOfRow = 0;
      c.RA = 0;
      if (c.LastRow) {
        c.InAdjust = 1;
        if (c.R[5] == 0) c.EndOfFrame = 1;
      }
      if (c.EndOfFrame) {
        c.EndOfFrame = 0;
        c.MA = static_cast<uint16_t>(c.R[12] << 8 | c.R[13]);
        c.MARowStart = c.MA;
        c.VCC = 0;
        c.VerticalDisplay = 1;
        c.VsyncDone = 0;
        c.LastRow = 0;
        c.InAdjust = 0;
        c.AdjustCounter = 0;
      } else {
        c.VCC = (c.VCC + 1) & 0x7F;
      }
    } else {
      c.MA = c.MARowStart;
      c.RA = (c.RA + 1) & 0x1F;
      c.AdjustCounter += c.InAdjust;
    }
    if (c.VSYNC && ++c.VsyncCounter == VsyncLengthTable[CrtcTypeIndex(c)][c.R[3] >> 4]) {
      c.VsyncCounter = 0;
      c.VSYNC = 0;
    }
  } else {
    ++c.HCC;
    ++c.MA;
  }

  // Horizontal total: the next clock begins a new line.
  c.EndOfLine |= c.HCC == c.R[0];
  // Horizontal displayed: the border starts, and the next row starts at this MA.
  if (c.HCC == c.R[1]) {
    c.HorizontalDisplay = 0;
    c.MASaved = c.MA;
  }
  // Horizontal sync position: HSYNC starts.
  if (c.HCC == c.R[2]) {
    c.HSYNC = 1;
    BeamHsyncStart(m);
    GateArrayHsyncStart(m);
  }
  // HSYNC width: it runs R3 & 15 characters; width 0 ends it in the clock it began.
  if (c.HSYNC) {
    if (c.HsyncCounter == (c.R[3] & 0x0F)) {
      c.HsyncCounter = 0;
      c.HSYNC = 0;
      GateArrayHsyncEnd(m);
    } else {
      c.HsyncCounter = (c.HsyncCounter + 1) & 0x0F;
    }
  }
  // Row end, last row, vertical adjust, vertical displayed and VSYNC. Their inputs (RA, VCC,
  // the adjust state, R4..R9) change only at a line start or through a
  // register write, and their results stay set once raised, so between
  // those events a second look would change nothing.
  if (lineStart | c.VerticalCheck) {
    c.VerticalCheck = 0;
    c.EndOfRow |= c.RA == c.R[9];
    c.LastRow |= c.VCC == c.R[4];
    // The adjust area lasts R5 lines; R5 = 0 never matches here.
    const uint8_t adjustDone = c.InAdjust & (c.AdjustCounter == c.R[5] - 1);
    c.EndOfRow |= adjustDone;
    c.EndOfFrame |= adjustDone;
    c.VerticalDisplay &= c.VCC != c.R[6];
    // Once per frame.
    if (c.VCC == c.R[7] && !c.VsyncDone) {
      c.VSYNC = 1;
      c.VsyncDone = 1;
      BeamVsyncStart(m);
      GateArrayVsyncStart(m);
    }
  }
  // Display enable: inside both the horizontal and the vertical display.
  c.DISPEN = c.HorizontalDisplay & c.VerticalDisplay;
  // Video address, as the CPC wires it: MA13..12 pick the 16K block, RA2..0 give address
  // bits 13..11, MA9..0 give bits 10..1.
  c.VideoAddress = static_cast<uint16_t>(((c.RA & 7) << 11) + ((c.MA & 0x3000) << 2) + ((c.MA & 0x3FF) << 1));
}

// Latches MA into R16/R17 when the beam reaches the armed target.
inline void LightPenCheck(Machine& m) {
  CrtcState& c = m.Crtc;
  if (!c.LightPenEnabled || !c.LightPenArmed.load(std::memory_order_relaxed)) return;
  if (m.BeamX != c.LightPenTargetX.load(std::memory_order_relaxed) ||
      m.BeamY != c.LightPenTargetY.load(std::memory_order_relaxed))
    return;
  c.R[16] = static_cast<uint8_t>(c.MA >> 8);
  c.R[17] = static_cast<uint8_t>(c.MA);
  c.LightPenArmed.store(0, std::memory_order_relaxed);
}
