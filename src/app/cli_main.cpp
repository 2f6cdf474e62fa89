// pellucidore-cli: the machine without a window, for scripts, tests and
// benchmarks. Exit status 0 on success, 2 on bad arguments or unreadable
// files (with a one-line message on stderr).
#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "core/emulation_thread.h"
#include "core/machine.h"
#include "devices/screen_text.h"
#include "frontend/settings.h"
#include "platform/image_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPeriodsPerSecond = 50;

struct CliOptions {
  std::string startDir;
  std::string profile;
  std::string romDir;
  int frames = -1;
  double seconds = -1;
  int speedPercent = 100;
  bool benchmark = false;
  std::string diskA, diskB, zipMember;
  bool writable = false;
  std::string screenshot;
  bool screenText = false;
  std::string monitor;  // default: MONITOR
  bool singleScanLine = false;
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "pellucidore-cli: " << message << "\n";
  std::exit(2);
}

class CliHooks : public PeriodHooks {};

// Inserts a DSK file or an archive's DSK member, as the window's Load item
// does; the message boxes become lines on stderr. A path from the settings
// that no longer exists is skipped silently, as at the window's start-up.
void InsertDrive(DriveImage& drive, const std::string& path, const std::string& member, bool explicitPath) {
  std::vector<std::string> choices;
  const InsertResult r = InsertDiskPath(drive, path, member, &choices);
  for (const std::string& message : r.Messages) std::cerr << "pellucidore-cli: " << message << "\n";
  switch (r.Status) {
    case InsertStatus::Inserted: return;
    case InsertStatus::Missing:
      if (explicitPath) Fail("disk image not found: " + path);
      return;
    case InsertStatus::Refused: std::exit(2);
    case InsertStatus::Choose: {
      std::string list;
      for (const std::string& c : choices) list += (list.empty() ? "" : ", ") + c;
      Fail("several DSK files inside " + path + " (" + list + "): choose one with --zip-member");
    }
  }
}

