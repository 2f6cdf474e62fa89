#include "host/session.h"

#include <system_error>
#include <utility>

#include "platform/serial_port.h"
#include "storage/disk_image.h"

namespace fs = std::filesystem;

// The per-period work of a session, in the emulation thread's fixed order
// (see PeriodHooks); the host's own work comes after the recordings, and
// AutoType last, so that the next period sees the keys it pressed.
class Session::Hooks : public PeriodHooks {
 public:
  explicit Hooks(Session& s) : s_(s) {}
  void PublishFrame(Machine& m) override { s_.host_.Frame(&m.Video.FrameBitmap[0][0]); }
  void Capture(Machine& m) override {
    if (s_.avi_.Active() != Recording::Kind::None) s_.avi_.Period(m);
    if (!wavOn_) return;
    samples_.clear();
    PsgCollectSamples(m.Psg, cursor_, samples_);
    s_.wav_.Write(samples_.data(), samples_.size());
  }
  void SubmitSound(Machine& m) override {
    if (s_.sound_.Device != 0) SoundSubmit(s_.sound_, m.Psg);
    s_.host_.Audio(m);
  }
  void Rewind(Machine& m) override {
    s_.host_.PeriodEnd(m);
    s_.typing_.Period(m.MicrosecondsPerTick, m.Keyboard);
  }
  // Places the ring cursor at the samples not yet taken.
  void StartWav(Machine& m) {
    wavOn_ = true;
    samples_.clear();
    PsgCollectSamples(m.Psg, cursor_, samples_);
  }
  void StopWav() { wavOn_ = false; }

 private:
  Session& s_;
  bool wavOn_ = false;
  PsgRingCursor cursor_;
  std::vector<uint8_t> samples_;
};

DeviceSetup DevicesFromSettings(const Settings& s) {
  DeviceSetup d;
  d.Disk[0] = s.FDD0;
  d.Disk[1] = s.FDD1;
  d.ZipMember[0] = s.COMPRFDD0;
  d.ZipMember[1] = s.COMPRFDD1;
  d.WriteProtected[0] = s.WRPROTECTION0;
  d.WriteProtected[1] = s.WRPROTECTION1;
  d.PrinterMode = MachineConfigFromSettings(s).PrinterMode;
  d.PrintDir = s.PRINTDIR;
  d.SerialPort = s.SERIAL;
  if (s.SYMBIFACE) {
    d.Hdd[0] = s.HDD0PATH;
    d.Hdd[1] = s.HDD1PATH;
  }
  return d;
}

Session::Session(Host& host, fs::path startDir, SessionMode mode)
    : host_(host), startDir_(std::move(startDir)), mode_(mode), hooks_(std::make_unique<Hooks>(*this)) {
  settings_ = DefaultSettings(startDir_);
}

Session::~Session() {
  StopThread();
  if (devicesOpen_) CloseDevices();
}

std::vector<std::string> Session::LoadSettings(MissingFile missing, const fs::path& profile) {
  std::vector<std::string> problems;
  settings_ = DefaultSettings(startDir_);
  if (const SettingsResult r = ::LoadSettings(settings_, missing); !r.Ok) problems.push_back(r.Error);
  std::error_code ec;
  if (!profile.empty()) {
    if (const SettingsResult r = LoadProfileFile(settings_, profile); !r.Ok) problems.push_back(r.Error);
    hasProfile_ = true;
  } else {
    if (const SettingsResult r = LoadProfile(settings_, missing); !r.Ok) problems.push_back(r.Error);
    hasProfile_ = fs::is_regular_file(ProfilePath(settings_), ec);
  }
  return problems;
}

Machine& Session::CreateMachine(const MachineConfig& config) {
  StopThread();
  config_ = config;
  machine_ = ::CreateMachine(config);
  return *machine_;
}

