#include "storage/new_images.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "cli_support.h"

namespace fs = std::filesystem;

namespace {

uint32_t Le16(const std::vector<uint8_t>& d, size_t at) { return d[at] | d[at + 1] << 8; }
uint32_t Le32(const std::vector<uint8_t>& d, size_t at) { return Le16(d, at) | Le16(d, at + 2) << 16; }

std::vector<uint8_t> ReadFile(const fs::path& file, size_t limit = SIZE_MAX) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> data;
  char c;
  while (data.size() < limit && in.get(c)) data.push_back(static_cast<uint8_t>(c));
  return data;
}

class NewImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("pellucidore-newimg-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  size_t FileCount() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }
  fs::path dir_;
};

TEST(NewDsk, LayoutOfEachFormat) {
  struct Case {
    NewDiskFormat format;
    uint8_t sectors;
    uint8_t ids[9];
  } cases[] = {
      {NewDiskFormat::System, 9, {0x41, 0x46, 0x42, 0x47, 0x43, 0x48, 0x44, 0x49, 0x45}},
      {NewDiskFormat::Data, 9, {0xC1, 0xC6, 0xC2, 0xC7, 0xC3, 0xC8, 0xC4, 0xC9, 0xC5}},
      {NewDiskFormat::Vendor, 8, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format));
    const auto d = BuildNewDsk(c.format);
    ASSERT_EQ(d.size(), 194816u);
    EXPECT_EQ(std::string(d.begin(), d.begin() + 48), "MV - CPCEMU Created with Pellucidore            ");
    EXPECT_EQ(d[0x30], 40);
    EXPECT_EQ(d[0x31], 1);
    EXPECT_EQ(Le16(d, 0x32), 4864u);
    EXPECT_TRUE(std::all_of(d.begin() + 0x34, d.begin() + 256, [](uint8_t b) { return b == 0; }));
    for (uint32_t t = 0; t < 40; ++t) {
      const size_t at = 256 + t * 4864;
      ASSERT_EQ(std::string(d.begin() + at, d.begin() + at + 12), "Track-Info\r\n");
      EXPECT_EQ(d[at + 0x10], t);
      EXPECT_EQ(d[at + 0x14], 2);
      EXPECT_EQ(d[at + 0x15], c.sectors);
      EXPECT_EQ(d[at + 0x16], 0x4E);
      EXPECT_EQ(d[at + 0x17], 0xE5);
      for (int s = 0; s < 9; ++s) {
        const size_t e = at + 0x18 + s * 8;
        EXPECT_EQ(d[e], t);
        EXPECT_EQ(d[e + 2], c.ids[s]);
        EXPECT_EQ(d[e + 3], 2);
        EXPECT_EQ(Le16(d, e + 6), 0u);
      }
      EXPECT_TRUE(std::all_of(d.begin() + at + 0x60, d.begin() + at + 256, [](uint8_t b) { return b == 0; }));
      EXPECT_TRUE(std::all_of(d.begin() + at + 256, d.begin() + at + 4864, [](uint8_t b) { return b == 0xE5; }));
    }
  }
}

TEST(NewImages, NameRules) {
  EXPECT_EQ(NewDskFileName("DISK.DSK"), fs::path("DISK.DSK.dsk"));
  EXPECT_EQ(NewDskFileName("/x/games.dsk"), fs::path("/x/games.dsk"));
  EXPECT_EQ(NewDskFileName("/x.dsk/games"), fs::path("/x.dsk/games.dsk"));
  EXPECT_EQ(NewHddFileName("disk.hdd"), fs::path("disk.hdd"));
  EXPECT_EQ(NewHddFileName("disk"), fs::path("disk.img"));
  EXPECT_EQ(NewHddFileName("disk.img"), fs::path("disk.img"));
  EXPECT_EQ(NewHddFileName("DISK.HDD"), fs::path("DISK.HDD.img"));
}

