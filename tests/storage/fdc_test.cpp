#include "storage/disk_builders.h"

using namespace disktest;

namespace {

class Fdc : public ::testing::Test {
 protected:
  void SetUp() override { f = NewFdc(); }

  // Inserts the image into `drive` from a scratch file and turns the motor on.
  std::string Insert(int drive, const std::vector<uint8_t>& image, const std::string& name = "disk.dsk") {
    const std::string path = dir.File(name, image);
    EXPECT_EQ(OpenDiskFile(f->Drives[drive], path).Status, InsertStatus::Inserted);
    FdcWrite(*f, kMotorPort, 1);
    return path;
  }

  TempDir dir;
  std::unique_ptr<FdcState> f;
};

TEST_F(Fdc, ResetState) {
  EXPECT_EQ(f->Phase, 1u);
  EXPECT_EQ(Status(*f), 0x80);
  EXPECT_EQ(f->Command, -1);
  EXPECT_EQ(f->Count, 1u);
  EXPECT_EQ(f->ActivityColour[0], kLampIdle);
  EXPECT_EQ(f->ActivityColour[1], kLampIdle);
  EXPECT_EQ(FdcRead(*f, kMotorPort), 0xFF);
  EXPECT_EQ(DataIn(*f), 0xFF);  // nothing to read in the command phase

  // Motor and Specify values survive a reset.
  FdcWrite(*f, kMotorPort, 1);
  Command(*f, {0x03, 0xA1, 0x03});
  f->Track[1] = 9;
  FdcReset(*f);
  EXPECT_EQ(f->Motor, 1u);
  EXPECT_EQ(f->Srt, 0xAu);
  EXPECT_EQ(f->Track[1], 0);
}

TEST_F(Fdc, InvalidCommandsAnswerOneByte) {
  for (uint8_t code : {0x00, 0x01, 0x0B, 0x1F, 0xE0}) {
    SCOPED_TRACE(code);
    DataOut(*f, code);
    EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x80});
    EXPECT_EQ(Status(*f), 0x80);
  }
}

// The sectors come by ID, R then R+1, wherever they lie on the interleaved
// track; with no terminal count on the CPC the read ends past EOT with
// "end of cylinder" and the ID of the last sector.
TEST_F(Fdc, ReadDataStreamsNineSectorsOfADataTrackInIdOrder) {
  const std::vector<uint8_t> image = StandardDsk(DataTracks(3));
  Insert(1, image);
  Command(*f, {0x0F, 0x01, 2});  // the head picks the track
  Command(*f, {0x08});
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x21, 2}));
  ReadDataCommand(*f, 1, 2, 0xC1, 0xC9);
  EXPECT_EQ(Status(*f) & 0x80, 0);  // busy until &C1 comes round
  std::vector<uint8_t> data;
  while (WaitRequest(*f) == 0xF0) {
    data.push_back(DataIn(*f));
    if (data.size() == 700) {
      EXPECT_EQ(f->ActivityColour[1], kLampActive);
    }
  }
  const uint32_t track2 = 256 + 2 * 0x1300 + 256;
  std::vector<uint8_t> expected;
  for (uint32_t entry : {0, 2, 4, 6, 8, 1, 3, 5, 7}) {  // &C1..&C9 on the track C1 C6 C2 C7 C3 C8 C4 C9 C5
    const std::vector<uint8_t> sector = PatternBytes(track2 + entry * 512, 512);
    expected.insert(expected.end(), sector.begin(), sector.end());
  }
  EXPECT_EQ(data, expected);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x41, 0x80, 0x00, 2, 0, 0xC9, 2}));
  EXPECT_EQ(f->ActivityColour[1], kLampIdle);
  EXPECT_EQ(Status(*f), 0x80);
  EXPECT_EQ(f->Track[1], 2);

  // A C that is not the head's: no data, and ST2 says "wrong cylinder".
  ReadDataCommand(*f, 1, 0, 0xC6, 0xC6);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x41, 0x04, 0x10, 0, 0, 0xC6, 2}));
}

TEST_F(Fdc, ReadFromAZipImageAndOfASixKilobyteSector) {
  Track big;
  big.Sectors = {{0, 0, 1, 6}, {0, 0, 2, 2}};
  std::vector<uint8_t> image = ExtendedDsk({big});
  ASSERT_EQ(OpenDiskFromMemory(f->Drives[0], image).Status, InsertStatus::Inserted);
  FdcWrite(*f, kMotorPort, 1);
  Command(*f, {0x46, 0, 0, 0, 1, 6, 1, 0x2A, 0xFF});
  // 8 KB pass the head: the 6144 stored bytes, then what follows them.
  const std::vector<uint8_t> data = ReadTransfer(*f);
  ASSERT_EQ(data.size(), 8192u);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 6144 + 512), PatternBytes(512, 6144 + 512));
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x80, 0, 0, 0, 1, 6}));
  ReadDataCommand(*f, 0, 0, 2, 2);
  EXPECT_EQ(ReadTransfer(*f), PatternBytes(512 + 6144, 512));
  Results(*f);
}

