// What the runner loads and does before and around its periods: no capture,
// print or text-conversion libraries at start, the AVI module only for
// --avi (and a clear refusal without it), and the benchmark's figures.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "cli_support.h"
#include "install/install_support.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder per use, removed afterwards.
class TempDir : public install_test::ScratchDir {
 public:
  TempDir() : ScratchDir("startup") {}
};

TEST(RunnerStartup, LinksNoCaptureEncoderPrintSystemOrUnicodeLibrary) {
  if (RunCommand("command -v ldd >/dev/null").status != 0) GTEST_SKIP() << "ldd not found";
  const CommandResult ldd = RunCommand("ldd " + Cli());
  ASSERT_EQ(ldd.status, 0) << ldd.out;
  for (const char* library : {"libavformat", "libavcodec", "libswscale", "libcups", "libicu", "libsimpleini"})
    EXPECT_EQ(ldd.out.find(library), std::string::npos) << library << " is loaded at every start:\n" << ldd.out;
}

TEST(RunnerStartup, AviWithoutAUsableModuleStopsTheRunAndSaysWhy) {
  struct Case {
    const char* name;
    const char* moduleBytes;  // nullptr: no module file at all
    const char* expected;
  };
  for (const Case& c : {Case{"missing", nullptr, "pellucidore_avi.so not found"},
                        Case{"not a library", "not an ELF file", "cannot load"}}) {
    TempDir dir;
    if (c.moduleBytes) std::ofstream(dir.path() / "pellucidore_avi.so") << c.moduleBytes;
    const fs::path avi = dir.path() / "run.avi";
    const CommandResult r = RunCommand("PELLUCIDORE_MODULE_DIR='" + dir.path().string() + "' " + Cli() +
                                       " --start-dir '" + dir.path().string() + "' --frames 2 --avi '" +
                                       avi.string() + "'");
    EXPECT_EQ(r.status, 2) << c.name << ": " << r.out;
    EXPECT_NE(r.out.find("AVI recording is not available"), std::string::npos) << c.name << ": " << r.out;
    EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.name << ": " << r.out;
    EXPECT_FALSE(fs::exists(avi)) << c.name;
  }
}

TEST(RunnerStartup, BenchmarkPrintsStartUpApartFromTheSpeed) {
  TempDir dir;
  const CommandResult r =
      RunCommand(Cli() + " --start-dir '" + dir.path().string() + "' --frames 10 --benchmark --screen-text");
  ASSERT_EQ(r.status, 0) << r.out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m,
                                std::regex("^start-up: ([0-9]+\\.[0-9]) ms\\nperiods: 10, machine time: 0\\.20 s, "
                                           "wall time: [0-9.]+ s\\nemulated speed: [0-9]+% of real time\\n")))
      << r.out;
  EXPECT_GT(std::stod(m[1]), 0.0) << r.out;
}

}  // namespace
