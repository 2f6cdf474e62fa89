#include "storage/snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli_support.h"
#include "core/machine.h"
#include "devices/screen_text.h"
#include "frontend/autotype.h"

namespace fs = std::filesystem;

namespace {

// A scratch folder per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("pellucidore-sna-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::unique_ptr<Machine> BareMachine() { return CreateMachine({.RomDir = "/nonexistent-rom-dir"}); }
std::unique_ptr<Machine> Cpc6128() { return CreateMachine({.RomDir = RomDir()}); }

void RunFrames(Machine& m, int frames) {
  for (int i = 0; i < frames; ++i) EmulateTick(m);
}

// Types text the way the runner paces it: one step every three periods.
void Type(Machine& m, const std::string& text) {
  AutoTypeState typing;
  ASSERT_TRUE(StartAutoType(typing, AutoTypeTextFromLines(text)));
  while (AutoTypeStep(typing, m.Keyboard)) RunFrames(m, 3);
  RunFrames(m, 3);
}

std::vector<uint8_t> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint8_t PackedF(const Machine& m) {
  Z80Registers z = m.Z80;
  PackFlags(z);
  return z.AF.B.L;
}

// Everything the format carries, compared field by field.
void ExpectSameSnapshotState(const Machine& a, const Machine& b) {
  const Z80Registers &x = a.Z80, &y = b.Z80;
  EXPECT_EQ(PackedF(a), PackedF(b));
  EXPECT_EQ(x.AF.B.H, y.AF.B.H);
  EXPECT_EQ(x.BC.W, y.BC.W);
  EXPECT_EQ(x.DE.W, y.DE.W);
  EXPECT_EQ(x.HL.W, y.HL.W);
  EXPECT_EQ(x.IX.W, y.IX.W);
  EXPECT_EQ(x.IY.W, y.IY.W);
  EXPECT_EQ(x.SP, y.SP);
  EXPECT_EQ(x.PC, y.PC);
  EXPECT_EQ(x.AF2.W, y.AF2.W);
  EXPECT_EQ(x.BC2.W, y.BC2.W);
  EXPECT_EQ(x.DE2.W, y.DE2.W);
  EXPECT_EQ(x.HL2.W, y.HL2.W);
  EXPECT_EQ(x.R, y.R);
  EXPECT_EQ(x.I, y.I);
  EXPECT_EQ(x.IM, y.IM);
  EXPECT_EQ(x.IFF1, y.IFF1);
  EXPECT_EQ(x.IFF2, y.IFF2);

  EXPECT_EQ(a.GateArray.SelectedPen, b.GateArray.SelectedPen);
  EXPECT_EQ(0, std::memcmp(a.GateArray.PenColours, b.GateArray.PenColours, 16));
  EXPECT_EQ(a.GateArray.BorderColour, b.GateArray.BorderColour);
  EXPECT_EQ(a.GateArray.ScreenMode, b.GateArray.ScreenMode);
  EXPECT_EQ(0, std::memcmp(a.Video.ByteExpansionTable, b.Video.ByteExpansionTable, sizeof a.Video.ByteExpansionTable));

  EXPECT_EQ(a.Memory.LowerRomEnabled, b.Memory.LowerRomEnabled);
  EXPECT_EQ(a.Memory.UpperRomEnabled, b.Memory.UpperRomEnabled);
  EXPECT_EQ(a.Memory.SelectedUpperRom, b.Memory.SelectedUpperRom);
  EXPECT_EQ(a.Memory.RamConfiguration, b.Memory.RamConfiguration);
  EXPECT_EQ(a.Memory.ExpansionBank, b.Memory.ExpansionBank);
  for (int page = 0; page < 4; ++page) {
    // Same bank tables, relative to each machine's own memory.
    EXPECT_EQ(a.Memory.ReadBank[page] - reinterpret_cast<const uint8_t*>(&a.Memory),
              b.Memory.ReadBank[page] - reinterpret_cast<const uint8_t*>(&b.Memory))
        << "page " << page;
  }

  EXPECT_EQ(a.Crtc.SelectedRegister, b.Crtc.SelectedRegister);
  EXPECT_EQ(0, std::memcmp(a.Crtc.R, b.Crtc.R, 18));

  EXPECT_EQ(a.Psg.SelectedRegister, b.Psg.SelectedRegister);
  EXPECT_EQ(0, std::memcmp(a.Psg.Registers, b.Psg.Registers, 16));
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(a.Psg.Tone[c].HalfPeriod, b.Psg.Tone[c].HalfPeriod) << "channel " << c;
    EXPECT_EQ(a.Psg.Tone[c].ToneEnabled, b.Psg.Tone[c].ToneEnabled);
    EXPECT_EQ(a.Psg.Tone[c].NoiseEnabled, b.Psg.Tone[c].NoiseEnabled);
    EXPECT_EQ(a.Psg.Tone[c].FixedVolume, b.Psg.Tone[c].FixedVolume);
    EXPECT_EQ(a.Psg.Tone[c].EnvelopeMode, b.Psg.Tone[c].EnvelopeMode);
  }
  EXPECT_EQ(a.Psg.Noise.Step, b.Psg.Noise.Step);
  EXPECT_EQ(a.Psg.Envelope.Step, b.Psg.Envelope.Step);
  EXPECT_EQ(a.Psg.Envelope.Shape, b.Psg.Envelope.Shape);

  EXPECT_EQ(a.Ppi.PortA, b.Ppi.PortA);
  EXPECT_EQ(0, std::memcmp(a.Memory.BaseRam, b.Memory.BaseRam, kSnapshotDumpSize)) << "base RAM differs";
}

