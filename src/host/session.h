// A session: one CPC and everything around it that is not a window.
//
// Owns the Machine and its EmulationThread, reads the settings and the
// profile, brings the devices up and down in one order, paces AutoType,
// runs the sound and picture recordings, and pauses the machine for
// dialogs. The window and pellucidore-cli both drive the machine through
// it and reach the outside only through their Host.
//
// Thread rules: every call here is made from the driving thread (the GUI
// thread, or the runner's main); machine state is changed only while no
// emulation thread runs or under a PauseGuard. Host callbacks marked
// "emulation thread" in host.h come from the thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/emulation_thread.h"
#include "core/machine.h"
#include "frontend/settings.h"
#include "host/autotype_pacer.h"
#include "host/host.h"
#include "platform/audio_output.h"
#include "platform/capture.h"
#include "platform/cups_printer.h"
#include "platform/digiblaster_output.h"
#include "platform/parport_printer.h"
#include "platform/wav_writer.h"

// How the program around the session behaves.
struct SessionMode {
  // Sound card and Digiblaster stream opened (the window); without them
  // the machine runs silent, which a headless run wants.
  bool HostAudio = true;
  // The SymbiFace II memory is written back to the start folder at the end.
  // The runner reads a start folder and must not change it.
  bool KeepPersistent = true;
};

// What the devices start with; DevicesFromSettings fills it the way the
// settings say, and a caller overrides what its user named.
struct DeviceSetup {
  std::string Disk[2];           // DSK or ZIP per drive; empty = no disk
  std::string ZipMember[2];      // the DSK member of an archive
  bool DiskNamed[2] = {false, false};  // named by the user: must open
  bool WriteProtected[2] = {true, true};
  uint32_t PrinterMode = 0;      // PARMODE
  std::filesystem::path PrintDir;
  std::string SerialPort;        // empty = no host port
  std::filesystem::path Hdd[2];  // SymbiFace II images (when fitted)
  bool HddNamed[2] = {false, false};  // named by the user: must open
};
DeviceSetup DevicesFromSettings(const Settings& s);

// What the sound card plays: the profile's format (SOUNDENABLED, CHANNELS,
// SAMPLERATE, BITSPERSAMPLE).
SoundSettings SoundCardFormat(const Settings& s);

// The PSG's output format.
struct SoundFormat {
  uint32_t SampleRate = 44100, Channels = 2, BitsPerSample = 16;
};

// Why bringing something up failed. Message empty: the reasons have
// already gone to the host, one by one.
struct SessionError {
  bool Failed = false;
  std::string Message;
  explicit operator bool() const { return Failed; }
};

class Session {
 public:
  Session(Host& host, std::filesystem::path startDir, SessionMode mode = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // --- Settings -----------------------------------------------------------
  // Defaults for the start folder, then Pellux.ini, then the profile: the
  // one at `profile` when given, else the last one used. Returns the
  // problems met, in order (the settings keep their defaults for them).
  std::vector<std::string> LoadSettings(MissingFile missing, const std::filesystem::path& profile = {});
  Settings& GetSettings() { return settings_; }
  const std::filesystem::path& StartDir() const { return startDir_; }
  // A profile file was read (or named): recordings then take its sound format.
  bool HasProfile() const { return hasProfile_; }

  // --- Machine ------------------------------------------------------------
  Machine& CreateMachine(const MachineConfig& config);
  Machine& GetMachine() { return *machine_; }
  bool HasMachine() const { return machine_ != nullptr; }
  // The profile's configuration to a running machine, without a reset; the
  // printer port, sound, SymbiFace II and serial port follow it.
  void ApplySettings();

  // --- Devices ------------------------------------------------------------
  // In this order: drives (a snapshot loaded before stays), printer port,
  // serial interface, SymbiFace II, sound. A device that cannot open is
  // switched off and said so through the host; only what the user named
  // (a disk, a hard disk image) makes it fail.
  SessionError OpenDevices(const DeviceSetup& setup);
  // In reverse: sound, SymbiFace II, serial, printer, drives (every written
  // byte in the image files). Stops the thread first. Returns the first
  // problem (a disk image that could not be written), empty when none.
  std::string CloseDevices();

  // --- Sound --------------------------------------------------------------
  // The one place the sound format is decided. The sound card plays the
  // profile's. A recording takes the profile's when there is one, else CD
  // quality (the default 22 kHz 8-bit mono is there for old sound cards,
  // not for a file); a rate the user asked for wins.
  SoundSettings CardSound() const;
  SoundFormat RecordingFormat(uint32_t rateWanted = 0) const;

  // --- Recordings (with the emulation parked) ------------------------------
  // Sound of every period into a WAV file; empty, or why not.
  std::string StartWav(const std::filesystem::path& file, const SoundFormat& format);
  std::string StartAvi(const std::filesystem::path& file, const AviOptions& options, const SoundFormat& format);
  // Completes the files; the first failure, or empty.
  std::string StopRecordings();

  // --- AutoType -----------------------------------------------------------
  AutoTypePacer& Typing() { return typing_; }

  // --- Running ------------------------------------------------------------
  // One period on the calling thread (no emulation thread): EmulateTick,
  // the per-period work, the host's callbacks, AutoType.
  void RunPeriod();
  // The emulation thread; `running` false starts it paused.
  void StartThread(bool running, bool fastTape);
  void StopThread();
  EmulationThread* Thread() { return thread_.get(); }
  // The user's pause (the Pause button), apart from dialog pauses.
  void SetRunning(bool running);
  bool Running() const { return running_; }
  // Lamps, drive noises and tape messages to the host; the driving thread
  // calls it a few times a second (the runner: after every period).
  void Poll();

  // Parks the emulation thread for as long as it lives (a dialog open, a
  // file being read into the machine); nests, and does nothing without a
  // thread.
  class PauseGuard {
   public:
    explicit PauseGuard(Session& s);
    ~PauseGuard();
    PauseGuard(const PauseGuard&) = delete;
    PauseGuard& operator=(const PauseGuard&) = delete;

   private:
    EmulationThread* thread_;
  };

 private:
  class Hooks;
  void OpenSound();
  void Message(const std::string& text) const { host_.Message(HostMessage::Warning, text); }

  Host& host_;
  std::filesystem::path startDir_;
  SessionMode mode_;
  Settings settings_;
  bool hasProfile_ = false;
  MachineConfig config_;  // the machine's, with the caller's changes
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<Hooks> hooks_;
  std::unique_ptr<EmulationThread> thread_;
  bool running_ = true;
  bool devicesOpen_ = false;
  AutoTypePacer typing_;
  SoundOutput sound_;
  DigiblasterOutput digiblaster_;
  CupsPrinter cupsPrinter_;
  ParportPrinter lptPrinter_{MakePpdevDevice()};
  // Recordings, fed by the hooks.
  WavWriter wav_;
  std::filesystem::path wavFile_;
  Recording avi_;
  std::filesystem::path aviFile_;
  uint32_t tapeMessages_ = 0;
};
