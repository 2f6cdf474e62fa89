// Keeping what the machine shows and plays: single stills, a series of stills
// taken every N frames, and recordings into an AVI file (the palettised
// 768 x 576 picture at 50 frames a second plus the PCM sound of every period)
// or a WAV file (the sound alone).
//
// No Qt here: the window's buttons, dialogs and interlocks are in
// frontend/qt/capture_ui. The per-period entry points (StillSeries::Period,
// Recording::Period) run in the emulation thread; everything else runs on
// the caller's thread with the emulation parked.
//
// Leaves out: the AVI palette-change chunks (the palette is fixed: the
// colour and green monitors' entries of FramePalette) and audio compression
// (the sound is stored as PCM).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/psg.h"
#include "platform/avi_backend.h"
#include "devices/renderer.h"
#include "platform/image_writer.h"
#include "platform/wav_writer.h"

struct Machine;

// ---- Stills ----

// SAVETYPE: 0 BMP, 1 JPEG, 2 GIF, 3 PNG; anything else is taken as BMP.
ImageFormat StillFormatFromSaveType(int saveType);
int SaveTypeFromStillFormat(ImageFormat format);

struct StillOptions {
  ImageFormat Format = ImageFormat::Bmp;
  int JpegQuality = 80;   // JPGQUALITY
  bool HalfSize = false;  // SAVEHALFSIZE: 384 x 288
};

// "d-m-yyyy at h-m-s", numbers without leading zeros.
std::string CaptureDateTime(const std::tm& when);
std::tm LocalTimeNow();

// The part before the date: with NAMEBYDSK and a disk in drive A, the disk's
// file name up to its first ".DSK" (upper case only, so game.dsk gives an
// empty part), else "CPC ScreenShot". diskFile is empty when no disk is in.
std::string StillNamePart(bool nameByDsk, const std::string& diskFile);
// STILLSDIR + name part + " (" + date and time + ")".
std::filesystem::path StillBaseName(const std::string& stillsDir, const std::string& namePart, const std::tm& when);
// CAPTUREDIR + prefix + " (" + date and time + ")" + extension, e.g. "CPCAVI", ".AVI".
std::filesystem::path CaptureFileName(const std::string& captureDir, const std::string& prefix,
                                      const std::string& extension, const std::tm& when);
// The format's extension is appended unless the file name already holds it
// anywhere (case-insensitive): picture.png as BMP becomes picture.png.bmp.
std::filesystem::path WithStillExtension(const std::filesystem::path& name, ImageFormat format);

struct StillResult {
  bool Ok = true;
  std::string Error;
  std::filesystem::path File;  // the name actually written
};
// A 768 x 576 frame (FrameBitmap layout) under name + the extension rule.
StillResult WriteStill(const std::filesystem::path& name, const uint8_t* frame, const StillOptions& options);

// ---- Consecutive stills ----

struct SeriesParams {
  int MaxStills = 10;   // MAXSTILLS, 1..50
  int EveryFrame = 1;   // EVERYFRAME, 1..100
  StillOptions Options;
  std::string StillsDir;
  std::string NamePart;
};

struct SeriesResult {
  std::vector<std::filesystem::path> Files;
  std::string Error;  // empty when every still was written
};

// The frames are copied in the emulation thread; once the last one is in,
// the worker thread TCPCThread1 (low priority) names and writes them and
// then calls the completion function, from the worker thread.
class StillSeries {
 public:
  using Done = std::function<void(const SeriesResult&)>;
  StillSeries() = default;
  ~StillSeries();
  StillSeries(const StillSeries&) = delete;
  StillSeries& operator=(const StillSeries&) = delete;

  // Main thread. False while a series is being taken or written.
  bool Start(const SeriesParams& params, Done done);
  // Emulation thread, after every frame.
  void Period(const uint8_t* frame);
  bool Idle() const { return phase_.load() == kIdle; }
  bool Capturing() const { return phase_.load() == kCapturing; }
  // Waits for a running writer (shutdown, tests).
  void Wait();

 private:
  enum Phase { kIdle, kCapturing, kWriting };
  void Write();

  std::atomic<int> phase_{kIdle};
  SeriesParams params_;
  Done done_;
  std::vector<std::vector<uint8_t>> bitmaps_;
  int frameCounter_ = 1;
  int stillIndex_ = 1;
  std::mutex threadMutex_;
  std::thread worker_;
};

// ---- Recordings ----

// Encoders that can open at 768 x 576, 50 frames a second and whose streams
// AVI can hold, uncompressed first. Loads the AVI module; without it the
// list holds the uncompressed entry alone.
std::vector<VideoEncoderChoice> UsableVideoEncoders();

class AviWriter {
 public:
  AviWriter();
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Creates the file, loading the AVI module on first use (a missing module
  // is an error saying so). On failure nothing is left open and the
  // half-written file is removed.
  bool Open(const std::filesystem::path& file, const AviOptions& options, uint32_t sampleRate, uint32_t channels,
            uint32_t bitsPerSample);
  // One 768 x 576 frame (FrameBitmap layout).
  bool WriteFrame(const uint8_t* frame);
  // Whole sample frames of the format given to Open.
  bool WriteAudio(const uint8_t* data, size_t bytes);
  // Flushes the encoder and completes the file.
  bool Close();
  bool IsOpen() const;
  const std::string& Error() const { return error_; }
  uint64_t VideoFrames() const { return videoFrames_; }
  uint64_t AudioSamples() const { return audioSamples_; }

 private:
  bool Fail(const std::string& what);

  std::unique_ptr<AviBackend> impl_;
  uint32_t blockAlign_ = 0;
  std::string error_;
  uint64_t videoFrames_ = 0;
  uint64_t audioSamples_ = 0;
};

// An AVI or WAV recording fed once per period from the PSG's sound ring and
// the frame.
class Recording {
 public:
  enum class Kind { None, Avi, Wav };

  // With the emulation parked. The sound format is the PSG's when sampling
  // is on (sound output open); otherwise sampling is switched on for the
  // recording at the given format and off again by Stop.
  bool StartAvi(Machine& m, const std::filesystem::path& file, const AviOptions& options, uint32_t rate,
                uint32_t channels, uint32_t bits);
  bool StartWav(Machine& m, const std::filesystem::path& file, uint32_t rate, uint32_t channels, uint32_t bits);
  // Emulation thread, after every period.
  void Period(Machine& m);
  // With the emulation parked. False when a write failed along the way.
  bool Stop(Machine& m);

  Kind Active() const { return kind_.load(); }
  // A write failed while recording (disk full...); the owner should Stop.
  bool Failed() const { return failed_.load(); }
  const std::string& Error() const { return error_; }
  const AviWriter& Avi() const { return avi_; }
  const WavWriter& Wav() const { return wav_; }

 private:
  void BeginSampling(Machine& m, uint32_t rate, uint32_t channels, uint32_t bits);

  std::atomic<Kind> kind_{Kind::None};
  std::atomic<bool> failed_{false};
  bool ownSampling_ = false;
  PsgRingCursor cursor_;
  std::vector<uint8_t> samples_;
  AviWriter avi_;
  WavWriter wav_;
  std::filesystem::path file_;
  std::string error_;
};
