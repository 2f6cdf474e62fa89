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
#include "platform/serial_port.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPeriodsPerSecond = 50;

struct CliOptions {
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
  app.add_option("--rom-dir", opt.romDir, "Folder holding the ROM images (default: ROMS in the working directory)");
  app.add_option("--frames", opt.frames, "Run this many 20 ms periods")->check(CLI::NonNegativeNumber);
  app.add_option("--seconds", opt.seconds, "Run this many seconds of machine time")->check(CLI::NonNegativeNumber);
  app.add_option("--speed", opt.speedPercent, "Machine speed in percent of a real CPC (0 freezes it)")
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

  // Failing host devices are switched off, as in the window, and said so.
  if (!opt.serialPort.empty()) {
    const std::string message = SerialOpen(machine->Serial, opt.serialPort, MakeHostSerialPort());
    if (!message.empty()) std::cerr << "pellucidore-cli: " << message << "\n";
  }
  if (opt.printerMode < 0 && !opt.printerDir.empty()) opt.printerMode = kPrinterRtfFile;
  if (opt.printerMode >= 0) {
    if (!opt.printerDir.empty()) machine->Printer.PrintDir = opt.printerDir;
    const std::string message = PrinterSetMode(*machine, static_cast<uint32_t>(opt.printerMode));
    if (!message.empty()) std::cerr << "pellucidore-cli: " << message << "\n";
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
