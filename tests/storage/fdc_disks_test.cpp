// Disks from the wild on the turning controller: images with tails, gaps,
// odd sector lengths, weak and deleted sectors, recorded errors, two sides;
// the rotation and data rate a loader can measure; Format Track and Scan.
#include "storage/disk_builders.h"

using namespace disktest;

namespace {

constexpr uint64_t kTurn = 200000;

class FdcDisks : public ::testing::Test {
 protected:
  void SetUp() override { f = NewFdc(); }

  std::string Insert(const std::vector<uint8_t>& image, int drive = 0) {
    const std::string path = dir.File("disk" + std::to_string(drive) + ".dsk", image);
    EXPECT_EQ(OpenDiskFile(f->Drives[drive], path).Status, InsertStatus::Inserted);
    FdcWrite(*f, kMotorPort, 1);
    return path;
  }
  void Seek(uint8_t unit, uint8_t cylinder) {
    Command(*f, {0x0F, unit, cylinder});
    Command(*f, {0x08});
    Results(*f);
  }
  // Reads sector r..eot of the given ID (head bit from `unit`).
  std::vector<uint8_t> Read(uint8_t unit, Sector id, uint8_t eot, uint8_t code = 0x46) {
    Command(*f, {code, unit, id.C, id.H, id.R, id.N, eot, 0x2A, 0xFF});
    return ReadTransfer(*f);
  }

  TempDir dir;
  std::unique_ptr<FdcState> f;
};

// Tails after the last track, and an unstored track before stored ones.
TEST_F(FdcDisks, TailsAndUnformattedTracks) {
  std::vector<Track> tracks = DataTracks(3);
  tracks[1].SizeByte = 0;  // unformatted, before track 2
  std::vector<uint8_t> image = ExtendedDsk(tracks);
  const size_t size = image.size();
  const std::string tag = "File downloaded from an archive site";
  image.insert(image.end(), tag.begin(), tag.end());
  std::vector<uint8_t> offsetInfo(300, 0xA5);
  std::memcpy(offsetInfo.data(), "Offset-Info\r\n", 13);
  image.insert(image.end(), offsetInfo.begin(), offsetInfo.end());
  Insert(image);
  ASSERT_EQ(f->Drives[0].TrackCount, 3u);

  // Track 2 lies right after track 0 in the file.
  const uint64_t track2 = 256 + 0x1300;
  Seek(0, 2);
  EXPECT_EQ(Read(0, {2, 0, 0xC5, 2}, 0xC5), PatternBytes(track2 + 256 + 8 * 512, 512));
  EXPECT_EQ(Results(*f)[0], 0x40);

  // The unformatted track shows no ID: missing address mark after two index pulses.
  Seek(0, 1);
  const uint64_t start = f->Now;
  Command(*f, {0x4A, 0x00});
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x01, 0, 1, 0, 0, 0}));
  EXPECT_GE(f->Now - start, kTurn);
  EXPECT_EQ(Read(0, {1, 0, 0xC1, 2}, 0xC1), std::vector<uint8_t>{});
  EXPECT_EQ(Results(*f)[1], 0x01);

  // The tail is never read as track data, and the file never changes size.
  EXPECT_EQ(ReadFile(dir.Path("disk0.dsk")).size(), size + tag.size() + offsetInfo.size());
}

// Stored lengths from the sector records, shorter and longer than N says,
// and a weak sector whose copies come out one after the other.
TEST_F(FdcDisks, StoredLengthsAndWeakSectors) {
  Track t;
  t.Sectors = {{0, 0, 1, 2, 0, 0, 540},            // gap bytes kept after the data
               {0, 0, 2, 6, 0, 0, 1024},           // a big sector cut short
               {0, 0, 3, 2, 0x20, 0x20, 3 * 512},  // three copies, data CRC error
               {0, 0, 4, 1}};
  const std::vector<uint8_t> image = ExtendedDsk({t});
  Insert(image);
  EXPECT_EQ(Read(0, {0, 0, 1, 2}, 1), PatternBytes(512, 512));
  Results(*f);
  const std::vector<uint8_t> big = Read(0, {0, 0, 2, 6}, 2);
  ASSERT_EQ(big.size(), 8192u);
  EXPECT_EQ(std::vector<uint8_t>(big.begin(), big.begin() + 1024), PatternBytes(512 + 540, 1024));
  Results(*f);
  EXPECT_EQ(Read(0, {0, 0, 4, 1}, 4), PatternBytes(512 + 540 + 1024 + 3 * 512, 256));
  Results(*f);

  std::vector<std::vector<uint8_t>> copies;
  for (int i = 0; i < 3; ++i) {
    copies.push_back(Read(0, {0, 0, 3, 2}, 3));
    // The recorded data error is reported after the data.
    EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x20, 0x20, 0, 0, 3, 2}));
  }
  EXPECT_NE(copies[0], copies[1]);
  EXPECT_NE(copies[1], copies[2]);
  for (const auto& c : copies) {
    const uint64_t from = 512 + 540 + 1024;
    EXPECT_TRUE(c == PatternBytes(from, 512) || c == PatternBytes(from + 512, 512) || c == PatternBytes(from + 1024, 512));
  }
}

