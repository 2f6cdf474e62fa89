// pellucidore-cli: the machine without a window, for scripts, tests and
// benchmarks. Exit status 0 on success, 2 on bad arguments or unreadable
// files (with a one-line message on stderr).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "core/machine.h"
#include "debugger/csl.h"
#include "debugger/run_control.h"
#include "devices/screen_text.h"
#include "core/builtin_roms.h"
#include "frontend/autorun.h"
#include "frontend/autotype.h"
#include "frontend/benchmark.h"
#include "frontend/cpc_key_names.h"
#include "frontend/machine_models.h"
#include "frontend/open_files.h"
#include "frontend/settings.h"
#include "host/session.h"
#include "host/version.h"
#include "storage/new_images.h"
#include "platform/image_writer.h"
#include "storage/snapshot.h"
#include "storage/tape.h"


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
  bool speedGiven = false;
  bool benchmark = false;
  std::string serialPort;
  int printerMode = -1;
  std::string printerDir;
  std::string newDsk, dskFormat = "system", newHdd, sizeMb;
  std::string hdd0, hdd1;
  bool symbiface = false;
  std::string diskA, diskB, zipMember;
  bool writable = false;
  std::string screenshot;
  bool screenText = false;
  std::string monitor;  // default: MONITOR
  bool singleScanLine = false;
  std::string typeText;
  double typeDelay = 1.5;  // emulated seconds: the 6128 firmware is at "Ready" by then
  std::string wavFile;
  int sampleRate = 0;  // --sample-rate; 0: the profile's, else 44100
  std::string aviFile;
  std::string aviCodec = "rawvideo";
  std::string romLow;
  std::vector<std::string> romUpper;  // SLOT=NAME
  std::string snapshot;      // loaded before the run
  std::string saveSnapshot;  // written after it
  int snapshotVersion = kSnapshotDefaultVersion;
  std::string model;         // --model: 464, 664, 6128, 6128-4mb
  bool autorun = false;
  std::vector<std::string> files;  // disk images, archives, snapshots, by content
  std::string tape;          // played when the motor starts
  std::string tapeRecord;    // recorded and written after the run
  bool noFastTape = false;
  RunControlOptions control;  // breakpoints, conditions that end the run, traces, dumps
  std::string csl;                   // script run unattended; the run ends with it
  bool ssm = false;                  // honour SSM screenshot requests
  std::string screenshotDir;         // SSM and script pictures (default: STILLSDIR)
  std::vector<std::string> presses;  // KEY@SECONDS
  std::vector<std::string> joystick; // DIR@SECONDS
};

[[noreturn]] void Fail(const std::string& message);

// --press and --joystick: a key held from At for kTimedKeyHold microseconds.
// 100 ms spans five firmware scans, more than the two a press needs.
constexpr uint64_t kTimedKeyHold = 100000;
struct TimedKey {
  uint64_t At;
  CpcKeyPosition Key;
  bool Down = false, Done = false;
};

std::vector<TimedKey> ParseTimedKeys(const std::vector<std::string>& args, bool joystick) {
  std::vector<TimedKey> keys;
  for (const std::string& arg : args) {
    const auto at = arg.rfind('@');
    const std::string option = joystick ? "--joystick" : "--press";
    double seconds = -1;
    try {
      size_t used = 0;
      if (at != std::string::npos && at + 1 < arg.size()) seconds = std::stod(arg.substr(at + 1), &used);
      if (at != std::string::npos && used != arg.size() - at - 1) seconds = -1;
    } catch (const std::exception&) {
    }
    if (at == std::string::npos || at == 0 || !(seconds >= 0) || seconds > 1e6)
      Fail(option + " wants " + (joystick ? "DIR" : "KEY") + "@SECONDS: " + arg);
    const std::string name = arg.substr(0, at);
    CpcKeyPosition key;
    if (joystick ? !FindJoystickDirection(name, key) : !FindCpcKey(name, key))
      Fail(joystick ? "unknown joystick direction (UP, DOWN, LEFT, RIGHT, FIRE1, FIRE2): " + name
                    : "unknown CPC key '" + name + "' (keys: " + CpcKeyNameList() + ")");
    keys.push_back({static_cast<uint64_t>(std::llround(seconds * 1e6)), key});
  }
  return keys;
}

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "pellucidore-cli: " << message << "\n";
  std::exit(2);
}