TEST(NewHdd, SizeEdit) {
  struct Case {
    const char* text;
    std::optional<uint32_t> size;
  } cases[] = {{"0", std::nullopt},     {"60001", std::nullopt}, {"", std::nullopt},
               {"12a", std::nullopt},   {"-5", std::nullopt},    {"99999999999999", std::nullopt},
               {"1", 1u},               {"0010", 10u},           {"60000", 60000u}};
  for (const auto& c : cases) EXPECT_EQ(ParseHddSizeMb(c.text), c.size) << '"' << c.text << '"';
}

TEST(NewHdd, LayoutOf10And100Mb) {
  const HddLayout a = HddLayoutFor(10);
  EXPECT_EQ(a.Cylinders, 20u);
  EXPECT_EQ(a.SizeKb, 10080u);
  EXPECT_EQ(a.PartitionSectors, 20097u);
  EXPECT_EQ(a.SectorsPerFat, 20u);
  EXPECT_EQ(a.SectorsPerCluster, 4u);
  EXPECT_EQ(a.FileSize, 256u + 10321920u);

  const HddLayout b = HddLayoutFor(100);
  EXPECT_EQ(b.Cylinders, 203u);
  EXPECT_EQ(b.SizeKb, 102312u);
  EXPECT_EQ(b.PartitionSectors, 204561u);
  EXPECT_EQ(b.SectorsPerFat, 200u);
  EXPECT_EQ(b.SectorsPerCluster, 4u);
}

// Four sectors per cluster would give FAT16 too few clusters below 9 MB and
// too many above 128 MB; every size must still make a volume whose FAT
// numbers all its clusters.
TEST(NewHdd, EverySizeMakesAConsistentVolume) {
  for (uint32_t mb = 1; mb <= kHddMaxSizeMb; mb += (mb < 300 ? 1 : 997)) {
    SCOPED_TRACE(mb);
    const HddLayout l = HddLayoutFor(mb);
    EXPECT_EQ(uint64_t{l.Cylinders} * 516096, uint64_t{l.SizeKb} * 1024);
    EXPECT_LE(l.PartitionSectors, 2 * l.SizeKb - 63);
    EXPECT_LE(l.Clusters, 65524u);
    if (mb >= 3) {
      EXPECT_EQ(l.FatBits, 16u);
      EXPECT_GE(l.Clusters, 4085u);
    }
    if (mb >= 9 && mb <= 128) {
      EXPECT_EQ(l.SectorsPerCluster, 4u);
    }
    const uint64_t fatBytes = uint64_t{l.SectorsPerFat} * 512;
    EXPECT_GE(fatBytes * 8 / l.FatBits, l.Clusters + 2u);
  }
  EXPECT_EQ(HddLayoutFor(60000).SectorsPerCluster, 64u);
}

