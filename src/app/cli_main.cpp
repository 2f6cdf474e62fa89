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

#include "core/emulation_thread.h"
#include "core/machine.h"
#include "frontend/settings.h"
#include "storage/new_images.h"

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
  std::string newDsk, dskFormat = "system", newHdd, sizeMb;
  std::string hdd0, hdd1;
  bool symbiface = false;
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "pellucidore-cli: " << message << "\n";
  std::exit(2);
}

class CliHooks : public PeriodHooks {};

// --new-dsk / --new-hdd: write the blank image and report its final name.
int MakeNewImage(const CliOptions& opt) {
  ImageWriteResult r;
  if (!opt.newDsk.empty()) {
    const NewDiskFormat format = opt.dskFormat == "data"     ? NewDiskFormat::Data
                                 : opt.dskFormat == "vendor" ? NewDiskFormat::Vendor
                                                             : NewDiskFormat::System;
    r = WriteNewDsk(opt.newDsk, format);
  } else {
    const auto size = ParseHddSizeMb(opt.sizeMb);
    if (!size) Fail("--size-mb must be a whole number from 1 to 60000");
    r = WriteNewHdd(opt.newHdd, *size);
  }
  if (!r.Ok()) Fail(r.Error);
  std::printf("%s\n", r.Written.c_str());
  return 0;
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
  auto* newDsk = app.add_option("--new-dsk", opt.newDsk, "Write a blank formatted DSK image and exit");
  app.add_option("--format", opt.dskFormat, "Format of --new-dsk: system, data or vendor")
      ->check(CLI::IsMember({"system", "data", "vendor"}))
      ->needs(newDsk);
  auto* newHdd = app.add_option("--new-hdd", opt.newHdd, "Write a blank FAT16 hard disk image and exit")
                     ->excludes(newDsk);
  auto* sizeMb = app.add_option("--size-mb", opt.sizeMb, "Size of --new-hdd in MB (1-60000)")->needs(newHdd);
  newHdd->needs(sizeMb);
  app.add_flag("--symbiface", opt.symbiface, "Fit the SymbiFace II card");
  app.add_option("--hdd0", opt.hdd0, "SymbiFace II master hard disk image (default: HDD0PATH)");
  app.add_option("--hdd1", opt.hdd1, "SymbiFace II slave hard disk image (default: HDD1PATH)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    Fail(e.what());
  }

  if (!opt.newDsk.empty() || !opt.newHdd.empty()) return MakeNewImage(opt);

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
  if (opt.symbiface) config.SymbifaceEnabled = true;
  if ((!opt.hdd0.empty() || !opt.hdd1.empty()) && !config.SymbifaceEnabled)
    Fail("--hdd0 and --hdd1 need the SymbiFace II (--symbiface)");

  long periods = 5 * kPeriodsPerSecond;
  if (opt.frames >= 0) periods = opt.frames;
  if (opt.seconds >= 0) periods = std::lround(opt.seconds * kPeriodsPerSecond);

  auto machine = CreateMachine(config);
  CliHooks hooks;

  // The card's memory is read from the start directory but, like the
  // settings, not written back. Images named on the command line must open;
  // those from the profile are simply absent when missing, as in the program.
  if (config.SymbifaceEnabled) {
    SymbifaceStart(*machine, startDir, settings.HDD0PATH, settings.HDD1PATH);
    for (int drive = 0; drive < 2; ++drive) {
      const std::string& path = drive == 0 ? opt.hdd0 : opt.hdd1;
      if (path.empty()) continue;
      if (std::string error = SymbifaceOpenImage(machine->Symbiface, drive, path); !error.empty()) Fail(error);
    }
  }

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
  SymbifaceCloseImages(machine->Symbiface);

  if (opt.benchmark) {
    const double emulated = static_cast<double>(periods) * 0.02 * machine->MicrosecondsPerTick / 20000.0;
    const long percent = wall > 0 ? std::lround(emulated / wall * 100.0) : 0;
    std::printf("periods: %ld, machine time: %.2f s, wall time: %.3f s\n", periods, emulated, wall);
    std::printf("emulated speed: %ld%% of real time\n", percent);
  }
  return 0;
}