// Puts every written byte into the image files before the process ends.
void CloseDrives(Machine& m) {
  for (DriveImage& drive : m.Fdc.Drives) {
    EjectDisk(drive);
    if (drive.WriteFailed) Fail("could not write to disk image " + drive.DiskPath);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Pellucidore: Amstrad CPC 464/664/6128 emulator, headless runner", "pellucidore-cli"};
  CliOptions opt;
  app.add_option("--start-dir", opt.startDir,
                 "Folder holding Pellux.ini and the default folders (default: the working directory)");
  app.add_option("--profile", opt.profile, "Machine profile to read instead of the last one (a .pfl file)");
  app.add_option("--rom-dir", opt.romDir, "Folder holding the ROM images (default: ROMDIR of Pellux.ini)");
  app.add_option("--frames", opt.frames, "Run this many 20 ms periods")->check(CLI::NonNegativeNumber);
  app.add_option("--seconds", opt.seconds, "Run this many seconds of machine time")->check(CLI::NonNegativeNumber);
  auto* speedOption = app.add_option("--speed", opt.speedPercent,
                                     "Machine speed in percent of a real CPC (0 freezes it; default: CPUSPEED)")
                          ->check(CLI::Range(0, 1000));
  app.add_flag("--benchmark", opt.benchmark, "Run unthrottled and print the emulated speed");
  app.add_option("--disk-a", opt.diskA, "DSK image or ZIP archive for drive A (default: FDD0 of the settings)");
  app.add_option("--disk-b", opt.diskB, "DSK image or ZIP archive for drive B (default: FDD1 of the settings)");
  app.add_option("--zip-member", opt.zipMember, "The DSK member to use when an archive holds several");
  app.add_flag("--writable", opt.writable, "Drives not write protected, whatever WRPROTECTION0/1 say");
  app.add_option("--screenshot", opt.screenshot, "Write the picture after the run (.png or .bmp)");
  app.add_flag("--screen-text", opt.screenText, "Print the characters on the CPC screen after the run");
  app.add_option("--monitor", opt.monitor, "Monitor: colour or green (default: MONITOR)")->check(CLI::IsMember({"colour", "green"}));
  app.add_flag("--single-scan-line", opt.singleScanLine, "Leave every other picture row dark");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    Fail(e.what());
  }

  // The settings and the profile are read, never written: the runner must
  // not change a start directory it was pointed at.
  std::error_code ec;
  const fs::path startDir = opt.startDir.empty() ? fs::current_path(ec) : fs::path(opt.startDir);
  if (!fs::is_directory(startDir, ec)) Fail("start folder not found: " + startDir.string());
  Settings settings = DefaultSettings(startDir);
  LoadSettings(settings, MissingFile::Leave);
  if (!opt.profile.empty()) {
    fs::path profile = opt.profile;
    // A bare name that is not in the working folder is looked for in PFLDIR.
    if (!fs::exists(profile, ec) && !profile.has_parent_path()) profile = fs::path(settings.PFLDIR) / profile;
    if (!fs::is_regular_file(profile, ec)) Fail("profile not found: " + opt.profile);
    LoadProfileFile(settings, profile);
  } else {
    LoadProfile(settings, MissingFile::Leave);
  }
  if (!opt.romDir.empty()) settings.ROMDIR = opt.romDir;

  MachineConfig config = MachineConfigFromSettings(settings);
  if (!fs::is_directory(config.RomDir, ec)) Fail("ROM folder not found: " + config.RomDir.string());
  if (!fs::is_regular_file(config.RomDir / config.LowerRom, ec))
    Fail("lower ROM not found: " + (config.RomDir / config.LowerRom).string());
  if (speedOption->count() > 0) config.MicrosecondsPerTick = static_cast<uint32_t>(opt.speedPercent) * 200;
  if (!opt.monitor.empty()) config.Monitor = opt.monitor == "green" ? kMonitorGreen : kMonitorColour;
  if (opt.singleScanLine) config.DoubleScanLine = false;
  if (!opt.screenshot.empty() && ImageFormatOf(opt.screenshot) == ImageFormat::Unknown)
    Fail("unknown picture format (use .png or .bmp): " + opt.screenshot);

  long periods = 5 * kPeriodsPerSecond;
  if (opt.frames >= 0) periods = opt.frames;
  if (opt.seconds >= 0) periods = std::lround(opt.seconds * kPeriodsPerSecond);

  auto machine = CreateMachine(config);
  {
    DriveImage* drives = machine->Fdc.Drives;
    drives[0].WriteProtected = settings.WRPROTECTION0 && !opt.writable;
    drives[1].WriteProtected = settings.WRPROTECTION1 && !opt.writable;
    if (!opt.diskA.empty() || !settings.FDD0.empty())
      InsertDrive(drives[0], opt.diskA.empty() ? settings.FDD0 : opt.diskA,
                  opt.diskA.empty() ? settings.COMPRFDD0 : opt.zipMember, !opt.diskA.empty());
    if (!opt.diskB.empty() || !settings.FDD1.empty())
      InsertDrive(drives[1], opt.diskB.empty() ? settings.FDD1 : opt.diskB,
                  opt.diskB.empty() ? settings.COMPRFDD1 : opt.zipMember, !opt.diskB.empty());
  }
  CliHooks hooks;

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto next = start;
  for (long i = 0; i < periods; ++i) {
    RunPeriod(*machine, hooks);
    if (!opt.benchmark) {
      next += std::chrono::milliseconds(20);
      std::this_thread::sleep_until(next);
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  CloseDrives(*machine);

  if (opt.benchmark) {
    const double emulated = static_cast<double>(periods) * 0.02 * machine->MicrosecondsPerTick / 20000.0;
    const long percent = wall > 0 ? std::lround(emulated / wall * 100.0) : 0;
    std::printf("periods: %ld, machine time: %.2f s, wall time: %.3f s\n", periods, emulated, wall);
    std::printf("emulated speed: %ld%% of real time\n", percent);
  }
  if (!opt.screenshot.empty()) {
    const ImageResult written = WriteImage(opt.screenshot, &machine->Video.FrameBitmap[0][0], kFrameWidth,
                                           kFrameHeight, FramePalette());
    if (!written.Ok) Fail(written.Error);
  }
  if (opt.screenText) {
    for (const std::string& line : ScreenText(*machine)) std::printf("%s\n", line.c_str());
  }
  return 0;
}
