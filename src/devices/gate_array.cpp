#include "devices/gate_array.h"

#include "core/machine.h"

void GateArrayReset(Machine& m) {
  GateArrayState& g = m.GateArray;
  for (uint8_t& pen : g.PenColours) pen = kBlackColour;
  g.BorderColour = kBlackColour;
  g.SelectedPen = 0;
  g.ScreenMode = 0;
  g.RequestedMode = 0;
  g.ModePending = 0;
  RebuildByteExpansionTable(m);
}

void GateArrayWrite(Machine& m, uint8_t value) {
  GateArrayState& g = m.GateArray;
  switch (value >> 6) {
    case 0:
      g.SelectedPen = value & 0x1F;
      break;
    case 1:
      if (g.SelectedPen & 0x10) {
        g.BorderColour = value & 0x1F;  // read per character, no rebuild
      } else {
        g.PenColours[g.SelectedPen] = value & 0x1F;
        RebuildByteExpansionTable(m);
      }
      break;
    case 2:
      if (value & 0x10) {
        g.IntCounter = 0;
        m.Z80.InterruptRequest = 0;
      }
      m.Memory.UpperRomEnabled = !(value & 0x08);
      m.Memory.LowerRomEnabled = !(value & 0x04);
      UpdateMemoryBanks(m.Memory);
      // The new mode waits for the next HSYNC (GateArrayHsyncStart).
      g.RequestedMode = value & 3;
      g.ModePending = 1;
      break;
    default:
      break;  // RAM configuration: the memory map's
  }
}

void GateArrayHsyncStart(Machine& m) {
  GateArrayState& g = m.GateArray;
  // CPCWiki Gate Array page: a mode written to the register is taken during
  // the next HSYNC, and only if that HSYNC lasts at least 2 us. The sync
  // itself is drawn black, so the character it lands on does not show.
  if (g.ModePending && (m.Crtc.R[3] & 0x0F) >= 2) {
    g.ModePending = 0;
    if (g.RequestedMode != g.ScreenMode) {
      g.ScreenMode = g.RequestedMode;
      RebuildByteExpansionTable(m);
    }
  }
}

void GateArrayVsyncStart(Machine& m) { m.GateArray.IntDelay = 2; }

void GateArrayHsyncEnd(Machine& m) {
  // cpctech "Interrupt Generation Facility of the Amstrad Gate Array" and
  // the CPCWiki Gate Array page: the counter counts the falling edges of
  // HSYNC, and a request stays raised until the Z80 acknowledges it (or a
  // mode write with bit 4 clears it); it is never dropped by the sync.
  GateArrayState& g = m.GateArray;
  ++g.IntCounter;
  if (g.IntDelay == 0) {
    if (g.IntCounter >= 52) {
      g.IntCounter = 0;
      m.Z80.InterruptRequest = 1;
    }
  } else if (--g.IntDelay == 0) {
    // Second HSYNC after VSYNC: the counter restarts in step with the frame;
    // a request is only made if the last one is far enough behind.
    if (g.IntCounter >= 32) m.Z80.InterruptRequest = 1;
    g.IntCounter = 0;
  }
}