TEST_F(NewImageFiles, HddFileContents) {
  int last = -1;
  bool neverFalls = true;
  const auto r = WriteNewHdd(dir_ / "disk", 10, [&](int percent) {
    neverFalls = neverFalls && percent >= last;
    last = percent;
    return true;
  });
  ASSERT_TRUE(r.Ok()) << r.Error;
  EXPECT_EQ(r.Written, dir_ / "disk.img");
  EXPECT_TRUE(neverFalls);
  EXPECT_EQ(last, 100);
  EXPECT_EQ(fs::file_size(r.Written), 256u + 10321920u);
  EXPECT_EQ(FileCount(), 1u);

  const auto d = ReadFile(r.Written, 64 * 1024);
  EXPECT_EQ(std::string(d.begin(), d.begin() + 40), "HDDIMAGE Created with Pellucidor        ");
  EXPECT_EQ(Le32(d, 40), 1u);
  EXPECT_EQ(Le32(d, 44), 20u);
  EXPECT_EQ(Le32(d, 48), 16u);
  EXPECT_EQ(Le32(d, 52), 63u);
  EXPECT_EQ(Le32(d, 56), 10080u);

  // Partition 1: active, CHS 0/1/1 to 19/15/63, FAT16 LBA, LBA 63, P sectors.
  const std::vector<uint8_t> entry(d.begin() + 702, d.begin() + 718);
  EXPECT_EQ(entry, (std::vector<uint8_t>{0x80, 1, 1, 0, 0x0E, 15, 63, 19, 63, 0, 0, 0, 0x81, 0x4E, 0, 0}));
  EXPECT_EQ(d[766], 0x55);
  EXPECT_EQ(d[767], 0xAA);

  const size_t boot = 32512;
  EXPECT_EQ(std::string(d.begin() + boot + 3, d.begin() + boot + 11), "MSWIN4.1");
  EXPECT_EQ(Le16(d, boot + 0x0B), 512u);
  EXPECT_EQ(d[boot + 0x0D], 4);
  EXPECT_EQ(Le16(d, boot + 0x13), 20097u);
  EXPECT_EQ(Le16(d, boot + 0x16), 20u);
  EXPECT_EQ(Le32(d, boot + 0x1C), 63u);
  EXPECT_EQ(Le32(d, boot + 0x20), 0u);
  EXPECT_LE(Le32(d, boot + 0x27), 0x7FFFFFFEu);
  EXPECT_EQ(std::string(d.begin() + boot + 0x2B, d.begin() + boot + 0x3E), "NO NAME    FAT16   ");
  for (size_t fat : {size_t{33024}, size_t{33024 + 20 * 512}}) {
    EXPECT_EQ(Le32(d, fat), 0xFFFFFFF8u) << fat;
    EXPECT_EQ(d[fat + 4], 0) << fat;
  }
}

TEST_F(NewImageFiles, FsckAcceptsTheVolume) {
  if (!fs::exists("/usr/sbin/fsck.fat") && RunCommand("command -v fsck.fat").status != 0)
    GTEST_SKIP() << "fsck.fat (dosfstools) is not installed";
  // 10 and 100 MB as sized by the card's format; the others cross the cluster
  // limits of FAT16 and the 2 MB one is FAT12.
  for (uint32_t mb : {10u, 100u, 2u, 4u, 200u}) {
    SCOPED_TRACE(mb);
    const auto r = WriteNewHdd(dir_ / ("disk" + std::to_string(mb) + ".hdd"), mb);
    ASSERT_TRUE(r.Ok()) << r.Error;
    const auto head = ReadFile(r.Written, 1024);
    const uint64_t sectors = Le32(head, 702 + 12);
    std::ifstream in(r.Written, std::ios::binary);
    in.seekg(256 + 63 * 512);
    std::vector<char> partition(sectors * 512);
    in.read(partition.data(), static_cast<std::streamsize>(partition.size()));
    ASSERT_EQ(static_cast<uint64_t>(in.gcount()), partition.size());
    const fs::path volume = dir_ / "partition1.bin";
    std::ofstream(volume, std::ios::binary).write(partition.data(), static_cast<std::streamsize>(partition.size()));
    const auto check = RunCommand("fsck.fat -n -v '" + volume.string() + "'");
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find(mb == 2 ? "12 bit entries" : "16 bit entries"), std::string::npos) << check.out;
    fs::remove(r.Written);
  }
}

