#include <gtest/gtest.h>
#include <png.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "devices/renderer.h"
#include "platform/image_writer.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}
uint32_t Be32(const std::vector<uint8_t>& d, size_t at) {
  return static_cast<uint32_t>(d[at]) << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3];
}

class ImageWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pellucidore_image_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    // A 5 x 3 picture (rows not a multiple of 4 bytes) using colour and
    // green entries.
    for (int i = 0; i < 15; ++i) pixels_.push_back(static_cast<uint8_t>(i * 4));
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
  std::vector<uint8_t> pixels_;
  const std::array<Rgb, 256> palette_ = FramePalette();
};

}  // namespace

TEST_F(ImageWriter, PngIsPalettisedAndDecodesToThePaletteColours) {
  const fs::path file = dir_ / "shot.PNG";
  ASSERT_TRUE(WriteImage(file, pixels_.data(), 5, 3, palette_).Ok);
  const std::vector<uint8_t> d = ReadAll(file);
  ASSERT_GT(d.size(), 33u);
  EXPECT_EQ(Be32(d, 16), 5u);  // IHDR width, height, depth, colour type
  EXPECT_EQ(Be32(d, 20), 3u);
  EXPECT_EQ(d[24], 8);
  EXPECT_EQ(d[25], PNG_COLOR_TYPE_PALETTE);

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, file.c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  for (int i = 0; i < 15; ++i) {
    const Rgb& c = palette_[pixels_[i]];
    EXPECT_EQ(rgb[i * 3], c.R) << i;
    EXPECT_EQ(rgb[i * 3 + 1], c.G) << i;
    EXPECT_EQ(rgb[i * 3 + 2], c.B) << i;
  }
}

TEST_F(ImageWriter, BmpHas256PaletteEntriesAndPaddedBottomUpRows) {
  const fs::path file = dir_ / "shot.bmp";
  ASSERT_TRUE(WriteImage(file, pixels_.data(), 5, 3, palette_).Ok);
  const std::vector<uint8_t> d = ReadAll(file);
  ASSERT_EQ(d.size(), 14u + 40 + 1024 + 3 * 8);
  EXPECT_EQ(d[0], 'B');
  EXPECT_EQ(d[1], 'M');
  EXPECT_EQ(Le32(d, 2), d.size());
  EXPECT_EQ(Le32(d, 10), 1078u);
  EXPECT_EQ(Le32(d, 18), 5u);
  EXPECT_EQ(Le32(d, 22), 3u);
  EXPECT_EQ(d[28], 8);
  EXPECT_EQ(Le32(d, 46), 256u);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(d[54 + i * 4], palette_[i].B);
    EXPECT_EQ(d[54 + i * 4 + 1], palette_[i].G);
    EXPECT_EQ(d[54 + i * 4 + 2], palette_[i].R);
  }
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(d[1078 + (2 - y) * 8 + x], x < 5 ? pixels_[y * 5 + x] : 0) << y << "," << x;
}

TEST_F(ImageWriter, FailuresAreReported) {
  const ImageResult noDir = WriteImage(dir_ / "missing" / "shot.png", pixels_.data(), 5, 3, palette_);
  EXPECT_FALSE(noDir.Ok);
  EXPECT_NE(noDir.Error.find("shot.png"), std::string::npos);
  EXPECT_FALSE(WriteImage(dir_ / "missing" / "shot.bmp", pixels_.data(), 5, 3, palette_).Ok);
  EXPECT_FALSE(WriteImage(dir_ / "shot.tiff", pixels_.data(), 5, 3, palette_).Ok);
  EXPECT_FALSE(WriteImage(dir_ / "shot.png", pixels_.data(), 0, 3, palette_).Ok);
  EXPECT_EQ(ImageFormatOf("a.Bmp"), ImageFormat::Bmp);
  EXPECT_EQ(ImageFormatOf("png"), ImageFormat::Unknown);
}
