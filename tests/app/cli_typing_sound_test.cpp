// The firmware through the runner: start-up text of each machine, typing
// into BASIC, and the sound a typed SOUND command records.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <vector>

#include "cli_support.h"

namespace fs = std::filesystem;

namespace {

// Runs in an empty start folder, so no Pellux.ini or profile of the working
// folder changes the machine or the recording format.
class CliFirmware : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
    startDir = fs::temp_directory_path() /
               ("pellucidore-firmware-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(startDir);
  }
  void TearDown() override {
    std::error_code ec;
    if (!startDir.empty()) fs::remove_all(startDir, ec);
  }
  std::string RomArgs() const { return " --start-dir '" + startDir.string() + "' --rom-dir '" + RomDir() + "'"; }
  fs::path startDir;
};

// The line after the first one equal to `after`, or "" when there is none.
std::string LineAfter(const std::vector<std::string>& lines, const std::string& after) {
  for (size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i] == after) return lines[i + 1];
  return "";
}

TEST_F(CliFirmware, EachMachineStartsToItsBasic) {
  struct Case {
    std::string roms;
    std::vector<std::string> text;
  };
  const Case cases[] = {
      {"", {" Amstrad 128K Microcomputer  (v3)", " BASIC 1.1", "Ready"}},
      {" --rom-low 664Low.ROM --rom-upper 0=664BASIC.ROM", {" Amstrad 64K Microcomputer  (v2)", " BASIC 1.1", "Ready"}},
      {" --rom-low 464Low.ROM --rom-upper 0=464BASIC.ROM --rom-upper 7=EMPTY",
       {" Amstrad 64K Microcomputer  (v1)", " BASIC 1.0", "Ready"}},
  };
  for (const Case& c : cases) {
    auto r = RunCommand(Cli() + RomArgs() + c.roms + " --seconds 3 --screen-text --benchmark");
    ASSERT_EQ(r.status, 0) << c.roms << "\n" << r.out;
    const auto lines = ScreenLines(r.out);
    for (const std::string& want : c.text)
      EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << "missing '" << want << "'\n" << r.out;
  }
}

// 200 shifted letters take 20 s, more than the 12.5 s in which the period
// ends drift once through the firmware's keyboard scan.
TEST_F(CliFirmware, LongTypedTextKeepsItsCase) {
  std::string letters;
  for (int i = 0; i < 20; ++i) letters += "ABCDEFGHIJ";
  auto r = RunCommand(Cli() + RomArgs() + " --type 'REM " + letters + "' --screen-text --benchmark");
  ASSERT_EQ(r.status, 0) << r.out;
  std::string typed;
  bool on = false;
  for (const std::string& line : ScreenLines(r.out)) {
    if (line.rfind("REM ", 0) == 0) on = true;
    if (on) typed += line;
  }
  EXPECT_EQ(typed, "REM " + letters) << r.out;
}

TEST_F(CliFirmware, TypedCommandsRunInBasic) {
  auto r = RunCommand(Cli() + RomArgs() + " --seconds 3 --type 'PRINT 6*7\\n' --screen-text --benchmark");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(LineAfter(ScreenLines(r.out), "PRINT 6*7"), " 42") << r.out;

  // Shifted characters, a program and RUN; the run lasts as long as the typing.
  r = RunCommand(Cli() + RomArgs() + " --type '10 FOR i=1 TO 5:PRINT i*i;:NEXT\\nRUN\\n' --screen-text --benchmark");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(LineAfter(ScreenLines(r.out), "RUN"), " 1  4  9  16  25") << r.out;
}

TEST_F(CliFirmware, RecordedSoundHoldsTheTypedTone) {
  const fs::path wav = startDir / "sound-284.wav";
  auto r = RunCommand(Cli() + RomArgs() + " --seconds 5 --type 'SOUND 1,284,100,15\\n' --wav '" + wav.string() +
                      "' --benchmark");
  ASSERT_EQ(r.status, 0) << r.out;
  std::ifstream in(wav, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(b.size(), 44u + 5 * 44100 * 4) << "5 s of 44100 Hz 16-bit stereo";

  // Channel A is the left channel; the right one (B and C) stays silent.
  std::vector<int> left;
  for (size_t i = 44; i + 3 < b.size(); i += 4) {
    left.push_back(static_cast<int16_t>(b[i] | (b[i + 1] << 8)));
    ASSERT_EQ(b[i + 2] | (b[i + 3] << 8), 0) << "right channel at sample " << (i - 44) / 4;
  }
  size_t first = 0, last = left.size();
  while (first < left.size() && left[first] == 0) ++first;
  while (last > first && left[last - 1] == 0) --last;
  ASSERT_LT(first, last) << "no tone recorded";

  // Period 284 at 44100 Hz: the flip-flop toggles every 100 + 1 samples, a
  // 202-sample wave (218.3 Hz). Whole half waves between the first and last
  // edges all have that length.
  std::vector<size_t> edges;
  for (size_t i = first + 1; i < last; ++i)
    if ((left[i] == 0) != (left[i - 1] == 0)) edges.push_back(i);
  ASSERT_GT(edges.size(), 100u);
  for (size_t i = 1; i < edges.size(); ++i) ASSERT_EQ(edges[i] - edges[i - 1], 101u) << "edge " << i;
  const double wave = 2.0 * (edges.back() - edges.front()) / (edges.size() - 1);
  EXPECT_DOUBLE_EQ(wave, 202.0);
  // SOUND's duration 100 is one second.
  EXPECT_NEAR((last - first) / 44100.0, 1.0, 0.05);
}

TEST_F(CliFirmware, RomOptionsAreChecked) {
  const std::pair<std::string, std::string> cases[] = {
      {" --rom-upper 16=AMSDOS.ROM", "SLOT=NAME"},
      {" --rom-upper AMSDOS.ROM", "SLOT=NAME"},
      {" --rom-upper 3=", "SLOT=NAME"},
      {" --rom-upper 3=NoSuch.ROM", "upper ROM not found"},
      {" --rom-low NoSuch.ROM", "lower ROM not found"},
      {" --wav /nonexistent-folder/x.wav", "x.wav"},
  };
  for (const auto& [args, message] : cases) {
    auto r = RunCommand(Cli() + RomArgs() + args + " --frames 1");
    EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
    EXPECT_NE(r.out.find(message), std::string::npos) << args << "\n" << r.out;
  }
}

}  // namespace
