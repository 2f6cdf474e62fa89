#include "storage/symbiface.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "core/machine.h"
#include "storage/new_images.h"

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kStatus = 0xFD06, kData = 0xFD08, kError = 0xFD09, kCount = 0xFD0A, kSectorNo = 0xFD0B,
                   kCylLow = 0xFD0C, kCylHigh = 0xFD0D, kDriveHead = 0xFD0E, kCommand = 0xFD0F;

class Symbiface : public ::testing::Test {
 protected:
  void SetUp() override {
    MachineConfig config;
    config.RomDir = "/nonexistent";  // no ROMs needed: the card is driven through its ports
    m_ = CreateMachine(config);
    const bool dip[8] = {true, true, true, true, true, true, true, true};
    SymbifaceConfigure(m_->Memory, true, dip);
    dir_ = fs::temp_directory_path() /
           ("pellucidore-symbi-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SymbifaceCloseImages(m_->Symbiface);
    fs::remove_all(dir_);
  }

  // A fresh 10 MB image as the master drive.
  fs::path AttachNewImage(int drive = 0) {
    const auto r = WriteNewHdd(dir_ / ("disk" + std::to_string(drive) + ".hdd"), 10);
    EXPECT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(SymbifaceOpenImage(m_->Symbiface, drive, r.Written), "");
    return r.Written;
  }

  void Out(uint16_t port, uint8_t v) { Z80Out(*m_, port, v); }
  uint8_t In(uint16_t port) { return Z80In(*m_, port); }

  void SelectLba(uint32_t lba, uint8_t count, int drive = 0) {
    Out(kCount, count);
    Out(kSectorNo, static_cast<uint8_t>(lba));
    Out(kCylLow, static_cast<uint8_t>(lba >> 8));
    Out(kCylHigh, static_cast<uint8_t>(lba >> 16));
    Out(kDriveHead, static_cast<uint8_t>(0xE0 | drive << 4 | ((lba >> 24) & 0x0F)));
  }
  std::vector<uint8_t> ReadSectors(uint32_t lba, uint8_t count) {
    SelectLba(lba, count);
    Out(kCommand, 0x20);
    std::vector<uint8_t> out;
    while (In(kStatus) == 0x08) out.push_back(In(kData));
    return out;
  }
  void WriteSectors(uint32_t lba, const std::vector<uint8_t>& data) {
    SelectLba(lba, static_cast<uint8_t>(data.size() / 512));
    Out(kCommand, 0x30);
    for (uint8_t b : data) Out(kData, b);
  }
  std::vector<uint8_t> FileBytes(const fs::path& file, uint64_t offset, size_t n) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<uint8_t> out(n);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
    out.resize(static_cast<size_t>(in.gcount()));
    return out;
  }

  std::unique_ptr<Machine> m_;
  fs::path dir_;
};

TEST_F(Symbiface, CardNotFittedAnswersNothing) {
  const bool dip[8] = {};
  SymbifaceConfigure(m_->Memory, false, dip);
  Out(0xFD15, 0x20);
  Out(0xFD14, 0x55);
  EXPECT_EQ(m_->Symbiface.CmosRam[0x20], 0);
  for (uint16_t port : {kStatus, kData, uint16_t{0xFD10}, uint16_t{0xFD11}, uint16_t{0xFD14}}) EXPECT_EQ(In(port), 0xFF);
  EXPECT_EQ(m_->Memory.SymbifaceRomRamActive, 0);
}

TEST_F(Symbiface, AbsentDriveAndStatusClearing) {
  AttachNewImage(0);
  EXPECT_EQ(In(kStatus), 0x40);
  Out(kDriveHead, 0xF0);  // slave, LBA
  Out(kCommand, 0x20);
  EXPECT_EQ(In(kError), 0x02);
  EXPECT_EQ(In(kStatus), 0x01);  // &FD06 leaves the error
  EXPECT_EQ(In(kCommand), 0x01);
  EXPECT_EQ(In(kCommand), 0x40);

  // Unknown commands abort; the no-effect set and recalibrate/seek succeed.
  struct Case {
    uint8_t command, status, error;
  } cases[] = {{0x90, 0x01, 0x02}, {0xE0, 0x40, 0}, {0xFD, 0x40, 0}, {0x10, 0x50, 0}, {0x7F, 0x50, 0}};
  Out(kDriveHead, 0xE0);
  for (const auto& c : cases) {
    Out(kCommand, c.command);
    EXPECT_EQ(In(kStatus), c.status) << int(c.command);
    EXPECT_EQ(In(kError), c.error) << int(c.command);
    In(kCommand);
  }
}

