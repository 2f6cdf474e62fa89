// The picture: a 768 x 576 palettised frame standing for the visible face of
// the monitor, filled one CRTC character (16 pixels) per microsecond.
//
// A pixel is a palette index: the hardware colour number, plus 32 on the
// green monitor; index 20 is the black of sync areas and dark scan lines on
// both monitors. ByteExpansionTable turns a screen byte into its 8 pixels in
// the current mode and pens, so rendering is a lookup and a copy. Window
// presentation lives with the front end; RenderStep and the beam
// synchronisation are in render_step.h so the machine loop can inline them.
#pragma once

#include <array>
#include <cstdint>

#include "devices/gate_array.h"

struct Machine;

constexpr int kFrameWidth = 768;
constexpr int kFrameHeight = 576;

struct VideoState {
  VideoState();  // the frame starts black

  uint8_t Monitor = kMonitorColour;  // MONITOR: 1 colour, 2 green
  uint8_t DoubleScanLine = 1;        // DOUBLESCANLINE
  alignas(64) uint8_t ByteExpansionTable[256][8];
  alignas(64) uint8_t FrameBitmap[kFrameHeight][kFrameWidth];
};

// Output pixel pens of each screen byte by mode, every pixel repeated to its
// output width (mode 0 and 3: 4, mode 1: 2, mode 2: 1). Mode 3 uses pens 0..3.
extern const uint8_t (&ModePixelPens)[4][256][8];

// From the pens, the mode and the monitor; with a monitor value other than
// colour or green the table is left as it is.
void RebuildByteExpansionTable(Machine& m);

// The 256 entries that go with FrameBitmap: colour monitor, green monitor,
// then black.
std::array<Rgb, 256> FramePalette();
