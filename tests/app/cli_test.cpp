#include <gtest/gtest.h>

#include <regex>

#include "cli_support.h"

namespace {

TEST(Cli, BenchmarkPrintsSpeed) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  auto r = RunCommand(Cli() + " --rom-dir '" + RomDir() + "' --frames 250 --benchmark");
  ASSERT_EQ(r.status, 0) << r.out;
  std::smatch match;
  std::string lastLine = r.out.substr(r.out.find_last_of('\n', r.out.size() - 2) + 1);
  EXPECT_TRUE(std::regex_match(lastLine, match, std::regex("emulated speed: ([0-9]+)% of real time\n")))
      << r.out;
}

TEST(Cli, BadArgumentsExitWithTwo) {
  struct Case {
    std::string args;
    std::string message;
  } cases[] = {
      {"--rom-dir /nonexistent/roms --frames 1", "ROM folder not found: /nonexistent/roms"},
      {"--frames -3", "--frames"},
      {"--speed 5000", "--speed"},
      {"--no-such-option", "no-such-option"},
  };
  for (const auto& c : cases) {
    auto r = RunCommand(Cli() + " " + c.args);
    EXPECT_EQ(r.status, 2) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one-line message expected: " << r.out;
  }
}

}  // namespace