// BASIC with a typed program that sets colours, mode, sound and prints
// while it is saved; the loaded copy must finish with the same screen.
TEST(Snapshot, RunningBasicProgramSurvivesSaveAndLoad) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  TempDir dir;
  auto a = Cpc6128();
  RunFrames(*a, 75);
  Type(*a,
       "10 MODE 1:BORDER 6:INK 0,1:INK 1,24:INK 2,20:INK 3,6\n"
       "20 SOUND 1,284,300,12:SOUND 2,0,300,15,,,9\n"
       "30 FOR I=1 TO 250:PRINT I;:NEXT:PRINT \"DONE\"\n"
       "RUN\n");
  RunFrames(*a, 20);
  ASSERT_NE(a->Psg.Registers[6], 0) << "the noise should be playing while the snapshot is taken";

  const fs::path file = dir / "basic.sna";
  ASSERT_TRUE(SaveSnapshot(*a, file).Ok);
  EXPECT_EQ(ReadFile(file)[0x10], 3) << "version 3 is the default";

  auto b = Cpc6128();
  const SnapshotResult loaded = LoadSnapshot(*b, file);
  ASSERT_TRUE(loaded.Ok) << loaded.Error;
  ExpectSameSnapshotState(*a, *b);
  EXPECT_EQ(b->GateArray.ScreenMode, 1);
  EXPECT_EQ(b->GateArray.BorderColour, a->GateArray.BorderColour);

  RunFrames(*a, 500);
  RunFrames(*b, 500);
  const std::vector<std::string> textA = ScreenText(*a), textB = ScreenText(*b);
  EXPECT_EQ(textA, textB);
  bool done = false;
  for (const std::string& line : textB) done |= line.find("DONE") != std::string::npos;
  EXPECT_TRUE(done) << "the program did not finish on the loaded machine";
}

