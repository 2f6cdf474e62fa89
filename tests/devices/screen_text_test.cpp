#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "devices/screen_text.h"
#include "video_fixture.h"

using namespace video_test;

namespace {

// The inverse of the gate array's pixel decoding: pens of one byte's pixels.
uint8_t EncodeByte(int mode, const int* pens) {
  uint8_t b = 0;
  auto bit = [](int pen, int penBit) { return (pen >> penBit) & 1; };
  switch (mode) {
    case 2:
      for (int i = 0; i < 8; ++i) b |= bit(pens[i], 0) << (7 - i);
      break;
    case 1:
      for (int i = 0; i < 4; ++i) b |= bit(pens[i], 0) << (7 - i) | bit(pens[i], 1) << (3 - i);
      break;
    default:
      for (int i = 0; i < 2; ++i)
        b |= bit(pens[i], 0) << (7 - i) | bit(pens[i], 1) << (3 - i) | bit(pens[i], 2) << (5 - i) |
             bit(pens[i], 3) << (1 - i);
      break;
  }
  return b;
}

// Draws one glyph of the lower ROM font into the firmware screen (&C000,
// 80 bytes per line) at a text cell, as the firmware would.
void DrawGlyph(Machine& m, int mode, int column, int row, uint8_t code, int ink, int paper) {
  const int cellBytes = mode == 2 ? 1 : (mode == 1 ? 2 : 4);
  const int perByte = 8 / cellBytes;
  for (int r = 0; r < 8; ++r) {
    const uint8_t glyphRow = m.Memory.LowerRom[0x3800 + code * 8 + r];
    for (int j = 0; j < cellBytes; ++j) {
      int pens[8];
      for (int p = 0; p < perByte; ++p) pens[p] = (glyphRow >> (7 - (j * perByte + p))) & 1 ? ink : paper;
      m.Memory.BaseRam[0xC000 + r * 0x800 + row * 80 + column * cellBytes + j] = EncodeByte(mode, pens);
    }
  }
}

void DrawText(Machine& m, int mode, int column, int row, const std::string& text, int ink, int paper) {
  for (size_t i = 0; i < text.size(); ++i)
    DrawGlyph(m, mode, column + static_cast<int>(i), row, static_cast<uint8_t>(text[i]), ink, paper);
}

// The gate array takes a written mode at the next HSYNC: one line of the
// CRTC alone (the Z80 would run the ROM).
void SetMode(Machine& m, int mode) {
  GateArrayWrite(m, static_cast<uint8_t>(0x80 | mode));
  for (int i = 0; i < kLine; ++i) CrtcStep(m);
}

}  // namespace

TEST(ScreenText, ReadsTheFirmwareFontInEveryModeAndPenPair) {
  const std::filesystem::path rom = std::filesystem::path(PELLUCIDORE_SHARED_DIR) / "roms" / "6128Low.ROM";
  if (!std::filesystem::exists(rom)) GTEST_SKIP() << "CPC ROMs not found at " << rom;
  struct Case {
    int mode, ink, paper, columns;
  };
  const Case cases[] = {{0, 9, 14, 20}, {0, 0, 15, 20}, {1, 1, 0, 40}, {1, 2, 3, 40}, {2, 1, 0, 80}, {2, 0, 1, 80}};
  for (const Case& k : cases) {
    auto m = MakeMachine();
    ASSERT_TRUE(LoadRomImage(rom, m->Memory.LowerRom));
    SetMode(*m, k.mode);
    // Paper everywhere, as after a clear screen.
    for (int row = 0; row < 25; ++row)
      for (int col = 0; col < k.columns; ++col) DrawGlyph(*m, k.mode, col, row, ' ', k.ink, k.paper);
    DrawText(*m, k.mode, 0, 0, "Ready", k.ink, k.paper);
    DrawText(*m, k.mode, 2, 3, "10 PRINT \"A$\"", k.ink, k.paper);
    DrawText(*m, k.mode, k.columns - 3, 24, "xyz", k.ink, k.paper);

    const std::vector<std::string> text = ScreenText(*m);
    ASSERT_EQ(text.size(), 25u);
    std::vector<std::string> expected(25);
    expected[0] = "Ready";
    expected[3] = "  10 PRINT \"A$\"";
    expected[24] = std::string(k.columns - 3, ' ') + "xyz";
    EXPECT_EQ(text, expected) << "mode " << k.mode << " ink " << k.ink << " paper " << k.paper;
  }
}

TEST(ScreenText, CellsThatAreNoCharacter) {
  auto m = MakeMachine();  // no ROM: make a small font
  const uint8_t letterH[8] = {0x66, 0x66, 0x66, 0x7E, 0x66, 0x66, 0x66, 0x00};
  const uint8_t checker[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
  for (int r = 0; r < 8; ++r) {
    m->Memory.LowerRom[0x3800 + 'H' * 8 + r] = letterH[r];
    m->Memory.LowerRom[0x3800 + 200 * 8 + r] = checker[r];
  }
  SetMode(*m, 1);
  DrawGlyph(*m, 1, 0, 2, 'H', 3, 0);
  DrawGlyph(*m, 1, 1, 2, 200, 1, 2);  // a glyph outside printable ASCII
  DrawGlyph(*m, 1, 2, 2, 'H', 2, 2);  // ink = paper: a plain cell
  DrawGlyph(*m, 1, 3, 2, 'H', 1, 0);
  m->Memory.BaseRam[0xC000 + 3 * 0x800 + 2 * 80 + 3 * 2] |= 0x08;  // pen 2 joins pens 0 and 1
  DrawGlyph(*m, 1, 4, 2, 'H', 0, 1);  // inverted: still an H
  const std::vector<std::string> text = ScreenText(*m);
  ASSERT_EQ(text.size(), 25u);
  EXPECT_EQ(text[2], "H?  H");
  EXPECT_EQ(text[0], "");
}

TEST(ScreenText, FollowsTheCrtcStartAddressAndSize) {
  auto m = MakeMachine();
  const uint8_t bar[8] = {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0};
  for (int r = 0; r < 8; ++r) m->Memory.LowerRom[0x3800 + '=' * 8 + r] = bar[r];
  SetMode(*m, 2);
  // A 32-character, 4-row screen at &4000 (R12 = &10).
  WriteCrtc(*m, 1, 32);
  WriteCrtc(*m, 6, 4);
  WriteCrtc(*m, 12, 0x10);
  WriteCrtc(*m, 13, 0);
  // Row 3, column 63: MA = &1000 + 3 * 32 + 31, byte 1 of the pair.
  const int ma = 3 * 32 + 31;
  for (int r = 0; r < 8; ++r) m->Memory.BaseRam[0x4000 + r * 0x800 + ma * 2 + 1] = bar[r];
  const std::vector<std::string> text = ScreenText(*m);
  ASSERT_EQ(text.size(), 4u);
  EXPECT_EQ(text[3], std::string(63, ' ') + "=");
}
