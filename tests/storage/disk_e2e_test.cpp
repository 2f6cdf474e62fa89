// AMSDOS on the emulated 6128 working real disk images through the runner:
// listing, running, saving in place and loading back in a second run.
#include <algorithm>
#include <set>

#include "cli_support.h"
#include "storage/disk_builders.h"

using namespace disktest;

namespace {

std::string DskDir() { return SharedDir() + "/testdata/dsk/"; }

// Runs the 6128 with drive A and types `text`; returns the screen.
CommandResult TypeOnDisk(const std::string& disk, const std::string& text, int seconds, const std::string& extra = "") {
  return RunCommand(Cli() + " --rom-dir '" + RomDir() + "' --benchmark --screen-text --disk-a '" + disk +
                    "' --type '" + text + "' --seconds " + std::to_string(seconds) + " " + extra);
}

class DiskEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveRoms()) GTEST_SKIP() << "ROM images not found in " << RomDir();
    if (!std::filesystem::exists(DskDir() + "ROMDump.dsk")) GTEST_SKIP() << "disk images not found in " << DskDir();
    const CommandResult help = RunCommand(Cli() + " --help");
    if (help.out.find("--type") == std::string::npos || help.out.find("--screen-text") == std::string::npos)
      GTEST_SKIP() << "the runner has no --type or --screen-text";
  }

  // A writable copy of a shared image.
  std::string Copy(const std::string& name) {
    const std::string path = dir.File(name, ReadFile(DskDir() + name));
    std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    return path;
  }

  TempDir dir;
};

// An AMSDOS data-format disk read from outside: directory and 1 KB blocks.
class AmsdosDisk {
 public:
  explicit AmsdosDisk(const std::vector<uint8_t>& bytes) : bytes_(bytes) {
    ok_ = OpenDiskFromMemory(image_, bytes).Status == InsertStatus::Inserted && image_.TrackCount > 0;
  }
  bool Ok() const { return ok_; }

  // Image offset of logical sector n (9 per track, &C1 first).
  uint32_t SectorOffset(uint32_t n) const {
    const uint32_t track = n / 9;
    const uint8_t r = static_cast<uint8_t>(0xC1 + n % 9);
    for (uint32_t s = 0; s < SectorCountOf(image_, track); ++s)
      if (SectorIdOf(image_, track, s).R == r) return LocateSector(image_, track, s);
    ADD_FAILURE() << "no sector " << n;
    return 0;
  }

  // The blocks of a file in extent order, and its bytes.
  std::vector<uint32_t> Blocks(const std::string& name11) const {
    std::vector<std::pair<int, std::vector<uint32_t>>> extents;
    for (uint32_t e = 0; e < 64; ++e) {
      const uint8_t* entry = &bytes_[SectorOffset(e / 16) + (e % 16) * 32];
      if (entry[0] != 0 || std::string(reinterpret_cast<const char*>(entry + 1), 11) != name11) continue;
      std::vector<uint32_t> blocks;
      for (int i = 16; i < 32; ++i)
        if (entry[i]) blocks.push_back(entry[i]);
      extents.push_back({entry[12], blocks});
    }
    std::sort(extents.begin(), extents.end());
    std::vector<uint32_t> all;
    for (const auto& e : extents) all.insert(all.end(), e.second.begin(), e.second.end());
    return all;
  }
  std::vector<uint8_t> Contents(const std::string& name11) const {
    std::vector<uint8_t> out;
    for (uint32_t b : Blocks(name11))
      for (uint32_t half = 0; half < 2; ++half) {
        const uint32_t at = SectorOffset(b * 2 + half);
        out.insert(out.end(), bytes_.begin() + at, bytes_.begin() + at + 512);
      }
    return out;
  }

 private:
  std::vector<uint8_t> bytes_;
  DriveImage image_;
  bool ok_ = false;
};

