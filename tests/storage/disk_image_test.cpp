#include <sys/stat.h>

#include "storage/disk_builders.h"

using namespace disktest;

namespace {

struct SizeCase {
  const char* Name;
  std::vector<uint8_t> Image;
  uint32_t StoredTracks;
};

// Both formats' acceptance rules: an image failing the size test or carrying
// neither magic is a loaded disk with no sectors.
TEST(DiskImage, SizeTestsOfBothFormats) {
  std::vector<Track> extended40 = DataTracks(40);
  extended40.push_back({{}, 0});
  extended40.push_back({{}, 0});
  std::vector<uint8_t> doubleSided = StandardDsk(DataTracks(40));
  doubleSided[0x31] = 2;
  doubleSided.resize(256 + 2 * (doubleSided.size() - 256));
  std::vector<uint8_t> shortExtended = ExtendedDsk(DataTracks(3));
  shortExtended.pop_back();
  std::vector<uint8_t> otherMagic = StandardDsk(DataTracks(2));
  otherMagic[0] = 'X';
  std::vector<uint8_t> tinyTrackSize = StandardDsk({}, 256);
  tinyTrackSize[0x30] = 4;
  tinyTrackSize[0x32] = 0;
  tinyTrackSize[0x33] = 0;

  const SizeCase cases[] = {
      {"standard 40 tracks", StandardDsk(DataTracks(40)), 40},
      {"standard 43 tracks", StandardDsk(DataTracks(43)), 43},
      {"double-sided standard", doubleSided, 0},
      {"extended 40 stored + 2 unstored", ExtendedDsk(extended40), 40},
      {"extended one byte short", shortExtended, 0},
      {"neither magic", otherMagic, 0},
      {"standard track size 0", tinyTrackSize, 0},
      {"empty file", {}, 0},
      {"header only", std::vector<uint8_t>(100, 'M'), 0},
  };
  TempDir dir;
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.Name);
    DriveImage d;
    const InsertResult r = OpenDiskFile(d, dir.File("x.dsk", c.Image));
    EXPECT_EQ(r.Status, InsertStatus::Inserted);
    EXPECT_TRUE(r.Messages.empty());
    EXPECT_EQ(d.Loaded, 1);
    EXPECT_EQ(d.TrackCount, c.StoredTracks);
    for (uint32_t t = 0; t < d.TrackCount; ++t) {
      ASSERT_EQ(SectorCountOf(d, t), 9u);
      EXPECT_EQ(SectorIdOf(d, t, 0).C, t);
      EXPECT_EQ(SectorIdOf(d, t, 8).R, 0xC5);
    }
    for (uint32_t t = d.TrackCount; t < kMaxTracks; ++t) EXPECT_EQ(d.Tracks[t][kTrackSectorCount], 0);
  }
}

// Images the model cannot hold are refused by name and never half-loaded.
TEST(DiskImage, RefusedImagesNameTheFile) {
  std::vector<Track> gap = DataTracks(3);
  gap[1].SizeByte = 0;
  Track n7 = DataTrack(1);
  n7.Sectors[4].N = 7;
  Track thirty;
  for (uint8_t r = 1; r <= 30; ++r) thirty.Sectors.push_back({0, 0, r, 0});
  std::vector<uint8_t> thirtyImage = ExtendedDsk({thirty});
  thirtyImage[256 + 0x15] = 30;
  std::vector<uint8_t> hugeCount = ExtendedDsk(DataTracks(2));
  hugeCount[256 + 0x15] = 255;
  std::vector<uint8_t> manyExtended = ExtendedDsk(DataTracks(1));
  manyExtended[0x30] = 250;  // more entries than the header has room for

  const std::pair<const char*, std::vector<uint8_t>> cases[] = {
      {"standard 44 tracks", StandardDsk(DataTracks(44))},
      {"extended 44 stored tracks", ExtendedDsk(DataTracks(44))},
      {"extended unstored track before a stored one", ExtendedDsk(gap)},
      {"size code 7", ExtendedDsk({DataTrack(0), n7})},
      {"30 sector entries", thirtyImage},
      {"255 sector entries", hugeCount},
      {"250 track entries", manyExtended},
  };
  TempDir dir;
  for (const auto& [name, image] : cases) {
    SCOPED_TRACE(name);
    DriveImage d;
    const std::string path = dir.File("refused.dsk", image);
    const InsertResult r = OpenDiskFile(d, path);
    EXPECT_EQ(r.Status, InsertStatus::Refused);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_NE(r.Messages[0].find(path), std::string::npos) << r.Messages[0];
    EXPECT_EQ(d.Loaded, 0);
    EXPECT_EQ(d.TrackCount, 0u);
    EXPECT_EQ(d.File, -1);
  }
}

