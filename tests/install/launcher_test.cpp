// The desktop launcher: which folder becomes the start directory, that it is
// laid out on first use, and that the installed program then gets as far
// as its window and says where the ROM images belong.
#include <gtest/gtest.h>

#include <fstream>

#include "install_support.h"

namespace {

using namespace install_test;

const char* const kFolders[] = {"ROMS", "DISKS", "SNAPSHOTS", "STILLS", "PRINTS", "PROFILES", "CAPTURES"};

// The launcher beside a stand-in `pellucidore` that reports the folder it
// was started in and its arguments.
class LauncherWithStandIn : public testing::Test {
 protected:
  void SetUp() override {
    const CommandResult r = InstallInto(root_.path());
    ASSERT_EQ(r.status, 0) << r.out;
    bin_ = root_.path() / "bin";
    fs::create_directories(bin_);
    fs::copy_file(root_.path() / "usr/bin/pellucidore-launcher", bin_ / "pellucidore-launcher");
    std::ofstream(bin_ / "pellucidore") << "#!/bin/sh\necho \"started in $(pwd) with $*\"\n";
    fs::permissions(bin_ / "pellucidore", fs::perms::owner_all);
    fs::create_directories(root_.path() / "home");
  }
  ScratchDir root_{"launcher"};
  fs::path bin_;
};

TEST_F(LauncherWithStandIn, ChoosesAndLaysOutTheDataFolder) {
  const fs::path home = root_.path() / "home";
  struct Case {
    const char* name;
    std::optional<std::string> xdgDataHome;
    fs::path expected;
  } cases[] = {
      {"XDG_DATA_HOME set", (root_.path() / "data").string(), root_.path() / "data/pellucidore"},
      {"XDG_DATA_HOME unset", std::nullopt, home / ".local/share/pellucidore"},
      {"XDG_DATA_HOME empty", std::string(), home / ".local/share/pellucidore"},
      {"XDG_DATA_HOME relative (invalid)", std::string("relative/data"), home / ".local/share/pellucidore"},
      {"path with a blank", (root_.path() / "my data").string(), root_.path() / "my data/pellucidore"},
  };
  for (const Case& c : cases) {
    fs::remove_all(c.expected);
    Child child(bin_ / "pellucidore-launcher", root_.path(), {{"HOME", home.string()}, {"XDG_DATA_HOME", c.xdgDataHome}});
    ASSERT_TRUE(child.Started());
    EXPECT_TRUE(child.WaitForOutput("started in " + c.expected.string() + " with \n", 10000))
        << c.name << ": " << child.Output();
    for (const char* folder : kFolders) EXPECT_TRUE(fs::is_directory(c.expected / folder)) << c.name << ": " << folder;
  }
}

TEST_F(LauncherWithStandIn, KeepsWhatIsAlreadyThere) {
  const fs::path data = root_.path() / "data/pellucidore";
  fs::create_directories(data / "ROMS");
  std::ofstream(data / "ROMS/6128Low.ROM") << "mine";
  const std::string settings = "[MISC]\nTOOLBAR=0\n";
  std::ofstream(data / "Pellux.ini") << settings;
  Child child(bin_ / "pellucidore-launcher", root_.path(),
              {{"HOME", (root_.path() / "home").string()}, {"XDG_DATA_HOME", (root_.path() / "data").string()}});
  ASSERT_TRUE(child.WaitForOutput("started in " + data.string(), 10000)) << child.Output();
  std::ifstream rom(data / "ROMS/6128Low.ROM");
  std::string text;
  std::getline(rom, text);
  EXPECT_EQ(text, "mine");
  EXPECT_EQ(fs::file_size(data / "Pellux.ini"), settings.size());
}

// The folder changes under the program, so files named relative to where the
// launcher started must reach it whole; options and absolute paths as given.
TEST_F(LauncherWithStandIn, MakesRelativeFilesAbsolute) {
  const fs::path work = root_.path() / "work dir";
  fs::create_directories(work);
  std::ofstream(work / "game.dsk") << "x";
  Child child(bin_ / "pellucidore-launcher", work,
              {{"HOME", (root_.path() / "home").string()}, {"XDG_DATA_HOME", (root_.path() / "data").string()}},
              {"game.dsk", "-platform", "offscreen", "/abs/other.sna", "missing.dsk"});
  ASSERT_TRUE(child.WaitForOutput("\n", 10000)) << child.Output();
  EXPECT_NE(child.Output().find(" with " + (work / "game.dsk").string() + " -platform offscreen /abs/other.sna missing.dsk"),
            std::string::npos)
      << child.Output();
}

// The real program, installed, started the way the desktop starts it, in a
// home that has never seen Pellucidore: the firmware installed with it
// serves, and the status bar (and terminal) says so.
TEST(Launcher, FirstStartReachesTheWindowWithTheBuiltInFirmware) {
  ScratchDir root("first-start");
  if (!fs::exists(BuildDir() / "pellucidore")) GTEST_SKIP() << "no window build (Qt 6 was not found)";
  const CommandResult installed = InstallInto(root.path());
  ASSERT_EQ(installed.status, 0) << installed.out;
  const fs::path data = root.path() / "data";
  const fs::path runtime = root.path() / "runtime";
  fs::create_directories(data);
  fs::create_directories(runtime);
  fs::create_directories(root.path() / "home");
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);

