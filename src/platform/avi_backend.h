// The AVI encoder lives in its own shared module (FFmpeg and the ~130
// libraries it pulls in are loaded only when a recording starts). This is
// the boundary between the programs and that module; both sides are built
// from the same tree with the same compiler, so C++ types cross it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct VideoEncoderChoice {
  std::string Name;         // libavcodec encoder name, "rawvideo" for uncompressed
  std::string Description;  // shown in the chooser
};

struct AviOptions {
  std::string Encoder = "rawvideo";
  int KeyFrameEvery = 0;  // 0: the encoder's default
  int64_t BitRate = 0;    // bits per second, 0: the encoder's default
};

// One open AVI file. Every failing call leaves its reason in error.
class AviBackend {
 public:
  virtual ~AviBackend() = default;
  // On failure nothing is left open and the half-written file is removed.
  // palette: the 256 frame colours as 0xAARRGGBB.
  virtual bool Open(const std::filesystem::path& file, const AviOptions& options, uint32_t sampleRate,
                    uint32_t channels, uint32_t bitsPerSample, const uint32_t (&palette)[256],
                    std::string& error) = 0;
  // A 768 x 576 frame (FrameBitmap layout), the index-th of the file.
  virtual bool WriteFrame(const uint8_t* frame, int64_t index, std::string& error) = 0;
  // samples whole sample frames, the first being number firstSample.
  virtual bool WriteAudio(const uint8_t* data, size_t samples, uint64_t firstSample, std::string& error) = 0;
  // Flushes the encoder, completes and closes the file.
  virtual bool Close(std::string& error) = 0;
};

// Raised whenever the boundary above changes, so a stale module installed
// next to a newer program is refused instead of called wrongly.
inline constexpr uint32_t kAviModuleVersion = 1;

struct AviModuleApi {
  uint32_t Version;
  AviBackend* (*Create)();
  std::vector<VideoEncoderChoice> (*Encoders)();
};

inline constexpr char kAviModuleFile[] = "pellucidore_avi.so";
inline constexpr char kAviModuleEntry[] = "PellucidoreAviModule";
extern "C" const AviModuleApi* PellucidoreAviModule();
