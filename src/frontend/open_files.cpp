#include "frontend/open_files.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "frontend/settings.h"

namespace fs = std::filesystem;

OpenFileKind DetectFileKind(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return OpenFileKind::Unreadable;
  std::ifstream in(file, std::ios::binary);
  if (!in) return OpenFileKind::Unreadable;
  char head[34] = {};
  in.read(head, sizeof head);
  const auto got = static_cast<size_t>(in.gcount());
  auto starts = [&](const char* magic) {
    const size_t n = std::strlen(magic);
    return got >= n && std::memcmp(head, magic, n) == 0;
  };
  if (starts("MV - CPC") || starts("EXTENDED CPC DSK")) return OpenFileKind::Disk;
  if (starts("MV - SNA")) return OpenFileKind::Snapshot;
  if (starts("PK\x03\x04")) return OpenFileKind::Zip;
  if (starts("ZXTape!\x1A") || starts("Compressed Square Wave\x1A")) return OpenFileKind::Tape;
  return OpenFileKind::Unknown;
}

std::string OpenFileProblem(const fs::path& file, OpenFileKind kind) {
  const std::string name = file.string();
  switch (kind) {
    case OpenFileKind::Unreadable: return "Cannot read " + name;
    case OpenFileKind::Unknown: return name + " is not a disk image, archive or snapshot";
    case OpenFileKind::Tape: return name + " is a tape image: tapes cannot be played yet";
    default: return {};
  }
}

void AddRecentFile(std::vector<std::string>& recent, const std::string& path) {
  std::erase(recent, path);
  recent.insert(recent.begin(), path);
  if (recent.size() > static_cast<size_t>(kRecentFiles)) recent.resize(kRecentFiles);
}