  Child child(root.path() / "usr/bin/pellucidore-launcher", root.path(),
              {{"HOME", (root.path() / "home").string()},
               {"XDG_DATA_HOME", data.string()},
               {"XDG_RUNTIME_DIR", runtime.string()},
               {"QT_QPA_PLATFORM", "offscreen"}});
  ASSERT_TRUE(child.Started());
  const fs::path start = data / "pellucidore";
  const std::string expected = "Built-in firmware used for 6128Low.ROM, 6128BASIC.ROM, AMSDOS.ROM (not in " +
                               (start / "ROMS").string();
  ASSERT_TRUE(child.WaitForOutput(expected, 60000)) << child.Output();
  const std::string& out = child.Output();
  EXPECT_EQ(out.find("Lower ROM not found"), std::string::npos) << out;

  for (const char* folder : kFolders) EXPECT_TRUE(fs::is_directory(start / folder)) << folder;
  // The first start wrote its settings and default profile.
  EXPECT_TRUE(fs::is_regular_file(start / "Pellux.ini"));
  EXPECT_TRUE(fs::is_regular_file(start / "PROFILES/Default.pfl"));
  EXPECT_TRUE(fs::is_regular_file(start / "PROFILES/CPC464.pfl"));
  // Past the constructor: the event loop runs and keeps running.
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(child.Running()) << "the program ended:\n" << child.Output();
    usleep(100 * 1000);
  }
  EXPECT_EQ(out.find("Unable to write"), std::string::npos) << out;
}

// `pellucidore-launcher FILE` from another folder: the program gets the file
// whole, puts the disk in drive A and starts it; a file that is no disk is
// named and the program goes on.
TEST(Launcher, OpensAndRunsADiskNamedOnTheCommandLine) {
  const fs::path disks = fs::path(SharedDir()) / "testdata/dsk";
  if (!fs::exists(disks / "hello.dsk")) GTEST_SKIP() << "test disks not found in " << disks;
  if (!fs::exists(BuildDir() / "pellucidore")) GTEST_SKIP() << "no window build (Qt 6 was not found)";
  ScratchDir root("open-file");
  const CommandResult installed = InstallInto(root.path());
  ASSERT_EQ(installed.status, 0) << installed.out;
  const fs::path work = root.path() / "work";
  const fs::path runtime = root.path() / "runtime";
  fs::create_directories(work);
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  fs::copy_file(disks / "hello.dsk", work / "hello.dsk");
  std::ofstream(work / "notes.txt") << "not a disk";

  Child child(root.path() / "usr/bin/pellucidore-launcher", work,
              {{"HOME", (root.path() / "home").string()},
               {"XDG_DATA_HOME", (root.path() / "data").string()},
               {"XDG_RUNTIME_DIR", runtime.string()},
               {"QT_QPA_PLATFORM", "offscreen"}},
              {"hello.dsk", "notes.txt"});
  ASSERT_TRUE(child.WaitForOutput("Autorun: RUN\"HELLO", 60000)) << child.Output();
  EXPECT_NE(child.Output().find((work / "notes.txt").string() + " is not a disk image"), std::string::npos)
      << child.Output();
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(child.Running()) << "the program ended:\n" << child.Output();
    usleep(100 * 1000);
  }
}

}  // namespace
