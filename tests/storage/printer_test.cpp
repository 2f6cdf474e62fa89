// Printer port outputs: RTF and BIN documents, reads and busy line per mode,
// and the Digiblaster sample ring.
#include "storage/printer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "core/emulation_thread.h"
#include "core/machine.h"

namespace {

namespace fs = std::filesystem;

constexpr uint16_t kPrinterPort = 0xEF00;
constexpr char kHeader[] = "{\\rtf1\\ansi\r\n{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}\r\n";
constexpr char kTrailer[] = "\r\n}";
constexpr uint8_t ESC = 27;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class PrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("pellucidore-printer-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    m = NewMachine();
  }
  void TearDown() override {
    m.reset();
    fs::remove_all(dir);
  }
  std::unique_ptr<Machine> NewMachine() {
    MachineConfig config;
    config.RomDir = "/nonexistent";
    auto machine = CreateMachine(config);
    machine->Printer.PrintDir = dir;
    return machine;
  }
  // Each byte as the firmware sends it: once, with the strobe bit set.
  void Print(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) Z80Out(*m, kPrinterPort, b | 0x80);
  }
  void Print(const std::string& text) { Print(std::vector<uint8_t>(text.begin(), text.end())); }
  std::vector<fs::path> Files() const {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
  }

  fs::path dir;
  std::unique_ptr<Machine> m;
};

TEST_F(PrinterTest, RtfDocumentHeaderTextAndTrailer) {
  ASSERT_EQ(PrinterSetMode(*m, kPrinterRtfFile), "");
  EXPECT_EQ(sizeof kHeader - 1, 67u);
  Print("A\r");
  PrinterStop(*m);
  const auto files = Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0].filename().string(), std::regex("CPC[0-9]+\\.rtf")))
      << files[0];
  EXPECT_EQ(ReadAll(files[0]), std::string(kHeader) + "A \\par " + kTrailer);
}

TEST_F(PrinterTest, RtfConversionTable) {
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string body;
  } cases[] = {
      {"underline", {ESC, '-', '1', 'A', 'B', ESC, '-', '0'}, "\\ul A B \\ul0 "},
      {"RTF specials", {'{', '}', '\\'}, "\\{ \\} \\\\ "},
      {"condensed", {15, '{', 'x', 18, 'y'}, "\\{xy "},
      {"super/sub", {ESC, 'S', '0', ESC, 'S', '1', ESC, 'T'}, "\\super \\sub \\nosupersub "},
      {"styles", {ESC, '4', ESC, '5', ESC, 'E', ESC, 'F', ESC, 'G', ESC, 'H'},
       "\\i \\i0 \\b \\b0 \\embo \\embo0 "},
      {"initialise ends condensed", {15, ESC, '@', 'a'}, "a "},
      {"unknown ESC command waits for a known one", {ESC, 'x', 'q', ESC, 'E', 'a'}, "\\b a "},
      {"bad parameter ignored", {ESC, '-', '7', 'A', '1', 'b'}, "\\ul b "},
      {"other control codes ignored", {'a', 10, 9, 127, 'b', 12}, "a b "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir);
    ASSERT_EQ(PrinterSetMode(*m, kPrinterRtfFile), "");
    Print(c.bytes);
    PrinterStop(*m);
    const auto files = Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadAll(files[0]), std::string(kHeader) + c.body + kTrailer);
  }
}

TEST_F(PrinterTest, RtfTakesOnlyStrobedBytes) {
  ASSERT_EQ(PrinterSetMode(*m, kPrinterRtfFile), "");
  for (int b : {0x41, 0x42 | 0x80, 0x43, 0x44 | 0x80}) Z80Out(*m, kPrinterPort, static_cast<uint8_t>(b));
  PrinterStop(*m);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(ReadAll(Files()[0]), std::string(kHeader) + "B D " + kTrailer);
}

TEST_F(PrinterTest, ResetEndsTheDocumentAndEmptyOnesVanish) {
  ASSERT_EQ(PrinterSetMode(*m, kPrinterRtfFile), "");
  ResetMachine(*m);
  EXPECT_EQ(Files().size(), 1u) << "the empty document outlived the reset";
  Print("ONE\r");
  Print(std::vector<uint8_t>{ESC});  // an open escape does not survive the reset
  ResetMachine(*m);
  Print("E");
  ResetMachine(*m);  // two documents inside 86 ms share a time stamp
  PrinterStop(*m);
  const auto files = Files();
  ASSERT_EQ(files.size(), 2u);
  std::vector<std::string> bodies;
  for (const auto& f : files) bodies.push_back(ReadAll(f));
  std::sort(bodies.begin(), bodies.end());
  EXPECT_EQ(bodies[0], std::string(kHeader) + "E " + kTrailer);
  EXPECT_EQ(bodies[1], std::string(kHeader) + "O N E \\par " + kTrailer);
}