// A deleted data mark stops Read Data after its sector, or is skipped with
// SK; Read Deleted Data is the converse; Write Deleted Data records it.
TEST_F(FdcDisks, DeletedData) {
  Track t;
  t.Sectors = {{0, 0, 1, 2}, {0, 0, 2, 2, 0, 0x40}, {0, 0, 3, 2}};
  const std::vector<uint8_t> image = ExtendedDsk({t});
  const std::string path = Insert(image);
  f->Drives[0].WriteProtected = 0;
  const uint64_t data = 512;

  std::vector<uint8_t> expected = PatternBytes(data, 1024);
  EXPECT_EQ(Read(0, {0, 0, 1, 2}, 3), expected);  // sectors 1 and 2, then stops
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0, 0x40, 0, 0, 2, 2}));

  expected = PatternBytes(data, 512);
  const std::vector<uint8_t> third = PatternBytes(data + 1024, 512);
  expected.insert(expected.end(), third.begin(), third.end());
  EXPECT_EQ(Read(0, {0, 0, 1, 2}, 3, 0x66), expected);  // SK: sector 2 passed over
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x80, 0x40, 0, 0, 3, 2}));

  EXPECT_EQ(Read(0, {0, 0, 2, 2}, 2, 0x4C), PatternBytes(data + 512, 512));  // Read Deleted Data
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x80, 0, 0, 0, 2, 2}));
  EXPECT_EQ(Read(0, {0, 0, 1, 2}, 1, 0x4C), PatternBytes(data, 512));
  EXPECT_EQ(Results(*f)[2], 0x40);

  // Write Deleted Data on sector 3, Write Data on sector 2: the marks change.
  Command(*f, {0x49, 0, 0, 0, 3, 2, 3, 0x2A, 0xFF});
  ASSERT_TRUE(WriteTransfer(*f, std::vector<uint8_t>(512, 0x77)));
  EXPECT_EQ(Results(*f)[1], 0x80);
  Command(*f, {0x45, 0, 0, 0, 2, 2, 2, 0x2A, 0xFF});
  ASSERT_TRUE(WriteTransfer(*f, std::vector<uint8_t>(512, 0x66)));
  Results(*f);
  const std::vector<uint8_t> after = ReadFile(path);
  EXPECT_EQ(after[256 + 0x18 + 8 + 5], 0x00);
  EXPECT_EQ(after[256 + 0x18 + 16 + 5], 0x40);
  EXPECT_EQ(after[data + 1024], 0x77);
  EXPECT_EQ(Read(0, {0, 0, 3, 2}, 3, 0x4C), std::vector<uint8_t>(512, 0x77));
  EXPECT_EQ(Results(*f)[2], 0);
}

