// The runner's picture outputs, end to end.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path RomDir() { return fs::path(PELLUCIDORE_SHARED_DIR) / "roms"; }

int RunCli(const std::string& args, std::string* output = nullptr) {
  const std::string command = std::string(PELLUCIDORE_CLI_PATH) + " " + args + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    if (output) output->append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(VideoCli, ScreenshotAfterTwoSecondsIsA768x576Png) {
  if (!fs::exists(RomDir() / "6128Low.ROM")) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  const fs::path out = fs::temp_directory_path() / ("pellucidore_cli_" + std::to_string(::getpid()) + ".png");
  ASSERT_EQ(RunCli("--rom-dir " + RomDir().string() + " --seconds 2 --benchmark --screenshot " + out.string()), 0);
  std::ifstream in(out, std::ios::binary);
  const std::vector<uint8_t> d{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  fs::remove(out);
  ASSERT_GT(d.size(), 33u);
  EXPECT_EQ(std::string(d.begin() + 1, d.begin() + 4), "PNG");
  EXPECT_EQ(d[16] << 24 | d[17] << 16 | d[18] << 8 | d[19], 768);
  EXPECT_EQ(d[20] << 24 | d[21] << 16 | d[22] << 8 | d[23], 576);
  EXPECT_EQ(d[25], 3);  // palettised
}

TEST(VideoCli, UnknownPictureFormatIsABadArgument) {
  if (!fs::exists(RomDir() / "6128Low.ROM")) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  EXPECT_EQ(RunCli("--rom-dir " + RomDir().string() + " --frames 1 --screenshot out.tiff"), 2);
  EXPECT_EQ(RunCli("--rom-dir " + RomDir().string() + " --frames 1 --monitor amber"), 2);
}

TEST(VideoCli, ScreenTextShowsTheFirmwareBanner) {
  if (!fs::exists(RomDir() / "6128Low.ROM")) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  std::string text;
  ASSERT_EQ(RunCli("--rom-dir " + RomDir().string() + " --seconds 3 --benchmark --screen-text", &text), 0);
  // The banner and the prompt, each on its own right-trimmed row.
  EXPECT_NE(text.find("\n Amstrad 128K Microcomputer  (v3)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n BASIC 1.1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nReady\n"), std::string::npos) << text;
}
