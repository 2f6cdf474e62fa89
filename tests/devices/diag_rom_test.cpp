// The Amstrad Diagnostics ROM (Noel Llopis) in place of the lower ROM: its
// "CRTC TYPE 0n" line must name the configured chip. The ROM draws its own
// font, so the digit is read off the picture and compared with the same
// glyph elsewhere on its screen: "0" and "1" from "ROM 00: BASIC 1.1", "2"
// from the "2021" of its footer.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "core/machine.h"

namespace fs = std::filesystem;

namespace {

fs::path SharedDir() {
  if (const char* env = std::getenv("PELLUCIDORE_SHARED_DIR")) return env;
  return PELLUCIDORE_SHARED_DIR;
}

// One character of the ROM's 6-pixel font, 12 x 16 frame pixels, as a mask:
// true where the pixel is ink.
using Cell = std::array<bool, 12 * 16>;

Cell ReadCell(const Machine& m, int x, int y, uint8_t paper, bool inkIsPaperColour) {
  Cell c{};
  for (int r = 0; r < 16; ++r)
    for (int col = 0; col < 12; ++col) {
      const uint8_t p = m.Video.FrameBitmap[y + r][x + col];
      c[r * 12 + col] = inkIsPaperColour ? p == paper : p != paper;
    }
  return c;
}

TEST(DiagnosticsRom, NamesTheConfiguredCrtcType) {
  const fs::path diag = SharedDir() / "testdata/diag/AmstradDiag.rom";
  if (!fs::exists(diag)) GTEST_SKIP() << "diagnostics ROM not found: " << diag;
  // With BASIC and AMSDOS fitted, as the screen layout below expects.
  const fs::path firmware = SharedDir() / "roms";
  if (!fs::exists(firmware / "6128BASIC.ROM")) GTEST_SKIP() << "CPC ROMs not found in " << firmware;
  const fs::path romDir = fs::temp_directory_path() / ("pellucidore-diag-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::create_directories(romDir);
  for (const auto& e : fs::directory_iterator(firmware))
    fs::copy_file(e.path(), romDir / e.path().filename(), fs::copy_options::overwrite_existing);
  // The loader takes 16 KB images: pad the 8 KB program.
  std::vector<char> image(16384, char(0xFF));
  std::ifstream(diag, std::ios::binary).read(image.data(), image.size());
  std::ofstream(romDir / "Diag.ROM", std::ios::binary).write(image.data(), image.size());

  // The text area starts at (64, 96) of the frame, 12 x 16 per character.
  auto at = [](int col, int row) { return std::array<int, 2>{64 + 12 * col, 96 + 16 * row}; };
  for (uint32_t type = 0; type < 3; ++type) {
    SCOPED_TRACE(testing::Message() << "CRTC type " << type);
    MachineConfig config;
    config.RomDir = romDir;
    config.LowerRom = "Diag.ROM";
    config.CrtcType = type;
    auto m = CreateMachine(config);
    for (int i = 0; i < 20 * 50; ++i) EmulateTick(*m);  // 20 s: the tests are done

    const auto blank = at(0, 1);
    const uint8_t paper = m->Video.FrameBitmap[blank[1]][blank[0]];
    auto cell = [&](int col, int row) {
      const auto p = at(col, row);
      return ReadCell(*m, p[0], p[1], paper, false);
    };
    const Cell digit = cell(11, 12);  // "CRTC TYPE 0n"
    ASSERT_EQ(cell(10, 12), cell(4, 9)) << "the screen is not laid out as expected";
    const Cell zero = cell(4, 9), one = cell(14, 9);
    if (type == 0) {
      EXPECT_EQ(digit, zero);
    } else if (type == 1) {
      EXPECT_EQ(digit, one);
    } else {
      EXPECT_NE(digit, zero);
      EXPECT_NE(digit, one);
      // The footer's "2021", drawn in paper colour on its bar (centred, so
      // not on the character grid).
      bool found = false;
      const int footerY = at(0, 24)[1];
      for (int x = 64; x + 12 <= 704 && !found; x += 2) found = ReadCell(*m, x, footerY, paper, true) == digit;
      EXPECT_TRUE(found) << "no 2 like it in the footer";
    }
  }
  std::error_code ec;
  fs::remove_all(romDir, ec);
}

}  // namespace
