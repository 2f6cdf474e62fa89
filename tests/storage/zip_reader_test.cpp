#include "storage/disk_builders.h"

using namespace disktest;

namespace {

TEST(ZipReader, StoredAndDeflatedMembersExtractWhole) {
  const std::vector<uint8_t> image = StandardDsk(DataTracks(4));
  const std::vector<uint8_t> notes(70000, 'x');  // inflates over more than one output buffer
  TempDir dir;
  const std::string path =
      dir.File("pair.zip", Zip({{"games/one.dsk", image, false}, {"readme.txt", notes, true}, {"Two.DSK", image, true}}));
  TMiniZip zip;
  ASSERT_TRUE(zip.Open(path));
  std::vector<std::string> names, messages;
  EXPECT_EQ(zip.ListMembers([&](const std::string& n) { names.push_back(n); }, messages), 3);
  EXPECT_EQ(names, (std::vector<std::string>{"games/one.dsk", "readme.txt", "Two.DSK"}));
  EXPECT_EQ(ListDskMembers(zip, messages), (std::vector<std::string>{"GAMES/ONE.DSK", "TWO.DSK"}));

  ASSERT_TRUE(zip.ExtractToStream("GAMES/ONE.DSK", messages));  // names compare without case
  EXPECT_EQ(zip.Stream, image);
  ASSERT_TRUE(zip.ExtractToStream("two.dsk", messages));
  EXPECT_EQ(zip.Stream, image);
  ASSERT_TRUE(zip.ExtractToStream("readme.txt", messages));
  EXPECT_EQ(zip.Stream, notes);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(zip.Open(path));  // already open: nothing changes
  EXPECT_EQ(zip.Members().size(), 3u);
}

TEST(ZipReader, WrongCrcIsReportedButExtracts) {
  const std::vector<uint8_t> image = StandardDsk(DataTracks(2));
  TempDir dir;
  for (bool deflate : {false, true}) {
    SCOPED_TRACE(deflate ? "deflated" : "stored");
    TMiniZip zip;
    ASSERT_TRUE(zip.Open(dir.File(deflate ? "d.zip" : "s.zip", Zip({{"a.dsk", image, deflate, 0x12345678}}))));
    std::vector<std::string> messages;
    EXPECT_TRUE(zip.ExtractToStream("a.dsk", messages));
    EXPECT_EQ(messages, std::vector<std::string>{"Wrong CRC, so file could be wrong"});
    EXPECT_EQ(zip.Stream, image);
  }
  // A stored CRC of 0 is not checked.
  TMiniZip zip;
  ASSERT_TRUE(zip.Open(dir.File("z.zip", Zip({{"a.dsk", image, true, 0}}))));
  std::vector<std::string> messages;
  EXPECT_TRUE(zip.ExtractToStream("a.dsk", messages));
  EXPECT_TRUE(messages.empty());
}

TEST(ZipReader, NoArchiveOpenSaysSo) {
  TMiniZip zip;
  std::vector<std::string> messages;
  EXPECT_EQ(zip.ListMembers([](const std::string&) {}, messages), -1);
  EXPECT_FALSE(zip.ExtractToStream("a.dsk", messages));
  EXPECT_EQ(messages, (std::vector<std::string>{"No Zipfile opened", "No Zipfile opened"}));
}

// Truncated and garbled archives: a refusal or an error message, never a
// crash, never a stream longer than the directory promised.
TEST(ZipReader, DamagedArchivesFailCleanly) {
  const std::vector<uint8_t> image = StandardDsk(DataTracks(3));
  const std::vector<uint8_t> good = Zip({{"a.dsk", image, true}});
  const size_t dataStart = 30 + 5 + 4;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"end record only, cut", std::vector<uint8_t>(good.end() - 10, good.end())});
  for (size_t cut : {size_t{1}, size_t{22}, good.size() / 2, size_t{40}}) {
    cases.push_back({"truncated to " + std::to_string(good.size() - cut), std::vector<uint8_t>(good.begin(), good.end() - static_cast<std::ptrdiff_t>(cut))});
  }
  auto patched = [&](const std::string& name, size_t at, uint32_t value, int bytes) {
    std::vector<uint8_t> v = good;
    for (int i = 0; i < bytes; ++i) v[at + i] = static_cast<uint8_t>(value >> (8 * i));
    cases.push_back({name, v});
  };
  const size_t dirAt = good.size() - 22 - 46 - 5;
  const size_t endAt = good.size() - 22;
  patched("directory offset past the end", endAt + 16, 0x7FFFFFF0, 4);
  patched("directory size huge", endAt + 12, 0xFFFFFF00, 4);
  patched("entry count too high", endAt + 10, 0x00FF, 2);
  patched("name length past the directory", dirAt + 28, 0xFFFF, 2);
  patched("local header offset past the end", dirAt + 42, 0x7FFFFFFF, 4);
  patched("compressed size past the end", dirAt + 20, 0x7FFFFFFF, 4);
  patched("uncompressed size too small", dirAt + 24, 1000, 4);
  patched("uncompressed size too large", dirAt + 24, static_cast<uint32_t>(image.size() + 1), 4);
  patched("uncompressed size beyond any disk", dirAt + 24, 0xFFFFFFF0, 4);
  patched("unknown method", dirAt + 10, 12, 2);
  patched("encrypted", dirAt + 8, 1, 2);
  patched("local signature broken", 0, 0, 1);
  patched("deflate data garbled", dataStart, 0xFFFFFFFF, 4);
  patched("local extra length huge", 28, 0xFFFF, 2);

  TempDir dir;
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    DriveImage d;
    std::vector<std::string> messages;
    const std::string path = dir.File("bad.zip", bytes);
    const InsertResult r = InsertDiskPath(d, path, "");
    EXPECT_FALSE(r.Messages.empty());
    if (r.Status == InsertStatus::Inserted) {
      // The directory was readable but the member was not: an empty disk.
      EXPECT_EQ(d.TrackCount, 0u) << "bad member loaded tracks";
      EXPECT_EQ(r.Messages.back(), "Error at ExtractToStream");
    } else {
      EXPECT_EQ(r.Status, InsertStatus::Refused);
      EXPECT_EQ(d.Loaded, 0);
      EXPECT_EQ(r.Messages.back(), "No DSK file inside the ZIP!");
    }
    EXPECT_LE(d.Zip.Stream.size(), image.size());
  }
}

