#include "frontend/autorun.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "storage/disk_image.h"

namespace {

constexpr int kDirectoryEntries = 64;
constexpr int kEntrySize = 32;

// The stored sector of a track with ID R, if any.
std::optional<uint32_t> FindSector(const DriveImage& d, uint32_t track, uint8_t r) {
  for (uint32_t s = 0; s < SectorCountOf(d, track); ++s)
    if (SectorIdOf(d, track, s).R == r) return s;
  return std::nullopt;
}

// Reads a whole sector; false when it is missing or runs past its track.
bool ReadSector(DriveImage& d, uint32_t track, uint8_t r, std::vector<uint8_t>& out) {
  const auto sector = FindSector(d, track, r);
  if (!sector) return false;
  const uint32_t size = SectorSize(d, track, *sector);
  const uint64_t start = LocateSector(d, track, *sector);
  if (start == 0 || start + size > TrackEnd(d, track)) return false;
  for (uint32_t i = 0; i < size; ++i) {
    uint8_t byte = 0xE5;
    SeekDisk(d, start + i);  // byte access does not move the position
    ReadDiskByte(d, byte);
    out.push_back(byte);
  }
  return true;
}

// The first sector ID of track 0 names the format.
std::optional<uint8_t> FirstSectorId(const DriveImage& d) {
  if (!d.Loaded || SectorCountOf(d, 0) == 0) return std::nullopt;
  uint8_t lowest = 0xFF;
  for (uint32_t s = 0; s < SectorCountOf(d, 0); ++s) lowest = std::min(lowest, SectorIdOf(d, 0, s).R);
  return lowest;
}

std::string Trimmed(const uint8_t* bytes, int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += static_cast<char>(std::toupper(bytes[i] & 0x7F));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

bool IsProgram(const AmsdosFile& f) { return f.Extension.empty() || f.Extension == "BAS" || f.Extension == "BIN"; }

bool Printable(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7F && c != '"'; });
}

// A system-format disk whose first sector holds something: CP/M's loader.
// A freshly formatted disk has the filler byte there.
bool HasBootSector(DriveImage& d) {
  if (FirstSectorId(d) != 0x41) return false;
  std::vector<uint8_t> boot;
  if (!ReadSector(d, 0, 0x41, boot)) return false;
  return std::any_of(boot.begin(), boot.end(), [&](uint8_t b) { return b != boot[0]; });
}

}  // namespace

std::vector<AmsdosFile> ReadAmsdosDirectory(DriveImage& d) {
  std::vector<AmsdosFile> files;
  const auto first = FirstSectorId(d);
  if (!first) return files;
  uint32_t track = 0;
  switch (*first & 0xC0) {
    case 0xC0: track = 0; break;  // data format
    case 0x40: track = 2; break;  // system and vendor formats
    case 0x00: track = 1; break;  // IBM format
    default: return files;
  }
  std::vector<uint8_t> directory;
  for (uint8_t r = *first; directory.size() < kDirectoryEntries * kEntrySize; ++r)
    if (!ReadSector(d, track, r, directory)) break;
  const size_t entries = std::min<size_t>(directory.size() / kEntrySize, kDirectoryEntries);
  for (size_t e = 0; e < entries; ++e) {
    const uint8_t* entry = &directory[e * kEntrySize];
    if (entry[0] != 0 || entry[12] != 0) continue;  // user 0, first extent only
    AmsdosFile f{Trimmed(entry + 1, 8), Trimmed(entry + 9, 3), (entry[10] & 0x80) != 0};
    if (f.Name.empty()) continue;
    if (std::none_of(files.begin(), files.end(),
                     [&](const AmsdosFile& g) { return g.Name == f.Name && g.Extension == f.Extension; }))
      files.push_back(f);
  }
  return files;
}

std::string AutorunCommand(DriveImage& d, const std::string& imageName) {
  const std::vector<AmsdosFile> files = ReadAmsdosDirectory(d);
  // One program may be stored as NAME.BAS and NAME.BIN; RUN"NAME finds it.
  std::vector<std::string> programs, shown;
  for (const AmsdosFile& f : files) {
    if (!IsProgram(f) || !Printable(f.Name)) continue;
    if (std::find(programs.begin(), programs.end(), f.Name) == programs.end()) programs.push_back(f.Name);
    if (!f.Hidden && std::find(shown.begin(), shown.end(), f.Name) == shown.end()) shown.push_back(f.Name);
  }
  auto run = [](const std::string& name) { return "RUN\"" + name; };
  if (programs.size() == 1) return run(programs[0]);
  for (const char* loader : {"DISC", "DISK"})
    if (std::find(programs.begin(), programs.end(), loader) != programs.end()) return run(loader);
  std::string stem = std::filesystem::path(imageName).stem().string();
  std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::toupper(c); });
  std::erase(stem, ' ');
  if (stem.size() > 8) stem.resize(8);
  if (std::find(programs.begin(), programs.end(), stem) != programs.end()) return run(stem);
  if (shown.size() == 1) return run(shown[0]);
  if (programs.empty() && HasBootSector(d)) return "|CPM";
  return "CAT";
}