TEST_F(Fdc, NotReadyWithoutDiskOrMotorAndTheFollowingSenseInterrupt) {
  FdcWrite(*f, kMotorPort, 1);
  f->Track[1] = 3;
  ReadDataCommand(*f, 1, 0, 0xC1, 0xC1);
  EXPECT_EQ(Results(*f)[0], 0x49);
  // The stored ST0 lost bit 6.
  DataOut(*f, 0x08);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x09, 3}));
  DataOut(*f, 0x08);
  EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x80});  // nothing pending

  Insert(0, StandardDsk(DataTracks(1)));
  FdcWrite(*f, kMotorPort, 0);
  ReadDataCommand(*f, 0, 0, 0xC1, 0xC1);
  EXPECT_EQ(Results(*f)[0], 0x48);
  Command(*f, {0x42, 0, 0, 0, 0xC1, 2, 0xC9, 0x2A, 0xFF});  // Read Track
  EXPECT_EQ(Results(*f)[0], 0x48);
  // Write Data and Read ID do not test the motor, only the disk.
  Command(*f, {0x4A, 0x00});
  EXPECT_EQ(Results(*f).size(), 7u);
  Command(*f, {0x4A, 0x01});
  EXPECT_EQ(Results(*f)[0], 0x49);
  WriteDataCommand(*f, 1, 0, 0xC1, 0xC1);
  EXPECT_EQ(Results(*f)[0], 0x49);
}

// A sector that never comes round ends the command at the second index
// pulse without touching any data.
TEST_F(Fdc, UnmatchedSearchEndsWithNoData) {
  Insert(0, StandardDsk(DataTracks(2)));
  struct Case {
    const char* Name;
    uint8_t C, R, Eot, St2;
  };
  for (const Case& c : {Case{"C", 7, 0xC1, 0xC9, 0x10}, Case{"R", 1, 0x41, 0xC9, 0}, Case{"C 255", 255, 0xC1, 0xC1, 0x10}}) {
    SCOPED_TRACE(c.Name);
    f->Track[0] = 1;
    const uint64_t start = f->Now;
    ReadDataCommand(*f, 0, c.C, c.R, c.Eot);
    EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x04, c.St2, c.C, 0, c.R, 2}));
    EXPECT_GT(f->Now - start, 200000u);
    EXPECT_LE(f->Now - start, 400100u);
    EXPECT_EQ(f->Track[0], 1);
    WriteDataCommand(*f, 0, c.C, c.R, c.Eot);
    EXPECT_EQ(Results(*f)[1], 0x04);
  }
  // A disk cut short has no sectors at all.
  std::vector<uint8_t> bad = StandardDsk(DataTracks(2));
  bad.pop_back();
  Insert(1, bad, "bad.dsk");
  ReadDataCommand(*f, 1, 0, 0xC1, 0xC1);
  EXPECT_EQ(Results(*f)[1], 0x01);
  Command(*f, {0x42, 1, 0, 0, 0xC1, 2, 0xC9, 0x2A, 0xFF});
  EXPECT_EQ(Results(*f)[1], 0x01);
  Command(*f, {0x0A, 1});
  EXPECT_EQ(Results(*f)[0], 0x41);
}

TEST_F(Fdc, WriteDataReachesOnlyItsSectorsInTheFile) {
  const std::vector<uint8_t> image = StandardDsk(DataTracks(3));
  const std::string path = Insert(0, image);
  Command(*f, {0x0F, 0, 1});
  FdcWrite(*f, kMotorPort, 0);  // Write Data does not need the motor
  WriteDataCommand(*f, 0, 1, 0xC7, 0xC8);  // entries 3 and 5
  for (int i = 0; i < 1024; ++i) {
    ASSERT_EQ(WaitRequest(*f), 0xB0) << i;
    if (i == 10) {
      EXPECT_EQ(DataIn(*f), 9 ^ 0x5A);  // reading gives the register back, writes nothing
      EXPECT_EQ(f->ByteIndex, 10u);
    }
    DataOut(*f, static_cast<uint8_t>(i ^ 0x5A));
  }
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x80, 0, 1, 0, 0xC8, 2}));

  std::vector<uint8_t> expected = image;
  const uint32_t at = 256 + 0x1300 + 256 + 3 * 512;
  for (uint32_t i = 0; i < 512; ++i) expected[at + 2 * 512 + i] = static_cast<uint8_t>((i + 512) ^ 0x5A);
  for (uint32_t i = 0; i < 512; ++i) expected[at + i] = static_cast<uint8_t>(i ^ 0x5A);
  EXPECT_EQ(ReadFile(path), expected);  // on disk at the end of the command, before any eject

  // Read back through the controller.
  FdcWrite(*f, kMotorPort, 1);
  ReadDataCommand(*f, 0, 1, 0xC7, 0xC7);
  const std::vector<uint8_t> back = ReadTransfer(*f);
  ASSERT_EQ(back.size(), 512u);
  EXPECT_EQ(back[511], static_cast<uint8_t>(511 ^ 0x5A));
  Results(*f);
}