// The layout third-party readers rely on, from a machine with known values.
TEST(Snapshot, HeaderFieldsAtTheirOffsets) {
  auto m = BareMachine();
  Z80Registers& z = m->Z80;
  z.AF.W = 0x1200;
  z.FlagS = 1, z.FlagZ = 0, z.FlagY = 0, z.FlagH = 1, z.FlagX = 0, z.FlagPV = 0, z.FlagN = 0, z.FlagC = 1;
  z.BC.W = 0x3456, z.SP = 0xBFEA, z.PC = 0x4001, z.IX.W = 0xBEEF, z.IM = 1, z.IFF1 = 1, z.IFF2 = 0;
  z.AF2.W = 0xA1B2, z.HL2.W = 0xC3D4;
  m->GateArray.PenColours[3] = 0x1C;
  m->GateArray.ScreenMode = 2;
  m->Memory.UpperRomEnabled = 0, m->Memory.LowerRomEnabled = 1;
  RamConfigWrite(m->Memory, 0x7FFF, 0xC0 | 0x02);
  m->Crtc.R[12] = 0x30;
  m->Psg.Registers[7] = 0x38;
  m->Ppi.Brand = 7;
  m->Memory.BaseRam[0xC000] = 0x5A;

  const std::vector<uint8_t> h = EncodeSnapshot(*m, 1);
  ASSERT_EQ(h.size(), kSnapshotSize);
  EXPECT_EQ(std::string(h.begin(), h.begin() + 8), "MV - SNA");
  EXPECT_EQ(h[0x10], 1);
  EXPECT_EQ(h[0x11], 0x91);  // S, H, C
  EXPECT_EQ(h[0x12], 0x12);
  EXPECT_EQ(h[0x13], 0x56);
  EXPECT_EQ(h[0x14], 0x34);
  EXPECT_EQ(h[0x1B], 1);
  EXPECT_EQ(h[0x1C], 0);
  EXPECT_EQ(h[0x1D], 0xEF);
  EXPECT_EQ(h[0x21], 0xEA);
  EXPECT_EQ(h[0x22], 0xBF);
  EXPECT_EQ(h[0x23], 0x01);
  EXPECT_EQ(h[0x24], 0x40);
  EXPECT_EQ(h[0x25], 1);
  EXPECT_EQ(h[0x26], 0xB2);
  EXPECT_EQ(h[0x2D], 0xC3);
  EXPECT_EQ(h[0x2F + 3], 0x1C);
  EXPECT_EQ(h[0x40], 0x80 | 2 | 0x08);
  EXPECT_EQ(h[0x41], 0x02);
  EXPECT_EQ(h[0x43 + 12], 0x30);
  EXPECT_EQ(h[0x57] & 0x1E, 0x1E);  // brand 7, 50 Hz
  EXPECT_EQ(h[0x5B + 7], 0x38);
  EXPECT_EQ(h[0x6B], 64);  // the dump that follows, not the configured RAM
  EXPECT_EQ(h[0x6C], 0);
  EXPECT_TRUE(std::all_of(h.begin() + 0x6D, h.begin() + 0x100, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(h[0x100 + 0xC000], 0x5A);
}

// Selections and colours come in as their chips hold them, so nothing
// indexes past a table, and a save of the loaded machine reproduces it.
TEST(Snapshot, HostileHeaderIsMaskedAndRuns) {
  auto m = BareMachine();
  std::vector<uint8_t> image(kSnapshotSize, 0xFF);
  image[0x6B] = 64, image[0x6C] = 0;  // the one field a load checks; version &FF reads as 1
  ASSERT_TRUE(DecodeSnapshot(*m, image, "hostile.sna").Ok);
  EXPECT_EQ(m->GateArray.SelectedPen, 0x1F);
  EXPECT_EQ(m->GateArray.PenColours[0], 0x1F);
  EXPECT_EQ(m->GateArray.BorderColour, 0x1F);
  EXPECT_EQ(m->GateArray.ScreenMode, 3);
  EXPECT_EQ(m->Memory.SelectedUpperRom, 31u);
  EXPECT_EQ(m->Memory.RamConfiguration, 7u);
  EXPECT_EQ(m->Memory.ExpansionBank, 0u);  // bank 7 is beyond a 128 KB machine
  EXPECT_EQ(m->Crtc.SelectedRegister, 0x1F);
  EXPECT_EQ(m->Crtc.R[9], 0xFF);  // only compared, so stored as read
  EXPECT_EQ(m->Psg.SelectedRegister, 0x0F);
  EXPECT_EQ(m->Psg.Registers[1], 0xFF);  // as read; the envelope shape from its four bits
  EXPECT_EQ(m->Psg.Envelope.Shape, 0x0F);
  EXPECT_EQ(m->Z80.IFF1, 1);
  // A pen write with the restored selection lands on the border, in range.
  GateArrayWrite(*m, 0x40 | 0x05);
  EXPECT_EQ(m->GateArray.BorderColour, 0x05);
  RunFrames(*m, 2);

  const std::vector<uint8_t> first = EncodeSnapshot(*m);
  auto copy = BareMachine();
  ASSERT_TRUE(DecodeSnapshot(*copy, first, "first").Ok);
  const std::vector<uint8_t> second = EncodeSnapshot(*copy);
  // PPI ports B, C and control come from the running machine, not the file.
  ASSERT_EQ(first.size(), second.size());
  for (size_t i = 0; i < first.size(); ++i)
    if (i < 0x57 || i > 0x59) {
      ASSERT_EQ(first[i], second[i]) << "offset " << i << " of " << first.size();
    }
}

// Registers that a program's writes would have given the same periods: a
// loaded machine plays what the saved one played, including period 0.
TEST(Snapshot, PsgDerivedStateMatchesRegisterWrites) {
  auto saved = BareMachine();
  const uint8_t regs[16] = {0, 0, 0x2C, 0x01, 0, 0, 0, 0x30, 0x0F, 0x10, 0, 0, 0, 0x0E, 0, 0};
  for (uint8_t r = 0; r < 16; ++r) PsgWriteRegister(saved->Psg, r, regs[r]);

  auto loaded = BareMachine();
  ASSERT_TRUE(DecodeSnapshot(*loaded, EncodeSnapshot(*saved), "psg").Ok);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(loaded->Psg.Tone[c].HalfPeriod, saved->Psg.Tone[c].HalfPeriod) << "channel " << c;
    EXPECT_EQ(loaded->Psg.Tone[c].FixedVolume, saved->Psg.Tone[c].FixedVolume);
    EXPECT_EQ(loaded->Psg.Tone[c].EnvelopeMode, saved->Psg.Tone[c].EnvelopeMode);
  }
  EXPECT_NE(loaded->Psg.Tone[0].HalfPeriod, 0u) << "period 0 would whistle at half the sample rate";
  EXPECT_EQ(loaded->Psg.Noise.Step, saved->Psg.Noise.Step);
  EXPECT_EQ(loaded->Psg.Envelope.Step, saved->Psg.Envelope.Step);
  EXPECT_EQ(loaded->Psg.Envelope.Shape, 0x0E);
  EXPECT_EQ(loaded->Psg.Envelope.Restart, 1);
  EXPECT_EQ(loaded->Psg.Envelope.Hold, 0);
}

// Refused images leave every bit of the machine state the format touches,
// and the memory behind it, as it was.
TEST(Snapshot, ShortOrUnreadableFileIsRefusedAndChangesNothing) {
  TempDir dir;
  auto source = BareMachine();
  source->Z80.PC = 0x1234;
  source->GateArray.BorderColour = 9;
  std::memset(source->Memory.BaseRam, 0x77, kSnapshotDumpSize);
  const std::vector<uint8_t> good = EncodeSnapshot(*source, 1);

  auto m = BareMachine();
  m->Z80.PC = 0x4321;
  m->Memory.BaseRam[0x100] = 0x99;
  const std::vector<uint8_t> before = EncodeSnapshot(*m);

  for (size_t size : {size_t{0}, size_t{17}, size_t{255}, size_t{256}, kSnapshotSize - 1}) {
    const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    const fs::path file = dir / ("cut" + std::to_string(size) + ".sna");
    WriteFile(file, cut);
    const SnapshotResult r = LoadSnapshot(*m, file);
    EXPECT_FALSE(r.Ok) << size;
    EXPECT_NE(r.Error.find(file.string()), std::string::npos) << r.Error;
    EXPECT_EQ(std::count(r.Error.begin(), r.Error.end(), '\n'), 0) << r.Error;
  }
  for (const fs::path& unreadable : {dir / "missing.sna", dir / ""}) {
    const SnapshotResult r = LoadSnapshot(*m, unreadable);
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Error.find(unreadable.string()), std::string::npos) << r.Error;
  }
  EXPECT_EQ(EncodeSnapshot(*m), before);
  EXPECT_EQ(m->Z80.PC, 0x4321);

  // The exact minimum is enough.
  WriteFile(dir / "exact.sna", good);
  ASSERT_TRUE(LoadSnapshot(*m, dir / "exact.sna").Ok);
  EXPECT_EQ(m->Z80.PC, 0x1234);
  EXPECT_EQ(m->GateArray.BorderColour, 9);
}

