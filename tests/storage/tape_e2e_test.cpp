// Tapes through the runner on a 464: the firmware loads shared tape images
// from the pulse stream, and what SAVE records loads back.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "cli_support.h"

namespace fs = std::filesystem;

namespace {

class TapeRunner : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(RomDir() + "/464Low.ROM")) GTEST_SKIP() << "CPC 464 ROMs not found in " << RomDir();
    startDir = fs::temp_directory_path() /
               ("pellucidore-tape-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(startDir);
  }
  void TearDown() override {
    std::error_code ec;
    if (!startDir.empty()) fs::remove_all(startDir, ec);
  }
  // A 464 in an empty start folder, run unthrottled.
  std::string Cli464() const {
    return Cli() + " --start-dir '" + startDir.string() + "' --rom-dir '" + RomDir() +
           "' --rom-low 464Low.ROM --rom-upper 0=464BASIC.ROM --rom-upper 7=EMPTY --benchmark";
  }
  static std::string Tape(const std::string& name) { return SharedDir() + "/testdata/cdt/" + name; }
  fs::path startDir;
};

TEST_F(TapeRunner, FirmwareLoadsAndRunsTapes) {
  struct Case {
    const char* File;
    int Seconds;
    const char* Shows;
  } cases[] = {
      {"retroload_rl.cdt", 30, "LOADED AND EXECUTED!"},   // pure data blocks, no pilot
      {"pox_eclipse.cdt", 80, "PRESS ANY KEY TO CONTINUE"},  // 2000 baud turbo blocks
  };
  for (const Case& c : cases) {
    if (!fs::exists(Tape(c.File))) GTEST_SKIP() << "tape images not found in " << Tape("");
    const CommandResult r = RunCommand(Cli464() + " --tape '" + Tape(c.File) + "' --type 'RUN\"\\n' --seconds " +
                                       std::to_string(c.Seconds) + " --screen-text");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(c.Shows), std::string::npos) << c.File << ":\n" << r.out;
  }
}

TEST_F(TapeRunner, SavedProgramLoadsBack) {
  const std::string cdt = (startDir / "saved.cdt").string();
  const CommandResult saved = RunCommand(Cli464() + " --tape-record '" + cdt +
                                         "' --type '10 PRINT \"ROUND TRIP\"\\n20 GOTO 10\\nSAVE\"PROG\"\\n' "
                                         "--seconds 30 --screen-text");
  ASSERT_EQ(saved.status, 0) << saved.out;
  EXPECT_NE(saved.out.find("Saving PROG block 1"), std::string::npos) << saved.out;
  ASSERT_TRUE(fs::exists(cdt));
  // A new machine; the space answers the firmware's prompt, LIST waits in
  // the key buffer until the load is done.
  const CommandResult loaded = RunCommand(Cli464() + " --tape '" + cdt +
                                          "' --type 'LOAD\"PROG\"\\n LIST\\n' --seconds 40 --screen-text");
  ASSERT_EQ(loaded.status, 0) << loaded.out;
  EXPECT_NE(loaded.out.find("Loading PROG block 1"), std::string::npos) << loaded.out;
  EXPECT_NE(loaded.out.find("10 PRINT \"ROUND TRIP\"\n20 GOTO 10\n"), std::string::npos) << loaded.out;
}

TEST_F(TapeRunner, BadTapeFileIsRefused) {
  const fs::path junk = startDir / "junk.cdt";
  FILE* f = std::fopen(junk.string().c_str(), "w");
  std::fputs("junk", f);
  std::fclose(f);
  const CommandResult r = RunCommand(Cli464() + " --tape '" + junk.string() + "' --frames 1");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Not a tape image"), std::string::npos) << r.out;
}

}  // namespace
