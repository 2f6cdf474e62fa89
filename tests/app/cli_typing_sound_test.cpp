// The firmware through the runner: start-up text of each machine, typing
// into BASIC, and the sound a typed SOUND command records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <vector>

#include "cli_support.h"
#include "sound_measure.h"

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

// SOUND 1,142 is A4: 62500 / 142 = 440.14 Hz on a real CPC, at every rate.
TEST_F(CliFirmware, RecordedSoundHoldsTheTypedToneInTune) {
  for (const uint32_t rate : {22050u, 44100u, 48000u}) {
    SCOPED_TRACE(rate);
    const fs::path wav = startDir / ("sound-" + std::to_string(rate) + ".wav");
    auto r = RunCommand(Cli() + RomArgs() + " --seconds 7 --type 'SOUND 1,142,200,15\\n' --sample-rate " +
                        std::to_string(rate) + " --wav '" + wav.string() + "' --benchmark");
    ASSERT_EQ(r.status, 0) << r.out;
    const Pcm pcm = ReadWav(wav);
    ASSERT_EQ(pcm.Rate, rate);
    ASSERT_EQ(pcm.Channels, 2u);
    ASSERT_EQ(pcm.Bits, 16u);
    ASSERT_EQ(pcm.Channel[0].size(), 7 * rate) << "7 s, one buffer per frame";

    // Channel A is the left channel; the right one (B and C) stays silent.
    const std::vector<int>& left = pcm.Channel[0];
    const std::vector<int>& right = pcm.Channel[1];
    EXPECT_EQ(std::count(right.begin(), right.end(), 0), static_cast<long>(right.size()));
    int peak = 0;
    for (int v : left) peak = std::max(peak, std::abs(v));
    ASSERT_GT(peak, 8000) << "no tone recorded";
    size_t first = 0, last = left.size();
    while (first < last && std::abs(left[first]) < peak / 4) ++first;
    while (last > first && std::abs(left[last - 1]) < peak / 4) --last;
    const std::vector<int> tone(left.begin() + first, left.begin() + last);
    EXPECT_NEAR(CrossingFrequency(tone, rate, 0, peak / 4), 440.14, 440.14 * 0.002);
    // SOUND's duration 200 is two seconds.
    EXPECT_NEAR((last - first) / static_cast<double>(rate), 2.0, 0.05);
  }
}

// The whole run is recorded at any speed: a frame of picture, 20 ms of sound.
TEST_F(CliFirmware, RecordingsAtHalfSpeedKeepOneBufferPerFrame) {
  const fs::path wav = startDir / "half.wav";
  auto r = RunCommand(Cli() + RomArgs() + " --speed 50 --frames 300 --wav '" + wav.string() + "' --benchmark");
  ASSERT_EQ(r.status, 0) << r.out;
  const Pcm pcm = ReadWav(wav);
  ASSERT_EQ(pcm.Rate, 44100u);
  EXPECT_EQ(pcm.Channel[0].size(), 6u * 44100) << "6.00 s";
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