TEST(Snapshot, SaveDialogNames) {
  struct Case {
    const char* chosen;
    const char* saved;
  } cases[] = {
      {"/snaps/GAME.SNA", "/snaps/GAME.SNA.sna"},
      {"/snaps/game.sna", "/snaps/game.sna"},
      {"/snaps/game", "/snaps/game.sna"},
      {"/snaps/game.snapshot", "/snaps/game.snapshot"},  // contains ".sna"
      {"/my.sna/GAME", "/my.sna/GAME.sna"},              // the folder does not count
      {"relative/Game.Sna", "relative/Game.Sna.sna"},
  };
  for (const Case& c : cases) EXPECT_EQ(SnapshotFileName(c.chosen), fs::path(c.saved)) << c.chosen;
}

// A failed save must not destroy an older snapshot of the same name.
TEST(Snapshot, FailedSaveKeepsTheOldFile) {
  TempDir dir;
  auto m = BareMachine();
  EXPECT_FALSE(SaveSnapshot(*m, dir / "no-such-folder" / "x.sna").Ok);

  const fs::path file = dir / "keep.sna";
  ASSERT_TRUE(SaveSnapshot(*m, file).Ok);
  const std::vector<uint8_t> old = ReadFile(file);
  // The temporary sibling cannot be created when a folder has its name.
  fs::create_directories(dir / "keep.sna.part");
  const SnapshotResult r = SaveSnapshot(*m, file);
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.Error.find(file.string()), std::string::npos) << r.Error;
  EXPECT_EQ(ReadFile(file), old);
}

