#include "storage/snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
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
  EXPECT_EQ(ReadFile(file).size(), kSnapshotSize);

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

  const std::vector<uint8_t> h = EncodeSnapshot(*m);
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
  for (size_t i = 0; i < kSnapshotSize; ++i)
    if (i < 0x57 || i > 0x59) {
      ASSERT_EQ(first[i], second[i]) << "offset " << i;
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
  const std::vector<uint8_t> good = EncodeSnapshot(*source);

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

// A later version's header fields and second 64 KB are ignored; expansion
// RAM keeps what it had.
TEST(Snapshot, LongerDumpRestoresOnlyTheBase64K) {
  auto source = BareMachine();
  std::memset(source->Memory.BaseRam, 0x11, kSnapshotDumpSize);
  std::vector<uint8_t> v3 = EncodeSnapshot(*source);
  v3[0x10] = 3;
  v3[0x6B] = 128;
  v3[0x6D] = 2;  // machine type
  std::fill(v3.begin() + 0xB0, v3.begin() + 0x100, uint8_t{0xEE});
  v3.resize(kSnapshotSize + kSnapshotDumpSize, 0x22);
  const char chunk[] = "MEM0\x00\x00\x00\x00";
  v3.insert(v3.end(), chunk, chunk + 8);

  auto m = BareMachine();
  std::memset(m->Memory.ExpansionRam, 0x33, 4 * kBlockSize);
  ASSERT_TRUE(DecodeSnapshot(*m, v3, "v3.sna").Ok);
  EXPECT_TRUE(std::all_of(m->Memory.BaseRam, m->Memory.BaseRam + kSnapshotDumpSize, [](uint8_t b) { return b == 0x11; }));
  EXPECT_TRUE(std::all_of(m->Memory.ExpansionRam, m->Memory.ExpansionRam + 4 * kBlockSize,
                          [](uint8_t b) { return b == 0x33; }));
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
  EXPECT_TRUE(std::all_of(m->Memory.ExpansionRam, m->Memory.ExpansionRam + 4 * kBlockSize,
                          [](uint8_t b) { return b == 0x5C; }));

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
    if (line.rfind("periods:", 0) != 0 && line.rfind("emulated speed:", 0) != 0) text += line + "\n";
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
  ASSERT_EQ(ReadFile(file).size(), kSnapshotSize);

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
