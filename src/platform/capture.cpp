#include "platform/capture.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/machine.h"
#include "platform/module_loader.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// Directories in the settings end with a separator; one typed without it
// still names a directory.
fs::path InDirectory(const std::string& dir, const std::string& name) {
  return dir.empty() ? fs::path(name) : fs::path(dir) / name;
}

}  // namespace

// ---- Stills ----

ImageFormat StillFormatFromSaveType(int saveType) {
  switch (saveType) {
    case 1: return ImageFormat::Jpeg;
    case 2: return ImageFormat::Gif;
    case 3: return ImageFormat::Png;
    default: return ImageFormat::Bmp;
  }
}

int SaveTypeFromStillFormat(ImageFormat format) {
  switch (format) {
    case ImageFormat::Jpeg: return 1;
    case ImageFormat::Gif: return 2;
    case ImageFormat::Png: return 3;
    default: return 0;
  }
}

std::string CaptureDateTime(const std::tm& when) {
  return std::to_string(when.tm_mday) + "-" + std::to_string(when.tm_mon + 1) + "-" +
         std::to_string(when.tm_year + 1900) + " at " + std::to_string(when.tm_hour) + "-" +
         std::to_string(when.tm_min) + "-" + std::to_string(when.tm_sec);
}

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string StillNamePart(bool nameByDsk, const std::string& diskFile) {
  if (!nameByDsk || diskFile.empty()) return "CPC ScreenShot";
  const std::string name = fs::path(diskFile).filename().string();
  const size_t dsk = name.find(".DSK");
  return dsk == std::string::npos ? std::string() : name.substr(0, dsk);
}

fs::path StillBaseName(const std::string& stillsDir, const std::string& namePart, const std::tm& when) {
  return InDirectory(stillsDir, namePart + " (" + CaptureDateTime(when) + ")");
}

fs::path CaptureFileName(const std::string& captureDir, const std::string& prefix, const std::string& extension,
                         const std::tm& when) {
  return InDirectory(captureDir, prefix + " (" + CaptureDateTime(when) + ")" + extension);
}

fs::path WithStillExtension(const fs::path& name, ImageFormat format) {
  const char* ext = ".bmp";
  switch (format) {
    case ImageFormat::Jpeg: ext = ".jpg"; break;
    case ImageFormat::Gif: ext = ".gif"; break;
    case ImageFormat::Png: ext = ".png"; break;
    default: break;
  }
  const std::string file = Lower(name.filename().string());
  // Case-insensitive, and ".jpeg" counts for JPEG: the name the user typed
  // is kept whenever it already says the format.
  if (file.find(ext) != std::string::npos) return name;
  if (format == ImageFormat::Jpeg && file.find(".jpeg") != std::string::npos) return name;
  fs::path out = name;
  out += ext;
  return out;
}

StillResult WriteStill(const fs::path& name, const uint8_t* frame, const StillOptions& options) {
  StillResult result;
  result.File = WithStillExtension(name, options.Format);
  std::vector<uint8_t> half;
  const uint8_t* pixels = frame;
  int width = kFrameWidth, height = kFrameHeight;
  if (options.HalfSize) {
    width = kFrameWidth / 2;
    height = kFrameHeight / 2;
    half = StretchPicture(frame, kFrameWidth, kFrameHeight, width, height);
    pixels = half.data();
  }
  const ImageResult written =
      WriteImageAs(options.Format, result.File, pixels, width, height, FramePalette(), options.JpegQuality);
  result.Ok = written.Ok;
  result.Error = written.Error;
  return result;
}

// ---- Consecutive stills ----

StillSeries::~StillSeries() { Wait(); }

void StillSeries::Wait() {
  std::lock_guard<std::mutex> lock(threadMutex_);
  if (worker_.joinable()) worker_.join();
}

