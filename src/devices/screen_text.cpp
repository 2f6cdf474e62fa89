#include "devices/screen_text.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/machine.h"

namespace {

constexpr uint16_t kFontAddress = 0x3800;

// An 8 x 8 cell as a 64-bit picture: row 0 in the top byte, bit 7 leftmost,
// the way the font stores it.
uint64_t GlyphBits(const MemoryMap& memory, int code) {
  uint64_t bits = 0;
  for (int row = 0; row < 8; ++row) bits = bits << 8 | memory.LowerRom[kFontAddress + code * 8 + row];
  return bits;
}

// Glyphs in the order they are tried, so that printable text wins when the
// font holds the same picture twice.
std::array<int, 256> SearchOrder() {
  std::array<int, 256> order{};
  int n = 0;
  for (int code = 32; code < 127; ++code) order[n++] = code;
  for (int code = 127; code < 256; ++code) order[n++] = code;
  for (int code = 0; code < 32; ++code) order[n++] = code;
  return order;
}

char CellCharacter(const std::array<uint8_t, 64>& pens, const std::array<uint64_t, 256>& glyphs,
                   const std::array<int, 256>& order) {
  // The paper is the pen of the top-left pixel, the ink the first other pen;
  // a third pen means this is not a character.
  const uint8_t paper = pens[0];
  int ink = -1;
  uint64_t inkBits = 0;
  for (int i = 0; i < 64; ++i) {
    if (pens[i] == paper) continue;
    if (ink < 0) ink = pens[i];
    if (pens[i] != ink) return ' ';
    inkBits |= uint64_t{1} << (63 - i);
  }
  if (ink < 0) return ' ';
  // Either pen may be the ink of the glyph.
  for (int code : order) {
    if (glyphs[code] == inkBits || glyphs[code] == ~inkBits)
      return code >= 32 && code < 127 ? static_cast<char>(code) : '?';
  }
  return ' ';
}

}  // namespace

std::vector<std::string> ScreenText(const Machine& m) {
  const CrtcState& c = m.Crtc;
  const uint32_t mode = m.GateArray.ScreenMode & 3;
  // Bytes per 8-pixel cell, and output pixels per CPC pixel in ModePixelPens.
  const int cellBytes = mode == 2 ? 1 : (mode == 1 ? 2 : 4);
  const int pixelWidth = cellBytes;
  const int pixelsPerByte = 8 / cellBytes;

  const int charsPerRow = std::min<int>(c.R[1], c.R[0] + 1);
  const int rowsShown = std::min<int>(c.R[6], c.R[4] + 1);
  const int linesPerRow = c.R[9] + 1;
  const int columns = charsPerRow * 2 / cellBytes;
  const int textRows = rowsShown * linesPerRow / 8;
  const uint16_t start = static_cast<uint16_t>(c.R[12] << 8 | c.R[13]);

  std::array<uint64_t, 256> glyphs{};
  for (int code = 0; code < 256; ++code) glyphs[code] = GlyphBits(m.Memory, code);
  const std::array<int, 256> order = SearchOrder();

  std::vector<std::string> text;
  text.reserve(textRows);
  std::array<uint8_t, 64> pens{};
  for (int t = 0; t < textRows; ++t) {
    std::string line(columns, ' ');
    for (int col = 0; col < columns; ++col) {
      for (int r = 0; r < 8; ++r) {
        const int y = t * 8 + r;
        const uint32_t ra = y % linesPerRow;
        const uint16_t rowMa = static_cast<uint16_t>(start + (y / linesPerRow) * c.R[1]);
        for (int j = 0; j < cellBytes; ++j) {
          const int byteIndex = col * cellBytes + j;
          const uint16_t ma = static_cast<uint16_t>(rowMa + byteIndex / 2);
          const uint16_t address =
              static_cast<uint16_t>(((ra & 7) << 11) + ((ma & 0x3000) << 2) + ((ma & 0x3FF) << 1) + (byteIndex & 1));
          const uint8_t b = m.Memory.BaseRam[address];
          for (int p = 0; p < pixelsPerByte; ++p) pens[r * 8 + j * pixelsPerByte + p] = ModePixelPens[mode][b][p * pixelWidth];
        }
      }
      line[col] = CellCharacter(pens, glyphs, order);
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text.push_back(std::move(line));
  }
  return text;
}
