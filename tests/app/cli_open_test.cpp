// The runner with nothing but the program: the built-in firmware, --model,
// files named on the command line and --autorun.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "cli_support.h"

namespace fs = std::filesystem;

namespace {

// A path in single quotes for the shell.
std::string Quoted(const fs::path& p) {
  std::string q = "'";
  q += p.string();
  q += '\'';
  return q;
}

class CliOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    // An empty start folder: no ROMS folder, no Pellux.ini, no profile.
    startDir = fs::temp_directory_path() /
               ("pellucidore-open-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(startDir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(startDir, ec);
  }
  CommandResult Run(const std::string& args) const {
    return RunCommand(Cli() + " --start-dir " + Quoted(startDir) + " --benchmark " + args);
  }
  fs::path startDir;
};

TEST_F(CliOpen, EachModelReachesItsBasicWithoutARomFolder) {
  struct Case {
    const char* model;
    std::vector<const char*> shown;
  } cases[] = {
      {"464", {"Amstrad 64K Microcomputer  (v1)", "BASIC 1.0", "Ready"}},
      {"664", {"Amstrad 64K Microcomputer  (v2)", "BASIC 1.1", "Ready"}},
      {"6128", {"Amstrad 128K Microcomputer  (v3)", "BASIC 1.1", "Ready"}},
      {"6128-4mb", {"Amstrad 128K Microcomputer  (v3)", "BASIC 1.1", "Ready"}},
  };
  for (const Case& c : cases) {
    std::string args = "--seconds 3 --screen-text --model ";
    args += c.model;
    const CommandResult r = Run(args);
    ASSERT_EQ(r.status, 0) << c.model << ": " << r.out;
    for (const char* text : c.shown) EXPECT_NE(r.out.find(text), std::string::npos) << c.model << ": " << r.out;
  }
  const CommandResult bad = Run("--model 472 --frames 1");
  EXPECT_EQ(bad.status, 2) << bad.out;
  EXPECT_NE(bad.out.find("472"), std::string::npos) << bad.out;
  // A ROM folder that is asked for must exist; a name found nowhere is refused.
  EXPECT_EQ(Run("--rom-dir /nonexistent --frames 1").status, 2);
  const CommandResult nowhere = Run("--rom-low NOSUCH.ROM --frames 1");
  EXPECT_EQ(nowhere.status, 2);
  EXPECT_NE(nowhere.out.find("NOSUCH.ROM"), std::string::npos) << nowhere.out;
}

TEST_F(CliOpen, ADiskOnTheCommandLineRunsWithAutorun) {
  const fs::path dsk = fs::path(SharedDir()) / "testdata/dsk";
  if (!fs::exists(dsk / "hello.zip")) GTEST_SKIP() << "test disks not found in " << dsk;
  const fs::path prints = startDir / "prints";
  fs::create_directories(prints);
  // The archive, named like any file: its content tells it apart.
  const CommandResult r =
      Run(Quoted(dsk / "hello.zip") + " --autorun --printer-mode 4 --seconds 8 --printer-dir " + Quoted(prints));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("autorun: RUN\"HELLO"), std::string::npos) << r.out;
  // The BIN file holds every byte written to the port; the characters are
  // the ones sent with the strobe (bit 7) set.
  std::string printed;
  for (const auto& entry : fs::directory_iterator(prints)) {
    std::ifstream in(entry.path(), std::ios::binary);
    for (char c : std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()))
      if (c & 0x80) printed += static_cast<char>(c & 0x7F);
  }
  std::ifstream expected(dsk / "hello_printer_expected.dat", std::ios::binary);
  EXPECT_EQ(printed, std::string(std::istreambuf_iterator<char>(expected), std::istreambuf_iterator<char>()));
}

TEST_F(CliOpen, SnapshotsByContentAndOtherFilesRefused) {
  const fs::path sna = fs::path(SharedDir()) / "testdata/sna/loop4000_v2.sna";
  if (!fs::exists(sna)) GTEST_SKIP() << "snapshot not found: " << sna;
  const fs::path copy = startDir / "renamed.dsk";  // the name misleads
  fs::copy_file(sna, copy);
  const fs::path saved = startDir / "after.sna";
  const CommandResult r = Run(Quoted(copy) + " --frames 2 --save-snapshot " + Quoted(saved));
  ASSERT_EQ(r.status, 0) << r.out;
  std::ifstream in(saved, std::ios::binary);
  std::string header(0x30, '\0');
  in.read(header.data(), static_cast<std::streamsize>(header.size()));
  // PC (&23-&24) still inside the loop at &4001.
  EXPECT_EQ(static_cast<unsigned char>(header[0x23]) | static_cast<unsigned char>(header[0x24]) << 8, 0x4001);

  std::ofstream(startDir / "notes.txt") << "hello";
  const CommandResult text = Run(Quoted(startDir / "notes.txt") + " --frames 1");
  EXPECT_EQ(text.status, 2);
  EXPECT_NE(text.out.find("notes.txt"), std::string::npos) << text.out;
}

}  // namespace
