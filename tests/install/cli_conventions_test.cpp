// --help, --version and argument errors of both programs, as GNU tools
// behave: answers on stdout with status 0, errors on stderr with the
// program's name in front.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "install_support.h"

namespace {

using namespace install_test;

struct Streams {
  int status = -1;
  std::string out, err;
};

Streams RunSplit(const std::string& command, const fs::path& scratch) {
  const fs::path err = scratch / "stderr.txt";
  const CommandResult r = RunCommand("(cd " + Quote(scratch) + " && (" + command + ") 2>" + Quote(err) + ")");
  Streams s{r.status, r.out, ""};
  std::ifstream in(err);
  s.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return s;
}

TEST(GnuConventions, RunnerHelpVersionAndErrors) {
  ScratchDir scratch("cli");
  const Streams version = RunSplit(Cli() + " --version", scratch.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "pellucidore-cli (Pellucidore) 1.1\n");
  EXPECT_EQ(version.err, "");

  const Streams help = RunSplit(Cli() + " --help", scratch.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* text : {"Usage: pellucidore-cli", "--help", "--version", "--rom-dir", "--screen-text", "Examples:"})
    EXPECT_NE(help.out.find(text), std::string::npos) << text << "\n" << help.out;

  for (const char* args : {"--no-such-option", "--frames", "--frames x", "stray"}) {
    const Streams bad = RunSplit(Cli() + " " + args, scratch.path());
    EXPECT_EQ(bad.status, 2) << args;
    EXPECT_EQ(bad.out, "") << args;
    EXPECT_EQ(bad.err.rfind("pellucidore-cli: ", 0), 0u) << args << ": " << bad.err;
    EXPECT_NE(bad.err.find("--help"), std::string::npos) << args << ": " << bad.err;
  }
}

TEST(GnuConventions, WindowProgramAnswersWithoutADisplay) {
  const fs::path gui = BuildDir() / "pellucidore";
  if (!fs::exists(gui)) GTEST_SKIP() << "no window build (Qt 6 was not found)";
  ScratchDir scratch("gui");
  // No display and no platform plugin chosen: the answers come before Qt starts.
  const std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  const Streams version = RunSplit(env + Quote(gui) + " --version", scratch.path());
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, "pellucidore (Pellucidore) 1.1\n");
  const Streams help = RunSplit(env + Quote(gui) + " --help", scratch.path());
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out.rfind("Usage: pellucidore ", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("pellucidore-launcher"), std::string::npos);
  EXPECT_FALSE(fs::exists(scratch.path() / "Pellux.ini"));
}

}  // namespace