TEST_F(PrinterTest, BinLogDropsOnlyTheFirstByteAfterProgramStart) {
  ASSERT_EQ(PrinterSetMode(*m, kPrinterBinFile), "");
  for (uint8_t b : {0x11, 0x22, 0xB3, 0x00}) Z80Out(*m, kPrinterPort, b);  // strobe or not
  ResetMachine(*m);
  Z80Out(*m, kPrinterPort, 0x41);  // kept after a reset, but alone it is no document
  ResetMachine(*m);
  Z80Out(*m, kPrinterPort, 0x41);
  Z80Out(*m, kPrinterPort, 0xC2);
  PrinterStop(*m);
  const auto files = Files();
  ASSERT_EQ(files.size(), 2u);
  std::vector<std::string> contents;
  for (const auto& f : files) {
    EXPECT_EQ(f.extension(), ".bin");
    contents.push_back(ReadAll(f));
  }
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents[0], std::string("\x22\xB3\x00", 3));
  EXPECT_EQ(contents[1], "A\xC2");

  // A fresh program start drops its first byte again; one byte is deleted.
  m = NewMachine();
  fs::remove_all(dir);
  ASSERT_EQ(PrinterSetMode(*m, kPrinterBinFile), "");
  Z80Out(*m, kPrinterPort, 1);
  Z80Out(*m, kPrinterPort, 2);
  PrinterStop(*m);
  EXPECT_TRUE(Files().empty());
}

TEST_F(PrinterTest, ReadsAndBusyLinePerMode) {
  const struct {
    uint32_t mode;
    uint8_t read;
    uint8_t busy;
  } cases[] = {// No host printer given: the default printer and the LPT are offline.
               {kPrinterNotConnected, 0xFF, 0}, {kPrinterDefaultPrinter, 0xFF, 1}, {kPrinterRtfFile, 0xFF, 0},
               {kPrinterLpt, 0x5A, 1},          {kPrinterBinFile, 0xFF, 0},        {kPrinterDigiblaster, 0x5A, 0}};
  for (const auto& c : cases) {
    PrinterSetMode(*m, c.mode);
    EXPECT_EQ(PrinterRead(*m, 0x5A), c.read) << c.mode;
    EXPECT_EQ((Z80In(*m, 0xF500) >> 6) & 1, c.busy) << "PPI port B, mode " << c.mode;
    Print("TEXT\r");
  }
  PrinterStop(*m);
  // Only the RTF and BIN modes wrote anything.
  const auto files = Files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].extension() == ".bin" ? files[1].extension() : files[0].extension(), ".rtf");
  EXPECT_EQ(PrinterSetMode(*m, 9), "");
  EXPECT_EQ(m->Printer.PrinterMode, kPrinterNotConnected) << "an unknown PARMODE";
}

TEST_F(PrinterTest, UncreatablePrintFileIsReported) {
  fs::create_directories(dir);
  std::ofstream(dir / "file") << "x";
  m->Printer.PrintDir = dir / "file";
  const std::string message = PrinterSetMode(*m, kPrinterRtfFile);
  EXPECT_NE(message.find((dir / "file").string()), std::string::npos) << message;
  Print("A\r");  // goes nowhere, harmlessly
  PrinterStop(*m);
  EXPECT_EQ(Files().size(), 1u);
}

class RecordingDevice : public DigiblasterDevice {
 public:
  bool Open() override {
    ++opens;
    return true;
  }
  void Close() override { ++closes; }
  void Queue(const uint8_t* samples, size_t count) override { queued.emplace_back(samples, samples + count); }
  int opens = 0, closes = 0;
  std::vector<std::vector<uint8_t>> queued;
};

