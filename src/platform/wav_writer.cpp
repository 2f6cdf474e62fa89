#include "platform/wav_writer.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kHeaderBytes = 44;
// RIFF sizes are 32-bit; a longer recording stops growing there.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderBytes;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

}  // namespace

WavWriter::~WavWriter() { Close(); }

bool WavWriter::Open(const std::filesystem::path& file, uint32_t rate, uint32_t channels, uint32_t bits) {
  Close();
  error_.clear();
  failed_ = false;
  dataBytes_ = 0;
  file_ = std::fopen(file.c_str(), "wb");
  if (!file_) {
    error_ = "cannot create " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  const uint32_t blockAlign = channels * bits / 8;
  uint8_t h[kHeaderBytes];
  std::memcpy(h, "RIFF", 4);
  Put32(h + 4, 36);  // completed by Close
  std::memcpy(h + 8, "WAVEfmt ", 8);
  Put32(h + 16, 16);
  Put16(h + 20, 1);  // PCM
  Put16(h + 22, channels);
  Put32(h + 24, rate);
  Put32(h + 28, rate * blockAlign);
  Put16(h + 32, blockAlign);
  Put16(h + 34, bits);
  std::memcpy(h + 36, "data", 4);
  Put32(h + 40, 0);
  if (std::fwrite(h, 1, sizeof h, file_) != sizeof h) {
    error_ = "cannot write " + file.string();
    failed_ = true;
  }
  return !failed_;
}

bool WavWriter::Write(const uint8_t* data, size_t bytes) {
  if (!file_ || failed_) return false;
  if (dataBytes_ + bytes > kMaxDataBytes) bytes = static_cast<size_t>(kMaxDataBytes - dataBytes_);
  if (bytes == 0) return true;
  if (std::fwrite(data, 1, bytes, file_) != bytes) {
    error_ = "write failed";
    failed_ = true;
    return false;
  }
  dataBytes_ += bytes;
  return true;
}

bool WavWriter::Close() {
  if (!file_) return !failed_;
  // An odd-sized data chunk is padded to keep the RIFF structure valid.
  if (dataBytes_ & 1) {
    const uint8_t pad = 0;
    if (std::fwrite(&pad, 1, 1, file_) != 1) failed_ = true;
  }
  uint8_t size[4];
  const uint32_t data = static_cast<uint32_t>(dataBytes_);
  Put32(size, static_cast<uint32_t>(36 + data + (data & 1)));
  if (std::fseek(file_, 4, SEEK_SET) != 0 || std::fwrite(size, 1, 4, file_) != 4) failed_ = true;
  Put32(size, data);
  if (std::fseek(file_, 40, SEEK_SET) != 0 || std::fwrite(size, 1, 4, file_) != 4) failed_ = true;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  if (failed_ && error_.empty()) error_ = "write failed";
  return !failed_;
}
