// 6845 CRT controller, in the three variants fitted to CPCs: type 0
// (HD6845S/UM6845), type 1 (UM6845R) and type 2 (MC6845).
//
// Models the character, raster and row counters, vertical total adjust,
// HSYNC/VSYNC, display enable, the memory address counter and the CPC's
// wiring of MA/RA to the RAM address, the register ports with their per-type
// write masks and readable registers, the type 1 status register and the
// light-pen latch. Leaves out interlace, skew and the cursor (R8, R10, R11,
// R14, R15 are stored and read back only), and the finer type differences
// (mid-line register changes, R0/R4 corner cases) beyond the table below.
//
// Called by the port decoding (CrtcWrite/CrtcRead) and once per microsecond
// by the machine loop (CrtcStep, crtc_step.h), which also clocks the gate
// array's interrupt counter and pulls the monitor beam at the sync edges.
#pragma once

#include <atomic>
#include <cstdint>

struct CrtcState {
  uint8_t R[18];  // R16, R17: light-pen address
  uint8_t SelectedRegister;  // 0..31

  // Counters.
  uint16_t MA;          // memory address, +1 per character
  uint16_t MASaved;     // MA at HCC = R1: the next row's start
  uint16_t MARowStart;  // MA at the first character of the current row
  uint8_t HCC;
  uint8_t RA;  // 5 bits
  uint8_t VCC;  // 7 bits
  uint8_t VsyncCounter;
  uint8_t HsyncCounter;  // 4 bits
  uint8_t AdjustCounter;

  // Outputs and internal flags, each 0 or 1.
  uint8_t HSYNC, VSYNC, DISPEN;
  uint8_t HorizontalDisplay, VerticalDisplay;
  uint8_t EndOfLine, EndOfRow, EndOfFrame;
  uint8_t LastRow, InAdjust, VsyncDone;
  // Set by anything that changes the registers outside CrtcStep (register
  // writes, reset, snapshot loading, debugger edits): the next step then
  // re-evaluates the vertical compares, which it otherwise does only at a
  // line start.
  uint8_t VerticalCheck;

  uint16_t VideoAddress;  // RAM address of the character pair shown now

  uint32_t Type;  // 0, 1 or 2 (CRTCTYPE); larger values act as 2
  uint8_t LightPenEnabled;  // LIGHTPEN
  // Written by the window while the machine runs.
  std::atomic<uint8_t> LightPenArmed;  // a strobe is pending
  std::atomic<uint32_t> LightPenTargetX, LightPenTargetY;  // beam position of the strobe
};

// VSYNC length in lines by type and R3 bits 7..4.
inline constexpr uint8_t VsyncLengthTable[3][16] = {
    {16, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16},
    {16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16},
};

inline uint32_t CrtcTypeIndex(const CrtcState& c) { return c.Type > 2 ? 2 : c.Type; }

void CrtcReset(CrtcState& c);
void CrtcWrite(CrtcState& c, uint16_t port, uint8_t value);
uint8_t CrtcRead(const CrtcState& c, uint16_t port);