// --type: "\n" is a line end (RETURN, then the LF key AutoType gives every
// line), "\\" a backslash; UTF-8 comes down to the single-byte code page,
// other characters to a space.
std::string TypingText(const std::string& arg) {
  std::string text;
  for (size_t i = 0; i < arg.size(); ++i) {
    const auto c = static_cast<unsigned char>(arg[i]);
    if (c == '\\' && i + 1 < arg.size() && (arg[i + 1] == 'n' || arg[i + 1] == '\\')) {
      text += arg[++i] == 'n' ? "\r\n" : "\\";
    } else if (c == '\n') {
      text += "\r\n";
    } else if (c < 0x80) {
      text += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < arg.size()) {
      text += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(arg[++i]) & 0x3F));
    } else if (c >= 0xC0) {
      text += ' ';
      while (i + 1 < arg.size() && (static_cast<unsigned char>(arg[i + 1]) & 0xC0) == 0x80) ++i;
    }
  }
  return text;
}

// The runner's side of the session: messages become lines on stderr.
class CliHost : public Host {
 public:
  // --benchmark: the window's per-period work, into buffers nobody reads.
  BenchmarkLoad* Bench = nullptr;
  void Audio(Machine& m) override {
    if (!Bench) return;
    Bench->PublishFrame(m);
    Bench->SubmitSound(m);
  }
  void Message(HostMessage, const std::string& text) override { std::cerr << "pellucidore-cli: " << text << "\n"; }
};

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