bool StillSeries::Start(const SeriesParams& params, Done done) {
  if (phase_.load() != kIdle) return false;
  Wait();  // the last writer has finished; collect its thread
  params_ = params;
  params_.MaxStills = std::clamp(params_.MaxStills, 1, 50);
  params_.EveryFrame = std::clamp(params_.EveryFrame, 1, 100);
  done_ = std::move(done);
  bitmaps_.assign(params_.MaxStills, std::vector<uint8_t>(static_cast<size_t>(kFrameWidth) * kFrameHeight));
  frameCounter_ = 1;
  stillIndex_ = 1;
  phase_.store(kCapturing);  // publishes the buffers to the emulation thread
  return true;
}

void StillSeries::Period(const uint8_t* frame) {
  if (phase_.load(std::memory_order_acquire) != kCapturing) return;
  if (++frameCounter_ != params_.EveryFrame + 1) return;
  frameCounter_ = 1;
  std::memcpy(bitmaps_[stillIndex_ - 1].data(), frame, bitmaps_[stillIndex_ - 1].size());
  if (++stillIndex_ <= params_.MaxStills) return;
  frameCounter_ = 1;
  stillIndex_ = 1;
  std::lock_guard<std::mutex> lock(threadMutex_);
  phase_.store(kWriting);
  worker_ = std::thread([this] { Write(); });
}

void StillSeries::Write() {
  pthread_setname_np(pthread_self(), "TCPCThread1");
  // Below the emulation and the window: writing may take its time.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
  SeriesResult result;
  const fs::path base = StillBaseName(params_.StillsDir, params_.NamePart, LocalTimeNow());
  for (size_t i = 0; i < bitmaps_.size(); ++i) {
    fs::path name = base;
    name += " ";
    name += std::to_string(i + 1);
    // A failed still is reported, the others are still written.
    const StillResult r = WriteStill(name, bitmaps_[i].data(), params_.Options);
    if (r.Ok)
      result.Files.push_back(r.File);
    else if (result.Error.empty())
      result.Error = r.Error;
  }
  bitmaps_.clear();
  bitmaps_.shrink_to_fit();
  Done done = std::move(done_);
  done_ = nullptr;
  phase_.store(kIdle);
  if (done) done(result);
}

// ---- Recordings ----

namespace {

// The module is opened once and stays: its code backs every writer made.
const AviModuleApi* AviModule(std::string& error) {
  static std::string loadError;
  static const AviModuleApi* const api = [] () -> const AviModuleApi* {
    void* handle = OpenModule(kAviModuleFile, loadError);
    if (!handle) return nullptr;
    using Entry = const AviModuleApi* (*)();
    const auto entry = reinterpret_cast<Entry>(dlsym(handle, kAviModuleEntry));
    const AviModuleApi* found = entry ? entry() : nullptr;
    if (!found || found->Version != kAviModuleVersion) {
      loadError = std::string(kAviModuleFile) + " belongs to another version of the program";
      return nullptr;
    }
    return found;
  }();
  if (!api) error = "AVI recording is not available: " + loadError;
  return api;
}

}  // namespace

std::vector<VideoEncoderChoice> UsableVideoEncoders() {
  std::string error;
  if (const AviModuleApi* api = AviModule(error)) return api->Encoders();
  return {{"rawvideo", "Uncompressed (full frames, 256 colours)"}};
}

AviWriter::AviWriter() = default;
AviWriter::~AviWriter() {
  if (IsOpen()) Close();
}

bool AviWriter::IsOpen() const { return impl_ != nullptr; }

bool AviWriter::Fail(const std::string& what) {
  error_ = what;
  return false;
}

bool AviWriter::Open(const fs::path& file, const AviOptions& options, uint32_t sampleRate, uint32_t channels,
                     uint32_t bitsPerSample) {
  if (IsOpen()) Close();
  error_.clear();
  videoFrames_ = audioSamples_ = 0;
  if ((bitsPerSample != 8 && bitsPerSample != 16) || channels < 1 || channels > 2 || sampleRate == 0)
    return Fail("unsupported sound format");
  const AviModuleApi* api = AviModule(error_);
  if (!api) return false;
  std::unique_ptr<AviBackend> backend(api->Create());
  uint32_t palette[256];
  const std::array<Rgb, 256> colours = FramePalette();
  for (int i = 0; i < 256; ++i)
    palette[i] = 0xFF000000u | static_cast<uint32_t>(colours[i].R) << 16 | colours[i].G << 8 | colours[i].B;
  if (!backend->Open(file, options, sampleRate, channels, bitsPerSample, palette, error_)) return false;
  blockAlign_ = channels * bitsPerSample / 8;
  impl_ = std::move(backend);
  return true;
}

