// An anonymous in-memory file with a path, so the fuzz targets run the same
// file code as a real disk or archive without touching the file system.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) {
    fd_ = memfd_create("pellucidore-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) return;
    size_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd_, data + done, size - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() {
    if (fd_ >= 0) close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  bool Ok() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  int64_t Size() const {
    struct stat st {};
    return fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
  }

 private:
  int fd_ = -1;
  std::string path_;
};