void ParseArguments(int argc, char** argv, CliOptions& opt) {
  CLI::App app{"Pellucidore: Amstrad CPC 464/664/6128 emulator, headless runner", "pellucidore-cli"};
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
  app.add_option("--disk-a", opt.diskA, "DSK image or ZIP archive for drive A (default: FDD0 of the settings)");
  app.add_option("--disk-b", opt.diskB, "DSK image or ZIP archive for drive B (default: FDD1 of the settings)");
  app.add_option("--zip-member", opt.zipMember, "The DSK member to use when an archive holds several");
  app.add_flag("--writable", opt.writable, "Drives not write protected, whatever WRPROTECTION0/1 say");
  app.add_option("--screenshot", opt.screenshot, "Write the picture after the run (.png, .bmp, .jpg, .jpeg or .gif)");
  app.add_flag("--screen-text", opt.screenText, "Print the characters on the CPC screen after the run");
  app.add_option("--monitor", opt.monitor, "Monitor: colour or green (default: MONITOR)")->check(CLI::IsMember({"colour", "green"}));
  app.add_flag("--single-scan-line", opt.singleScanLine, "Leave every other picture row dark");
  app.add_option("--type", opt.typeText, "Type TEXT through AutoType (\\n = line end)");
  app.add_option("--type-delay", opt.typeDelay, "Emulated seconds before typing starts (default 1.5)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--wav", opt.wavFile, "Record the sound of the run (the profile's format, else 44100 Hz 16-bit stereo)");
  app.add_option("--sample-rate", opt.sampleRate, "Sample rate of --wav and --avi: 22050, 44100 or 48000 Hz")
      ->check(CLI::IsMember({22050, 44100, 48000}));
  app.add_option("--avi", opt.aviFile, "Record the picture and sound of the run into an AVI file");
  app.add_option("--avi-codec", opt.aviCodec, "Video encoder for --avi (default rawvideo, uncompressed)");
  app.add_option("--rom-low", opt.romLow, "Lower ROM image in the ROM folder (default 6128Low.ROM)");
  app.add_option("--rom-upper", opt.romUpper, "Upper ROM slot: SLOT=NAME, 0..15; EMPTY empties it (repeatable)")
      ->take_all();
  app.add_option("--snapshot", opt.snapshot, "Load an SNA snapshot before running");
  auto* saveSnapshot = app.add_option("--save-snapshot", opt.saveSnapshot, "Save an SNA snapshot after the run");
  app.add_option("--snapshot-version", opt.snapshotVersion,
                 "SNA version of --save-snapshot: 3 (default, all RAM), 2, or 1 (64 KB, for older tools)")
      ->check(CLI::IsMember({1, 2, 3}))
      ->needs(saveSnapshot);
  app.add_option("--model", opt.model, "Machine model: 464, 664, 6128 or 6128-4mb (its ROMs and RAM)")
      ->transform([](std::string id) {
        const CpcModel* model = FindModel(id);
        if (!model) throw CLI::ValidationError("--model", "must be 464, 664, 6128 or 6128-4mb: " + id);
        return std::string(model->Id);
      });
  app.add_flag("--autorun", opt.autorun, "Type the command that starts the disk in drive A (RUN\"NAME, |CPM or CAT)");
  app.add_option("files", opt.files,
                 "Disk images (.dsk, .zip) for drives A then B, or a snapshot (.sna), told apart by content");
  auto* tapeOption = app.add_option("--tape", opt.tape,
                                    "Tape image (CDT, TZX, CSW, WAV or VOC); PLAY is pressed whenever the motor starts");
  app.add_option("--tape-record", opt.tapeRecord, "Record what the machine saves to tape into this CDT file")
      ->excludes(tapeOption);
  app.add_flag("--no-fast-tape", opt.noFastTape, "Keep the set speed while the tape plays (default: FASTTAPE)");
  RunControlOptions& rc = opt.control;
  app.add_option("--symbols", rc.symbolsFile, "Symbol file of an assembler: addresses may be given by name");
  app.add_option("--break", rc.breaks,
                 "Stop at ADDR (or ADDR:CONDITION, e.g. 'loop:A==&3F'), print the registers, exit 3");
  app.add_option("--watch", rc.watches, "Stop when memory ADDR, ADDR-ADDR or ADDR+LEN is read or written (:r, :w, :rw)");
  app.add_option("--until-text", rc.untilText, "End the run when the screen shows TEXT (exit 4 if it never does)");
  app.add_option("--until-pc", rc.untilPc, "End the run when the Z80 reaches ADDR (exit 4 if it never does)");
  app.add_option("--until-memory", rc.untilMemory, "End the run when the byte at ADDR is VALUE: ADDR=VALUE (exit 4 if never)");
  app.add_option("--dump-memory", rc.dumps, "After the run, write LEN bytes from ADDR as the Z80 sees them: ADDR:LEN:FILE");
  app.add_option("--trace", rc.traceFile, "Write one line per instruction (address, bytes, text, registers) to FILE");
  app.add_option("--trace-from", rc.traceFrom, "First 20 ms period traced (default 0)")->check(CLI::NonNegativeNumber);
  app.add_option("--trace-frames", rc.traceFrames, "Periods traced (default 1)")->check(CLI::PositiveNumber);
  app.add_option("--csl", opt.csl, "Run a CSL script unattended and unthrottled; the run ends with the script");
  app.add_flag("--ssm", opt.ssm, "Honour SSM screenshot requests (ED LL ED HH) of the program (default: SSMENABLED)");
  app.add_option("--screenshot-dir", opt.screenshotDir, "Folder for SSM and CSL pictures (default: STILLSDIR)");
  app.add_option("--press", opt.presses,
                 "Press a CPC key (key mapper name: A, RETURN, SPACE, COPY, f1, UP, ...) at SECONDS of machine "
                 "time for 0.1 s: KEY@SECONDS (repeatable)");
  app.add_option("--joystick", opt.joystick,
                 "Push joystick 0 (UP, DOWN, LEFT, RIGHT, FIRE1, FIRE2) at SECONDS for 0.1 s: DIR@SECONDS (repeatable)");
  // GNU style: --help and --version on stdout with status 0; a bad
  // argument is one line on stderr that points to --help.
  app.set_version_flag("--version", std::string("pellucidore-cli (Pellucidore) ") + PellucidoreVersion(),
                       "Print the version and exit");
  app.footer(
      "Examples:\n"
      "  pellucidore-cli --rom-dir ROMS --type 'PRINT 6*7\\n' --screen-text\n"
      "  pellucidore-cli --disk-a game.dsk --type 'RUN\"GAME\\n' --seconds 20 --screenshot game.png\n"
      "  pellucidore-cli --profile 464.pfl --tape game.cdt --type 'RUN\"\\n' --seconds 120 --screenshot game.png\n"
      "\nExit status: 0 on success, 2 on bad arguments or unreadable files, 3 when a --break or\n"
      "--watch stopped the run, 4 when an --until condition was not met by the end.\n"
      "The manual page pellucidore-cli(6) and the user manual tell more.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    std::exit(app.exit(e));
  } catch (const CLI::ParseError& e) {
    Fail(std::string(e.what()) + " (try 'pellucidore-cli --help')");
  }
  opt.speedGiven = speedOption->count() > 0;
}