// Successive Read IDs walk round the track in stored order, one turn taking
// 200 ms; a byte not taken within 32 us is an overrun.
TEST_F(FdcDisks, RotationAndDataRate) {
  Insert(ExtendedDsk(DataTracks(1)));
  const uint8_t order[] = {0xC1, 0xC6, 0xC2, 0xC7, 0xC3, 0xC8, 0xC4, 0xC9, 0xC5};
  std::vector<uint64_t> times;
  std::vector<uint8_t> ids;
  for (int i = 0; i < 19; ++i) {
    Command(*f, {0x4A, 0x00});
    const std::vector<uint8_t> r = Results(*f);
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[0], 0);
    ids.push_back(r[5]);
    times.push_back(f->Now);
  }
  size_t first = std::find(std::begin(order), std::end(order), ids[0]) - std::begin(order);
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ids[i], order[(first + i) % 9]) << i;
  // The same sector comes back after exactly one turn, give or take a poll.
  const uint64_t turn = times[18] - times[9];
  EXPECT_GE(turn, kTurn - 20);
  EXPECT_LE(turn, kTurn + 20);
  // Neighbouring sectors are a sector's length and gaps apart (9 per turn).
  EXPECT_GT(times[2] - times[1], 512 * 32u);
  EXPECT_LT(times[2] - times[1], kTurn / 9 + 100);

  // Overrun: the Z80 takes 10 bytes and then looks away for 100 us.
  Command(*f, {0x46, 0, 0, 0, 0xC1, 2, 0xC1, 0x2A, 0xFF});
  EXPECT_EQ(ReadTransfer(*f, 10).size(), 10u);
  f->Now += 100;
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x10, 0, 0, 0, 0xC1, 2}));
  // Bytes come no faster than one per 32 us.
  Command(*f, {0x46, 0, 0, 0, 0xC1, 2, 0xC1, 0x2A, 0xFF});
  ASSERT_EQ(WaitRequest(*f), 0xF0);
  const uint64_t begin = f->Now;
  EXPECT_EQ(ReadTransfer(*f).size(), 512u);
  EXPECT_GE(f->Now - begin, 511u * 32);
  EXPECT_LE(f->Now - begin, 512u * 32 + 16);
  Results(*f);
}

// Each side of a double-sided image on its head; a single-sided image
// answers on both, its IDs keeping H = 0.
TEST_F(FdcDisks, DoubleSidedImages) {
  Track side0 = DataTrack(0), side1;
  for (uint8_t r = 1; r <= 9; ++r) side1.Sectors.push_back({0, 1, r, 2});
  const std::vector<uint8_t> image = ExtendedDsk({side0, side1, DataTrack(1), side1}, 2);
  Insert(image);
  ASSERT_EQ(f->Drives[0].TrackCount, 4u);
  const uint64_t track1 = 256 + 0x1300;
  EXPECT_EQ(Read(0x04, {0, 1, 3, 2}, 3), PatternBytes(track1 + 256 + 2 * 512, 512));
  EXPECT_EQ(Results(*f)[0], 0x44);
  EXPECT_EQ(Read(0x00, {0, 0, 0xC2, 2}, 0xC2), PatternBytes(256 + 256 + 2 * 512, 512));
  Results(*f);
  Command(*f, {0x4A, 0x04});
  EXPECT_EQ(Results(*f)[4], 1);  // H of side 1's IDs
  Command(*f, {0x04, 0x04});
  EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x3C});  // ready, track 0, two sides, head 1

  // The standard format stores sides in the same order.
  std::vector<uint8_t> standard = StandardDsk({side0, side1}, 0x1300);
  standard[0x30] = 1;
  standard[0x31] = 2;
  Insert(standard, 1);
  EXPECT_EQ(Read(0x05, {0, 1, 9, 2}, 9), PatternBytes(256 + 0x1300 + 256 + 8 * 512, 512));
  Results(*f);

  // Single-sided: head 1 reads the one side, where H = 1 matches nothing.
  Insert(ExtendedDsk(DataTracks(1)), 1);
  EXPECT_EQ(Read(0x05, {0, 1, 0xC1, 2}, 0xC1), std::vector<uint8_t>{});
  EXPECT_EQ(Results(*f)[1], 0x04);
  EXPECT_EQ(Read(0x05, {0, 0, 0xC1, 2}, 0xC1).size(), 512u);
  Results(*f);
}

// MT: past EOT on head 0 the read goes on with sector 1 of head 1 and ends
// at EOT there; started on head 1, or on a single-sided disk, it does not wrap.
TEST_F(FdcDisks, MultiTrackReads) {
  Track side0, side1;
  for (uint8_t r = 1; r <= 9; ++r) {
    side0.Sectors.push_back({0, 0, r, 2});
    side1.Sectors.push_back({0, 1, r, 2});
  }
  Insert(ExtendedDsk({side0, side1}, 2));
  const auto sectors = [](uint32_t track, uint32_t first, uint32_t count) {
    return PatternBytes(256 + track * 0x1300 + 256 + first * 512, count * 512);
  };
  std::vector<uint8_t> want = sectors(0, 7, 2);
  const std::vector<uint8_t> rest = sectors(1, 0, 9);
  want.insert(want.end(), rest.begin(), rest.end());
  EXPECT_EQ(Read(0x00, {0, 0, 8, 2}, 9, 0xC6), want);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x44, 0x80, 0x00, 0, 1, 9, 2}));

  EXPECT_EQ(Read(0x04, {0, 1, 8, 2}, 9, 0xC6), sectors(1, 7, 2));
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x44, 0x80, 0x00, 0, 1, 9, 2}));
  EXPECT_EQ(Read(0x00, {0, 0, 8, 2}, 9, 0x46), sectors(0, 7, 2));  // no MT
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x80, 0x00, 0, 0, 9, 2}));

  // A single-sided drive ignores the head: side "1" shows H = 0 IDs only.
  Insert(ExtendedDsk({side0}), 1);
  Command(*f, {0xC6, 0x01, 0, 0, 9, 2, 9, 0x2A, 0xFF});
  EXPECT_EQ(ReadTransfer(*f), sectors(0, 8, 1));
  const std::vector<uint8_t> r = Results(*f);
  EXPECT_EQ(r[0], 0x45);
  EXPECT_EQ(r[1], 0x04);  // no data
}

