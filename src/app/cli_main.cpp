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
#include "platform/serial_port.h"

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
  std::string serialPort;
  int printerMode = -1;
  std::string printerDir;
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "pellucidore-cli: " << message << "\n";
  std::exit(2);
}

class CliHooks : public PeriodHooks {};

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
  app.add_option("--serial", opt.serialPort, "Host serial port for the serial interface (e.g. /dev/ttyUSB0)");
  app.add_option("--printer-mode", opt.printerMode,
                 "Printer port: 0 not connected, 1 default printer, 2 RTF file, 3 LPT, 4 BIN file, 5 Digiblaster")
      ->check(CLI::Range(0, 5));
  app.add_option("--printer-dir", opt.printerDir, "Folder for printer output files (implies RTF printing)");
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

  long periods = 5 * kPeriodsPerSecond;
  if (opt.frames >= 0) periods = opt.frames;
  if (opt.seconds >= 0) periods = std::lround(opt.seconds * kPeriodsPerSecond);

  auto machine = CreateMachine(config);
  CliHooks hooks;

  // SERIAL, PARMODE and PRINTDIR unless the options say otherwise. Failing
  // host devices are switched off, as in the window, and said so.
  {
    const std::string port = opt.serialPort.empty() ? settings.SERIAL : opt.serialPort;
    const std::string message = SerialOpen(machine->Serial, port, MakeHostSerialPort());
    if (!message.empty()) std::cerr << "pellucidore-cli: " << message << "\n";
  }
  uint32_t printerMode = config.PrinterMode;
  if (opt.printerMode >= 0)
    printerMode = static_cast<uint32_t>(opt.printerMode);
  else if (!opt.printerDir.empty())
    printerMode = kPrinterRtfFile;
  machine->Printer.PrintDir = opt.printerDir.empty() ? fs::path(settings.PRINTDIR) : fs::path(opt.printerDir);
  if (const std::string message = PrinterSetMode(*machine, printerMode); !message.empty())
    std::cerr << "pellucidore-cli: " << message << "\n";

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
  PrinterStop(*machine);  // completes (or removes) the print file
  SerialClose(machine->Serial);

  if (opt.benchmark) {
    const double emulated = static_cast<double>(periods) * 0.02 * machine->MicrosecondsPerTick / 20000.0;
    const long percent = wall > 0 ? std::lround(emulated / wall * 100.0) : 0;
    std::printf("periods: %ld, machine time: %.2f s, wall time: %.3f s\n", periods, emulated, wall);
    std::printf("emulated speed: %ld%% of real time\n", percent);
  }
  return 0;
}
