#include "devices/renderer.h"

#include <cstring>

#include "core/machine.h"

namespace {

struct PenTables {
  uint8_t Pens[4][256][8];
};

constexpr uint8_t Bit(int b, int n) { return static_cast<uint8_t>((b >> n) & 1); }

constexpr PenTables BuildPenTables() {
  PenTables t{};
  for (int b = 0; b < 256; ++b) {
    // Mode 0: two pixels, the pen bits spread over the byte.
    const uint8_t m0[2] = {
        static_cast<uint8_t>(Bit(b, 7) | Bit(b, 3) << 1 | Bit(b, 5) << 2 | Bit(b, 1) << 3),
        static_cast<uint8_t>(Bit(b, 6) | Bit(b, 2) << 1 | Bit(b, 4) << 2 | Bit(b, 0) << 3)};
    const uint8_t m1[4] = {static_cast<uint8_t>(Bit(b, 7) | Bit(b, 3) << 1),
                           static_cast<uint8_t>(Bit(b, 6) | Bit(b, 2) << 1),
                           static_cast<uint8_t>(Bit(b, 5) | Bit(b, 1) << 1),
                           static_cast<uint8_t>(Bit(b, 4) | Bit(b, 0) << 1)};
    for (int i = 0; i < 8; ++i) {
      t.Pens[0][b][i] = m0[i / 4];
      t.Pens[1][b][i] = m1[i / 2];
      t.Pens[2][b][i] = Bit(b, 7 - i);
      t.Pens[3][b][i] = m1[i / 4];  // mode 1's first two pixels at mode 0's width
    }
  }
  return t;
}

constexpr PenTables kPenTables = BuildPenTables();

}  // namespace

const uint8_t (&ModePixelPens)[4][256][8] = kPenTables.Pens;

VideoState::VideoState() {
  std::memset(ByteExpansionTable, kBlackColour, sizeof ByteExpansionTable);
  std::memset(FrameBitmap, kBlackColour, sizeof FrameBitmap);
}

void RebuildByteExpansionTable(Machine& m) {
  VideoState& v = m.Video;
  if (v.Monitor != kMonitorColour && v.Monitor != kMonitorGreen) return;
  const GateArrayState& g = m.GateArray;
  uint8_t colours[16];
  const uint8_t offset = v.Monitor == kMonitorGreen ? kGreenOffset : 0;
  for (int i = 0; i < 16; ++i) colours[i] = static_cast<uint8_t>((g.PenColours[i] & 0x1F) + offset);
  const uint8_t (*pens)[8] = ModePixelPens[g.ScreenMode & 3];
  for (int b = 0; b < 256; ++b)
    for (int i = 0; i < 8; ++i) v.ByteExpansionTable[b][i] = colours[pens[b][i]];
}

std::array<Rgb, 256> FramePalette() {
  std::array<Rgb, 256> palette{};  // 64..255 black
  for (int i = 0; i < 64; ++i) palette[i] = HardwareColourTable[i];
  return palette;
}
