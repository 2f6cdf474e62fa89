#include "core/memory.h"
#include "core/rom_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::unique_ptr<MemoryMap> NewMap(int32_t bankLimit, bool fourMb = false) {
  auto m = std::make_unique<MemoryMap>();
  ConstructMemory(*m);
  m->RamBankLimit = bankLimit;
  m->Ram4MbEnabled = fourMb;
  return m;
}

// Which block serves each page, as "B0".."B3" or "E<bank>.<block>".
std::string Describe(const MemoryMap& m, const uint8_t* p) {
  char text[48] = "?";
  if (p >= m.BaseRam && p < m.BaseRam + sizeof m.BaseRam) {
    std::snprintf(text, sizeof text, "B%zu", static_cast<size_t>(p - m.BaseRam) / kBlockSize);
  } else if (p >= m.ExpansionRam && p < m.ExpansionRam + sizeof m.ExpansionRam) {
    size_t off = static_cast<size_t>(p - m.ExpansionRam);
    std::snprintf(text, sizeof text, "E%zu.%zu", off / (4 * kBlockSize), off / kBlockSize % 4);
  }
  return text;
}

std::string Pages(const MemoryMap& m) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    if (i) s += ' ';
    s += Describe(m, m.RamPage[i]);
  }
  return s;
}

TEST(MemoryMap, RamConfigurations) {
  struct Case {
    int32_t limit;
    bool fourMb;
    uint16_t port;
    uint8_t value;
    const char* pages;
    uint32_t bank;
  } cases[] = {
      {0, false, 0x7FFF, 0xC0, "B0 B1 B2 B3", 0},
      {0, false, 0x7FFF, 0xC1, "B0 B1 B2 E0.3", 0},
      {0, false, 0x7FFF, 0xC2, "E0.0 E0.1 E0.2 E0.3", 0},
      {0, false, 0x7FFF, 0xC3, "B0 B3 B2 E0.3", 0},
      {0, false, 0x7FFF, 0xC4, "B0 E0.0 B2 B3", 0},
      {0, false, 0x7FFF, 0xC7, "B0 E0.3 B2 B3", 0},
      // Bank 1 on a 128 KB machine is out of range: bank 0, configuration 7.
      {0, false, 0x7FFF, 0xCF, "B0 E0.3 B2 B3", 0},
      {7, false, 0x7FFF, 0xFD, "B0 E7.1 B2 B3", 7},
      // The 64 KB machine ignores every configuration.
      {-1, false, 0x7FFF, 0xC2, "B0 B1 B2 B3", 0},
      {-1, false, 0x7FFF, 0xFF, "B0 B1 B2 B3", 0},
      // 4 MB: port bits 8..10 are the high bits of the bank, not inverted.
      {0, true, 0x7FFF, 0xC4, "B0 E56.0 B2 B3", 56},
      {0, true, 0x78FF, 0xC4, "B0 E0.0 B2 B3", 0},
      {0, true, 0x7BFF, 0xFE, "B0 E31.2 B2 B3", 31},
  };
  for (const Case& c : cases) {
    auto m = NewMap(c.limit, c.fourMb);
    RamConfigWrite(*m, c.port, c.value);
    SCOPED_TRACE(testing::Message() << "limit " << c.limit << " port " << std::hex << c.port << " value "
                                    << int(c.value));
    EXPECT_EQ(Pages(*m), c.pages);
    EXPECT_EQ(m->ExpansionBank, c.bank);
    for (int p = 1; p < 4; ++p) EXPECT_EQ(m->ReadBank[p], m->RamPage[p]);
    EXPECT_EQ(m->WriteBank[0], m->RamPage[0]);
  }
}

TEST(MemoryMap, ValuesWithoutBothTopBitsLeaveConfiguration) {
  auto m = NewMap(0);
  RamConfigWrite(*m, 0x7FFF, 0xC2);
  for (uint8_t v : {0x02, 0x42, 0x82}) {
    RamConfigWrite(*m, 0x7FFF, v);
    EXPECT_EQ(m->RamConfiguration, 2u);
  }
}

TEST(MemoryMap, LowerRomReadsRomButWritesRam) {
  auto m = NewMap(0);
  m->LowerRom[0x10] = 0xAA;
  WriteByte(*m, 0x0010, 0x55);
  EXPECT_EQ(ReadByte(*m, 0x0010), 0xAA);
  EXPECT_EQ(m->BaseRam[0x10], 0x55);
  m->LowerRomEnabled = 0;
  UpdateMemoryBanks(*m);
  EXPECT_EQ(ReadByte(*m, 0x0010), 0x55);
}

TEST(MemoryMap, UpperRomSelection) {
  auto m = NewMap(0);
  m->UpperRomImage[0][0] = 0x10;
  m->UpperRomImage[5][0] = 0x15;
  m->UpperRomImage[7][0] = 0x17;
  m->UpperRomPresent[0] = m->UpperRomPresent[7] = 1;
  m->BaseRam[0xC000] = 0x99;

  SelectUpperRom(*m, 7);
  EXPECT_EQ(ReadByte(*m, 0xC000), 0x99) << "upper ROM disabled after reset";
  m->UpperRomEnabled = 1;
  UpdateMemoryBanks(*m);
  EXPECT_EQ(ReadByte(*m, 0xC000), 0x17);
  SelectUpperRom(*m, 5);  // fitted image bytes but not present: slot 0
  EXPECT_EQ(ReadByte(*m, 0xC000), 0x10);
  m->UpperRomPresent[5] = 1;
  SelectUpperRom(*m, 37);  // modulo 32
  EXPECT_EQ(m->SelectedUpperRom, 5u);
  EXPECT_EQ(ReadByte(*m, 0xC000), 0x15);
  WriteByte(*m, 0xC000, 0x42);
  EXPECT_EQ(m->BaseRam[0xC000], 0x42) << "writes under an upper ROM land in RAM";
}

