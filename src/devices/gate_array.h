// Gate array: the 16 pens and the border, the screen mode, the two ROM
// enables and the counter that raises the Z80 interrupt every 52 scan lines.
//
// Models the three write functions of port &7Fxx (pen select, colour, mode
// and ROM) and the interrupt counter with its re-synchronisation two HSYNCs
// after VSYNC, clocked at the end of each HSYNC; a request is held until the
// Z80 takes it. A new screen mode takes effect at the next HSYNC, as on the
// real chip; colours change from the next character. The fourth function
// (RAM configuration) belongs to the memory map. The monitor colours are in
// HardwareColourTable.
//
// The sync hooks are called by CrtcStep; acceptance of the interrupt is done
// by the Z80 bus (IntCounter modulo 32). The interrupt line itself is
// Z80Registers::InterruptRequest.
#pragma once

#include <cstdint>

struct Machine;

struct GateArrayState {
  uint8_t SelectedPen;  // bit 4: the border
  uint8_t PenColours[16];  // hardware colour numbers 0..31
  uint8_t BorderColour;
  uint8_t ScreenMode;  // 0..3, the mode the picture is drawn in
  uint8_t RequestedMode;  // last mode written
  uint8_t ModePending;    // 1 = RequestedMode waits for the next HSYNC
  uint8_t IntCounter;  // scan lines since the last request, 0..52
  uint8_t IntDelay;    // HSYNCs left after VSYNC before the re-synchronisation
};

struct Rgb {
  uint8_t R, G, B;
};

constexpr int kMonitorColour = 1;  // MONITOR
constexpr int kMonitorGreen = 2;
constexpr uint8_t kGreenOffset = 32;  // green entries follow the colour ones
constexpr uint8_t kBlackColour = 20;  // black on the colour monitor

// Entries 0..31: colour monitor (CTM 644), 32..63: green monitor (GT 65),
// both by hardware colour number.
inline constexpr Rgb HardwareColourTable[64] = {
    {127, 127, 127}, {127, 127, 127}, {0, 255, 127},   {255, 255, 127}, {0, 0, 127},     {255, 0, 127},
    {0, 127, 127},   {255, 127, 127}, {255, 0, 127},   {255, 255, 127}, {255, 255, 0},   {255, 255, 255},
    {255, 0, 0},     {255, 0, 255},   {255, 127, 0},   {255, 127, 255}, {0, 0, 127},     {0, 255, 127},
    {0, 255, 0},     {0, 255, 255},   {0, 0, 0},       {0, 0, 255},     {0, 127, 0},     {0, 127, 255},
    {127, 0, 127},   {127, 255, 127}, {127, 255, 0},   {127, 255, 255}, {127, 0, 0},     {127, 0, 255},
    {127, 127, 0},   {127, 127, 255},
    {127, 170, 0},   {0, 0, 0},       {202, 209, 0},   {245, 248, 0},   {9, 91, 0},      {68, 130, 0},
    {98, 150, 0},    {156, 189, 0},   {0, 0, 0},       {0, 0, 0},       {235, 241, 0},   {255, 255, 0},
    {58, 124, 0},    {78, 137, 0},    {147, 183, 0},   {166, 196, 0},   {0, 0, 0},       {0, 0, 0},
    {176, 202, 0},   {196, 215, 0},   {0, 85, 0},      {19, 98, 0},     {88, 143, 0},    {107, 156, 0},
    {39, 111, 0},    {215, 228, 0},   {205, 222, 0},   {225, 235, 0},   {29, 104, 0},    {49, 117, 0},
    {117, 163, 0},   {137, 176, 0},
};

// Pens and border black, pen 0 selected, mode 0; rebuilds the expansion
// table. The interrupt counter keeps its value.
void GateArrayReset(Machine& m);
void GateArrayWrite(Machine& m, uint8_t value);

// Sync edges, from CrtcStep. HSYNC start takes a requested mode; HSYNC end
// clocks the interrupt counter.
void GateArrayHsyncStart(Machine& m);
void GateArrayVsyncStart(Machine& m);
void GateArrayHsyncEnd(Machine& m);