// Today's version 1 writer, fixed by a hash of its output for a machine with
// every header field and the whole base RAM set to known values: tools that
// read only version 1 see exactly what they always saw.
TEST(Snapshot, Version1SaveIsByteIdenticalToTheEarlierWriter) {
  auto m = BareMachine();
  Z80Registers& z = m->Z80;
  z.AF.W = 0x12D7;
  UnpackFlags(z);
  z.BC.W = 0x3456, z.DE.W = 0x789A, z.HL.W = 0xBCDE, z.IX.W = 0xF00D, z.IY.W = 0xCAFE;
  z.SP = 0xBFEA, z.PC = 0x4001, z.R = 0x85, z.I = 0x3F, z.IM = 2, z.IFF1 = 1, z.IFF2 = 1;
  z.AF2.W = 0xA1B2, z.BC2.W = 0xC3D4, z.DE2.W = 0xE5F6, z.HL2.W = 0x0718;
  for (int i = 0; i < 16; ++i) m->GateArray.PenColours[i] = static_cast<uint8_t>(i * 3 % 32);
  m->GateArray.SelectedPen = 0x10, m->GateArray.BorderColour = 0x14, m->GateArray.ScreenMode = 1;
  m->Memory.UpperRomEnabled = 1, m->Memory.LowerRomEnabled = 0;
  RamConfigWrite(m->Memory, 0x7FFF, 0xC4);
  SelectUpperRom(m->Memory, 7);
  for (int i = 0; i < 18; ++i) m->Crtc.R[i] = static_cast<uint8_t>(0x11 * i);
  m->Crtc.SelectedRegister = 12;
  for (int i = 0; i < 16; ++i) PsgWriteRegister(m->Psg, static_cast<uint8_t>(i), static_cast<uint8_t>(i * 13));
  m->Psg.SelectedRegister = 7;
  PpiWrite(*m, 0xF7FF, 0x82);
  PpiWrite(*m, 0xF4FF, 0x5A);
  for (uint32_t i = 0; i < 65536; ++i) m->Memory.BaseRam[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  std::memset(m->Memory.ExpansionRam, 0xEE, kSnapshotDumpSize);

  const std::vector<uint8_t> image = EncodeSnapshot(*m, 1);
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (uint8_t b : image) hash = (hash ^ b) * 1099511628211ull;
  EXPECT_EQ(image.size(), kSnapshotSize);
  EXPECT_EQ(hash, 0x35abc3a7328cee16ull) << "the version 1 bytes changed";
}

// A distinct pattern in every 64 KB bank, by bank number and address.
void FillBanks(Machine& m, size_t banks) {
  for (size_t b = 0; b < banks; ++b) {
    uint8_t* data = b == 0 ? m.Memory.BaseRam : m.Memory.ExpansionRam + (b - 1) * 65536;
    for (size_t i = 0; i < 65536; ++i) data[i] = i % 1000 == 0 ? 0xE5 : static_cast<uint8_t>((i >> 9) * 3 + b * 29);
  }
}
bool BanksEqual(const Machine& a, const Machine& b, size_t banks) {
  return std::memcmp(a.Memory.BaseRam, b.Memory.BaseRam, 65536) == 0 &&
         std::memcmp(a.Memory.ExpansionRam, b.Memory.ExpansionRam, (banks - 1) * 65536) == 0;
}
std::unique_ptr<Machine> MachineWithRam(int32_t bankLimit, bool ram4Mb = false) {
  return CreateMachine({.RomDir = "/nonexistent-rom-dir", .RamBankLimit = bankLimit, .Ram4Mb = ram4Mb});
}

// Each version on machines of each size: what the version holds comes back,
// and a version 1 file leaves the expansion RAM alone.
TEST(SnapshotVersions, EveryVersionAndRamSizeRoundTrips) {
  struct Case {
    int version;
    int32_t bankLimit;
    bool ram4Mb;
    size_t restoredBanks;
  } cases[] = {
      {1, 0, false, 1}, {2, 0, false, 2},  {3, 0, false, 2},  {3, -1, false, 1},
      {2, 7, false, 9}, {3, 7, false, 9},  {3, 0, true, 65},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("version " + std::to_string(c.version) + ", bank limit " + std::to_string(c.bankLimit) +
                 (c.ram4Mb ? ", 4 MB" : ""));
    const size_t banks = c.ram4Mb ? 65 : static_cast<size_t>(c.bankLimit + 2);
    auto a = MachineWithRam(c.bankLimit, c.ram4Mb);
    FillBanks(*a, banks);
    a->Z80.PC = 0x1234;
    // On the 4 MB card, bank 43 (port bits 8..10 = 5): above what the
    // header's three bank bits can say.
    if (c.ram4Mb) {
      RamConfigWrite(a->Memory, 0x7DFF, 0xC0 | 3 << 3 | 4);
      ASSERT_EQ(a->Memory.ExpansionBank, 43u);
    }
    const std::vector<uint8_t> image = EncodeSnapshot(*a, c.version);
    EXPECT_EQ(image[0x10], c.version);
    if (c.version == 2) {
      EXPECT_EQ(image.size(), 256 + banks * 65536);
    }
    if (c.version == 3 && banks <= 9) {
      EXPECT_EQ(image[0x6B] | image[0x6C] << 8, 0) << "memory in MEM chunks, no dump";
      EXPECT_LT(image.size(), 256 + banks * 65536 / 2) << "the chunks should be compressed";
    }
    if (c.ram4Mb) {
      EXPECT_EQ(image[0x6B] | image[0x6C] << 8, 65 * 64) << "a 4 MB machine is dumped whole";
    }

    auto b = MachineWithRam(c.bankLimit, c.ram4Mb);
    std::memset(b->Memory.ExpansionRam, 0x5C, (banks - 1) * 65536);
    const SnapshotResult r = DecodeSnapshot(*b, image, "round.sna");
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_TRUE(r.Warning.empty()) << r.Warning;
    EXPECT_EQ(b->Z80.PC, 0x1234);
    EXPECT_EQ(b->Memory.ExpansionBank, a->Memory.ExpansionBank);
    EXPECT_EQ(b->Memory.RamConfiguration, a->Memory.RamConfiguration);
    EXPECT_TRUE(BanksEqual(*a, *b, c.restoredBanks));
    if (c.restoredBanks < banks) {
      EXPECT_TRUE(std::all_of(b->Memory.ExpansionRam, b->Memory.ExpansionRam + (banks - 1) * 65536,
                              [](uint8_t v) { return v == 0x5C; }));
    }
  }
}

// A file with more memory than the machine: what fits is loaded and the
// result says so; a machine with more keeps the rest as it was.
TEST(SnapshotVersions, MemoryBeyondTheMachineIsReportedAndSkipped) {
  auto big = MachineWithRam(7);
  FillBanks(*big, 9);
  const std::vector<uint8_t> image = EncodeSnapshot(*big, 3);

  auto small = MachineWithRam(0);
  const SnapshotResult r = DecodeSnapshot(*small, image, "big.sna");
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_NE(r.Warning.find("big.sna holds 576 KB"), std::string::npos) << r.Warning;
  EXPECT_NE(r.Warning.find("has 128 KB"), std::string::npos) << r.Warning;
  EXPECT_TRUE(BanksEqual(*big, *small, 2));

  auto smallFile = MachineWithRam(0);
  FillBanks(*smallFile, 2);
  auto large = MachineWithRam(7);
  std::memset(large->Memory.ExpansionRam + 65536, 0x66, 65536);
  ASSERT_TRUE(DecodeSnapshot(*large, EncodeSnapshot(*smallFile, 3), "small.sna").Ok);
  EXPECT_TRUE(BanksEqual(*smallFile, *large, 2));
  EXPECT_EQ(large->Memory.ExpansionRam[65536 + 1000], 0x66);
}

// Chunk helpers for hand-built files.
void AppendChunk(std::vector<uint8_t>& image, const std::string& name, const std::vector<uint8_t>& data,
                 uint32_t length) {
  image.insert(image.end(), name.begin(), name.end());
  for (int i = 0; i < 4; ++i) image.push_back(static_cast<uint8_t>(length >> (8 * i)));
  image.insert(image.end(), data.begin(), data.end());
}
void AppendChunk(std::vector<uint8_t>& image, const std::string& name, const std::vector<uint8_t>& data) {
  AppendChunk(image, name, data, static_cast<uint32_t>(data.size()));
}
std::vector<uint8_t> Bank(const Machine& m, size_t b) {
  const uint8_t* data = b == 0 ? m.Memory.BaseRam : m.Memory.ExpansionRam + (b - 1) * 65536;
  return {data, data + 65536};
}
// A version 3 header of the machine with no dump.
std::vector<uint8_t> Version3Header(const Machine& m) {
  std::vector<uint8_t> image = EncodeSnapshot(m, 3);
  image.resize(256);
  image[0x6B] = image[0x6C] = 0;
  return image;
}

// Files as other emulators write them: compressed and stored MEM chunks in
// any order with foreign chunks between them.
TEST(SnapshotVersions, HandBuiltVersion3WithForeignChunksLoads) {
  auto source = MachineWithRam(0);
  FillBanks(*source, 2);
  source->Z80.PC = 0x4321;
  std::vector<uint8_t> image = Version3Header(*source);
  AppendChunk(image, "MEM1", Bank(*source, 1));  // stored
  AppendChunk(image, "BRKP", std::vector<uint8_t>(10, 0xE5));
  AppendChunk(image, "MEM0", CompressMemoryChunk(Bank(*source, 0)));
  AppendChunk(image, "CPC+", std::vector<uint8_t>(0x8F8, 0x12));
  AppendChunk(image, "DSCA", {});

  auto m = MachineWithRam(0);
  const SnapshotResult r = DecodeSnapshot(*m, image, "foreign.sna");
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_EQ(m->Z80.PC, 0x4321);
  EXPECT_TRUE(BanksEqual(*source, *m, 2));
}

TEST(SnapshotVersions, RunLengthCodingEdges) {
  std::vector<std::vector<uint8_t>> banks;
  banks.emplace_back(65536, 0xE5);  // nothing but the escape byte
  banks.emplace_back(65536, 0x00);
  std::vector<uint8_t> mixed(65536);
  for (size_t i = 0; i < mixed.size(); ++i) mixed[i] = i % 300 < 256 ? 0xE5 : static_cast<uint8_t>(i * 31);
  banks.push_back(mixed);
  std::vector<uint8_t> noise(65536);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  banks.push_back(noise);
  for (const auto& bank : banks) {
    const std::vector<uint8_t> packed = CompressMemoryChunk(bank);
    std::vector<uint8_t> back(65536, 0x77);
    ASSERT_TRUE(DecompressMemoryChunk(packed, back.data()));
    EXPECT_EQ(back, bank);
  }
  EXPECT_LT(CompressMemoryChunk(banks[0]).size(), 1000u);
}

// Damaged files: each is refused with a message naming the file and the
// fault, and the machine is left exactly as it was.
TEST(SnapshotVersions, DamagedFilesAreRefusedAndChangeNothing) {
  auto source = MachineWithRam(0);
  FillBanks(*source, 2);
  const std::vector<uint8_t> header = Version3Header(*source);
  const std::vector<uint8_t> mem0 = CompressMemoryChunk(Bank(*source, 0));
  auto withChunks = [&](std::function<void(std::vector<uint8_t>&)> add) {
    std::vector<uint8_t> image = header;
    AppendChunk(image, "MEM0", mem0);
    add(image);
    return image;
  };
  auto version2 = [&](uint16_t dumpKb, size_t dumpBytes) {
    std::vector<uint8_t> image = EncodeSnapshot(*source, 2);
    image[0x6B] = static_cast<uint8_t>(dumpKb), image[0x6C] = static_cast<uint8_t>(dumpKb >> 8);
    image.resize(256 + dumpBytes);
    return image;
  };
  std::vector<uint8_t> runPastEnd = mem0;
  runPastEnd.insert(runPastEnd.end(), {0xE5, 0xFF, 0x01});  // 255 more bytes than 64 KB
  std::vector<uint8_t> escapeAtEnd(mem0.begin(), mem0.end() - 1);
  escapeAtEnd.back() = 0xE5;
  std::vector<uint8_t> tooShort(mem0.begin(), mem0.begin() + 1000);

  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    const char* message;
  } cases[] = {
      {"chunk length past the end", withChunks([](auto& i) { AppendChunk(i, "MEM1", {1, 2, 3}, 100000); }),
       "chunk MEM1 of 100000 bytes runs past the end"},
      {"foreign chunk past the end", withChunks([](auto& i) { AppendChunk(i, "SYMB", {1}, 0xFFFFFFFF); }),
       "chunk SYMB"},
      {"chunk header cut short", withChunks([](auto& i) { i.insert(i.end(), {'M', 'E', 'M'}); }), "cut short"},
      {"run past 64 KB", withChunks([&](auto& i) { AppendChunk(i, "MEM1", runPastEnd); }),
       "chunk MEM1 has bad run-length data"},
      {"escape at the end", withChunks([&](auto& i) { AppendChunk(i, "MEM1", escapeAtEnd); }),
       "chunk MEM1 has bad run-length data"},
      {"too little data", withChunks([&](auto& i) { AppendChunk(i, "MEM1", tooShort); }),
       "chunk MEM1 has bad run-length data"},
      {"own chunk damaged", withChunks([](auto& i) { AppendChunk(i, "PELL", {1, 2}); }), "chunk PELL is damaged"},
      {"no memory at all", header, "holds no memory"},
      {"dump size 0, version 2", version2(0, 65536), "holds no memory"},
      {"odd dump size", version2(65, 65536 + 1024), "65 KB is not a multiple of 64 KB"},
      {"dump longer than the file", version2(128, 65536), "for its 128 KB memory dump"},
      {"short header", std::vector<uint8_t>(header.begin(), header.begin() + 100), "100 bytes"},
  };
  auto m = MachineWithRam(0);
  m->Z80.PC = 0x4321;
  const std::vector<uint8_t> before = EncodeSnapshot(*m);
  for (const Case& c : cases) {
    const SnapshotResult r = DecodeSnapshot(*m, c.image, "bad.sna");
    EXPECT_FALSE(r.Ok) << c.what;
    EXPECT_NE(r.Error.find("bad.sna"), std::string::npos) << c.what << ": " << r.Error;
    EXPECT_NE(r.Error.find(c.message), std::string::npos) << c.what << ": " << r.Error;
  }
  EXPECT_EQ(EncodeSnapshot(*m), before);
}

