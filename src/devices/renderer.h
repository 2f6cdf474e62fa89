// The picture: the 768 x 576 palettised frame and the byte expansion table.
// RenderStep lives in render_step.h so the machine loop can inline it.
#pragma once

#include <cstdint>

constexpr int kFrameWidth = 768;
constexpr int kFrameHeight = 576;

struct VideoState {
  alignas(64) uint8_t FrameBitmap[kFrameHeight][kFrameWidth];
};
