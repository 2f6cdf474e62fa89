// A controller test program for CPC emulators, run on the emulated 6128:
// its format option lays its test layout down on a blank image in drive B,
// then its test option runs every test on it and prints PASS or FAIL for
// each (waiting for a key after a failure).
#include <map>
#include <regex>

#include "cpc_screen.h"
#include "storage/disk_builders.h"
#include "storage/new_images.h"

using namespace disktest;
using namespace cpc_screen;

namespace {

std::string FdcTestImage() { return SharedDir() + "/testdata/suites/fdctest.dsk"; }

// Periods as the emulation thread runs them, heads moving.
void RunPeriods(Machine& m, int periods) {
  for (int i = 0; i < periods; ++i) {
    EmulateTick(m);
    FdcFrameTick(m);
  }
}

// A row holding `text`; one starting with it when `text` ends in ':'.
bool ScreenShows(const Machine& m, const std::string& text) {
  const bool prefix = !text.empty() && text.back() == ':';
  for (const std::string& row : ScreenText(m))
    if (prefix ? row.rfind(text, 0) == 0 : row.find(text) != std::string::npos) return true;
  return false;
}

// Presses `key` (again every two seconds: the program may not be reading
// yet) until the screen shows `text`, for `seconds` at most. Keys pressed
// too often would wait in the firmware's buffer for the next menu.
bool PressUntil(Machine& m, const std::string& key, const std::string& text, int seconds) {
  for (int period = 0; period < seconds * 50; period += 10) {
    if (ScreenShows(m, text)) return true;
    if (!key.empty() && period % 100 == 0) TypeText(m, key);
    RunPeriods(m, 10);
  }
  if (ScreenShows(m, text)) return true;
  for (const std::string& row : ScreenText(m)) std::printf("| %s\n", row.c_str());
  return false;
}

TEST(FdcTestProgram, FormatsAnImageAndPassesItsTests) {
  if (!HaveRoms()) GTEST_SKIP() << "ROM images not found in " << RomDir();
  if (!std::filesystem::exists(FdcTestImage())) GTEST_SKIP() << "test program not found: " << FdcTestImage();
  auto m = BootedCpc();
  ASSERT_NE(m, nullptr);
  TempDir dir;
  const std::string program = dir.File("fdctest.dsk", ReadFile(FdcTestImage()));
  const std::string blank = dir.File("blank.dsk", BuildNewDsk(NewDiskFormat::Data));
  ASSERT_EQ(OpenDiskFile(m->Fdc.Drives[0], program).Status, InsertStatus::Inserted);
  ASSERT_EQ(OpenDiskFile(m->Fdc.Drives[1], blank).Status, InsertStatus::Inserted);

  TypeText(*m, "RUN\"FDCTEST\r\n");
  ASSERT_TRUE(PressUntil(*m, "", "2. DO TEST", 20));
  ASSERT_TRUE(PressUntil(*m, "1", "DRIVE (0 or 1)?", 5));
  ASSERT_TRUE(PressUntil(*m, "1", "TRACK 00:", 5));
  // Back at the menu once the last track is done.
  ASSERT_TRUE(PressUntil(*m, "", "TRACK 29:", 90));
  ASSERT_TRUE(PressUntil(*m, "", "2. DO TEST", 10));
  FlushDisk(m->Fdc.Drives[1]);
  {
    DriveImage formatted;
    ASSERT_EQ(OpenDiskFromMemory(formatted, ReadFile(blank)).Status, InsertStatus::Inserted);
    // The layout's oddities: a track of one 1 KB sector, and IDs naming
    // another cylinder and head.
    ASSERT_GE(formatted.TrackCount, 0x2Au);
    ASSERT_EQ(SectorCountOf(formatted, 4), 1u);
    EXPECT_EQ(SectorIdOf(formatted, 4, 0).R, 0xAA);
    EXPECT_EQ(SectorIdOf(formatted, 4, 0).N, 3);
    const SectorId last = SectorIdOf(formatted, 0x19, SectorCountOf(formatted, 0x19) - 1);
    EXPECT_EQ(last.C, 0x19);
    EXPECT_EQ(last.H, 0xFE);
  }

  ASSERT_TRUE(PressUntil(*m, "2", "DRIVE (0 or 1)?", 5));
  ASSERT_TRUE(PressUntil(*m, "1", "00:", 10));
  // A key after every failure; the results as the screen shows them (a
  // row of 40 characters goes on in the next).
  const std::regex result("^([0-9A-F]{2}):.*(PASS|FAIL)");
  std::map<std::string, std::string> results;
  const auto collect = [&] {
    const std::vector<std::string> rows = ScreenText(*m);
    for (size_t i = 0; i < rows.size(); ++i) {
      std::string row = rows[i];
      if (row.size() >= 40 && i + 1 < rows.size()) row += rows[i + 1];
      std::smatch match;
      if (std::regex_search(row, match, result)) results[match[1]] = match[2];
    }
  };
  for (int period = 0; period < 400 * 50 && !ScreenShows(*m, "COMPLETE!"); period += 10) {
    collect();
    TypeText(*m, " ");
    RunPeriods(*m, 10);
  }
  collect();
  ASSERT_TRUE(PressUntil(*m, "", "COMPLETE!", 0)) << results.size() << " results seen";
  std::string failed;
  int passed = 0;
  for (const auto& [test, outcome] : results) {
    if (outcome == "PASS")
      ++passed;
    else
      failed += test + " ";
  }
  EXPECT_EQ(results.size(), 88u);
  // Tests the controller passes today; a rule lost shows here.
  EXPECT_GE(passed, 51) << "failed: " << failed;
  std::printf("fdctest: %d of %zu passed; failed: %s\n", passed, results.size(), failed.c_str());
}

}  // namespace