// Saved mid-frame, in the middle of the picture: the loaded machine draws
// the same frames as the saved one running on, from our own files and from
// files with the published fields alone (another emulator's version 3).
TEST(SnapshotVersions, CrtcAndInterruptCountersComeBackMidFrame) {
  auto a = BareMachine();
  FillBanks(*a, 1);
  // EI / JR $-1 with interrupts taken in IM 1 by EI / RET at &38.
  const uint8_t loop[] = {0xFB, 0x18, 0xFD};
  std::memcpy(a->Memory.BaseRam + 0x4000, loop, sizeof loop);
  const uint8_t handler[] = {0xFB, 0xC9};
  std::memcpy(a->Memory.BaseRam + 0x38, handler, sizeof handler);
  a->Memory.LowerRomEnabled = 0;
  UpdateMemoryBanks(a->Memory);
  for (int i = 0; i < 16; ++i) a->GateArray.PenColours[i] = static_cast<uint8_t>(i + 4);
  a->GateArray.ScreenMode = 0;
  RebuildByteExpansionTable(*a);
  a->Z80.PC = 0x4000, a->Z80.IM = 1, a->Z80.SP = 0xC000;
  const uint8_t crtc[14] = {63, 40, 46, 0x8E, 38, 0, 25, 30, 0, 7, 0, 0, 0x30, 0};
  std::memcpy(a->Crtc.R, crtc, sizeof crtc);
  a->MicrosecondsPerTick = 20000 + 64 * 100 + 17;  // stop mid-line, mid-frame
  EmulateTick(*a);
  a->MicrosecondsPerTick = 20000;
  ASSERT_GT(a->Crtc.VCC, 0);
  ASSERT_GT(a->Crtc.HCC, 0);

  const std::vector<uint8_t> own = EncodeSnapshot(*a, 3);
  // The same file without our chunk, as another emulator would write it.
  const std::vector<uint8_t> published(own.begin(), own.end() - 8 - 64);
  ASSERT_EQ(std::string(own.end() - 8 - 64, own.end() - 64 - 4), "PELL");

  std::vector<std::unique_ptr<Machine>> loaded;
  for (const auto* image : {&own, &published}) {
    auto b = BareMachine();
    ASSERT_TRUE(DecodeSnapshot(*b, *image, "mid.sna").Ok);
    EXPECT_EQ(b->Crtc.HCC, a->Crtc.HCC);
    EXPECT_EQ(b->Crtc.VCC, a->Crtc.VCC);
    EXPECT_EQ(b->Crtc.RA, a->Crtc.RA);
    EXPECT_EQ(b->Crtc.MA, a->Crtc.MA) << (image == &own ? "own chunk" : "published fields");
    EXPECT_EQ(b->GateArray.IntCounter, a->GateArray.IntCounter);
    EXPECT_EQ(b->Z80.InterruptRequest, a->Z80.InterruptRequest);
    // The published layout has no beam; the monitor finds it again at the
    // next retrace. Start from the saved one so the frames compare.
    b->BeamX = a->BeamX, b->BeamY = a->BeamY;
    loaded.push_back(std::move(b));
  }
  for (int frame = 0; frame < 3; ++frame) {
    EmulateTick(*a);
    for (auto& b : loaded) EmulateTick(*b);
  }
  for (const auto& b : loaded) {
    SCOPED_TRACE(b == loaded[0] ? "own chunk" : "published fields only");
    EXPECT_EQ(b->Crtc.VCC, a->Crtc.VCC);
    EXPECT_EQ(b->Crtc.HCC, a->Crtc.HCC);
    EXPECT_EQ(b->GateArray.IntCounter, a->GateArray.IntCounter);
    EXPECT_EQ(0, std::memcmp(b->Video.FrameBitmap, a->Video.FrameBitmap, sizeof a->Video.FrameBitmap))
        << "the frames drawn after loading differ";
  }
  EXPECT_EQ(loaded[0]->Z80.PC, a->Z80.PC);
}