TEST_F(PrinterTest, DigiblasterRingOneBufferPerPeriod) {
  RecordingDevice device;
  m->Printer.Device = &device;
  ASSERT_EQ(PrinterSetMode(*m, kPrinterDigiblaster), "");
  EXPECT_EQ(device.opens, 1);
  EXPECT_TRUE(m->Printer.DigiblasterOn);
  PeriodHooks hooks;
  for (int period = 1; period <= 12; ++period) {
    Z80Out(*m, kPrinterPort, static_cast<uint8_t>(period * 10));  // all 8 bits, no strobe needed
    RunPeriod(*m, hooks);
    // 441 samples at steps 45..19845: exactly one buffer per period.
    EXPECT_EQ(m->Printer.DigiFillCount, 441u);
    EXPECT_EQ(m->Printer.DigiFillIndex, (5u + period - 1) % 16);
  }
  ASSERT_EQ(device.queued.size(), 12u);
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(device.queued[i].size(), 441u);
    // Playback starts five buffers behind: silence, then period 1, 2, ...
    const uint8_t want = i < 5 ? 0 : static_cast<uint8_t>((i - 4) * 10);
    EXPECT_EQ(std::count(device.queued[i].begin(), device.queued[i].end(), want), 441) << i;
  }
  PrinterSetMode(*m, kPrinterNotConnected);
  EXPECT_EQ(device.closes, 1);
  EXPECT_FALSE(m->Printer.DigiblasterOn);
  RunPeriod(*m, hooks);
  EXPECT_EQ(device.queued.size(), 12u) << "submitted outside Digiblaster mode";
}

TEST_F(PrinterTest, DigiblasterPlaybackJumpsBackWhenItCatchesUp) {
  RecordingDevice device;
  m->Printer.Device = &device;
  ASSERT_EQ(PrinterSetMode(*m, kPrinterDigiblaster), "");
  m->MicrosecondsPerTick = 10000;  // 50 %: 222 samples, half a buffer per period
  PeriodHooks hooks;
  std::vector<uint32_t> played;
  uint32_t play = 0;
  for (int period = 0; period < 24; ++period) {
    RunPeriod(*m, hooks);
    const uint32_t fill = m->Printer.DigiFillIndex;  // as it was at the submission
    if (play == fill) play = (fill + 11) % 16;
    played.push_back(play);
    EXPECT_EQ(m->Printer.DigiPlayIndex, (play + 1) % 16) << period;
    EXPECT_NE(play, fill) << "played the buffer being filled, period " << period;
    play = (play + 1) % 16;
  }
  int jumps = 0;
  for (size_t i = 1; i < played.size(); ++i) jumps += played[i] != (played[i - 1] + 1) % 16;
  EXPECT_GE(jumps, 2) << "playback never caught up at half speed";
}

// False while the CPU is the stand-in that treats every byte as a NOP.
bool HaveRealZ80() {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  auto m = CreateMachine(config);
  m->Memory.LowerRom[0] = 0x3E;  // LD A,5
  m->Memory.LowerRom[1] = 0x05;
  ExecuteInstruction(*m);
  return m->Z80.AF.B.H == 5;
}

TEST_F(PrinterTest, DigiblasterSamplesAProgramsWritesEvery45Microseconds) {
  if (!HaveRealZ80()) GTEST_SKIP() << "needs the Z80 executor";
  // OUT (C),A / INC A / JR: a new value every 8 microseconds. The first OUT
  // starts at step 5 and writes (0) at its bus cycle two steps later, so
  // the sample at step s sees value (s - 8) / 8.
  const uint8_t program[] = {
      0x01, 0x00, 0xEF,  // LD BC,&EF00
      0xAF,              // XOR A
      0xED, 0x79,        // loop: OUT (C),A
      0x3C,              // INC A
      0x18, 0xFB,        // JR loop
  };
  std::memset(m->Memory.LowerRom, 0, sizeof m->Memory.LowerRom);
  std::memcpy(m->Memory.LowerRom, program, sizeof program);
  RecordingDevice device;
  m->Printer.Device = &device;
  ASSERT_EQ(PrinterSetMode(*m, kPrinterDigiblaster), "");
  PeriodHooks hooks;
  for (int tick = 0; tick < 3; ++tick) {
    RunPeriod(*m, hooks);
    const uint8_t* buffer = m->Printer.DigiBuffers[5 + tick];
    for (uint32_t i = 0; i < kDigiBufferSamples; ++i) {
      const uint32_t step = 20000 * tick + 45 * (i + 1);
      ASSERT_EQ(buffer[i], static_cast<uint8_t>((step - 8) / 8)) << "tick " << tick << " sample " << i;
    }
  }
}