TEST_F(Symbiface, BootSectorAtLba63) {
  AttachNewImage();
  const auto sector = ReadSectors(63, 1);
  ASSERT_EQ(sector.size(), 512u);
  EXPECT_EQ(std::string(sector.begin() + 3, sector.begin() + 11), "MSWIN4.1");
  EXPECT_EQ(sector[510], 0x55);
  EXPECT_EQ(sector[511], 0xAA);
  EXPECT_EQ(In(kStatus), 0x50);
  EXPECT_EQ(In(kSectorNo), 64);
  EXPECT_EQ(m_->Symbiface.HddActivityColour.load(), kHddActivityIdle);
}

TEST_F(Symbiface, WrittenSectorsReadBackAndReachTheFile) {
  const fs::path file = AttachNewImage();
  std::vector<uint8_t> data(3 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  WriteSectors(1000, data);
  EXPECT_EQ(In(kStatus), 0x50);
  EXPECT_EQ(ReadSectors(1000, 3), data);
  EXPECT_EQ(FileBytes(file, 256 + 1000 * 512, data.size()), data);
  EXPECT_EQ(fs::file_size(file), HddLayoutFor(10).FileSize);
}

TEST_F(Symbiface, ChsAndLbaAddresses) {
  const fs::path file = AttachNewImage();
  struct Case {
    uint8_t cylLow, cylHigh, driveHead, sectorNo;
    uint32_t sector;  // the image sector reached
  } cases[] = {
      {0, 0, 0xA1, 0, 63},                  // CHS 0/1/0: sector numbers are added as they stand
      {3, 0, 0xA2, 5, 3 * 1008 + 2 * 63 + 5},
      {0x27, 0x00, 0xE0, 0x10, 0x2710},     // LBA
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> marker(512, static_cast<uint8_t>(c.sector));
    marker[0] = 0xA5;
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(256 + uint64_t{c.sector} * 512)
        .write(reinterpret_cast<const char*>(marker.data()), 512);
    Out(kCount, 1);
    Out(kSectorNo, c.sectorNo);
    Out(kCylLow, c.cylLow);
    Out(kCylHigh, c.cylHigh);
    Out(kDriveHead, c.driveHead);
    Out(kCommand, 0x21);
    std::vector<uint8_t> got;
    while (In(kStatus) == 0x08) got.push_back(In(kData));
    EXPECT_EQ(got, marker) << c.sector;
  }
}

// The image is 20160 sectors. Its last sector reads and writes normally;
// the sector after it passes the range test but lies outside the file: zeros
// out, writes dropped, the file keeps its size. One byte further is an error.
TEST_F(Symbiface, RangeRuleAndTheSectorPastTheEnd) {
  const fs::path file = AttachNewImage();
  const uint64_t size = fs::file_size(file);
  std::vector<uint8_t> ones(512, 0x11);
  WriteSectors(20159, ones);
  EXPECT_EQ(ReadSectors(20159, 1), ones);

  WriteSectors(20160, ones);
  EXPECT_EQ(In(kStatus), 0x50);
  EXPECT_EQ(fs::file_size(file), size);
  EXPECT_EQ(ReadSectors(20160, 1), std::vector<uint8_t>(512, 0));

  SelectLba(20161, 1);
  Out(kCommand, 0x20);
  EXPECT_EQ(In(kStatus), 0x08);
  EXPECT_EQ(In(kData), 0);  // address 20161 * 512 = size + 512 still passes
  EXPECT_EQ(In(kStatus), 0x08);
  In(kData);
  EXPECT_EQ(In(kStatus), 0x01);
  EXPECT_EQ(In(kError), 0x10);
  EXPECT_EQ(In(kCommand), 0x01);
  EXPECT_EQ(In(kStatus), 0x40);

  // A file cut short of what its header claims is never lengthened either.
  fs::resize_file(file, 256 + 100 * 512);
  ASSERT_EQ(SymbifaceOpenImage(m_->Symbiface, 0, file), "");
  WriteSectors(5000, ones);
  EXPECT_EQ(fs::file_size(file), 256u + 100 * 512);
  EXPECT_EQ(ReadSectors(5000, 1), std::vector<uint8_t>(512, 0));
}

TEST_F(Symbiface, IdentifyGivesAZeroSector) {
  AttachNewImage();
  m_->Symbiface.IdentifyBuffer[5] = 0x99;  // shows the bytes come from the buffer
  Out(kDriveHead, 0xA0);
  Out(kCommand, 0xEC);
  EXPECT_EQ(m_->Symbiface.HddActivityColour.load(), kHddActivityBusy);
  int n = 0, sum = 0;
  while (In(kStatus) == 0x08 && n < 600) {
    sum += In(kData);
    ++n;
  }
  EXPECT_EQ(n, 512);
  EXPECT_EQ(sum, 0x99);
  EXPECT_EQ(In(kStatus), 0x40);
}

TEST_F(Symbiface, ResetAndBadImages) {
  m_->Symbiface.Status = 0x08;
  m_->Symbiface.SectorCount = 5;
  m_->Memory.SymbifaceRomRamWindow = 1;
  ResetMachine(*m_);
  EXPECT_EQ(In(kStatus), 0x40);
  EXPECT_EQ(In(kCount), 0);
  EXPECT_EQ(m_->Memory.SymbifaceRomRamWindow, 0);

  EXPECT_NE(SymbifaceOpenImage(m_->Symbiface, 0, dir_ / "none.hdd"), "");
  std::ofstream(dir_ / "short.hdd") << "HDDIMAGE";
  EXPECT_NE(SymbifaceOpenImage(m_->Symbiface, 1, dir_ / "short.hdd"), "");
  EXPECT_EQ(SymbifaceOpenImage(m_->Symbiface, 1, ""), "");
  EXPECT_FALSE(m_->Symbiface.Drive[0].Present || m_->Symbiface.Drive[1].Present);
}

std::tm FixedTime() {
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 2;
  t.tm_mday = 2;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 39;
  t.tm_wday = 6;  // Saturday
  return t;
}

TEST_F(Symbiface, ClockAndCmosRam) {
  m_->Symbiface.Clock = FixedTime;
  struct Case {
    uint8_t index, bcd, binary, bcd12;
  } cases[] = {
      {0x00, 0x39, 39, 0x39}, {0x02, 0x05, 5, 0x05}, {0x04, 0x14, 14, 0x02}, {0x06, 0x07, 7, 0x07},
      {0x07, 0x02, 2, 0x02},  {0x08, 0x03, 3, 0x03}, {0x09, 0x24, 24, 0x24}, {0x32, 0x20, 20, 0x20},
  };
  auto setB = [&](uint8_t b) {
    Out(0xFD15, 0x0B);
    Out(0xFD14, b);
  };
  auto read = [&](uint8_t index) {
    Out(0xFD15, index);
    return In(0xFD14);
  };
  for (const auto& c : cases) {
    setB(0x02);
    EXPECT_EQ(read(c.index), c.bcd) << int(c.index);
    setB(0x06);
    EXPECT_EQ(read(c.index), c.binary) << int(c.index);
    setB(0x00);
    EXPECT_EQ(read(c.index), c.bcd12) << int(c.index);
  }

  Out(0xFD15, 0x0A);
  Out(0xFD14, 0xA6);
  Out(0xFD15, 0x0D);
  Out(0xFD14, 0x00);
  Out(0xFD15, 0x40);
  Out(0xFD14, 0x5A);
  Out(0xFD15, 0x09);
  Out(0xFD14, 0x99);  // time indexes keep following the clock
  EXPECT_EQ(read(0x0A), 0x26);
  EXPECT_EQ(read(0x0D), 0x80);
  EXPECT_EQ(read(0x40), 0x5A);
  EXPECT_EQ(read(0x09), 0x24);
  EXPECT_EQ(In(0xFD15), 0xFF);
}

TEST_F(Symbiface, MouseReads) {
  auto& s = m_->Symbiface;
  s.MouseState = 0;
  EXPECT_EQ(In(0xFD10), 0);
  SymbifaceMouseMove(s, 10.5, 0);
  EXPECT_EQ(In(0xFD10), 0x4A);
  EXPECT_EQ(In(0xFD10), 0x80);
  EXPECT_EQ(In(0xFD10), 0xC0);
  EXPECT_EQ(In(0xFD10), 0);
  EXPECT_DOUBLE_EQ(s.MouseX.load(), 0.5);

  // Left movement wraps into six bits and keeps its negative fraction; the
  // wheel wins over the buttons once.
  SymbifaceMouseMove(s, -3.75, 2.0);
  SymbifaceMouseButton(s, 1, true);
  SymbifaceMouseWheel(s, -2);
  EXPECT_EQ(In(0xFD10), 0x40 + 0x3D);  // 0.5 - 3.75 = -3.25
  EXPECT_DOUBLE_EQ(s.MouseX.load(), -0.25);
  EXPECT_EQ(In(0xFD10), 0x82);
  EXPECT_EQ(In(0xFD10), 0xE0 + 0x1E);
  SymbifaceMouseButton(s, 0, true);
  In(0xFD10);
  In(0xFD10);
  EXPECT_EQ(In(0xFD10), 0xC3);
}

TEST_F(Symbiface, RomRamThroughTheMemoryMap) {
  MemoryMap& mem = m_->Memory;
  mem.UpperRomPresent[7] = 1;
  mem.UpperRomImage[7][0] = 0xAA;
  mem.SymbifaceRomRam[7 * kBlockSize] = 0x55;
  mem.UpperRomEnabled = 1;
  Out(0xDF00, 7);  // select upper ROM 7
  EXPECT_EQ(ReadByte(mem, 0xC000), 0xAA);

  EXPECT_EQ(In(0xFD11), 0xFF);
  EXPECT_EQ(ReadByte(mem, 0xC000), 0x55);
  bool dip[8] = {true, true, true, true, true, true, true, false};
  SymbifaceConfigure(mem, true, dip);
  EXPECT_EQ(ReadByte(mem, 0xC000), 0xAA);
  dip[7] = true;
  SymbifaceConfigure(mem, true, dip);
  Out(0xFD11, 0);
  EXPECT_EQ(ReadByte(mem, 0xC000), 0xAA);

  EXPECT_EQ(ReadByte(mem, 0x4000), 0);
  EXPECT_EQ(In(0xFD17), 0xFF);
  EXPECT_EQ(ReadByte(mem, 0x4000), 0x55);
  WriteByte(mem, 0x4001, 0x77);
  EXPECT_EQ(mem.SymbifaceRomRam[7 * kBlockSize + 1], 0x77);
  Out(0xFD17, 0);
  EXPECT_EQ(ReadByte(mem, 0x4001), 0);
}

TEST_F(Symbiface, PersistentMemory) {
  m_->Memory.SymbifaceRomRam[12345] = 0x42;
  m_->Symbiface.CmosRam[0x0B] = 0x06;
  m_->Symbiface.CmosRam[0x80] = 0x17;
  AttachNewImage();
  EXPECT_EQ(SymbifaceEnd(*m_, dir_), "");
  EXPECT_FALSE(m_->Symbiface.Drive[0].Present);
  EXPECT_EQ(fs::file_size(dir_ / "SymbiPersistant.bin"), 524288u + 256u);

  MachineConfig config;
  config.RomDir = "/nonexistent";
  auto other = CreateMachine(config);
  SymbifaceStart(*other, dir_, dir_ / "disk0.hdd", dir_ / "none.hdd");
  EXPECT_EQ(other->Memory.SymbifaceRomRam[12345], 0x42);
  EXPECT_EQ(other->Symbiface.CmosRam[0x80], 0x17);
  EXPECT_EQ(other->Symbiface.BinaryMode, 1);
  EXPECT_EQ(other->Symbiface.Hour24, 1);
  EXPECT_TRUE(other->Symbiface.Drive[0].Present);
  EXPECT_FALSE(other->Symbiface.Drive[1].Present);

  // A short file is refused whole.
  fs::resize_file(dir_ / "SymbiPersistant.bin", 1000);
  auto third = CreateMachine(config);
  EXPECT_NE(SymbifaceLoadPersistent(*third, dir_ / "SymbiPersistant.bin"), "");
  EXPECT_EQ(third->Memory.SymbifaceRomRam[12345], 0);
}

}  // namespace

