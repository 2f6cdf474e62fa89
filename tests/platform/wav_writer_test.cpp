#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/wav_writer.h"

namespace fs = std::filesystem;

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

TEST(WavWriter, HeaderDescribesTheSamplesWritten) {
  const fs::path file = fs::temp_directory_path() / "pellucidore-wav-writer-test.wav";
  {
    WavWriter w;
    ASSERT_TRUE(w.Open(file, 44100, 2, 16));
    std::vector<uint8_t> block(3528, 7);
    ASSERT_TRUE(w.Write(block.data(), block.size()));
    ASSERT_TRUE(w.Write(block.data(), 3));  // odd: padded
    ASSERT_TRUE(w.Close());
  }
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(file);
  ASSERT_EQ(b.size(), 44u + 3531 + 1);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(Le32(b, 4), b.size() - 8);
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(Le16(b, 20), 1);       // PCM
  EXPECT_EQ(Le16(b, 22), 2);       // channels
  EXPECT_EQ(Le32(b, 24), 44100u);  // rate
  EXPECT_EQ(Le32(b, 28), 176400u);
  EXPECT_EQ(Le16(b, 32), 4);
  EXPECT_EQ(Le16(b, 34), 16);
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
  EXPECT_EQ(Le32(b, 40), 3531u);
}

TEST(WavWriter, UncreatableFileIsAnError) {
  WavWriter w;
  EXPECT_FALSE(w.Open("/nonexistent-folder/x.wav", 22050, 1, 8));
  EXPECT_FALSE(w.Error().empty());
  EXPECT_FALSE(w.Write(reinterpret_cast<const uint8_t*>("x"), 1));
}

}  // namespace