TEST(DiskImage, LocateSectorFollowsBothLayouts) {
  // Sizes by N on one track, N = 6 among them.
  Track mixed;
  mixed.Sectors = {{0, 0, 1, 6}, {0, 0, 2, 0}, {0, 0, 3, 3}};
  TempDir dir;
  DriveImage d;
  ASSERT_EQ(OpenDiskFile(d, dir.File("e.dsk", ExtendedDsk({DataTrack(0), mixed, DataTrack(2)}))).Status,
            InsertStatus::Inserted);
  ASSERT_EQ(d.TrackCount, 3u);
  const uint32_t track1 = 256 + 0x13 * 256;  // 9 x 512 + 256 = &1300
  EXPECT_EQ(LocateSector(d, 0, 0), 512u);
  EXPECT_EQ(LocateSector(d, 0, 3), 512u + 3 * 512);
  EXPECT_EQ(LocateSector(d, 1, 0), track1 + 256);
  EXPECT_EQ(LocateSector(d, 1, 1), track1 + 256 + 6144);  // N = 6 is 6144 bytes, not 8192
  EXPECT_EQ(LocateSector(d, 1, 2), track1 + 256 + 6144 + 128);
  EXPECT_EQ(LocateSector(d, 2, 0), track1 + ((256 + 6144 + 128 + 1024 + 255) / 256) * 256 + 256);
  EXPECT_EQ(LocateSector(d, 7, 0), 0u);  // not stored

  DriveImage s;
  ASSERT_EQ(OpenDiskFile(s, dir.File("s.dsk", StandardDsk(DataTracks(5), 0x1300))).Status, InsertStatus::Inserted);
  EXPECT_EQ(LocateSector(s, 4, 2), 512u + 4 * 0x1300 + 2 * 512);
}

TEST(DiskImage, ByteAccessInPlaceReachesTheFileAndStaysInside) {
  TempDir dir;
  const std::vector<uint8_t> image = StandardDsk(DataTracks(3));
  const std::string path = dir.File("w.dsk", image);
  {
    DriveImage d;
    ASSERT_EQ(OpenDiskFile(d, path).Status, InsertStatus::Inserted);
    uint8_t b = 0;
    SeekDisk(d, 1000);
    ReadDiskByte(d, b);
    EXPECT_EQ(b, Pattern(1000));
    // Across a cache block boundary.
    for (uint64_t o = 4090; o < 4100; ++o) {
      SeekDisk(d, o);
      WriteDiskByte(d, 0xAA);
    }
    SeekDisk(d, 9000);
    WriteDiskByte(d, 0x55);
    // Past the end: the read leaves the byte alone, the write is dropped.
    b = 0x12;
    SeekDisk(d, image.size());
    ReadDiskByte(d, b);
    EXPECT_EQ(b, 0x12);
    WriteDiskByte(d, 0x99);
    SeekDisk(d, image.size() + 5000);
    WriteDiskByte(d, 0x99);
    SeekDisk(d, 4095);
    ReadDiskByte(d, b);
    EXPECT_EQ(b, 0xAA);
  }  // the drive goes away without an eject: the bytes must still arrive
  std::vector<uint8_t> expected = image;
  for (size_t o = 4090; o < 4100; ++o) expected[o] = 0xAA;
  expected[9000] = 0x55;
  EXPECT_EQ(ReadFile(path), expected);
}

TEST(DiskImage, WriteWithoutWritePermissionIsInsertedReadOnly) {
  TempDir dir;
  const std::vector<uint8_t> image = StandardDsk(DataTracks(2));
  const std::string path = dir.File("ro.dsk", image);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  DriveImage d;
  ASSERT_EQ(OpenDiskFile(d, path).Status, InsertStatus::Inserted);
  EXPECT_EQ(d.ReadOnly, 1);
  EXPECT_EQ(d.TrackCount, 2u);
  SeekDisk(d, 600);
  WriteDiskByte(d, 0);
  EjectDisk(d);
  EXPECT_EQ(ReadFile(path), image);
}

TEST(DiskImage, MissingFileLeavesTheDriveAsItWas) {
  TempDir dir;
  DriveImage d;
  const std::string path = dir.File("a.dsk", StandardDsk(DataTracks(2)));
  ASSERT_EQ(InsertDiskPath(d, path, "").Status, InsertStatus::Inserted);
  EXPECT_EQ(InsertDiskPath(d, dir.Path("nope.dsk"), "").Status, InsertStatus::Missing);
  EXPECT_EQ(d.Loaded, 1);
  EXPECT_EQ(d.TrackCount, 2u);
  EXPECT_EQ(d.DiskPath, path);
  EXPECT_EQ(DriveCaption(d, 0), "A: A.DSK");
  EXPECT_EQ(DriveStatusText(d, 0), "A: A.DSK");

  d.WriteProtected = 1;
  EjectDrive(d);
  EXPECT_EQ(d.Loaded, 0);
  EXPECT_EQ(d.File, -1);
  EXPECT_EQ(d.TrackCount, 0u);
  EXPECT_EQ(d.Tracks[0][kTrackSectorCount], 0);
  EXPECT_TRUE(d.DiskPath.empty());
  EXPECT_EQ(d.WriteProtected, 1);  // only the menu toggles it
  EXPECT_EQ(DriveCaption(d, 1), "Floppy B:");
  EXPECT_EQ(DriveStatusText(d, 1), "B: Empty");
}

TEST(DiskImage, RealImagesFromTestData) {
  const std::string dir = SharedDir() + "/testdata/dsk/";
  struct Real {
    const char* File;
    uint32_t Tracks;
  };
  for (const Real& r : {Real{"hello.dsk", 42}, Real{"ROMDump.dsk", 42}, Real{"TEST-CAT.DSK", 39}}) {
    if (!std::filesystem::exists(dir + r.File)) GTEST_SKIP() << "test data not found in " << dir;
    SCOPED_TRACE(r.File);
    DriveImage d;
    ASSERT_EQ(OpenDiskFile(d, dir + r.File).Status, InsertStatus::Inserted);
    EXPECT_EQ(d.TrackCount, r.Tracks);
    EXPECT_EQ(d.ReadOnly, 1);  // the shared files carry no write permission
    EXPECT_EQ(SectorCountOf(d, 0), 9u);
  }
}

}  // namespace