// What the run is: its length and the devices it starts with.
struct RunPlan {
  long periods = 5 * kPeriodsPerSecond;
  bool tapeKey = false;  // SPACE for the firmware's "Press PLAY" when typing ends
  std::vector<TimedKey> timedKeys;  // --press and --joystick
};

// Settings, profile and options into the session: the machine, its devices,
// the typing and the recordings. Anything the user named that cannot be
// used ends the run here, before the machine has run a period.
RunPlan ConfigureSession(Session& session, CliOptions& opt) {
  RunPlan plan;
  // The settings and the profile are read, never written: the runner must
  // not change a start directory it was pointed at.
  std::error_code ec;
  fs::path profile;
  if (!opt.profile.empty()) {
    Settings paths = DefaultSettings(session.StartDir());
    LoadSettings(paths, MissingFile::Leave);
    profile = opt.profile;
    // A bare name that is not in the working folder is looked for in PFLDIR.
    if (!fs::exists(profile, ec) && !profile.has_parent_path()) profile = fs::path(paths.PFLDIR) / profile;
    if (!fs::is_regular_file(profile, ec)) Fail("profile not found: " + opt.profile);
  }
  session.LoadSettings(MissingFile::Leave, profile);
  Settings& settings = session.GetSettings();
  if (!opt.model.empty()) ApplyModel(settings, *FindModel(opt.model));
  if (!opt.romDir.empty()) settings.ROMDIR = opt.romDir;
  // Files by content: disks fill drive A then B, unless named by --disk-a/-b.
  for (const std::string& file : opt.files) {
    const OpenFileKind kind = DetectFileKind(file);
    if (kind == OpenFileKind::Disk || kind == OpenFileKind::Zip) {
      if (opt.diskA.empty()) opt.diskA = file;
      else if (opt.diskB.empty()) opt.diskB = file;
      else Fail("more than two disk images: " + file);
    } else if (kind == OpenFileKind::Snapshot && opt.snapshot.empty()) {
      opt.snapshot = file;
    } else if (kind == OpenFileKind::Snapshot) {
      Fail("more than one snapshot: " + file);
    } else {
      Fail(OpenFileProblem(file, kind) + " (try 'pellucidore-cli --help')");
    }
  }

  MachineConfig config = MachineConfigFromSettings(settings);
  // Without a ROM folder the built-in firmware serves; one asked for must exist.
  if (!opt.romDir.empty() && !fs::is_directory(config.RomDir, ec))
    Fail("ROM folder not found: " + config.RomDir.string());
  if (!opt.romLow.empty()) config.LowerRom = opt.romLow;
  for (const std::string& slotRom : opt.romUpper) {
    const auto eq = slotRom.find('=');
    int slot = -1;
    try {
      if (eq != std::string::npos && eq > 0) slot = std::stoi(slotRom.substr(0, eq));
    } catch (const std::exception&) {
    }
    if (slot < 0 || slot > 15 || eq == std::string::npos || eq + 1 == slotRom.size())
      Fail("--rom-upper wants SLOT=NAME with SLOT 0..15: " + slotRom);
    const std::string name = slotRom.substr(eq + 1);
    if (name != "EMPTY" && LocateRom(config.RomDir, config.BuiltInRomDir, name).empty())
      Fail("upper ROM not found: " + (config.RomDir / name).string());
    config.UpperRoms[slot] = name;
  }
  if (LocateRom(config.RomDir, config.BuiltInRomDir, config.LowerRom).empty())
    Fail("lower ROM not found: " + (config.RomDir / config.LowerRom).string());
  if (opt.speedGiven) config.MicrosecondsPerTick = static_cast<uint32_t>(opt.speedPercent) * 200;
  if (opt.symbiface) config.SymbifaceEnabled = true;
  if ((!opt.hdd0.empty() || !opt.hdd1.empty()) && !config.SymbifaceEnabled)
    Fail("--hdd0 and --hdd1 need the SymbiFace II (--symbiface)");
  if (!opt.monitor.empty()) config.Monitor = opt.monitor == "green" ? kMonitorGreen : kMonitorColour;
  if (opt.singleScanLine) config.DoubleScanLine = false;
  if (!opt.screenshot.empty() && ImageFormatOf(opt.screenshot) == ImageFormat::Unknown)
    Fail("unknown picture format (use .png, .bmp, .jpg or .gif): " + opt.screenshot);

  plan.timedKeys = ParseTimedKeys(opt.presses, false);
  for (const TimedKey& k : ParseTimedKeys(opt.joystick, true)) plan.timedKeys.push_back(k);
  // Without a length given, the run outlasts the last timed key by a second.
  for (const TimedKey& k : plan.timedKeys)
    plan.periods = std::max(plan.periods, static_cast<long>((k.At + kTimedKeyHold) / 20000 + kPeriodsPerSecond));
  if (!opt.csl.empty()) plan.periods = std::numeric_limits<long>::max();
  if (opt.frames >= 0) plan.periods = opt.frames;
  if (opt.seconds >= 0) plan.periods = std::lround(opt.seconds * kPeriodsPerSecond);

  Machine& machine = session.CreateMachine(config);
  // Before the drives: a refused snapshot ends the run with no disk touched.
  if (!opt.snapshot.empty()) {
    const SnapshotResult loaded = LoadSnapshot(machine, opt.snapshot);
    if (!loaded.Ok) Fail(loaded.Error);
    if (!loaded.Warning.empty()) std::cerr << "pellucidore-cli: " << loaded.Warning << "\n";
  }

  // The settings' devices, with what the options name instead. Failing
  // host devices are switched off, as in the window, and said so.
  DeviceSetup devices = DevicesFromSettings(settings);
  const std::string* named[2] = {&opt.diskA, &opt.diskB};
  for (int i = 0; i < 2; ++i) {
    if (opt.writable) devices.WriteProtected[i] = false;
    if (named[i]->empty()) continue;
    devices.Disk[i] = *named[i];
    devices.ZipMember[i] = opt.zipMember;
    devices.DiskNamed[i] = true;
  }
  if (opt.printerMode >= 0)
    devices.PrinterMode = static_cast<uint32_t>(opt.printerMode);
  else if (!opt.printerDir.empty())
    devices.PrinterMode = kPrinterRtfFile;
  if (!opt.printerDir.empty()) devices.PrintDir = opt.printerDir;
  if (!opt.serialPort.empty()) devices.SerialPort = opt.serialPort;
  // The card's memory is read from the start directory but, like the
  // settings, not written back (SessionMode). Images named on the command
  // line must open; those from the profile are simply absent when missing.
  devices.Hdd[0] = settings.HDD0PATH;
  devices.Hdd[1] = settings.HDD1PATH;
  const std::string* hdd[2] = {&opt.hdd0, &opt.hdd1};
  for (int i = 0; i < 2; ++i) {
    if (hdd[i]->empty()) continue;
    devices.Hdd[i] = *hdd[i];
    devices.HddNamed[i] = true;
  }
  if (const SessionError error = session.OpenDevices(devices)) {
    if (error.Message.empty()) std::exit(2);
    Fail(error.Message);
  }

  std::string typed = TypingText(opt.typeText);
  if (opt.autorun && machine.Fdc.Drives[0].Loaded) {
    DriveImage& a = machine.Fdc.Drives[0];
    const std::string command = AutorunCommand(a, a.Source == kSourceZip ? a.ZipMember : a.DiskPath);
    std::cerr << "pellucidore-cli: autorun: " << command << "\n";
    typed = AutoTypeTextFromLines(command) + typed;
  }
  AutoTypePacer& typing = session.Typing();
  const bool typingOn = typing.Start(typed, static_cast<uint64_t>(opt.typeDelay * 1e6));
  // Without a length given, a run that types lasts until the typing is
  // done (100 ms a character at full speed) and one second more.
  if (typingOn && opt.frames < 0 && opt.seconds < 0)
    plan.periods = std::max(plan.periods, std::lround((opt.typeDelay + typing.State().AutoTypeText.size() * 0.1 + 1.0) *
                                                      kPeriodsPerSecond * 20000.0 /
                                                      std::max<uint32_t>(config.MicrosecondsPerTick, 1)));
  const SoundFormat format = session.RecordingFormat(static_cast<uint32_t>(opt.sampleRate));
  if (!opt.wavFile.empty()) {
    if (const std::string error = session.StartWav(opt.wavFile, format); !error.empty()) Fail(error);
  }
  if (!opt.aviFile.empty()) {
    if (const std::string error = session.StartAvi(opt.aviFile, AviOptions{.Encoder = opt.aviCodec}, format);
        !error.empty())
      Fail(error);
  }

  TapeDeck& tape = machine.Tape;
  if (!opt.tape.empty()) {
    TapeLoadResult loaded = LoadTapeImage(opt.tape);
    if (!loaded.Image) Fail(loaded.Error);
    for (const std::string& warning : loaded.Warnings) std::cerr << "pellucidore-cli: " << warning << "\n";
    TapeInsert(tape, std::move(loaded.Image));
    tape.AutoPlay = true;
  }
  if (!opt.tapeRecord.empty()) TapeRecord(tape);
  plan.tapeKey = (!opt.tape.empty() || !opt.tapeRecord.empty()) && typingOn;
  return plan;
}

