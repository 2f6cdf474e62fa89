// The CP/M stand-in, the pellucidore-cpm runner, and ZEXDOC through both.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/cpm_shim.h"

namespace {

namespace fs = std::filesystem;

fs::path SharedDir() {
  if (const char* env = std::getenv("PELLUCIDORE_SHARED_DIR")) return env;
  return PELLUCIDORE_SHARED_DIR;
}

// LD C,2; LD E,'>'; CALL 5; LD C,9; LD DE,msg; CALL 5; JP 0; msg: "hi$"
const std::vector<uint8_t> kHello = {0x0E, 0x02, 0x1E, '>',  0xCD, 0x05, 0x00, 0x0E, 0x09, 0x11, 0x13,
                                     0x01, 0xCD, 0x05, 0x00, 0xC3, 0x00, 0x00, 0x00, 'h',  'i',  '$'};

struct Command {
  int status;
  std::string out;
};

Command RunTool(const std::string& args) {
  const std::string cmd = std::string(PELLUCIDORE_CPM_PATH) + " " + args + " 2>&1";
  Command c{-1, {}};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return c;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) c.out.append(buf, n);
  const int status = pclose(p);
  c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return c;
}

TEST(CpmShim, ConsoleCallsPrintAndJumpToZeroEnds) {
  auto m = std::make_unique<CpmMachine>();
  ASSERT_TRUE(LoadCpmImage(*m, kHello));
  std::ostringstream out;
  EXPECT_FALSE(RunCpm(*m, out, 3));  // stopped by the budget, not ended
  EXPECT_TRUE(RunCpm(*m, out, 1000));
  EXPECT_EQ(out.str(), ">hi");
  EXPECT_EQ(m->Instructions, 9u);  // 7 of the program, 2 RETs at the BDOS entry
  EXPECT_TRUE(RunCpm(*m, out, 1000));
  EXPECT_EQ(m->Instructions, 9u);
}

TEST(CpmShim, RefusesImagesThatDoNotFit) {
  auto m = std::make_unique<CpmMachine>();
  EXPECT_FALSE(LoadCpmImage(*m, std::vector<uint8_t>(0x10000 - 0x100 + 1)));
  std::string error;
  EXPECT_FALSE(LoadCpmFile(*m, "/nonexistent/x.com", error));
  EXPECT_NE(error.find("/nonexistent/x.com"), std::string::npos);
}

TEST(CpmTool, RunsAProgramAndReportsUnreadableFiles) {
  const fs::path file = fs::temp_directory_path() / "pellucidore_cpm_hello.com";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(kHello.data()), kHello.size());
  const Command ok = RunTool(file.string());
  fs::remove(file);
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out.rfind(">hi", 0), 0u) << ok.out;

  const Command missing = RunTool("/nonexistent/x.com");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(std::count(missing.out.begin(), missing.out.end(), '\n'), 1) << missing.out;
  EXPECT_EQ(RunTool("").status, 2);
}

// The main correctness gate: every group CRCs the machine state after
// thousands of operand combinations against a real Z80's.
TEST(Zexdoc, EveryGroupMatchesTheChip) {
  const fs::path zexdoc = SharedDir() / "testdata/z80/zexdoc.com";
  if (!fs::exists(zexdoc)) GTEST_SKIP() << "zexdoc.com not found at " << zexdoc;
  auto m = std::make_unique<CpmMachine>();
  std::string error;
  ASSERT_TRUE(LoadCpmFile(*m, zexdoc.string(), error)) << error;
  std::ostringstream out;
  ASSERT_TRUE(RunCpm(*m, out, 7'000'000'000ull)) << out.str();

  std::istringstream lines(out.str());
  std::string line;
  int ok = 0;
  std::vector<std::string> errors;
  while (std::getline(lines, line)) {
    if (line.find("  OK") != std::string::npos) ++ok;
    if (line.find("ERROR") != std::string::npos) errors.push_back(line);
  }
  EXPECT_EQ(ok, 67) << out.str();
  EXPECT_TRUE(errors.empty()) << out.str();
  EXPECT_NE(out.str().find("Tests complete"), std::string::npos);
}

}  // namespace