TEST(MemoryMap, SymbifaceRomRamMapping) {
  auto m = NewMap(0);
  m->SymbifaceEnabled = 1;
  m->SymbifaceRomRamActive = 1;
  m->SymbifaceDipSwitch[3] = 1;
  m->SymbifaceRomRam[3 * kBlockSize] = 0x33;
  m->UpperRomEnabled = 1;
  SelectUpperRom(*m, 3);
  EXPECT_EQ(ReadByte(*m, 0xC000), 0x33);
  SelectUpperRom(*m, 4);  // DIP switch off: the ordinary ROM path
  EXPECT_EQ(m->ReadBank[3], m->UpperRomBank);
  m->SymbifaceRomRamWindow = 1;
  UpdateMemoryBanks(*m);
  WriteByte(*m, 0x4000, 0x44);
  EXPECT_EQ(m->SymbifaceRomRam[4 * kBlockSize], 0x44);
}

TEST(MemoryMap, InitKeepsHighExpansionBanks) {
  auto m = NewMap(0, true);
  m->ExpansionRam[7 * 65536] = 1;
  m->ExpansionRam[8 * 65536] = 2;
  m->BaseRam[5] = 3;
  InitMemory(*m);
  EXPECT_EQ(m->ExpansionRam[7 * 65536], 0);
  EXPECT_EQ(m->ExpansionRam[8 * 65536], 2);
  EXPECT_EQ(m->BaseRam[5], 0);
}

class RomFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pellucidore-roms-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return dir_ / name;
  }
  fs::path dir_;
};

// An AMSDOS header for a file of the given length; checksum over 0..66.
std::vector<uint8_t> AmsdosHeader(uint32_t length, bool goodChecksum = true) {
  std::vector<uint8_t> h(128, 0);
  const char name[] = "DIAG    ROM";
  std::memcpy(&h[1], name, 11);
  h[18] = 2;  // binary
  h[24] = static_cast<uint8_t>(length);
  h[25] = static_cast<uint8_t>(length >> 8);
  h[64] = static_cast<uint8_t>(length);
  h[65] = static_cast<uint8_t>(length >> 8);
  h[66] = static_cast<uint8_t>(length >> 16);
  uint32_t sum = 0;
  for (int i = 0; i <= 66; ++i) sum += h[i];
  if (!goodChecksum) ++sum;
  h[67] = static_cast<uint8_t>(sum);
  h[68] = static_cast<uint8_t>(sum >> 8);
  return h;
}

// A header is what AMSDOS writes (checksum, a length that fits), not a first
// byte of 0: a foreground ROM's first byte is its type, 0.
TEST_F(RomFiles, HeaderRule) {
  auto image = [](size_t size, uint8_t first) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    if (size) bytes[0] = first;
    return bytes;
  };
  auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    std::vector<uint8_t> slot;  // the expected image, zero-padded to 16 KB
  } cases[] = {
      {"header dropped", join(AmsdosHeader(16384), image(16384, 0)), image(16384, 0)},
      {"header, short image", join(AmsdosHeader(1000), image(1000, 0)), image(1000, 0)},
      {"header, longer file cut", join(AmsdosHeader(20000), image(20000, 1)), image(16384, 1)},
      {"foreground ROM, type 0", image(16384, 0), image(16384, 0)},
      {"raw, first byte 1", image(16384, 1), image(16384, 1)},
      {"bad checksum", join(AmsdosHeader(16384, false), image(16384, 0)), join(AmsdosHeader(16384, false), image(16256, 0))},
      {"length past the end", join(AmsdosHeader(16385), image(16384, 0)), join(AmsdosHeader(16385), image(16256, 0))},
      {"zeros are no header", std::vector<uint8_t>(16384, 0), std::vector<uint8_t>(16384, 0)},
      {"too long: cut at 16 KB", image(20000, 2), image(16384, 2)},
      {"under 128 bytes", image(100, 0), image(100, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto path = Write("x.rom", c.file);
    uint8_t slot[kBlockSize];
    std::memset(slot, 0xEE, sizeof slot);
    ASSERT_TRUE(LoadRomImage(path, slot));
    std::vector<uint8_t> want = c.slot;
    want.resize(kBlockSize, 0);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), slot));
  }
}

TEST_F(RomFiles, DiagnosticsUpperRomLoadsWhole) {
  const fs::path file = fs::path(PELLUCIDORE_SHARED_DIR) / "testdata/diag/AmstradDiagUpper.rom";
  if (!fs::exists(file)) GTEST_SKIP() << "diagnostics ROM not found: " << file;
  std::ifstream in(file, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes[0], 0);  // a foreground ROM
  uint8_t slot[kBlockSize];
  ASSERT_TRUE(LoadRomImage(file, slot));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), slot));
}

TEST_F(RomFiles, MissingFilesAreNotErrors) {
  auto m = NewMap(0);
  m->LowerRom[0] = 0x77;
  m->LowerRomName = "nothere.rom";
  m->UpperRomName[0] = "basic.rom";
  m->UpperRomName[3] = "gone.rom";
  Write("basic.rom", std::vector<uint8_t>(16384, 0x80));
  LoadRoms(*m, dir_);
  EXPECT_EQ(m->LowerRom[0], 0x77);
  EXPECT_EQ(m->UpperRomPresent[0], 1);
  EXPECT_EQ(m->UpperRomImage[0][100], 0x80);
  EXPECT_EQ(m->UpperRomName[3], "EMPTY");
  EXPECT_EQ(m->UpperRomPresent[3], 0);
}

}  // namespace