// The periods, paced at real time unless benchmarking or loading fast from
// tape. Returns the periods run and the wall time they took.
struct RunTimes {
  long periods = 0;
  double wallSeconds = 0;
  double startupSeconds = 0;  // program start to the first period
  bool scriptFailed = false;  // a CSL script stopped on an error
};

RunTimes Run(Session& session, const CliOptions& opt, const RunPlan& plan, RunControl& control) {
  Machine& machine = session.GetMachine();
  TapeDeck& tape = machine.Tape;
  const bool fastTape = session.GetSettings().FASTTAPE && !opt.noFastTape;
  uint64_t machineMicroseconds = 0;
  // The firmware asks "Press PLAY then any key:" (or REC and PLAY) and starts the motor only
  // after the key. When the typing is over and the motor has not run a
  // second later, the runner presses SPACE once for the user; text that
  // already pressed a key has started the motor by then.
  enum class TapeKey { Waiting, Pressed, Done } tapeKey = plan.tapeKey ? TapeKey::Waiting : TapeKey::Done;
  uint64_t tapeKeyAt = 0;
  // Held for three periods: the firmware takes a key only once two of its
  // scans, 20 ms apart, have seen it down.
  constexpr uint64_t kTapeKeyHold = 60000;

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const double startup = SecondsSinceProgramStart();
  auto next = start;
  long periods = plan.periods;
  std::vector<TimedKey> timedKeys = plan.timedKeys;
  const Settings& settings = session.GetSettings();
  // Pictures asked for by the program (SSM) or the script.
  const fs::path pictureDir = opt.screenshotDir.empty() ? fs::path(settings.STILLSDIR) : fs::path(opt.screenshotDir);
  auto writePicture = [&settings](const Machine& m, const fs::path& path) {
    return WriteFramePicture(m, path, settings.JPGQUALITY);
  };
  if (opt.ssm || settings.SSMENABLED) {
    machine.Ssm.Enabled = 1;
    machine.Ssm.Handler = [&](Machine& m, const SsmRequest& r) {
      if (r.Kind != SsmKind::Numbered) return;  // the others need a script
      const fs::path path = pictureDir / (SsmPictureName(m.Crtc.Type, r.Code) + ".png");
      if (const std::string error = writePicture(m, path); !error.empty())
        std::cerr << "pellucidore-cli: " << error << "\n";
    };
  }
  CslRunner script(CslHost{
      .WriteScreenshot = writePicture,
      .SelectCrtc = {},
      .DiskDir = settings.DISKDIR,
      .TapeDir = settings.TAPEDIR,
      .SnapshotDir = settings.SNAPDIR,
      .ScreenshotDir = pictureDir,
      .Message = [](const std::string& line) { std::cerr << "pellucidore-cli: " << line << "\n"; },
  });
  bool scriptFailed = false;
  if (!opt.csl.empty()) {
    if (const std::string error = script.Start(machine, opt.csl); !error.empty()) Fail(error);
    if (!script.Service(machine)) {
      periods = 0;
      scriptFailed = !script.Error().empty();
    }
  }
  for (long i = 0; i < periods; ++i) {
    control.BeforePeriod(machine, i);
    session.RunPeriod();  // AutoType steps at its end
    if (control.AfterPeriod(machine, i)) {
      periods = i + 1;
      break;
    }
    machineMicroseconds += machine.MicrosecondsPerTick;
    if (script.Running() && !script.Service(machine)) {
      // The run ends with the script, after this period's outputs.
      scriptFailed = !script.Error().empty();
      periods = i + 1;
      break;
    }
    for (TimedKey& k : timedKeys) {
      if (!k.Down && !k.Done && machineMicroseconds >= k.At) {
        MatrixPress(machine.Keyboard, k.Key.Line, k.Key.Bit);
        k.Down = true;
      } else if (k.Down && machineMicroseconds >= k.At + kTimedKeyHold) {
        MatrixRelease(machine.Keyboard, k.Key.Line, k.Key.Bit);
        k.Down = false;
        k.Done = true;
      }
    }
    if (tapeKey == TapeKey::Pressed) {
      // Let go whether or not the motor started meanwhile: no key stays down.
      if (machineMicroseconds >= tapeKeyAt + kTapeKeyHold) {
        MatrixRelease(machine.Keyboard, 5, 7);
        tapeKey = TapeKey::Done;
      }
    } else if (tapeKey == TapeKey::Waiting && (tape.Motor || TapeMoving(tape))) {
      tapeKey = TapeKey::Done;
    } else if (tapeKey == TapeKey::Waiting && !session.Typing().Active()) {
      if (tapeKeyAt == 0) tapeKeyAt = machineMicroseconds + 1000000;
      if (machineMicroseconds >= tapeKeyAt) {
        MatrixPress(machine.Keyboard, 5, 7);  // SPACE
        tapeKey = TapeKey::Pressed;
      }
    }
    session.Poll();  // tape messages
    if (fastTape && TapeFastLoading(tape)) {
      next = Clock::now();  // fast loading: no sleep, and no catching up after it
    } else if (!opt.benchmark && opt.csl.empty() && i + 1 < periods) {
      // Real time paces one period against the next; after the last one
      // there is nothing left to pace, so the run ends at once.
      next += std::chrono::milliseconds(20);
      std::this_thread::sleep_until(next);
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  script.Stop(machine);
  if (scriptFailed) std::cerr << "pellucidore-cli: " << script.Error() << "\n";
  return {periods, wall, startup, scriptFailed};
}

// Devices closed (every file complete), then the files and lines the
// options asked for.
int WriteOutputs(Session& session, const CliOptions& opt, const RunTimes& times, RunControl& control) {
  Machine& machine = session.GetMachine();
  if (const std::string error = session.CloseDevices(); !error.empty()) Fail(error);
  if (!opt.tapeRecord.empty()) {
    if (const std::string error = WriteRecordedCdt(machine.Tape, opt.tapeRecord); !error.empty()) Fail(error);
  }
  if (const std::string error = session.StopRecordings(); !error.empty()) Fail(error);
  if (!opt.saveSnapshot.empty()) {
    const SnapshotResult saved = SaveSnapshot(machine, opt.saveSnapshot, opt.snapshotVersion);
    if (!saved.Ok) Fail(saved.Error);
  }
  if (const std::string error = control.Finish(machine); !error.empty()) Fail(error);

  if (opt.benchmark) {
    const double emulated = static_cast<double>(times.periods) * 0.02 * machine.MicrosecondsPerTick / 20000.0;
    std::fputs(BenchmarkReport({times.startupSeconds, times.periods, emulated, times.wallSeconds}).c_str(), stdout);
  }
  if (!opt.screenshot.empty()) {
    const ImageResult written = WriteImage(opt.screenshot, &machine.Video.FrameBitmap[0][0], kFrameWidth,
                                           kFrameHeight, FramePalette(), session.GetSettings().JPGQUALITY);
    if (!written.Ok) Fail(written.Error);
  }
  if (opt.screenText) {
    for (const std::string& line : ScreenText(machine)) std::printf("%s\n", line.c_str());
  }
  std::fputs(control.Report().c_str(), stdout);
  if (times.scriptFailed) return 2;
  return control.ExitStatus();
}

}  // namespace

int main(int argc, char** argv) {
  CliOptions opt;
  ParseArguments(argc, argv, opt);
  if (!opt.newDsk.empty() || !opt.newHdd.empty()) return MakeNewImage(opt);

  std::error_code ec;
  const fs::path startDir = opt.startDir.empty() ? fs::current_path(ec) : fs::path(opt.startDir);
  if (!fs::is_directory(startDir, ec)) Fail("start folder not found: " + startDir.string());
  CliHost host;
  Session session(host, startDir, SessionMode{.HostAudio = false, .KeepPersistent = false});
  const RunPlan plan = ConfigureSession(session, opt);
  BenchmarkLoad bench;
  if (opt.benchmark) {
    // Sound on as in the window, at the recording format (a recording
    // already started keeps its own).
    const SoundFormat format = session.RecordingFormat(static_cast<uint32_t>(opt.sampleRate));
    bench.Start(session.GetMachine(), format.SampleRate, format.Channels, format.BitsPerSample);
    host.Bench = &bench;
  }
  RunControl control;
  if (const std::string error = control.Setup(session.GetMachine(), opt.control); !error.empty()) Fail(error);
  const RunTimes times = Run(session, opt, plan, control);
  return WriteOutputs(session, opt, times, control);
}