TEST_F(NewImageFiles, CancelAndFailureLeaveNoFile) {
  const fs::path existing = dir_ / "keep.img";
  std::ofstream(existing) << "old";
  const auto cancelled = WriteNewHdd(existing, 20, [](int percent) { return percent < 50; });
  EXPECT_TRUE(cancelled.Cancelled);
  EXPECT_FALSE(cancelled.Ok());
  EXPECT_EQ(fs::file_size(existing), 3u);
  EXPECT_EQ(FileCount(), 1u);

  const auto failed = WriteNewDsk(dir_ / "missing" / "a.dsk", NewDiskFormat::Data);
  EXPECT_FALSE(failed.Ok());
  EXPECT_NE(failed.Error.find("missing/a.dsk"), std::string::npos) << failed.Error;
  EXPECT_EQ(FileCount(), 1u);

  const auto badSize = WriteNewHdd(dir_ / "x", 60001);
  EXPECT_FALSE(badSize.Ok());
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(NewImageFiles, RunnerWritesImages) {
  auto dsk = RunCommand(Cli() + " --new-dsk '" + (dir_ / "DISK.DSK").string() + "' --format vendor");
  ASSERT_EQ(dsk.status, 0) << dsk.out;
  EXPECT_EQ(ReadFile(dir_ / "DISK.DSK.dsk"), BuildNewDsk(NewDiskFormat::Vendor));

  auto hdd = RunCommand(Cli() + " --new-hdd '" + (dir_ / "disk").string() + "' --size-mb 1");
  ASSERT_EQ(hdd.status, 0) << hdd.out;
  EXPECT_EQ(fs::file_size(dir_ / "disk.img"), HddLayoutFor(1).FileSize);

  for (const char* size : {"0", "60001", "''"}) {
    auto bad = RunCommand(Cli() + " --new-hdd '" + (dir_ / "bad").string() + "' --size-mb " + size);
    EXPECT_EQ(bad.status, 2) << size << ": " << bad.out;
  }
  EXPECT_EQ(FileCount(), 2u);
}

}  // namespace

namespace {

// The 6128 firmware with a new image in drive A: AMSDOS must recognise the
// format by its sector numbers and use the whole disk.
class NewDiskOnTheCpc : public NewImageFiles {
 protected:
  void SetUp() override {
    NewImageFiles::SetUp();
    if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
    const auto help = RunCommand(Cli() + " --help");
    for (const char* option : {"--disk-a", "--writable", "--type", "--screen-text"})
      if (help.out.find(option) == std::string::npos)
        GTEST_SKIP() << "the runner has no " << option << " option yet";
  }
  CommandResult Run(const fs::path& disk, const std::string& typed, int seconds) {
    return RunCommand("cd '" + dir_.string() + "' && " + Cli() + " --rom-dir '" + RomDir() + "' --disk-a '" +
                      disk.string() + "' --writable --benchmark --seconds " + std::to_string(seconds) +
                      " --type '" + typed + "' --screen-text");
  }
};

TEST_F(NewDiskOnTheCpc, CatShowsTheFreeSpaceOfEachFormat) {
  struct Case {
    NewDiskFormat format;
    const char* free;
  } cases[] = {{NewDiskFormat::Data, "178K free"}, {NewDiskFormat::System, "169K free"}};
  for (const auto& c : cases) {
    const auto disk = WriteNewDsk(dir_ / "blank", c.format);
    ASSERT_TRUE(disk.Ok()) << disk.Error;
    const auto r = Run(disk.Written, "CAT\\n", 8);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(c.free), std::string::npos) << r.out;
    fs::remove(disk.Written);
  }
}

TEST_F(NewDiskOnTheCpc, SaveAndLoadOnADataDisk) {
  const auto disk = WriteNewDsk(dir_ / "work", NewDiskFormat::Data);
  ASSERT_TRUE(disk.Ok()) << disk.Error;
  // Two runs: the disk turns at its real speed, and keys typed while the
  // firmware saves with interrupts off are lost, as on a CPC. The empty line
  // after LOAD: the first key typed as the load ends comes through garbled,
  // which would spoil RUN.
  auto r = Run(disk.Written, "10 PRINT 6*7\\nSAVE\"PROG\\n", 8);
  ASSERT_EQ(r.status, 0) << r.out;
  r = Run(disk.Written, "LOAD\"PROG\\n\\nRUN\\n", 10);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\nRUN\n 42\n"), std::string::npos) << r.out;
  const auto image = ReadFile(disk.Written);
  const std::string directoryEntry = "PROG    BAS";
  EXPECT_NE(std::search(image.begin(), image.end(), directoryEntry.begin(), directoryEntry.end()), image.end());
}

}  // namespace