void Session::ApplySettings() {
  ApplyProfile(*machine_, settings_);
  config_ = MachineConfigFromSettings(settings_);
  // A printer port whose mode stays is left alone, so a document being
  // printed is not cut in two; a parallel port that changed is reopened.
  std::string failed;
  const bool portChanged = lptPrinter_.Configure(settings_.LPTADDRESS, settings_.LPTMODE);
  if (const uint32_t mode = MachineConfigFromSettings(settings_).PrinterMode;
      mode != machine_->Printer.PrinterMode || (mode == kPrinterLpt && portChanged))
    failed = PrinterSetMode(*machine_, mode);
  if (!failed.empty()) Message(failed);
  machine_->Printer.PrintDir = settings_.PRINTDIR;
  machine_->Printer.IdleLimitPeriods = static_cast<uint32_t>(settings_.PRINTERIDLE) * 50;
  SerialClose(machine_->Serial);
  if (const std::string serial = SerialOpen(machine_->Serial, settings_.SERIAL, MakeHostSerialPort()); !serial.empty())
    Message(serial);
  // SymbiFace II: persistent memory saved and read back, images reopened.
  if (mode_.KeepPersistent) {
    if (const std::string error = SymbifaceEnd(*machine_, startDir_); !error.empty()) Message(error);
  } else {
    SymbifaceCloseImages(machine_->Symbiface);
  }
  SymbifaceStart(*machine_, startDir_, settings_.SYMBIFACE ? settings_.HDD0PATH : std::string(),
                 settings_.SYMBIFACE ? settings_.HDD1PATH : std::string());
  SoundClose(sound_, machine_->Psg);
  OpenSound();
}

SessionError Session::OpenDevices(const DeviceSetup& setup) {
  Machine& m = *machine_;
  devicesOpen_ = true;
  // 1. Drives. A path the settings remember that no longer exists is
  // skipped quietly; a disk the user named must open.
  for (int i = 0; i < 2; ++i) {
    DriveImage& drive = m.Fdc.Drives[i];
    drive.WriteProtected = setup.WriteProtected[i];
    if (setup.Disk[i].empty()) continue;
    std::vector<std::string> choices;
    const InsertResult r = InsertDiskPath(drive, setup.Disk[i], setup.ZipMember[i], &choices);
    for (const std::string& message : r.Messages) Message(message);
    switch (r.Status) {
      case InsertStatus::Inserted: break;
      case InsertStatus::Missing:
        if (setup.DiskNamed[i]) return {true, "disk image not found: " + setup.Disk[i]};
        break;
      case InsertStatus::Refused: return {true, ""};
      case InsertStatus::Choose: {
        std::string list;
        for (const std::string& c : choices) list += (list.empty() ? "" : ", ") + c;
        return {true, "several DSK files inside " + setup.Disk[i] + " (" + list + "): choose one with --zip-member"};
      }
    }
  }
  // 2. Printer port: its host printers first, then the mode opens one.
  m.Printer.PrintDir = setup.PrintDir;
  if (mode_.HostAudio) m.Printer.Device = &digiblaster_;
  m.Printer.DefaultPrinter = &cupsPrinter_;
  m.Printer.Lpt = &lptPrinter_;
  lptPrinter_.Configure(settings_.LPTADDRESS, settings_.LPTMODE);
  // CUPS reports from its own thread; the host passes it on as it can.
  cupsPrinter_.SetErrorHandler([this](const std::string& message) { Message(message); });
  if (const std::string failed = PrinterSetMode(m, setup.PrinterMode); !failed.empty()) Message(failed);
  // 3. Serial interface.
  if (const std::string failed = SerialOpen(m.Serial, setup.SerialPort, MakeHostSerialPort()); !failed.empty())
    Message(failed);
  // 4. SymbiFace II: memory from the start folder; images from the
  // settings are absent when missing, images the user named must open.
  if (config_.SymbifaceEnabled) {
    SymbifaceStart(m, startDir_, setup.HddNamed[0] ? fs::path() : setup.Hdd[0],
                   setup.HddNamed[1] ? fs::path() : setup.Hdd[1]);
    for (int drive = 0; drive < 2; ++drive) {
      if (!setup.HddNamed[drive]) continue;
      if (std::string error = SymbifaceOpenImage(m.Symbiface, drive, setup.Hdd[drive]); !error.empty())
        return {true, error};
    }
  }
  // 5. Sound last: the card's buffers start filling at the first period.
  OpenSound();
  return {};
}