TEST_F(Fdc, WriteProtectionEndsATransferAtTheNextByte) {
  const std::vector<uint8_t> image = StandardDsk(DataTracks(1));
  const std::string path = Insert(0, image);
  WriteDataCommand(*f, 0, 0, 0xC1, 0xC1);
  ASSERT_TRUE(WriteTransfer(*f, std::vector<uint8_t>(100, 0)));
  f->Drives[0].WriteProtected = 1;
  WaitRequest(*f);
  DataOut(*f, 0x00);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x02, 0, 0, 0, 0xC1, 2}));
  std::vector<uint8_t> expected = image;
  std::fill(expected.begin() + 512, expected.begin() + 612, 0);  // what came before stays written
  EXPECT_EQ(ReadFile(path), expected);

  // Protected from the start, a ZIP image and a read-only file alike.
  WriteDataCommand(*f, 0, 0, 0xC1, 0xC1);
  EXPECT_EQ(Results(*f)[1], 0x02);
  ASSERT_EQ(OpenDiskFromMemory(f->Drives[1], image).Status, InsertStatus::Inserted);
  WriteDataCommand(*f, 1, 0, 0xC1, 0xC1);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x41, 0x02, 0, 0, 0, 0xC1, 2}));
  DataOut(*f, 0x08);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x01, 0}));
  const std::string ro = dir.File("ro.dsk", image);
  ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
  ASSERT_EQ(OpenDiskFile(f->Drives[1], ro).Status, InsertStatus::Inserted);
  WriteDataCommand(*f, 1, 0, 0xC1, 0xC1, 0x49);  // Write Deleted Data
  EXPECT_EQ(Results(*f)[1], 0x02);
  Command(*f, {0x04, 0x01});
  EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x71});
}

TEST_F(Fdc, SenseDriveStatusBits) {
  Command(*f, {0x04, 0x01});
  EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x01});
  Insert(0, StandardDsk(DataTracks(2)));
  Command(*f, {0x04, 0x00});
  EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x30});
  f->Track[0] = 1;
  f->Drives[0].WriteProtected = 1;
  Command(*f, {0x04, 0x02});  // only the lowest unit bit is decoded
  EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x60});
  Command(*f, {0x04, 0x04});  // the head bit comes back
  EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x64});
}

TEST_F(Fdc, SeekAndRecalibrate) {
  Insert(0, StandardDsk(DataTracks(2)));
  Insert(1, StandardDsk(DataTracks(2)), "b.dsk");
  // Never specified: Srt 0, every move completes at once.
  Command(*f, {0x0F, 0x00, 39});
  EXPECT_EQ(Status(*f), 0x81);
  EXPECT_EQ(f->Track[0], 39);
  DataOut(*f, 0x08);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x20, 39}));
  EXPECT_EQ(f->SoundEvents.exchange(0), kSoundMotorStart | kSoundHeadLong);

  Command(*f, {0x03, 0xA1, 0x03});  // Srt 10, as AMSDOS sets it
  EXPECT_EQ(Status(*f), 0x80);
  EXPECT_EQ(f->Phase, 1u);

  // Drive B from 0 to 39 and back while drive A stays on its track.
  Command(*f, {0x0F, 0x01, 39});
  EXPECT_EQ(f->Track[1], 0);
  EXPECT_EQ(f->Seeking[1], 1);
  EXPECT_EQ(Status(*f), 0x82);
  DataOut(*f, 0x08);
  EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x80});  // not there yet
  int ticks = 0;
  while (f->Seeking[1] && ticks < 100) {
    FdcFrameTick(*f);
    ++ticks;
  }
  EXPECT_EQ(f->Track[1], 39);
  EXPECT_EQ(ticks, 2);  // about 20 / Srt periods whatever the distance
  Command(*f, {0x07, 0x01});
  EXPECT_EQ(Status(*f), 0x82);
  ticks = 0;
  while (f->Recalibrating[1] && ticks < 100) {
    FdcFrameTick(*f);
    ++ticks;
  }
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(f->Track[1], 0);
  EXPECT_EQ(f->Track[0], 39);
  DataOut(*f, 0x08);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x21, 0}));

  // Two tracks at Srt 10 is under the threshold: at once.
  Command(*f, {0x0F, 0x01, 2});
  EXPECT_EQ(f->Track[1], 2);
  DataOut(*f, 0x08);
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x21, 2}));
}

