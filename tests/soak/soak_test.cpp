// Long runs from random machine states with every device fitted: random RAM,
// random registers and random port writes, both drives holding writable
// copies of disk images, the SymbiFace II with two new hard disk images and
// its persistent memory, the printer port in one of its modes (RTF file, BIN
// file, Digiblaster, not connected), and bursts of floppy and IDE commands
// between frames. The
// loop must never crash, never take unbounded time over a frame, and never
// write anything but the image files (whose sizes stay as they were) and
// the printer's documents in the print folder.
//
// PELLUCIDORE_SOAK_FRAMES sets the frames per machine (default 1000, a few
// seconds for the whole test); for a long run, e.g.
//   PELLUCIDORE_SOAK_FRAMES=200000 build/pellucidore_tests --gtest_filter='Soak*'
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "core/emulation_thread.h"
#include "core/machine.h"
#include "storage/disk_builders.h"
#include "storage/new_images.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A frame is 20 ms of CPC time and runs in well under a millisecond; a frame
// still running after this long is a hung loop, even under the sanitizers.
constexpr auto kFrameLimit = std::chrono::seconds(20);

int SoakFrames() {
  const char* v = std::getenv("PELLUCIDORE_SOAK_FRAMES");
  const int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 1000;
}

fs::path SharedDir() { return PELLUCIDORE_SHARED_DIR; }

// Every file under dir with its size.
std::map<std::string, uintmax_t> Listing(const fs::path& dir) {
  std::map<std::string, uintmax_t> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    files[it->path().string()] = it->is_regular_file() ? it->file_size() : 0;
  return files;
}

// Ends the test binary when a frame does not finish: a hang would otherwise
// hold CI until its own time-out, with no word about where.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    stop_ = true;
    thread_.join();
  }
  void FrameStarts(uint32_t seed, int frame) {
    seed_ = seed;
    frame_ = frame;
    start_ = Clock::now().time_since_epoch().count();
  }
  void FrameEnds() { start_ = 0; }

 private:
  void Watch() {
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const auto start = start_.load();
      if (start != 0 && Clock::now().time_since_epoch().count() - start >
                            std::chrono::duration_cast<Clock::duration>(kFrameLimit).count()) {
        std::fprintf(stderr, "soak: machine %u hangs in frame %d\n", seed_.load(), frame_.load());
        std::abort();
      }
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<Clock::rep> start_{0};
  std::atomic<uint32_t> seed_{0};
  std::atomic<int> frame_{0};
  std::thread thread_;
};

// Disk images the machines may write: copies of the shared test disks when
// present, else built ones.
std::vector<std::string> DiskImages(const disktest::TempDir& dir) {
  std::vector<std::string> paths;
  for (const char* name : {"hello.dsk", "TEST-CAT.DSK"}) {
    const fs::path source = SharedDir() / "testdata" / "dsk" / name;
    const std::string target = dir.Path(name);
    std::error_code ec;
    if (fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec)) {
      fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
      paths.push_back(target);
    }
  }
  if (paths.size() < 2) {
    paths = {dir.File("a.dsk", disktest::StandardDsk(disktest::DataTracks(40))),
             dir.File("b.dsk", disktest::ExtendedDsk(disktest::DataTracks(42)))};
  }
  return paths;
}

void Randomise(Machine& m, std::mt19937& rng) {
  auto byte = [&] { return static_cast<uint8_t>(rng()); };
  for (uint8_t& b : m.Memory.BaseRam) b = byte();
  for (size_t i = 0; i < 8 * 4 * kBlockSize; ++i) m.Memory.ExpansionRam[i] = byte();
  // Whatever the program left in the devices: writes to random ports reach
  // every device whose address bits they match.
  for (int i = 0; i < 400; ++i) Z80Out(m, static_cast<uint16_t>(rng()), byte());
  Z80Registers& r = m.Z80;
  for (Z80Pair* p : {&r.AF, &r.BC, &r.DE, &r.HL, &r.IX, &r.IY, &r.AF2, &r.BC2, &r.DE2, &r.HL2})
    p->W = static_cast<uint16_t>(rng());
  r.PC = static_cast<uint16_t>(rng());
  r.SP = static_cast<uint16_t>(rng());
  r.R = byte();
  r.I = byte();
  r.IM = static_cast<uint8_t>(rng() % 3);
  r.IFF1 = r.IFF2 = static_cast<uint8_t>(rng() & 1);
  UnpackFlags(r);
}

