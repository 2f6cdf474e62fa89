// A PCM WAV file written as samples arrive: the header is written first with
// empty sizes and completed by Close.
//
// Used by the runner's --wav; plain file code, no host library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // False with Error() set when the file cannot be created.
  bool Open(const std::filesystem::path& file, uint32_t rate, uint32_t channels, uint32_t bits);
  bool Write(const uint8_t* data, size_t bytes);
  // Completes the header; false when a write failed along the way.
  bool Close();
  const std::string& Error() const { return error_; }
  uint64_t DataBytes() const { return dataBytes_; }

 private:
  std::FILE* file_ = nullptr;
  uint64_t dataBytes_ = 0;
  bool failed_ = false;
  std::string error_;
};