// What a CPC FDC test program finds on the real machine: the busy bit of a
// move stays until it is sensed, a move on a drive not ready ends at once,
// and switching the motor off (or on) raises a ready-change interrupt.
TEST_F(Fdc, MovesAndTheReadyLine) {
  Insert(1, StandardDsk(DataTracks(2)));
  Command(*f, {0x03, 0xA1, 0x03});
  Command(*f, {0x0F, 0x01, 39});
  EXPECT_EQ(Status(*f), 0x82);
  for (int i = 0; i < 5; ++i) FdcFrameTick(*f);
  DataOut(*f, 0x0F);  // the next command under way: still busy
  EXPECT_EQ(Status(*f), 0x92);
  Command(*f, {0x01, 39});
  Command(*f, {0x08});
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x21, 39}));
  EXPECT_EQ(Status(*f), 0x80);
  Command(*f, {0x08});
  EXPECT_EQ(Results(*f), std::vector<uint8_t>{0x80});

  FdcWrite(*f, kMotorPort, 0);
  Command(*f, {0x08});
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0xC1, 39}));
  Command(*f, {0x0F, 0x01, 10});
  EXPECT_EQ(Status(*f) & 0xF0, 0x90);
  Command(*f, {0x08});
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x69, 39}));  // the head stays
  Command(*f, {0x07, 0x01});
  Command(*f, {0x08});
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x69, 0}));
  // Back on: the drive is ready again, and the chip says so.
  FdcWrite(*f, kMotorPort, 1);
  Command(*f, {0x08});
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0xC1, 0}));
}

TEST_F(Fdc, ReadIdAndReadTrack) {
  const std::vector<uint8_t> image = StandardDsk(DataTracks(2));
  Insert(0, image);
  // Beyond the stored tracks nothing is recorded.
  Command(*f, {0x0F, 0x00, 200});
  Command(*f, {0x4A, 0x00});
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x01, 0, 200, 0, 0, 0}));

  // Read Track reads the track under the head from the index, every sector
  // in stored order; the IDs that differ from the command's say "no data",
  // and R counts the sectors.
  Command(*f, {0x0F, 0x00, 1});
  Command(*f, {0x42, 0x00, 1, 0, 0xC1, 2, 9, 0x2A, 0xFF});
  EXPECT_EQ(ReadTransfer(*f), PatternBytes(256 + 0x1300 + 256, 9 * 512));
  EXPECT_EQ(Results(*f), (std::vector<uint8_t>{0x40, 0x84, 0, 1, 0, 0xC9, 2}));
  EXPECT_EQ(f->Now % 200000 < 190000, true);  // within the turn after the index
}

TEST_F(Fdc, DiskChangedUnderARunningTransfer) {
  Insert(0, StandardDsk(DataTracks(3)));
  Command(*f, {0x0F, 0, 2});
  ReadDataCommand(*f, 0, 2, 0xC1, 0xC9);
  EXPECT_EQ(ReadTransfer(*f, 30).size(), 30u);
  // The window swaps the disk while the machine is paused.
  ASSERT_EQ(OpenDiskFile(f->Drives[0], dir.File("small.dsk", StandardDsk(DataTracks(1)))).Status,
            InsertStatus::Inserted);
  WaitRequest(*f);
  DataIn(*f);
  EXPECT_EQ(Results(*f)[1], 0x04);
  EjectDisk(f->Drives[0]);
  ReadDataCommand(*f, 0, 0, 0xC1, 0xC9);
  EXPECT_EQ(Results(*f)[0], 0x48);
}

TEST(FdcSound, MotorAndHeadNoises) {
  auto f = NewFdc();
  FdcWrite(*f, kMotorPort, 1);
  FdcWrite(*f, kMotorPort, 1);
  EXPECT_EQ(f->SoundEvents.exchange(0), kSoundMotorStart);
  FdcWrite(*f, kMotorPort, 0);
  EXPECT_EQ(f->SoundEvents.exchange(0), kSoundMotorStop);
  EXPECT_EQ(HeadSoundFor(0), 0u);
  EXPECT_EQ(HeadSoundFor(4), kSoundHeadShort);
  EXPECT_EQ(HeadSoundFor(5), kSoundHeadMedium);
  EXPECT_EQ(HeadSoundFor(20), kSoundHeadMedium);
  EXPECT_EQ(HeadSoundFor(50), kSoundHeadLong);
  EXPECT_EQ(HeadSoundFor(51), 0u);
}

}  // namespace