// A program's floppy traffic, as the Z80 would send it: a random command
// aimed at a sector under the drive's head (or a seek elsewhere), its data
// phase and its result.
void FloppyBurst(Machine& m, std::mt19937& rng) {
  static constexpr uint8_t kCommands[] = {0x45, 0x45, 0x46, 0x42, 0x4A, 0x0F, 0x07, 0x08, 0x04, 0x03};
  auto drain = [&](int budget) {
    for (; budget > 0; --budget) {
      const uint8_t msr = Z80In(m, disktest::kStatusPort);
      if (!(msr & 0x80) && (msr & 0x10)) {
        // The disk turns while the program polls (the bursts run between periods).
        m.ClockAtTick += 16;
        continue;
      }
      if (!(msr & 0x80)) break;
      if (msr & 0x40)
        Z80In(m, disktest::kDataPort);  // data or result bytes for the CPU
      else if (msr & 0x20)
        Z80Out(m, disktest::kDataPort, static_cast<uint8_t>(rng()));  // data to write
      else
        break;  // ready for a command
    }
  };
  drain(20000);
  const uint8_t drive = static_cast<uint8_t>(rng() & 1);
  const DriveImage& d = m.Fdc.Drives[drive];
  const int32_t head = m.Fdc.Track[drive];
  const uint32_t track = head >= 0 && static_cast<uint32_t>(head) < d.TrackCount ? static_cast<uint32_t>(head) : 0;
  SectorId id{static_cast<uint8_t>(rng()), 0, static_cast<uint8_t>(rng()), 2};
  if (SectorCountOf(d, track) > 0) id = SectorIdOf(d, track, rng() % SectorCountOf(d, track));
  Z80Out(m, disktest::kMotorPort, 1);
  const uint8_t command = kCommands[rng() % std::size(kCommands)];
  const uint8_t bytes[9] = {command, drive, command == 0x0F ? static_cast<uint8_t>(rng() % 45) : id.C, id.H,
                            id.R,    id.N,  static_cast<uint8_t>(id.R + rng() % 3),                 0x2A, 0xFF};
  for (uint8_t b : bytes) Z80Out(m, disktest::kDataPort, b);
  drain(20000);
}

// The same for the hard disks: a random read, write, seek or identify
// anywhere on either drive, some of it beyond the end of the image.
void HardDiskBurst(Machine& m, std::mt19937& rng) {
  static constexpr uint8_t kCommands[] = {0x20, 0x30, 0x30, 0x70, 0x10, 0xEC, 0xE0};
  const uint8_t command = kCommands[rng() % std::size(kCommands)];
  Z80Out(m, 0xFD0A, static_cast<uint8_t>(1 + rng() % 2));
  Z80Out(m, 0xFD0B, static_cast<uint8_t>(rng() % 8));
  Z80Out(m, 0xFD0C, static_cast<uint8_t>(rng() % 8));
  Z80Out(m, 0xFD0D, static_cast<uint8_t>(rng() % 16 == 0 ? rng() : 0));
  Z80Out(m, 0xFD0E, static_cast<uint8_t>(0xA0 | (rng() & 0x50)));  // either drive, LBA or not
  Z80Out(m, 0xFD0F, command);
  for (int budget = 3 * 512; budget > 0 && (Z80In(m, 0xFD06) & kIdeDrq); --budget) {
    if (command == 0x30)
      Z80Out(m, 0xFD08, static_cast<uint8_t>(rng()));
    else
      Z80In(m, 0xFD08);
  }
}

struct SoakConfig {
  uint32_t Seed;
  uint32_t CrtcType;
  int32_t RamBankLimit;
  bool Ram4Mb;
  uint32_t Z80Multiplier;
  uint32_t PrinterMode;
  const char* PrintExtension;  // of the documents the mode writes, or null
};

void PrintTo(const SoakConfig& c, std::ostream* os) {
  *os << "seed " << c.Seed << ", CRTC " << c.CrtcType << ", printer mode " << c.PrinterMode;
}

class Soak : public ::testing::TestWithParam<SoakConfig> {};

