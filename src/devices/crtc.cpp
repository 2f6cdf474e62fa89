#include "devices/crtc.h"

namespace {

// Bits kept on a register write, by type; R16..R17 are not writable.
constexpr uint8_t kWriteMask[3][16] = {
    {0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x1F, 0x7F, 0x7F, 0xF3, 0x1F, 0x7F, 0x1F, 0x3F, 0xFF, 0x3F, 0xFF},
    {0xFF, 0xFF, 0xFF, 0x0F, 0x7F, 0x1F, 0x7F, 0x7F, 0x03, 0x1F, 0x7F, 0x1F, 0x3F, 0xFF, 0x3F, 0xFF},
    {0xFF, 0xFF, 0xFF, 0x0F, 0x7F, 0x1F, 0x7F, 0x7F, 0x03, 0x1F, 0x7F, 0x1F, 0x3F, 0xFF, 0x3F, 0xFF},
};

// First register number readable through &BFxx, by type.
constexpr uint8_t kFirstReadable[3] = {12, 14, 14};

}  // namespace

void CrtcReset(CrtcState& c) {
  for (uint8_t& r : c.R) r = 0;
  c.SelectedRegister = 0;
  c.MA = c.MASaved = c.MARowStart = 0;
  c.HCC = c.RA = c.VCC = 0;
  c.VsyncCounter = c.HsyncCounter = c.AdjustCounter = 0;
  c.HSYNC = c.VSYNC = 0;
  c.EndOfLine = c.EndOfRow = c.EndOfFrame = 0;
  c.LastRow = c.InAdjust = c.VsyncDone = 0;
  c.HorizontalDisplay = c.VerticalDisplay = c.DISPEN = 1;
  c.VideoAddress = 0;
  c.VerticalCheck = 1;
  c.LightPenArmed = 0;
}

void CrtcWrite(CrtcState& c, uint16_t port, uint8_t value) {
  switch ((port >> 8) & 3) {
    case 0:
      c.SelectedRegister = value & 0x1F;
      break;
    case 1:
      if (c.SelectedRegister < 16) {
        c.R[c.SelectedRegister] = value & kWriteMask[CrtcTypeIndex(c)][c.SelectedRegister];
        c.VerticalCheck = 1;
      }
      break;
    default:
      break;
  }
}

uint8_t CrtcRead(const CrtcState& c, uint16_t port) {
  const uint32_t type = CrtcTypeIndex(c);
  switch ((port >> 8) & 3) {
    case 2:
      // UM6845R data sheet: bit 5 vertical blanking, bit 6 light-pen strobe.
      // Types 0 and 2 have no status register and drive nothing: the bus
      // keeps its pull-ups (&FF), as caprice32 and the CPCWiki CRTC page have.
      if (type != 1) return 0xFF;
      return static_cast<uint8_t>((c.VerticalDisplay ? 0 : 0x20) | (c.LightPenArmed.load(std::memory_order_relaxed) ? 0x40 : 0));
    case 3:
      // CPCWiki CRTC page (read-back per type): a write-only register and
      // 18..30 read 0 (caprice32 gives 0 too); R31 reads &FF on the UM6845R
      // and 0 on the others.
      if (c.SelectedRegister >= kFirstReadable[type] && c.SelectedRegister < 18) return c.R[c.SelectedRegister];
      return (type == 1 && c.SelectedRegister == 31) ? 0xFF : 0x00;
    default:
      return 0xFF;
  }
}
