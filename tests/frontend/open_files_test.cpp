// Opening files from outside: kinds by content, the autorun command read
// from a disk's directory, the recent list, the built-in firmware lookup and
// the model profiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "cli_support.h"
#include "core/builtin_roms.h"
#include "core/machine.h"
#include "frontend/autorun.h"
#include "frontend/machine_models.h"
#include "frontend/open_files.h"
#include "storage/disk_builders.h"
#include "storage/new_images.h"

namespace {

namespace fs = std::filesystem;
using disktest::TempDir;

std::string WriteBytes(const TempDir& dir, const std::string& name, const std::string& bytes) {
  return dir.File(name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

TEST(OpenFiles, KindsAreToldByContentNotByName) {
  TempDir dir;
  const std::string pad(300, '\0');
  struct Case {
    const char* name;
    std::string bytes;
    OpenFileKind kind;
  } cases[] = {
      {"a.sna", std::string("MV - CPCEMU Disk-File\r\nDisk-Info\r\n") + pad, OpenFileKind::Disk},
      {"b.txt", std::string("EXTENDED CPC DSK File\r\nDisk-Info\r\n") + pad, OpenFileKind::Disk},
      {"c.dsk", std::string("MV - SNA") + pad, OpenFileKind::Snapshot},
      {"d.bin", std::string("PK\x03\x04", 4) + pad, OpenFileKind::Zip},
      {"e.cdt", std::string("ZXTape!\x1A\x01\x14", 10) + pad, OpenFileKind::Tape},
      {"f.dsk", "MV - CP", OpenFileKind::Unknown},
      {"g.dsk", "", OpenFileKind::Unknown},
  };
  for (const Case& c : cases) EXPECT_EQ(DetectFileKind(WriteBytes(dir, c.name, c.bytes)), c.kind) << c.name;
  EXPECT_EQ(DetectFileKind(dir.Path("missing.dsk")), OpenFileKind::Unreadable);
  EXPECT_EQ(DetectFileKind(dir.Path("")), OpenFileKind::Unreadable);  // a folder
  EXPECT_NE(OpenFileProblem("/x/notes.txt", OpenFileKind::Unknown).find("/x/notes.txt"), std::string::npos);
  EXPECT_TRUE(OpenFileProblem("/x/a.dsk", OpenFileKind::Disk).empty());
}

TEST(OpenFiles, RecentListKeepsTenNewestFirstWithoutRepeats) {
  std::vector<std::string> recent;
  for (int i = 0; i < 12; ++i) AddRecentFile(recent, "/d/" + std::to_string(i) + ".dsk");
  ASSERT_EQ(recent.size(), 10u);
  EXPECT_EQ(recent.front(), "/d/11.dsk");
  EXPECT_EQ(recent.back(), "/d/2.dsk");
  AddRecentFile(recent, "/d/5.dsk");
  EXPECT_EQ(recent.size(), 10u);
  EXPECT_EQ(recent[0], "/d/5.dsk");
  EXPECT_EQ(std::count(recent.begin(), recent.end(), "/d/5.dsk"), 1);
}

// A blank image of a format with directory entries written into it.
class AutorunDisk : public ::testing::Test {
 protected:
  struct Entry {
    std::string name;  // 8 characters, space padded
    std::string ext;   // 3 characters
    uint8_t user = 0, extent = 0;
    bool hidden = false;
  };

  void Make(NewDiskFormat format, const std::vector<Entry>& entries, const std::string& name = "blank.dsk") {
    const ImageWriteResult w = WriteNewDsk(dir.Path(name), format);
    ASSERT_TRUE(w.Ok()) << w.Error;
    path = w.Written.string();
    ASSERT_EQ(OpenDiskFile(drive, path).Status, InsertStatus::Inserted);
    const uint32_t track = format == NewDiskFormat::Data ? 0 : 2;
    const uint8_t first = format == NewDiskFormat::Data ? 0xC1 : 0x41;
    uint32_t sector = 0;
    while (SectorIdOf(drive, track, sector).R != first) ++sector;
    uint64_t at = LocateSector(drive, track, sector);
    for (const Entry& e : entries) {
      std::string raw(32, '\0');
      raw[0] = static_cast<char>(e.user);
      std::memcpy(&raw[1], (e.name + "        ").data(), 8);
      std::memcpy(&raw[9], (e.ext + "   ").data(), 3);
      if (e.hidden) raw[10] = static_cast<char>(raw[10] | 0x80);
      raw[12] = static_cast<char>(e.extent);
      for (char c : raw) {
        SeekDisk(drive, at++);
        WriteDiskByte(drive, static_cast<uint8_t>(c));
      }
    }
    FlushDisk(drive);
  }

  TempDir dir;
  DriveImage drive;
  std::string path;
};

TEST_F(AutorunDisk, OneProgramIsRun) {
  Make(NewDiskFormat::Data, {{"GAME", "BAS"}, {"GAME", "BIN"}, {"SCREEN", "SCR"}});
  EXPECT_EQ(AutorunCommand(drive, path), "RUN\"GAME");
  const auto files = ReadAmsdosDirectory(drive);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[2].Name, "SCREEN");
  EXPECT_EQ(files[2].Extension, "SCR");
}

TEST_F(AutorunDisk, LaterExtentsAndOtherUsersAreNotPrograms) {
  Make(NewDiskFormat::System, {{"LOADER", ""}, {"LOADER", "", 0, 1}, {"OTHER", "BAS", 3}, {"DATA", "DAT"}});
  EXPECT_EQ(AutorunCommand(drive, path), "RUN\"LOADER");
}

TEST_F(AutorunDisk, SeveralProgramsPreferDiscThenTheImageNameThenTheOnlyVisibleOne) {
  Make(NewDiskFormat::Data, {{"INTRO", "BAS"}, {"DISC", "BAS"}, {"MAIN", "BIN"}});
  EXPECT_EQ(AutorunCommand(drive, path), "RUN\"DISC");
  EjectDisk(drive);
  Make(NewDiskFormat::Data, {{"INTRO", "BAS"}, {"MAIN", "BIN"}}, "Main.dsk");
  EXPECT_EQ(AutorunCommand(drive, path), "RUN\"MAIN");
  EjectDisk(drive);
  Make(NewDiskFormat::Data, {{"INTRO", "BAS"}, {"CODE", "BIN", 0, 0, true}}, "other.dsk");
  EXPECT_EQ(AutorunCommand(drive, path), "RUN\"INTRO");
}

TEST_F(AutorunDisk, UndecidedOrEmptyDisksGetCat) {
  Make(NewDiskFormat::Data, {{"ONE", "BAS"}, {"TWO", "BAS"}});
  EXPECT_EQ(AutorunCommand(drive, path), "CAT");
  EjectDisk(drive);
  // A blank system disk has no CP/M loader in its boot sector.
  Make(NewDiskFormat::System, {}, "empty.dsk");
  EXPECT_EQ(AutorunCommand(drive, path), "CAT");
  EjectDisk(drive);
  EXPECT_EQ(AutorunCommand(drive, ""), "CAT");  // no disk at all
}

TEST_F(AutorunDisk, CpmBootSectorWithoutProgramsGetsCpm) {
  Make(NewDiskFormat::System, {{"PIP", "COM"}});
  uint32_t boot = 0;
  while (SectorIdOf(drive, 0, boot).R != 0x41) ++boot;
  for (int i = 0; i < 16; ++i) {
    SeekDisk(drive, LocateSector(drive, 0, boot) + i);
    WriteDiskByte(drive, static_cast<uint8_t>(i * 3));
  }
  FlushDisk(drive);
  EXPECT_EQ(AutorunCommand(drive, path), "|CPM");
}

TEST(AutorunShared, TestDisksNameTheirPrograms) {
  const fs::path dsk = fs::path(SharedDir()) / "testdata/dsk";
  if (!fs::exists(dsk / "hello.dsk")) GTEST_SKIP() << "test disks not found in " << dsk;
  for (const auto& [file, command] : {std::pair{"hello.dsk", "RUN\"HELLO"}, std::pair{"ROMDump.dsk", "RUN\"ROMDUMP"},
                                      std::pair{"TEST-CAT.DSK", "RUN\"TEST-CAT"}}) {
    DriveImage d;
    ASSERT_EQ(OpenDiskFile(d, (dsk / file).string()).Status, InsertStatus::Inserted) << file;
    EXPECT_EQ(AutorunCommand(d, file), command) << file;
  }
}

TEST(BuiltInRoms, TheFolderOfTheSettingsWinsThenTheBuiltInOneIgnoringCase) {
  TempDir own, builtIn;
  const std::string a = own.File("6128Low.ROM", std::vector<uint8_t>(16384, 0x11));
  builtIn.File("6128Low.ROM", std::vector<uint8_t>(16384, 0x22));
  builtIn.File("AMSDOS.ROM", std::vector<uint8_t>(16384, 0x33));
  bool fromBuiltIn = true;
  EXPECT_EQ(LocateRom(fs::path(a).parent_path(), builtIn.Path(""), "6128Low.ROM", &fromBuiltIn), fs::path(a));
  EXPECT_FALSE(fromBuiltIn);
  EXPECT_EQ(LocateRom(fs::path(a).parent_path(), builtIn.Path(""), "amsdos.rom", &fromBuiltIn).filename(), "AMSDOS.ROM");
  EXPECT_TRUE(fromBuiltIn);
  EXPECT_TRUE(LocateRom(fs::path(a).parent_path(), builtIn.Path(""), "NOSUCH.ROM").empty());
  EXPECT_TRUE(LocateRom(fs::path(a).parent_path(), builtIn.Path(""), "EMPTY").empty());

  // Through the machine: the own lower ROM, the built-in disk ROM, and a slot
  // naming a file found nowhere left empty.
  MachineConfig config;
  config.RomDir = fs::path(a).parent_path();
  config.BuiltInRomDir = builtIn.Path("");
  config.UpperRoms[0] = "NOSUCH.ROM";
  auto m = CreateMachine(config);
  EXPECT_EQ(m->Memory.LowerRom[0], 0x11);
  EXPECT_EQ(m->Memory.UpperRomImage[7][0], 0x33);
  EXPECT_EQ(m->Memory.UpperRomName[0], "EMPTY");
  EXPECT_EQ(m->Memory.BuiltInRomsUsed, std::vector<std::string>{"AMSDOS.ROM"});
}

TEST(BuiltInRoms, TheProgramFindsItsOwnFirmware) {
  if (std::getenv("PELLUCIDORE_BUILTIN_ROM_DIR")) GTEST_SKIP() << "overridden by PELLUCIDORE_BUILTIN_ROM_DIR";
  const fs::path dir = FindBuiltInRomDir();
  ASSERT_FALSE(dir.empty());
  for (const char* rom : {"464Low.ROM", "464BASIC.ROM", "664Low.ROM", "664BASIC.ROM", "6128Low.ROM", "6128BASIC.ROM",
                          "AMSDOS.ROM"}) {
    EXPECT_EQ(fs::file_size(dir / rom), 16384u) << rom;
  }
}

TEST(MachineModels, ProfilesAreWrittenOnceAndDescribeTheirMachine) {
  TempDir dir;
  Settings s = DefaultSettings(dir.Path(""));
  ASSERT_TRUE(EnsureModelProfiles(s).Ok);
  for (const CpcModel& model : kCpcModels) {
    Settings read = DefaultSettings(dir.Path(""));
    ASSERT_TRUE(LoadProfileFile(read, fs::path(s.PFLDIR) / model.ProfileName).Ok) << model.ProfileName;
    EXPECT_EQ(ModelOfSettings(read), &model) << model.ProfileName;
  }
  // A user's edit of a model profile stays.
  const fs::path p464 = fs::path(s.PFLDIR) / "CPC464.pfl";
  std::ofstream(p464, std::ios::app) << "[CPC]\nCRTCTYPE=1\n";
  const auto size = fs::file_size(p464);
  ASSERT_TRUE(EnsureModelProfiles(s).Ok);
  EXPECT_EQ(fs::file_size(p464), size);

  EXPECT_EQ(FindModel("464"), &kCpcModels[0]);
  EXPECT_EQ(FindModel("CPC 664"), &kCpcModels[1]);
  EXPECT_EQ(FindModel("6128+4MB"), &kCpcModels[3]);
  EXPECT_EQ(FindModel("472"), nullptr);
  ApplyModel(s, kCpcModels[0]);
  EXPECT_EQ(s.RAM, -1);
  EXPECT_EQ(s.ROM[7], "EMPTY");
  EXPECT_EQ(ModelOfSettings(DefaultSettings(dir.Path(""))), &kCpcModels[2]);  // the default machine is a 6128
}

}  // namespace
