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
#include "storage/new_images.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPeriodsPerSecond = 50;

struct CliOptions {
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
  app.add_option("--rom-dir", opt.romDir, "Folder holding the ROM images (default: ROMS in the working directory)");
  app.add_option("--frames", opt.frames, "Run this many 20 ms periods")->check(CLI::NonNegativeNumber);
  app.add_option("--seconds", opt.seconds, "Run this many seconds of machine time")->check(CLI::NonNegativeNumber);
  app.add_option("--speed", opt.speedPercent, "Machine speed in percent of a real CPC (0 freezes it)")
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
  auto* symbiface = app.add_flag("--symbiface", opt.symbiface, "Fit the SymbiFace II card");
  app.add_option("--hdd0", opt.hdd0, "SymbiFace II master hard disk image")->needs(symbiface);
  app.add_option("--hdd1", opt.hdd1, "SymbiFace II slave hard disk image")->needs(symbiface);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    Fail(e.what());
  }

  if (!opt.newDsk.empty() || !opt.newHdd.empty()) return MakeNewImage(opt);

  MachineConfig config;
  config.RomDir = opt.romDir.empty() ? fs::path("ROMS") : fs::path(opt.romDir);
  std::error_code ec;
  if (!fs::is_directory(config.RomDir, ec)) Fail("ROM folder not found: " + config.RomDir.string());
  if (!fs::is_regular_file(config.RomDir / config.LowerRom, ec))
    Fail("lower ROM not found: " + (config.RomDir / config.LowerRom).string());
  config.MicrosecondsPerTick = static_cast<uint32_t>(opt.speedPercent) * 200;

  long periods = 5 * kPeriodsPerSecond;
  if (opt.frames >= 0) periods = opt.frames;
  if (opt.seconds >= 0) periods = std::lround(opt.seconds * kPeriodsPerSecond);

  auto machine = CreateMachine(config);
  CliHooks hooks;

  // The card's memory lives in the start directory, as in the program.
  const fs::path startDir = fs::current_path(ec);
  if (opt.symbiface) {
    const bool dipSwitch[8] = {true, true, true, true, true, true, true, true};
    SymbifaceConfigure(machine->Memory, true, dipSwitch);
    SymbifaceStart(*machine, startDir, {}, {});
    for (int drive = 0; drive < 2; ++drive) {
      const std::string& path = drive == 0 ? opt.hdd0 : opt.hdd1;
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
  if (opt.symbiface) {
    if (std::string error = SymbifaceEnd(*machine, startDir); !error.empty())
      std::cerr << "pellucidore-cli: " << error << "\n";
  }

  if (opt.benchmark) {
    const double emulated = static_cast<double>(periods) * 0.02 * machine->MicrosecondsPerTick / 20000.0;
    const long percent = wall > 0 ? std::lround(emulated / wall * 100.0) : 0;
    std::printf("periods: %ld, machine time: %.2f s, wall time: %.3f s\n", periods, emulated, wall);
    std::printf("emulated speed: %ld%% of real time\n", percent);
  }
  return 0;
}
