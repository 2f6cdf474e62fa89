// A private scratch folder for the fuzz targets that need real files beside
// each other (a start directory with its settings and profile). Made once per
// process on a memory file system when there is one, emptied per input and
// removed at exit.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class ScratchDir {
 public:
  ScratchDir() {
    std::error_code ec;
    const char* base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : nullptr;
    std::string pattern = (base ? std::string(base) : std::filesystem::temp_directory_path(ec).string()) +
                          "/pellucidore-fuzz-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool Ok() const { return !path_.empty(); }
  const std::filesystem::path& Path() const { return path_; }

  // Removes whatever the last input left behind.
  void Clear() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ec))
      std::filesystem::remove_all(entry.path(), ec);
  }

 private:
  std::filesystem::path path_;
};
