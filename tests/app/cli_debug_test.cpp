// The runner for build scripts: breakpoints, watchpoints, conditions that
// end the run, traces and memory dumps, with the 6128 firmware.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  Scratch() : dir(fs::temp_directory_path() / ("pellucidore-clidebug-" + std::to_string(getpid()))) {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~Scratch() { fs::remove_all(dir); }
  fs::path dir;
};

std::string RunCli(const Scratch& s, const std::string& args, int& status) {
  const CommandResult r =
      RunCommand(Cli() + " --start-dir '" + s.dir.string() + "' --rom-dir '" + RomDir() + "' --benchmark " + args);
  status = r.status;
  return r.out;
}

TEST(CliDebug, BreakpointByNameStopsWithStatus3AndRegisters) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  Scratch s;
  // TXT OUTPUT, as an assembler's symbol file would name it.
  std::ofstream(s.dir / "firmware.sym") << "txt_output: equ 0xBB5A\nkm_wait_key EQU &BB18\n";
  int status = 0;
  const std::string out = RunCli(s, "--symbols '" + (s.dir / "firmware.sym").string() +
                                     "' --break 'txt_output:A==&52' --seconds 5", status);
  EXPECT_EQ(status, 3) << out;
  // "Ready" is the first text printed with an "R".
  EXPECT_NE(out.find("BREAK at &BB5A (txt_output) if A==&52"), std::string::npos) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("PC=&BB5A SP=&[0-9A-F]{4} AF=&52[0-9A-F]{2} "))) << out;
}

TEST(CliDebug, WatchpointCatchesTheFirmwareClearingMemory) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  Scratch s;
  int status = 0;
  // BASIC clears its memory at start-up, from a ROM.
  const std::string out = RunCli(s, "--watch '&7001+2:w' --seconds 6", status);
  EXPECT_EQ(status, 3) << out;
  EXPECT_NE(out.find("WATCH write &7001\n"), std::string::npos) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("PC=&[0-3C-F][0-9A-F]{3} "))) << out;
}

TEST(CliDebug, UntilConditionsEndTheRunOrFailWithStatus4) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  Scratch s;
  int status = 0;
  std::string out = RunCli(s, "--until-text Ready --seconds 30", status);
  EXPECT_EQ(status, 0) << out;
  const std::regex periods("periods: ([0-9]+)");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(out, match, periods)) << out;
  EXPECT_LT(std::stoi(match[1]), 200) << "ended once Ready showed, not after 30 s";

  out = RunCli(s, "--until-text 'Syntax error' --seconds 3", status);
  EXPECT_EQ(status, 4) << out;
  EXPECT_NE(out.find("not reached before the end of the run: the text \"Syntax error\""), std::string::npos) << out;

  out = RunCli(s, "--until-memory '&7000=&2A' --type 'POKE &7000,42\\n' --seconds 8", status);
  EXPECT_EQ(status, 0) << out;
  out = RunCli(s, "--until-pc '&BB5A' --seconds 5", status);  // TXT OUTPUT, as the banner is printed
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("reached at &BB5A"), std::string::npos) << out;

  for (const char* bad : {"--break nowhere", "--watch '&4000:x'", "--until-memory '&4000'",
                          "--dump-memory '&4000:0:f'", "--break '&4000:A=='"}) {
    out = RunCli(s, std::string(bad) + " --frames 1", status);
    EXPECT_EQ(status, 2) << bad << ": " << out;
  }
}

TEST(CliDebug, TraceAndDump) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  Scratch s;
  const fs::path trace = s.dir / "trace.txt", dump = s.dir / "poked.bin";
  int status = 0;
  const std::string out = RunCli(s, "--seconds 5 --type 'POKE &7000,42\\n' --trace '" + trace.string() +
                                     "' --trace-from 1 --trace-frames 1 --dump-memory '&7000:2:" + dump.string() + "'",
                              status);
  ASSERT_EQ(status, 0) << out;
  std::ifstream in(trace);
  std::string line;
  int lines = 0;
  const std::regex shape("([0-9A-F]{4})  ([0-9A-F]{2} )+ +[A-Z].* PC=&([0-9A-F]{4}) .*");
  while (std::getline(in, line)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    EXPECT_EQ(m[1], m[3]);
    ++lines;
  }
  // One 20 ms period: thousands of instructions, each at most 6 us.
  EXPECT_GT(lines, 20000 / 6);
  EXPECT_LT(lines, 20000);
  std::ifstream got(dump, std::ios::binary);
  const std::string dumped{std::istreambuf_iterator<char>(got), {}};
  ASSERT_EQ(dumped.size(), 2u);
  EXPECT_EQ(dumped[0], 42);
}

}  // namespace