// The check a user makes: a BASIC program banks the second 64 KB in through
// the banking port and pokes a pattern into each of its four blocks; saved,
// reset and loaded back, every byte matches and the program runs on.
TEST(SnapshotVersions, BasicProgramUsingAllBanksSurvivesSaveResetLoad) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  TempDir dir;
  auto m = Cpc6128();
  RunFrames(*m, 75);
  Type(*m,
       "10 FOR B=0 TO 3:OUT &7F00,&C4+B:FOR A=&4000 TO &40FF:POKE A,(A+B*77) AND 255:NEXT:NEXT:OUT &7F00,&C0\n"
       "20 FOR I=1 TO 400:PRINT I;:NEXT:PRINT \"DONE\"\n"
       "RUN\n");
  RunFrames(*m, 250);
  for (int b = 0; b < 4; ++b)
    ASSERT_EQ(m->Memory.ExpansionRam[b * 16384 + 0x10], (0x4010 + b * 77) & 255) << "block " << b << " not poked yet";

  const fs::path file = dir / "banks.sna";
  ASSERT_TRUE(SaveSnapshot(*m, file).Ok);
  const std::vector<uint8_t> base(m->Memory.BaseRam, m->Memory.BaseRam + 65536);
  const std::vector<uint8_t> bank(m->Memory.ExpansionRam, m->Memory.ExpansionRam + 65536);
  ResetMachine(*m);
  RunFrames(*m, 5);
  const SnapshotResult r = LoadSnapshot(*m, file);
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_TRUE(std::equal(base.begin(), base.end(), m->Memory.BaseRam));
  EXPECT_TRUE(std::equal(bank.begin(), bank.end(), m->Memory.ExpansionRam));
  RunFrames(*m, 600);
  std::string text;
  for (const std::string& line : ScreenText(*m)) text += line + "\n";
  EXPECT_NE(text.find("DONE"), std::string::npos) << text;
}

TEST(SnapshotCli, SnapshotVersionOption) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  TempDir dir;
  const std::string base = Cli() + " --rom-dir '" + RomDir() + "' --start-dir '" + (dir / "").string() + "' --frames 2";
  for (int version : {1, 2, 3}) {
    const fs::path file = dir / ("v" + std::to_string(version) + ".sna");
    auto r = RunCommand(base + " --save-snapshot '" + file.string() + "' --snapshot-version " + std::to_string(version));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<uint8_t> bytes = ReadFile(file);
    ASSERT_GT(bytes.size(), 0x10u);
    EXPECT_EQ(bytes[0x10], version);
    if (version == 1) {
      EXPECT_EQ(bytes.size(), kSnapshotSize);
    } else if (version == 2) {
      EXPECT_EQ(bytes.size(), 256u + 2 * 65536);
    }
    auto loaded = RunCommand(base + " --snapshot '" + file.string() + "'");
    EXPECT_EQ(loaded.status, 0) << loaded.out;
  }
  auto bad = RunCommand(base + " --save-snapshot '" + (dir / "x.sna").string() + "' --snapshot-version 4");
  EXPECT_EQ(bad.status, 2) << bad.out;
  auto alone = RunCommand(base + " --snapshot-version 1");
  EXPECT_EQ(alone.status, 2) << alone.out;
}