TEST(ZipReader, DiskLoaderChoosesAmongDskMembers) {
  const std::vector<uint8_t> a = StandardDsk(DataTracks(2));
  const std::vector<uint8_t> b = StandardDsk(DataTracks(5));
  TempDir dir;
  DriveImage d;

  const std::string none = dir.File("none.zip", Zip({{"readme.txt", {1, 2, 3}, false}}));
  InsertResult r = InsertDiskPath(d, none, "");
  EXPECT_EQ(r.Status, InsertStatus::Refused);
  EXPECT_EQ(r.Messages, std::vector<std::string>{"No DSK file inside the ZIP!"});
  EXPECT_EQ(d.Loaded, 0);
  EXPECT_EQ(d.Source, kSourceFile);
  EXPECT_TRUE(d.ZipPath.empty());

  const std::string two = dir.File("Two.Zip", Zip({{"a.dsk", a, true}, {"b.dsk", b, false}}));
  std::vector<std::string> choices;
  r = InsertDiskPath(d, two, "", &choices);
  EXPECT_EQ(r.Status, InsertStatus::Choose);
  EXPECT_EQ(choices, (std::vector<std::string>{"A.DSK", "B.DSK"}));
  EXPECT_EQ(d.Loaded, 0);

  r = InsertDiskPath(d, two, "b.dsk");
  ASSERT_EQ(r.Status, InsertStatus::Inserted);
  EXPECT_EQ(d.Source, kSourceZip);
  EXPECT_EQ(d.TrackCount, 5u);
  EXPECT_EQ(d.DiskPath, two);
  EXPECT_EQ(d.ZipPath, two);
  EXPECT_EQ(d.ZipMember, "B.DSK");
  EXPECT_EQ(DriveCaption(d, 1), "B: B.DSK");

  EXPECT_EQ(InsertDiskPath(d, two, "c.dsk").Status, InsertStatus::Refused);
  EXPECT_EQ(d.Loaded, 0);

  // Eject keeps nothing open, the next insertion replaces the stream.
  ASSERT_EQ(InsertDiskPath(d, two, "A.DSK").Status, InsertStatus::Inserted);
  EXPECT_EQ(d.TrackCount, 2u);
  EXPECT_EQ(d.Zip.Stream, a);
}

TEST(ZipReader, HelloZipFromTestData) {
  const std::string dir = SharedDir() + "/testdata/dsk/";
  if (!std::filesystem::exists(dir + "hello.zip")) GTEST_SKIP() << "test data not found in " << dir;
  DriveImage d;
  const InsertResult r = InsertDiskPath(d, dir + "hello.zip", "");
  ASSERT_EQ(r.Status, InsertStatus::Inserted);
  EXPECT_TRUE(r.Messages.empty());
  EXPECT_EQ(d.ZipMember, "HELLO.DSK");
  EXPECT_EQ(d.TrackCount, 42u);
  EXPECT_EQ(d.Zip.Stream, ReadFile(dir + "hello.dsk"));
}

}  // namespace
