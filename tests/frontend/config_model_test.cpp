#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "frontend/config_model.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() / ("pellucidore-config-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  void Write(const fs::path& rel, const std::string& text) const {
    fs::create_directories((path_ / rel).parent_path());
    std::ofstream(path_ / rel) << text;
  }

 private:
  fs::path path_;
};

TEST(ConfigModel, SpeedBarScale) {
  struct Case {
    int32_t cpuSpeed;
    int position;
    const char* label;
  };
  for (const Case& c : {Case{20000, 10, "CPC Speed 100%"}, Case{0, 0, "CPC Speed 0%"}, Case{22000, 11, "CPC Speed 110%"},
                        Case{200000, 100, "CPC Speed 1000%"}, Case{21999, 10, "CPC Speed 100%"}}) {
    EXPECT_EQ(SpeedPositionFromSetting(c.cpuSpeed), c.position) << c.cpuSpeed;
    EXPECT_EQ(SpeedLabel(c.position), c.label);
  }
  // Hand-edited profiles beyond the bar's ends land on its ends.
  EXPECT_EQ(SpeedPositionFromSetting(-4000), 0);
  EXPECT_EQ(SpeedPositionFromSetting(1000000), 100);
  EXPECT_EQ(CpuSpeedFromPosition(11), 22000);
  EXPECT_EQ(Z80Label(1), "Z80 @ 4 Mhz");
  EXPECT_EQ(Z80Label(20), "Z80 @ 80 Mhz");
  EXPECT_TRUE(Z80BarEnabled(10));
  EXPECT_FALSE(Z80BarEnabled(11));
  EXPECT_TRUE(SpeedBarEnabled(1));
  EXPECT_FALSE(SpeedBarEnabled(2));
}

TEST(ConfigModel, RamBarScale) {
  struct Case {
    int position;
    int32_t ram;
    const char* label;
  };
  for (const Case& c : {Case{9, -1, "64 KB"}, Case{8, 0, "128 KB"}, Case{7, 1, "192 KB"}, Case{1, 7, "576 KB"}}) {
    EXPECT_EQ(RamFromPosition(c.position), c.ram);
    EXPECT_EQ(RamPositionFromSetting(c.ram), c.position);
    EXPECT_EQ(RamLabel(c.position), c.label);
  }
}

TEST(ConfigModel, BrandIndex) {
  EXPECT_EQ(BrandIndexFromVendor(10), 5);
  EXPECT_STREQ(kBrandNames[5], "SCHNEIDER");
  EXPECT_EQ(BrandIndexFromVendor(14), 7);
  for (int32_t odd : {-2, 7, 15, 16}) EXPECT_EQ(BrandIndexFromVendor(odd), -1) << odd;
}

TEST(ConfigModel, RomListTakesRomFilesInAnyCase) {
  TempDir dir;
  for (const char* name : {"6128Low.ROM", "amsdos.rom", "Maxam.Rom", "readme.txt", "x.romx", "rom"})
    dir.Write(name, "x");
  fs::create_directories(dir.path() / "folder.rom");
  EXPECT_EQ(RomList(dir.path()), (std::vector<std::string>{"EMPTY", "6128LOW.ROM", "AMSDOS.ROM", "MAXAM.ROM"}));
  EXPECT_EQ(RomList(dir.path() / "missing"), std::vector<std::string>{"EMPTY"});
  // With the built-in folder: each name once, sorted.
  for (const char* name : {"builtin/6128LOW.ROM", "builtin/464Low.ROM"}) dir.Write(name, "x");
  EXPECT_EQ(RomList(dir.path(), dir.path() / "builtin"),
            (std::vector<std::string>{"EMPTY", "464LOW.ROM", "6128LOW.ROM", "AMSDOS.ROM", "MAXAM.ROM"}));
}

TEST(ConfigModel, ParallelPortsFromTheKernelList) {
  TempDir dir;
  dir.Write("parport1/base-addr", "632\t1656\n");
  dir.Write("parport0/base-addr", "888\t1912\n");
  dir.Write("parport2/base-addr", "garbage\n");  // unreadable: skipped
  dir.Write("parport3/base-addr", "70000\n");    // not a 16-bit port
  dir.Write("default/timeslice", "200\n");
  const auto ports = ListParallelPorts(dir.path());
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].Name, "LPT1 (parport0)");
  EXPECT_EQ(ports[0].Address, 888);
  EXPECT_EQ(ports[1].Name, "LPT2 (parport1)");
  EXPECT_EQ(ports[1].Address, 632);
  EXPECT_TRUE(ListParallelPorts(dir.path() / "none").empty());

  for (int i = 0; i < 20; ++i) dir.Write("parport" + std::to_string(i) + "/base-addr", std::to_string(i * 8));
  EXPECT_EQ(ListParallelPorts(dir.path()).size(), kMaxParallelPorts);
}

TEST(ConfigModel, SmallTexts) {
  EXPECT_STREQ(FramesWord(1), "Frame");
  EXPECT_STREQ(FramesWord(2), "Frames");
  EXPECT_EQ(FileNameOnly("/home/u/disks/work.hdd"), "work.hdd");
  EXPECT_EQ(FileNameOnly("C:\\HDD\\old.hdd"), "old.hdd");
  EXPECT_EQ(FileNameOnly(""), "");
}

}  // namespace