// Every changed byte lies in a directory sector or a block of `file`.
void ExpectOnlyTheseSectorsChanged(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                                   const std::string& file11) {
  ASSERT_EQ(before.size(), after.size());
  const AmsdosDisk disk(after);
  ASSERT_TRUE(disk.Ok());
  std::set<uint32_t> allowed;  // sector start offsets
  for (uint32_t n = 0; n < 4; ++n) allowed.insert(disk.SectorOffset(n));
  const std::vector<uint32_t> blocks = disk.Blocks(file11);
  EXPECT_FALSE(blocks.empty());
  for (uint32_t b : blocks) {
    allowed.insert(disk.SectorOffset(b * 2));
    allowed.insert(disk.SectorOffset(b * 2 + 1));
  }
  size_t changed = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    ++changed;
    auto it = allowed.upper_bound(static_cast<uint32_t>(i));
    const bool inside = it != allowed.begin() && i < *std::prev(it) + 512u;
    ASSERT_TRUE(inside) << "byte " << i << " changed outside the directory and the new file";
  }
  EXPECT_GT(changed, 0u);
}

TEST_F(DiskEndToEnd, CatListsTheDirectoryOfImagesAndArchives) {
  CommandResult r = TypeOnDisk(DskDir() + "TEST-CAT.DSK", "CAT\\n", 5);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("TEST-CAT.BAS   1K"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("177K free"), std::string::npos) << r.out;

  r = TypeOnDisk(DskDir() + "hello.zip", "CAT\\n", 5);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("HELLO   .BAS   1K"), std::string::npos) << r.out;
}

TEST_F(DiskEndToEnd, RunsABasicProgramFromDisk) {
  const CommandResult r = TypeOnDisk(DskDir() + "TEST-CAT.DSK", "RUN\"TEST-CAT\\n", 15);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("There are only 7 real demos on CPC"), std::string::npos) << r.out;
}

// ROMDUMP copies the lower ROM and saves it: the CRC it prints proves the
// program was read whole, the new file proves the writes.
TEST_F(DiskEndToEnd, RomDumpSavesTheRomInPlace) {
  const std::string disk = Copy("ROMDump.dsk");
  const std::vector<uint8_t> before = ReadFile(disk);
  CommandResult r = TypeOnDisk(disk, "RUN\"ROMDUMP\\nLOW\\n", 30, "--writable");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("CRC &B360"), std::string::npos) << r.out;

  const std::vector<uint8_t> after = ReadFile(disk);
  ExpectOnlyTheseSectorsChanged(before, after, "LOW     BIN");
  const std::vector<uint8_t> saved = AmsdosDisk(after).Contents("LOW     BIN");
  std::vector<uint8_t> rom = ReadFile(RomDir() + "/6128Low.ROM");
  ASSERT_GE(rom.size(), 16384u);
  rom.erase(rom.begin(), rom.end() - 16384);  // an optional 128-byte header
  ASSERT_GE(saved.size(), 128u + 16384u);
  EXPECT_TRUE(std::equal(rom.begin(), rom.end(), saved.begin() + 128)) << "LOW.BIN differs from the ROM";

  r = TypeOnDisk(disk, "CAT\\n", 5);
  EXPECT_NE(r.out.find("LOW     .BIN  17K"), std::string::npos) << r.out;
}

TEST_F(DiskEndToEnd, SavedProgramLoadsInASecondRun) {
  const std::string disk = Copy("hello.dsk");  // EXTENDED
  const std::vector<uint8_t> before = ReadFile(disk);
  CommandResult r =
      TypeOnDisk(disk, "10 PRINT \"PELLUCIDORE\"\\n20 GOTO 10\\nSAVE\"PELL\\n", 12, "--writable");
  EXPECT_EQ(r.status, 0) << r.out;
  ExpectOnlyTheseSectorsChanged(before, ReadFile(disk), "PELL    BAS");

  r = TypeOnDisk(disk, "LOAD\"PELL\\nLIST\\n", 8);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("10 PRINT \"PELLUCIDORE\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("20 GOTO 10"), std::string::npos) << r.out;

  // Write protected (the settings' default): the file stays as it is.
  const std::vector<uint8_t> saved = ReadFile(disk);
  r = TypeOnDisk(disk, "SAVE\"OTHER\\n", 6);
  EXPECT_NE(r.out.find("write protected"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(disk), saved);
}

}  // namespace
