// Files the user's work lives in survive the program being killed: disk
// images are written in place as the CPC writes them (another process sees
// the bytes while the disk is still in the drive, and a kill leaves each image
// whole), and the settings, profile and key map are replaced whole through a
// temporary file, never left half written.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "core/machine.h"
#include "devices/keymap.h"
#include "frontend/settings.h"
#include "storage/disk_builders.h"

extern char** environ;

using namespace disktest;
namespace fs = std::filesystem;

namespace {

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void Kill(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

// A BASIC program that keeps writing a file to drive A, typed into a runner
// that goes as fast as it can; the runner is killed while it writes, after
// this process has seen the image change.
TEST(Durability, KilledRunnerLeavesTheImagesWholeAndItsWritesVisible) {
  if (!HaveRoms() || !fs::exists(SharedDir() + "/testdata/dsk/hello.dsk"))
    GTEST_SKIP() << "needs the firmware and testdata/dsk/hello.dsk under " << SharedDir();
  TempDir dir;
  const std::vector<uint8_t> original = ReadFile(SharedDir() + "/testdata/dsk/hello.dsk");
  const std::string a = dir.File("a.dsk", original), b = dir.File("b.dsk", original);
  const std::string start = dir.Path("start");
  fs::create_directory(start);

  DriveImage reference;
  ASSERT_EQ(OpenDiskFile(reference, dir.File("reference.dsk", original)).Status, InsertStatus::Inserted);
  std::mt19937 rng(4);
  for (int round = 0; round < 3; ++round) {
    const pid_t pid = Spawn({PELLUCIDORE_CLI_PATH, "--start-dir", start, "--rom-dir", RomDir(), "--disk-a", a,
                             "--disk-b", b, "--writable", "--benchmark", "--seconds", "3000", "--type-delay", "1",
                             "--type",
                             "10 OPENOUT\"LOG\":FOR I=1 TO 3000:PRINT#9,I:NEXT:CLOSEOUT:GOTO 10\\nRUN\\n"});
    ASSERT_GT(pid, 0);
    const std::vector<uint8_t> before = ReadFile(a);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool changed = false;
    while (!changed && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      changed = ReadFile(a) != before;
    }
    // Somewhere in the middle of the next writes.
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 400));
    Kill(pid);
    ASSERT_TRUE(changed) << "round " << round << ": the runner's writes never reached " << a;

    for (const std::string& image : {a, b}) {
      EXPECT_EQ(fs::file_size(image), original.size()) << image;
      DriveImage d;
      const InsertResult r = OpenDiskFile(d, image);
      EXPECT_EQ(r.Status, InsertStatus::Inserted) << image;
      // The CPC writes sector bytes only: every block stays as it was.
      EXPECT_EQ(d.TrackCount, reference.TrackCount) << image;
      EXPECT_EQ(d.Header, reference.Header) << image;
      EXPECT_TRUE(d.Tracks == reference.Tracks) << image;
    }
  }
  EXPECT_EQ(ReadFile(b), original) << "drive B was never written";
  // Nothing but the images: no temporary or backup files beside them.
  size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir.Path(""))) files += e.is_regular_file();
  EXPECT_EQ(files, 3u);  // a, b and the reference
}

// A child saves the settings, the profile, the key map and the SymbiFace II
// memory in a loop; it is killed at random moments. Each file must then be
// one whole version: every key present, and the values written together in
// one save agreeing.
TEST(Durability, KilledWhileSavingLeavesSettingsProfileKeyMapAndCardMemoryWhole) {
  TempDir dir;
  const std::string startDir = dir.Path("start");
  fs::create_directories(startDir + "/PROFILES");
  const std::string keymap = startDir + "/" + kKeyMapFileName;
  const fs::path persistent = fs::path(startDir) / kSymbifacePersistentFile;
  MachineConfig config;
  config.RomDir = dir.Path("no-roms");
  const std::unique_ptr<Machine> m = CreateMachine(config);
  std::mt19937 rng(8);

  for (int round = 0; round < 12; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ready[0]);
      Settings s = DefaultSettings(startDir);
      KeyMap map = DefaultKeyMap();
      for (int32_t i = 1;; ++i) {
        // Long values make each write take a while.
        s.MAXSTILLS = i;
        s.CAPTUREDIR = std::string(2000, 'c') + std::to_string(i);
        s.CPUSPEED = i;
        s.HDD0PATH = std::string(2000, 'h') + std::to_string(i);
        AssignKey(map, 1, static_cast<uint16_t>(i % 10), 0);
        AssignKey(map, 512, static_cast<uint16_t>(i % 10), 0);
        std::memset(m->Memory.SymbifaceRomRam, i & 0xFF, sizeof m->Memory.SymbifaceRomRam);
        std::memset(m->Symbiface.CmosRam, i & 0xFF, sizeof m->Symbiface.CmosRam);
        const bool ok = SaveSettings(s).Ok && SaveProfile(s).Ok && SaveKeyMap(map, keymap).Ok &&
                        SymbifaceSavePersistent(*m, persistent).empty();
        if (i == 1 && write(ready[1], ok ? "1" : "0", 1) < 0) _exit(1);
        if (!ok) _exit(1);
      }
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    ASSERT_EQ(c, '1') << "the first save failed";
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
    Kill(pid);

    Settings s = DefaultSettings(startDir);
    ASSERT_TRUE(LoadSettings(s, MissingFile::Leave).Ok);
    EXPECT_GE(s.MAXSTILLS, 1) << "round " << round;
    EXPECT_EQ(s.CAPTUREDIR, std::string(2000, 'c') + std::to_string(s.MAXSTILLS)) << "round " << round;
    ASSERT_TRUE(LoadProfile(s, MissingFile::Leave).Ok);
    EXPECT_GE(s.CPUSPEED, 1) << "round " << round;
    EXPECT_EQ(s.HDD0PATH, std::string(2000, 'h') + std::to_string(s.CPUSPEED)) << "round " << round;
    KeyMap map;
    ASSERT_TRUE(LoadKeyMap(map, keymap).Ok) << "round " << round;
    EXPECT_EQ(map.Entries[0], map.Entries[511]) << "round " << round;
    const std::vector<uint8_t> memory = ReadFile(persistent.string());
    ASSERT_EQ(memory.size(), 524288u + 256u) << "round " << round;
    EXPECT_EQ(std::count(memory.begin(), memory.end(), memory[0]), static_cast<long>(memory.size()))
        << "round " << round << ": two saves mixed";
  }
}

}  // namespace
