// What programs that probe the hardware are told, through the runner with
// the firmware: a BASIC read-back of the CRTC and SHAKER 2.4's CRTC
// identification, under each CRTC type.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli_support.h"
#include "install/install_support.h"  // ScratchDir

namespace fs = std::filesystem;

namespace {

class CliHardwareProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
    scratch = std::make_unique<install_test::ScratchDir>("probe");
  }
  // The runner in an empty start folder, with a profile that selects the
  // CRTC type.
  std::string Machine(int crtcType) const {
    const fs::path profile = scratch->path() / ("crtc" + std::to_string(crtcType) + ".pfl");
    std::ofstream(profile) << "[CPC]\nCRTCTYPE=" << crtcType << "\n";
    return Cli() + " --start-dir '" + scratch->path().string() + "' --rom-dir '" + RomDir() + "' --profile '" +
           profile.string() + "'";
  }
  std::unique_ptr<install_test::ScratchDir> scratch;
};

// R1 is write-only; R12 is readable on type 0 only (the firmware left &30
// in it); &BExx is the UM6845R's status register (bit 5 = vertical border,
// so 0 or 32 by when BASIC reads it) and reads &FF on the others; R31 reads
// &FF on the UM6845R and 0 on the others. Source: CPCWiki CRTC page,
// register read-back per type and the status register.
TEST_F(CliHardwareProbe, BasicReadsTheCrtcAsTheRealChipsAnswer) {
  struct Case {
    int type;
    std::vector<std::string> answers;
  };
  const Case cases[] = {
      {0, {" 0  48  255  0"}},
      {1, {" 0  0  0  255", " 0  0  32  255"}},
      {2, {" 0  0  255  0"}},
  };
  const std::string probe =
      "OUT &BC00,1:A=INP(&BF00):OUT &BC00,12:B=INP(&BF00):C=INP(&BE00):OUT &BC00,31:D=INP(&BF00):PRINT A;B;C;D";
  for (const Case& c : cases) {
    auto r = RunCommand(Machine(c.type) + " --type '" + probe + "\\n' --seconds 12 --screen-text --benchmark");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto lines = ScreenLines(r.out);
    const bool found = std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
      return std::find(c.answers.begin(), c.answers.end(), l) != c.answers.end();
    });
    EXPECT_TRUE(found) << "CRTC type " << c.type << "\n" << r.out;
  }
}

// SHAKER 2.4, module A: its menu's last line names the CRTC it detected.
TEST_F(CliHardwareProbe, ShakerIdentifiesEachCrtcType) {
  const fs::path disk = fs::path(SharedDir()) / "testdata/suites/shaker24.dsk";
  if (!fs::exists(disk)) GTEST_SKIP() << "SHAKER 2.4 disk not found: " << disk;
  for (int type = 0; type < 3; ++type) {
    auto r = RunCommand(Machine(type) + " --disk-a '" + disk.string() +
                        "' --type 'RUN\"SHAKER24\nA' --seconds 40 --screen-text --benchmark");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto lines = ScreenLines(r.out);
    auto last = std::find_if(lines.rbegin(), lines.rend(), [](const std::string& l) { return !l.empty(); });
    ASSERT_NE(last, lines.rend()) << r.out;
    EXPECT_EQ(*last, "CRTC " + std::to_string(type)) << r.out;
  }
}

}  // namespace