std::string Session::CloseDevices() {
  // The thread first: a parked thread would never see the stop request,
  // and no period may run on a device being closed.
  StopThread();
  if (!machine_ || !devicesOpen_) return {};
  devicesOpen_ = false;
  Machine& m = *machine_;
  std::string problem;
  SoundClose(sound_, m.Psg);
  if (mode_.KeepPersistent) {
    problem = SymbifaceEnd(m, startDir_);
  } else {
    SymbifaceCloseImages(m.Symbiface);
  }
  SerialClose(m.Serial);
  PrinterStop(m);  // completes (or removes) the print file
  for (DriveImage& drive : m.Fdc.Drives) {
    EjectDisk(drive);
    if (drive.WriteFailed && problem.empty()) problem = "could not write to disk image " + drive.DiskPath;
  }
  return problem;
}

void Session::OpenSound() {
  if (!mode_.HostAudio) return;
  if (!SoundOpen(sound_, machine_->Psg, CardSound()) && settings_.SOUNDENABLED) {
    settings_.SOUNDENABLED = false;
    if (!sound_.Error.empty()) Message("Sound off: " + sound_.Error);
  }
}

SoundSettings SoundCardFormat(const Settings& s) {
  return SoundSettings{s.SOUNDENABLED, static_cast<uint32_t>(s.CHANNELS), static_cast<uint32_t>(s.SAMPLERATE),
                       static_cast<uint32_t>(s.BITSPERSAMPLE)};
}

SoundSettings Session::CardSound() const { return SoundCardFormat(settings_); }

SoundFormat Session::RecordingFormat(uint32_t rateWanted) const {
  SoundFormat f;
  if (hasProfile_) {
    const SoundSettings card = CardSound();
    f = {card.SampleRate, card.Channels, card.BitsPerSample};
  }
  if (rateWanted) f.SampleRate = rateWanted;
  return f;
}

std::string Session::StartWav(const fs::path& file, const SoundFormat& format) {
  Machine& m = *machine_;
  PsgSetOutputFormat(m.Psg, format.SampleRate, format.Channels, format.BitsPerSample);
  m.Psg.SamplingEnabled = 1;  // without a sound card the recording alone takes the samples
  if (!wav_.Open(file, m.Psg.SampleRate, m.Psg.Channels, m.Psg.BitsPerSample)) return wav_.Error();
  wavFile_ = file;
  hooks_->StartWav(m);
  return {};
}

std::string Session::StartAvi(const fs::path& file, const AviOptions& options, const SoundFormat& format) {
  if (!avi_.StartAvi(*machine_, file, options, format.SampleRate, format.Channels, format.BitsPerSample))
    return avi_.Error();
  aviFile_ = file;
  return {};
}

std::string Session::StopRecordings() {
  std::string problem;
  if (!wavFile_.empty()) {
    hooks_->StopWav();
    if (!wav_.Close()) problem = "cannot write " + wavFile_.string() + ": " + wav_.Error();
    wavFile_.clear();
  }
  if (!aviFile_.empty()) {
    if (!avi_.Stop(*machine_) && problem.empty()) problem = "cannot write " + aviFile_.string() + ": " + avi_.Error();
    aviFile_.clear();
  }
  return problem;
}

void Session::RunPeriod() { ::RunPeriod(*machine_, *hooks_); }

void Session::StartThread(bool running, bool fastTape) {
  if (thread_) return;
  running_ = running;
  thread_ = std::make_unique<EmulationThread>(*machine_, *hooks_);
  thread_->SetFastTape(fastTape);
  if (!running_) thread_->SuspendEmulation();
  thread_->Start();
}

void Session::StopThread() {
  if (!thread_) return;
  thread_->Stop();
  thread_.reset();
}

void Session::SetRunning(bool running) {
  if (running == running_) return;
  running_ = running;
  if (!thread_) return;
  if (running_) thread_->ResumeEmulation();
  else thread_->SuspendEmulation();
}

void Session::Poll() {
  Machine& m = *machine_;
  if (const uint32_t noises = m.Fdc.SoundEvents.exchange(0); noises) host_.DriveNoises(noises);
  host_.Lamps(m);
  if (const uint32_t serial = m.Tape.MessageSerial.load(); serial != tapeMessages_) {
    tapeMessages_ = serial;
    host_.Message(HostMessage::Notice, m.Tape.Message);
  }
}

Session::PauseGuard::PauseGuard(Session& s) : thread_(s.thread_.get()) {
  if (thread_) thread_->SuspendEmulation();
}

Session::PauseGuard::~PauseGuard() {
  if (thread_) thread_->ResumeEmulation();
}