#include "cli_support.h"

namespace {

TEST_F(Symbiface, RunnerFitsTheCard) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  const fs::path image = AttachNewImage();
  SymbifaceCloseImages(m_->Symbiface);
  const std::string run = "cd '" + dir_.string() + "' && " + Cli() + " --rom-dir '" + RomDir() +
                          "' --frames 2 --benchmark --symbiface ";
  auto ok = RunCommand(run + "--hdd0 '" + image.string() + "'");
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_FALSE(fs::exists(dir_ / "SymbiPersistant.bin")) << "the runner leaves its start folder alone";

  auto missing = RunCommand(run + "--hdd1 '" + (dir_ / "none.hdd").string() + "'");
  EXPECT_EQ(missing.status, 2) << missing.out;
  EXPECT_NE(missing.out.find("none.hdd"), std::string::npos) << missing.out;

  auto noCard = RunCommand(Cli() + " --frames 1 --hdd0 '" + image.string() + "'");
  EXPECT_EQ(noCard.status, 2) << noCard.out;
}

}  // namespace

namespace {

// A CPC program, hand-assembled, that writes 4 sectors from &5000 to LBA 100
// and reads them back to &6000, keeping both final status bytes at &7000.
TEST_F(Symbiface, Z80ProgramRoundTripsFourSectors) {
  const fs::path file = AttachNewImage();
  const uint8_t program[] = {
      0x01, 0x0A, 0xFD,  // LD BC,&FD0A
      0x3E, 0x04,        // LD A,4
      0xED, 0x79,        // OUT (C),A       sector count
      0x0C,              // INC C
      0x3E, 0x64,        // LD A,100
      0xED, 0x79,        // OUT (C),A       LBA 0..7
      0x0C,              // INC C
      0xAF,              // XOR A
      0xED, 0x79,        // OUT (C),A       LBA 8..15
      0x0C,              // INC C
      0xED, 0x79,        // OUT (C),A       LBA 16..23
      0x0C,              // INC C
      0x3E, 0xE0,        // LD A,&E0
      0xED, 0x79,        // OUT (C),A       master, LBA
      0x0C,              // INC C
      0x3E, 0x30,        // LD A,&30
      0xED, 0x79,        // OUT (C),A       write sectors
      0x21, 0x00, 0x50,  // LD HL,&5000
      0x0E, 0x08,        // LD C,&08
      0x11, 0x00, 0x08,  // LD DE,&0800
      0x7E,              // wloop: LD A,(HL)
      0xED, 0x79,        // OUT (C),A
      0x23,              // INC HL
      0x1B,              // DEC DE
      0x7A,              // LD A,D
      0xB3,              // OR E
      0x20, 0xF7,        // JR NZ,wloop
      0x0E, 0x0F,        // LD C,&0F
      0xED, 0x78,        // IN A,(C)
      0x32, 0x00, 0x70,  // LD (&7000),A
      0x0E, 0x0A,        // LD C,&0A
      0x3E, 0x04,        // LD A,4
      0xED, 0x79,        // OUT (C),A
      0x0C,              // INC C
      0x3E, 0x64,        // LD A,100
      0xED, 0x79,        // OUT (C),A
      0x0E, 0x0F,        // LD C,&0F
      0x3E, 0x20,        // LD A,&20
      0xED, 0x79,        // OUT (C),A       read sectors
      0x21, 0x00, 0x60,  // LD HL,&6000
      0x0E, 0x08,        // LD C,&08
      0x11, 0x00, 0x08,  // LD DE,&0800
      0xED, 0x78,        // rloop: IN A,(C)
      0x77,              // LD (HL),A
      0x23,              // INC HL
      0x1B,              // DEC DE
      0x7A,              // LD A,D
      0xB3,              // OR E
      0x20, 0xF7,        // JR NZ,rloop
      0x0E, 0x0F,        // LD C,&0F
      0xED, 0x78,        // IN A,(C)
      0x32, 0x01, 0x70,  // LD (&7001),A
      0x76,              // HALT
  };
  MemoryMap& mem = m_->Memory;
  for (size_t i = 0; i < sizeof program; ++i) WriteByte(mem, static_cast<uint16_t>(0x4000 + i), program[i]);
  std::vector<uint8_t> data(2048);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(i ^ (i >> 8) ^ 0x5A);
    WriteByte(mem, static_cast<uint16_t>(0x5000 + i), data[i]);
  }
  m_->Z80.PC = 0x4000;
  for (int n = 0; n < 100000 && !m_->Z80.Halted; ++n) ExecuteInstruction(*m_);
  ASSERT_TRUE(m_->Z80.Halted) << "the program did not reach its HALT";

  EXPECT_EQ(ReadByte(mem, 0x7000), 0x50);
  EXPECT_EQ(ReadByte(mem, 0x7001), 0x50);
  std::vector<uint8_t> back(2048);
  for (size_t i = 0; i < back.size(); ++i) back[i] = ReadByte(mem, static_cast<uint16_t>(0x6000 + i));
  EXPECT_EQ(back, data);
  EXPECT_EQ(FileBytes(file, 256 + 100 * 512, data.size()), data);
}

}  // namespace