const std::string kLoopSnapshot = "/testdata/sna/loop4000_v2.sna";

// A third-party version 2 file with a 128 KB dump: a 6128 stopped in a loop
// at &4000 with the start-up screen.
TEST(Snapshot, ThirdPartyVersion2File) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  const fs::path file = SharedDir() + kLoopSnapshot;
  if (!fs::exists(file)) GTEST_SKIP() << "test snapshot not found: " << file;
  auto m = Cpc6128();
  std::memset(m->Memory.ExpansionRam, 0x5C, 4 * kBlockSize);
  const SnapshotResult r = LoadSnapshot(*m, file);
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_EQ(m->Z80.PC, 0x4001);
  EXPECT_EQ(m->Z80.SP, 0xBFEA);
  EXPECT_EQ(m->Z80.IM, 1);
  EXPECT_EQ(m->Z80.IFF1, 0);
  EXPECT_EQ(m->GateArray.ScreenMode, 1);
  EXPECT_EQ(m->GateArray.BorderColour, 0x04);
  EXPECT_EQ(m->Memory.LowerRomEnabled, 0);
  EXPECT_EQ(m->Memory.UpperRomEnabled, 0);
  const uint8_t crtc[16] = {0x3F, 0x28, 0x2E, 0x8E, 0x26, 0x00, 0x19, 0x1E,
                            0x00, 0x07, 0x00, 0x00, 0x30, 0x00, 0xC0, 0x00};
  EXPECT_EQ(0, std::memcmp(m->Crtc.R, crtc, 16));
  EXPECT_EQ(m->Memory.BaseRam[0x4001], 0xC3);
  // The second 64 KB of the dump is the 6128's expansion bank.
  const std::vector<uint8_t> bytes = ReadFile(file);
  EXPECT_EQ(0, std::memcmp(m->Memory.ExpansionRam, bytes.data() + kSnapshotSize, 4 * kBlockSize));

  RunFrames(*m, 10);
  EXPECT_EQ(m->Z80.PC, 0x4001);
  std::string text;
  for (const std::string& line : ScreenText(*m)) text += line + "\n";
  for (const char* expected : {"Amstrad 128K Microcomputer", "BASIC 1.1", "Ready", "pause in &4000"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " not on the screen:\n" << text;
}

// The runner's options. Unthrottled; the benchmark lines come before the
// screen text.
std::string ScreenOf(const std::string& out) {
  std::string text;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    if (line.rfind("start-up:", 0) != 0 && line.rfind("periods:", 0) != 0 && line.rfind("emulated speed:", 0) != 0)
      text += line + "\n";
    at = end + 1;
  }
  return text;
}

TEST(SnapshotCli, SavedRunContinuesToTheSameScreen) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  TempDir dir;
  const std::string base = Cli() + " --benchmark --rom-dir '" + RomDir() + "' --start-dir '" + (dir / "").string() + "'";
  const std::string type = " --type '10 FOR I=1 TO 300:PRINT I;:NEXT:PRINT \"DONE\"\\nRUN\\n'";
  const fs::path file = dir / "run.sna";
  const int saveAt = 380, more = 500;

  auto saved = RunCommand(base + type + " --frames " + std::to_string(saveAt) + " --save-snapshot '" +
                          file.string() + "'");
  ASSERT_EQ(saved.status, 0) << saved.out;
  ASSERT_EQ(ReadFile(file)[0x10], 3);

  auto straight = RunCommand(base + type + " --frames " + std::to_string(saveAt + more) + " --screen-text");
  auto resumed = RunCommand(base + " --snapshot '" + file.string() + "' --frames " + std::to_string(more) +
                            " --screen-text");
  ASSERT_EQ(straight.status, 0) << straight.out;
  ASSERT_EQ(resumed.status, 0) << resumed.out;
  EXPECT_EQ(ScreenOf(straight.out), ScreenOf(resumed.out));
  EXPECT_NE(resumed.out.find("DONE"), std::string::npos) << resumed.out;
}

TEST(SnapshotCli, BadSnapshotExitsWithTwo) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  TempDir dir;
  WriteFile(dir / "short.sna", std::vector<uint8_t>(1000, 0));
  const std::pair<fs::path, std::string> cases[] = {
      {dir / "short.sna", "is not a snapshot"},
      {dir / "missing.sna", "cannot read snapshot"},
  };
  for (const auto& [bad, message] : cases) {
    auto r = RunCommand(Cli() + " --rom-dir '" + RomDir() + "' --frames 1 --snapshot '" + bad.string() + "'");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find(bad.string()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one-line message expected: " << r.out;
  }
}

TEST(SnapshotCli, ThirdPartyFileShowsItsScreen) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  const std::string file = SharedDir() + kLoopSnapshot;
  if (!fs::exists(file)) GTEST_SKIP() << "test snapshot not found: " << file;
  auto r = RunCommand(Cli() + " --benchmark --rom-dir '" + RomDir() + "' --snapshot '" + file +
                      "' --frames 5 --screen-text");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("pause in &4000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Ready"), std::string::npos) << r.out;
}

}  // namespace