TEST_P(Soak, RandomMachineRunsWithEveryDeviceFitted) {
  const SoakConfig& c = GetParam();
  disktest::TempDir dir;
  const std::vector<std::string> images = DiskImages(dir);
  const bool firmware = fs::exists(SharedDir() / "roms" / "6128Low.ROM");

  MachineConfig config;
  config.RomDir = firmware ? SharedDir() / "roms" : fs::path(dir.Path("no-roms"));
  config.CrtcType = c.CrtcType;
  config.RamBankLimit = c.RamBankLimit;
  config.Ram4Mb = c.Ram4Mb;
  config.Z80Multiplier = c.Z80Multiplier;
  config.LightPen = true;
  config.SymbifaceEnabled = true;
  std::unique_ptr<Machine> m = CreateMachine(config);
  std::mt19937 rng(c.Seed);
  if (!firmware) {
    for (uint8_t& b : m->Memory.LowerRom) b = static_cast<uint8_t>(rng());
    for (uint8_t& b : m->Memory.UpperRomImage[0]) b = static_cast<uint8_t>(rng());
  }
  for (int drive = 0; drive < 2; ++drive) {
    ASSERT_EQ(OpenDiskFile(m->Fdc.Drives[drive], images[drive]).Status, InsertStatus::Inserted) << images[drive];
    m->Fdc.Drives[drive].WriteProtected = 0;
  }
  const std::string hdd0 = dir.Path("master.img"), hdd1 = dir.Path("slave.img");
  ASSERT_TRUE(WriteNewHdd(hdd0, 1).Ok());
  ASSERT_TRUE(WriteNewHdd(hdd1, 2).Ok());
  const std::string startDir = dir.Path("start");
  fs::create_directory(startDir);
  SymbifaceStart(*m, startDir, hdd0, hdd1);
  ASSERT_TRUE(m->Symbiface.Drive[0].Present && m->Symbiface.Drive[1].Present);
  const fs::path printDir = dir.Path("prints");
  fs::create_directory(printDir);
  m->Printer.PrintDir = printDir;
  ASSERT_EQ(PrinterSetMode(*m, c.PrinterMode), "");
  const std::vector<uint8_t> imageA = disktest::ReadFile(images[0]), imageB = disktest::ReadFile(images[1]);
  const std::vector<uint8_t> master = disktest::ReadFile(hdd0), slave = disktest::ReadFile(hdd1);
  // Relative paths would land in the working directory: make it one of ours.
  const fs::path oldWorkingDir = fs::current_path();
  fs::create_directory(dir.Path("cwd"));
  fs::current_path(dir.Path("cwd"));
  struct Restore {
    fs::path Dir;
    ~Restore() { fs::current_path(Dir); }
  } restore{oldWorkingDir};
  std::map<std::string, uintmax_t> before = Listing(dir.Path(""));
  std::erase_if(before, [&](const auto& f) { return f.first.rfind(printDir.string() + "/", 0) == 0; });
  Randomise(*m, rng);

  PeriodHooks hooks;
  Watchdog watchdog;
  const int frames = SoakFrames();
  auto slowest = Clock::duration::zero();
  for (int frame = 0; frame < frames; ++frame) {
    watchdog.FrameStarts(c.Seed, frame);
    const auto start = Clock::now();
    RunPeriod(*m, hooks);
    slowest = std::max(slowest, Clock::now() - start);
    watchdog.FrameEnds();
    if (frame % 4 == 0) FloppyBurst(*m, rng);
    if (frame % 4 == 2) HardDiskBurst(*m, rng);
    // Keys held and let go at random, as a user at the keyboard would.
    if (frame % 3 == 0) MatrixPress(m->Keyboard, rng() % 10, rng() % 8);
    if (frame % 5 == 0) KeyboardReset(m->Keyboard);
    if (frame % 97 == 96) Randomise(*m, rng);  // and start again from chaos
  }
  EXPECT_LT(slowest, kFrameLimit);
  for (int drive = 0; drive < 2; ++drive) {
    EXPECT_EQ(m->Fdc.Drives[drive].WriteFailed, 0) << images[drive];
    EjectDisk(m->Fdc.Drives[drive]);
  }
  // Shutdown writes the card's memory, the one file besides the images.
  EXPECT_EQ(SymbifaceEnd(*m, startDir), "");
  EXPECT_EQ(fs::file_size(fs::path(startDir) / kSymbifacePersistentFile), 524288u + 256u);
  fs::remove(fs::path(startDir) / kSymbifacePersistentFile);
  // The printer's documents: only its own kind, only in the print folder.
  PrinterStop(*m);
  for (const auto& [path, size] : Listing(printDir)) {
    const fs::path p(path);
    EXPECT_TRUE(c.PrintExtension && p.extension() == c.PrintExtension && p.filename().string().rfind("CPC", 0) == 0)
        << path;
    fs::remove(p);
  }
  // A Format Track that changes a track's size rewrites a floppy image whole,
  // so those may grow or shrink; they must still open as disks. Everything
  // else keeps its size, and no file comes or goes.
  std::map<std::string, uintmax_t> after = Listing(dir.Path(""));
  for (int drive = 0; drive < 2; ++drive) {
    DriveImage reopened{};
    EXPECT_EQ(OpenDiskFile(reopened, images[drive]).Status, InsertStatus::Inserted) << images[drive];
    EjectDisk(reopened);
    after[images[drive]] = before[images[drive]];
  }
  EXPECT_EQ(after, before) << "files other than the floppy images, or their sizes, changed";
  // The bursts' Write Data commands reached at least one image file.
  EXPECT_TRUE(disktest::ReadFile(images[0]) != imageA || disktest::ReadFile(images[1]) != imageB);
  EXPECT_TRUE(disktest::ReadFile(hdd0) != master || disktest::ReadFile(hdd1) != slave);
  RecordProperty("slowest_frame_us",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(slowest).count()));
}

INSTANTIATE_TEST_SUITE_P(Seeds, Soak,
                         ::testing::Values(SoakConfig{1, 0, 0, false, 1, kPrinterRtfFile, ".rtf"},
                                           SoakConfig{2, 1, 7, false, 1, kPrinterBinFile, ".bin"},
                                           SoakConfig{3, 2, -1, false, 3, kPrinterDigiblaster, nullptr},
                                           SoakConfig{4, 0, 0, true, 1, kPrinterNotConnected, nullptr}),
                         [](const auto& info) { return "Seed" + std::to_string(info.param.Seed); });

}  // namespace