bool AviWriter::WriteFrame(const uint8_t* frame) {
  if (!IsOpen()) return Fail("no AVI open");
  if (!impl_->WriteFrame(frame, static_cast<int64_t>(videoFrames_), error_)) return false;
  ++videoFrames_;
  return true;
}

bool AviWriter::WriteAudio(const uint8_t* data, size_t bytes) {
  if (!IsOpen()) return Fail("no AVI open");
  const size_t samples = bytes / blockAlign_;
  if (samples == 0) return true;
  if (!impl_->WriteAudio(data, samples, audioSamples_, error_)) return false;
  audioSamples_ += samples;
  return true;
}

bool AviWriter::Close() {
  if (!IsOpen()) return false;
  // A write that failed along the way keeps the file from counting as good.
  const bool ok = error_.empty();
  const bool closed = impl_->Close(error_);
  impl_.reset();
  return ok && closed;
}

void Recording::BeginSampling(Machine& m, uint32_t rate, uint32_t channels, uint32_t bits) {
  ownSampling_ = !m.Psg.SamplingEnabled;
  if (ownSampling_) {
    PsgSetOutputFormat(m.Psg, rate, channels, bits);
    m.Psg.SamplingEnabled = 1;
  }
  cursor_ = {};
  samples_.clear();
  samples_.reserve(kMaxSoundBufferBytes * 2);
  PsgCollectSamples(m.Psg, cursor_, samples_);  // places the cursor
  failed_.store(false);
  error_.clear();
}

bool Recording::StartAvi(Machine& m, const fs::path& file, const AviOptions& options, uint32_t rate,
                         uint32_t channels, uint32_t bits) {
  if (kind_.load() != Kind::None) return false;
  BeginSampling(m, rate, channels, bits);
  if (!avi_.Open(file, options, m.Psg.SampleRate, m.Psg.Channels, m.Psg.BitsPerSample)) {
    error_ = avi_.Error();
    if (ownSampling_) m.Psg.SamplingEnabled = 0;
    return false;
  }
  file_ = file;
  kind_.store(Kind::Avi);
  return true;
}

bool Recording::StartWav(Machine& m, const fs::path& file, uint32_t rate, uint32_t channels, uint32_t bits) {
  if (kind_.load() != Kind::None) return false;
  BeginSampling(m, rate, channels, bits);
  if (!wav_.Open(file, m.Psg.SampleRate, m.Psg.Channels, m.Psg.BitsPerSample)) {
    error_ = wav_.Error();
    if (ownSampling_) m.Psg.SamplingEnabled = 0;
    return false;
  }
  file_ = file;
  kind_.store(Kind::Wav);
  return true;
}

void Recording::Period(Machine& m) {
  const Kind kind = kind_.load(std::memory_order_acquire);
  if (kind == Kind::None || failed_.load(std::memory_order_relaxed)) return;
  samples_.clear();
  PsgCollectSamples(m.Psg, cursor_, samples_);
  bool ok;
  if (kind == Kind::Avi)
    ok = avi_.WriteFrame(&m.Video.FrameBitmap[0][0]) && avi_.WriteAudio(samples_.data(), samples_.size());
  else
    ok = wav_.Write(samples_.data(), samples_.size());
  if (!ok) failed_.store(true);
}

bool Recording::Stop(Machine& m) {
  const Kind kind = kind_.exchange(Kind::None);
  if (kind == Kind::None) return false;
  bool ok = true;
  if (kind == Kind::Avi) {
    ok = avi_.Close();
    if (!ok) error_ = avi_.Error();
  } else {
    ok = wav_.Close();
    if (!ok) error_ = wav_.Error();
  }
  if (ownSampling_) m.Psg.SamplingEnabled = 0;
  ownSampling_ = false;
  return ok && !failed_.load();
}