// Format Track lays down a new track (rewriting the file when the track's
// size changes) which then reads back; Scan compares sectors with the Z80's.
TEST_F(FdcDisks, FormatTrackThenReadAndScan) {
  const std::string path = Insert(StandardDsk(DataTracks(2)));
  f->Drives[0].WriteProtected = 0;
  Seek(0, 1);
  // Ten 512-byte sectors do not fit a standard track of &1300 bytes.
  Command(*f, {0x4D, 0x00, 2, 10, 0x20, 0xAB});
  std::vector<uint8_t> ids;
  for (uint8_t r = 1; r <= 10; ++r) ids.insert(ids.end(), {1, 0, r, 2});
  ASSERT_TRUE(WriteTransfer(*f, ids));
  const std::vector<uint8_t> result = Results(*f);
  ASSERT_EQ(result.size(), 7u);
  EXPECT_EQ(result[0], 0);
  EXPECT_EQ(result[1], 0);

  const std::vector<uint8_t> file = ReadFile(path);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 8), "EXTENDED");
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
    EXPECT_EQ(entry.path().filename().string().find("disk0.dsk."), std::string::npos) << "temporary file left";
  EXPECT_EQ(Read(0, {1, 0, 10, 2}, 10), std::vector<uint8_t>(512, 0xAB));
  Results(*f);
  // Track 0 survived the rewrite.
  Seek(0, 0);
  EXPECT_EQ(Read(0, {0, 0, 0xC5, 2}, 0xC5), PatternBytes(256 + 256 + 8 * 512, 512));
  Results(*f);
  // A fresh drive sees the same.
  DriveImage again;
  ASSERT_EQ(OpenDiskFile(again, path).Status, InsertStatus::Inserted);
  EXPECT_EQ(SectorCountOf(again, 1), 10u);

  // Formatting again with the same layout rewrites in place.
  Seek(0, 1);
  Command(*f, {0x4D, 0x00, 2, 10, 0x20, 0x00});
  ASSERT_TRUE(WriteTransfer(*f, ids));
  EXPECT_EQ(Results(*f)[0], 0);
  EXPECT_EQ(ReadFile(path).size(), file.size());

  // Scan: sector 3 holds zeros.
  struct Case {
    const char* Name;
    uint8_t Code, Value, St0, St2;
  };
  for (const Case& c : {Case{"equal hit", 0x11, 0x00, 0x00, 0x08}, Case{"equal miss", 0x11, 0x01, 0x40, 0x04},
                        Case{"low or equal", 0x19, 0x05, 0x00, 0x00}, Case{"high or equal miss", 0x1E, 0x05, 0x40, 0x04}}) {
    SCOPED_TRACE(c.Name);
    Command(*f, {c.Code, 0x00, 1, 0, 3, 2, 3, 0x2A, 1});
    std::vector<uint8_t> bytes(512, c.Value);
    bytes[7] = 0xFF;  // matches anything
    ASSERT_TRUE(WriteTransfer(*f, bytes));
    const std::vector<uint8_t> r = Results(*f);
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[0], c.St0);
    EXPECT_EQ(r[2], c.St2);
  }
}

TEST_F(FdcDisks, FormatOnAProtectedDiskIsRefused) {
  const std::vector<uint8_t> image = StandardDsk(DataTracks(2));
  const std::string path = Insert(image);
  f->Drives[0].WriteProtected = 1;
  Command(*f, {0x4D, 0x00, 2, 9, 0x20, 0xE5});
  EXPECT_EQ(Results(*f)[1], 0x02);
  EXPECT_EQ(ReadFile(path), image);
}

}  // namespace
