// The printer and serial options of pellucidore-cli, and printing from BASIC.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "{\\rtf1\\ansi\r\n{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}\r\n";

struct TempDir {
  TempDir(const std::string& name)
      : path(fs::temp_directory_path() / ("pellucidore-" + name + "-" + std::to_string(getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path());
  return out;
}

std::string Base(const TempDir& start) {
  return Cli() + " --start-dir '" + start.path.string() + "' --rom-dir '" + RomDir() + "'";
}

TEST(PrinterCli, BadModeAndUnopenablePort) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  TempDir start("cli-start");
  EXPECT_EQ(RunCommand(Base(start) + " --frames 1 --printer-mode 6").status, 2);

  const CommandResult r = RunCommand(Base(start) + " --frames 1 --serial /dev/ttyNOSUCHPORT");
  EXPECT_EQ(r.status, 0) << "the interface is switched off, the run goes on";
  EXPECT_NE(r.out.find("/dev/ttyNOSUCHPORT"), std::string::npos) << r.out;

  // Nothing printed: the document is removed again.
  TempDir prints("cli-prints");
  EXPECT_EQ(RunCommand(Base(start) + " --frames 5 --printer-dir '" + prints.path.string() + "'").status, 0);
  EXPECT_TRUE(FilesIn(prints.path).empty());
}

TEST(PrinterCli, BasicPrintsThroughChannel8IntoRtf) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  if (RunCommand(Cli() + " --help").out.find("--type") == std::string::npos)
    GTEST_SKIP() << "the runner has no --type yet";
  TempDir start("cli-basic");
  TempDir prints("cli-basic-prints");
  // CHR$(123) is '{', CHR$(27);"-";"1" underline on.
  const std::string program =
      "PRINT #8,\"HI\";CHR$(123);CHR$(27);\"-1AB\";CHR$(27);\"-0\"\\n"
      "PRINT #8,\"OK\"\\n";
  const CommandResult r = RunCommand(Base(start) + " --benchmark --seconds 12 --printer-dir '" + prints.path.string() +
                                     "' --type '" + program + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  const auto files = FilesIn(prints.path);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0].filename().string(), std::regex("CPC[0-9]+\\.rtf")));
  std::ifstream in(files[0], std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(text, std::string(kHeader) + "H I \\{ \\ul A B \\ul0 \\par O K \\par \r\n}");
}

}  // namespace
