// The runner's drive options: what reaches the user when an image or an
// archive cannot be used.
#include "cli_support.h"
#include "storage/disk_builders.h"

using namespace disktest;

namespace {

CommandResult RunWithDisk(const std::string& args) {
  return RunCommand(Cli() + " --rom-dir '" + RomDir() + "' --frames 2 --benchmark " + args);
}

TEST(DiskCli, ArchivesAndRefusedImages) {
  if (!HaveRoms()) GTEST_SKIP() << "ROM images not found in " << RomDir();
  TempDir dir;
  const std::vector<uint8_t> image = StandardDsk(DataTracks(2));

  CommandResult r = RunWithDisk("--disk-a '" + dir.File("one.zip", Zip({{"x.dsk", image, true}})) + "'");
  EXPECT_EQ(r.status, 0) << r.out;

  r = RunWithDisk("--disk-b '" + dir.File("none.zip", Zip({{"x.txt", {1}, true}})) + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("No DSK file inside the ZIP!"), std::string::npos) << r.out;

  r = RunWithDisk("--disk-a '" + dir.File("crc.zip", Zip({{"x.dsk", image, true, 1}})) + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Wrong CRC, so file could be wrong"), std::string::npos) << r.out;

  const std::string two = dir.File("two.zip", Zip({{"a.dsk", image, true}, {"b.dsk", image, false}}));
  r = RunWithDisk("--disk-a '" + two + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("A.DSK, B.DSK"), std::string::npos) << r.out;
  r = RunWithDisk("--disk-a '" + two + "' --zip-member b.dsk");
  EXPECT_EQ(r.status, 0) << r.out;

  const std::string big = dir.File("big.dsk", StandardDsk(DataTracks(85)));
  r = RunWithDisk("--disk-a '" + big + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find(big), std::string::npos) << r.out;

  r = RunWithDisk("--disk-b '" + dir.Path("missing.dsk") + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("missing.dsk"), std::string::npos) << r.out;
}

}  // namespace