// A host printer that records what it is asked to do.
struct FakeHostPrinter : HostPrinter {
  std::string openError;
  bool busy = false;
  std::string current;            // the job being written
  std::vector<std::string> jobs;  // ended jobs
  std::vector<std::string> calls;
  std::string Open() override {
    calls.push_back("open");
    return openError;
  }
  void Close() override {
    calls.push_back("close");
    EndJob();
  }
  void Write(uint8_t value) override { current += static_cast<char>(value); }
  bool Busy() override { return busy; }
  void EndJob() override {
    if (!current.empty()) jobs.push_back(current);
    current.clear();
  }
};

TEST_F(PrinterTest, DefaultPrinterGetsPlainTextAndEndsJobsWhenIdle) {
  FakeHostPrinter host;
  m->Printer.DefaultPrinter = &host;
  m->Printer.IdleLimitPeriods = 3;
  ASSERT_EQ(PrinterSetMode(*m, kPrinterDefaultPrinter), "");
  EXPECT_EQ((Z80In(*m, 0xF500) >> 6) & 1, 0) << "a printer that opened is ready";
  // Epson codes are parsed as for RTF and left out; CR LF is one line end,
  // a lone LF or CR one each; unstrobed bytes are no characters.
  Print(std::vector<uint8_t>{'A', ESC, '-', '1', 'B', ESC, 'E', '{', '\r', '\n', 'C', '\n', 'D', '\r', 15, 'E', 18, 7, '\t', 'F'});
  Z80Out(*m, kPrinterPort, 'x');
  EXPECT_EQ(host.current, "AB{\nC\nD\nE\tF");
  PrinterPeriodTick(*m);
  PrinterPeriodTick(*m);
  EXPECT_TRUE(host.jobs.empty()) << "two idle periods of three";
  Print("G");
  PrinterPeriodTick(*m);
  PrinterPeriodTick(*m);
  EXPECT_TRUE(host.jobs.empty()) << "a character starts the idle time again";
  PrinterPeriodTick(*m);
  ASSERT_EQ(host.jobs.size(), 1u);
  EXPECT_EQ(host.jobs[0], "AB{\nC\nD\nE\tFG");
  for (int i = 0; i < 10; ++i) PrinterPeriodTick(*m);
  EXPECT_EQ(host.jobs.size(), 1u) << "no empty jobs";

  // Reset, mode change and exit each end the job under way.
  Print("H");
  PrinterReset(*m);
  Print("I");
  PrinterSetMode(*m, kPrinterRtfFile);
  EXPECT_EQ(host.jobs, (std::vector<std::string>{"AB{\nC\nD\nE\tFG", "H", "I"}));
  EXPECT_EQ(host.calls, (std::vector<std::string>{"open", "close", "open", "close"}));
}

TEST_F(PrinterTest, HostPrinterThatCannotOpenIsOffline) {
  FakeHostPrinter host;
  host.openError = "Cannot print to the default printer: no default printer is set";
  m->Printer.DefaultPrinter = &host;
  EXPECT_EQ(PrinterSetMode(*m, kPrinterDefaultPrinter), host.openError);
  EXPECT_EQ((Z80In(*m, 0xF500) >> 6) & 1, 1) << "offline, as a CPC sees a printer that is not there";
  Print("LOST");
  PrinterStop(*m);
  EXPECT_TRUE(host.current.empty() && host.jobs.empty());
  EXPECT_EQ(host.calls, (std::vector<std::string>{"open"})) << "nothing to close";
}

TEST_F(PrinterTest, ParallelPortGetsEveryByteAndLendsItsBusyLine) {
  FakeHostPrinter host;
  m->Printer.Lpt = &host;
  ASSERT_EQ(PrinterSetMode(*m, kPrinterLpt), "");
  Z80Out(*m, kPrinterPort, 'A');
  Z80Out(*m, kPrinterPort, 'A' | 0x80);
  Z80Out(*m, kPrinterPort, 'A');
  EXPECT_EQ(host.current, std::string("A\xC1" "A"));
  EXPECT_EQ((Z80In(*m, 0xF500) >> 6) & 1, 0);
  host.busy = true;
  EXPECT_EQ((Z80In(*m, 0xF500) >> 6) & 1, 1) << "the port's busy line, read when the CPC reads";
  PrinterStop(*m);
  EXPECT_EQ((Z80In(*m, 0xF500) >> 6) & 1, 0);
}

}  // namespace
