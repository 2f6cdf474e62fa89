#include "storage/new_images.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

namespace fs = std::filesystem;

namespace {

constexpr uint8_t kSystemSectors[9] = {0x41, 0x46, 0x42, 0x47, 0x43, 0x48, 0x44, 0x49, 0x45};
constexpr uint8_t kDataSectors[9] = {0xC1, 0xC6, 0xC2, 0xC7, 0xC3, 0xC8, 0xC4, 0xC9, 0xC5};
constexpr uint8_t kVendorSectors[9] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x00};

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kCylinderBytes = kHddHeads * kHddSectorsPerTrack * kSectorSize;  // 516096
constexpr uint32_t kPartitionStart = 63;
constexpr uint32_t kRootEntries = 512;
constexpr uint32_t kRootSectors = kRootEntries * 32 / kSectorSize;
constexpr uint32_t kFat16MinClusters = 4085;
constexpr uint32_t kFat16MaxClusters = 65524;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
void PutText(uint8_t* p, const char* text) { std::memcpy(p, text, std::strlen(text)); }

bool NameHas(const fs::path& p, const char* part) {
  return p.filename().string().find(part) != std::string::npos;
}

// The same rule for sectors per FAT at every cluster size: at 4 sectors per
// cluster it is 2 * floor(K / 1024) + 2.
uint32_t SectorsPerFat(uint64_t sizeKb, uint32_t sectorsPerCluster) {
  return static_cast<uint32_t>(2 * (sizeKb / (256ull * sectorsPerCluster)) + 2);
}

uint32_t ClusterCount(uint32_t volumeSectors, uint64_t sizeKb, uint32_t spc) {
  const uint64_t overhead = 1 + 2ull * SectorsPerFat(sizeKb, spc) + kRootSectors;
  return volumeSectors > overhead ? static_cast<uint32_t>((volumeSectors - overhead) / spc) : 0;
}

// Writes through a temporary file in the target folder and renames it into
// place only when every byte is down.
class AtomicFile {
 public:
  explicit AtomicFile(fs::path target) : target_(std::move(target)) {}
  ~AtomicFile() { Discard(); }

  std::string Open() {
    fs::path dir = target_.parent_path();
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(rd()));
      std::string name = ".";
      name += target_.filename().string();
      name += suffix;
      temp_ = dir / name;
      fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) return {};
      if (errno != EEXIST) break;
    }
    return "Cannot create " + target_.string() + ": " + std::strerror(errno);
  }

  std::string Write(const uint8_t* data, size_t size) {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return "Cannot write " + target_.string() + ": " + std::strerror(n < 0 ? errno : EIO);
      data += n;
      size -= static_cast<size_t>(n);
    }
    return {};
  }

  std::string Commit() {
    if (::fdatasync(fd_) != 0 || ::close(fd_) != 0) {
      fd_ = -1;
      return "Cannot write " + target_.string() + ": " + std::strerror(errno);
    }
    fd_ = -1;
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
      return "Cannot create " + target_.string() + ": " + std::strerror(errno);
    temp_.clear();
    return {};
  }

 private:
  void Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
  }

  fs::path target_;
  fs::path temp_;
  int fd_ = -1;
};

}  // namespace

std::vector<uint8_t> BuildNewDsk(NewDiskFormat format) {
  // System gets &41.. and Data &C1..: the sector numbers by which AMSDOS
  // tells the two formats apart.
  const uint8_t* ids = format == NewDiskFormat::System ? kSystemSectors
                       : format == NewDiskFormat::Data ? kDataSectors
                                                       : kVendorSectors;
  const uint8_t sectors = format == NewDiskFormat::Vendor ? 8 : 9;

  std::vector<uint8_t> image(kNewDskFileSize, 0);
  uint8_t* p = image.data();
  PutText(p, "MV - CPCEMU Created with Pellucidore            ");
  p[0x30] = kNewDskTracks;
  p[0x31] = 1;
  Put16(p + 0x32, kNewDskTrackSize);

  for (uint32_t t = 0; t < kNewDskTracks; ++t) {
    uint8_t* track = p + 256 + t * kNewDskTrackSize;
    PutText(track, "Track-Info\r\n");
    track[0x10] = static_cast<uint8_t>(t);
    track[0x11] = 0;
    track[0x14] = 2;
    track[0x15] = sectors;
    track[0x16] = 0x4E;
    track[0x17] = 0xE5;
    for (int s = 0; s < 9; ++s) {
      uint8_t* entry = track + 0x18 + s * 8;
      entry[0] = static_cast<uint8_t>(t);
      entry[1] = 0;
      entry[2] = ids[s];
      entry[3] = 2;
    }
    std::memset(track + 256, 0xE5, 9 * 512);
  }
  return image;
}

fs::path NewDskFileName(const fs::path& chosen) {
  return NameHas(chosen, ".dsk") ? chosen : fs::path(chosen.string() + ".dsk");
}

fs::path NewHddFileName(const fs::path& chosen) {
  return NameHas(chosen, ".img") || NameHas(chosen, ".hdd") ? chosen : fs::path(chosen.string() + ".img");
}

std::optional<uint32_t> ParseHddSizeMb(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > kHddMaxSizeMb) return std::nullopt;
  }
  if (value < kHddMinSizeMb) return std::nullopt;
  return value;
}

HddLayout HddLayoutFor(uint32_t sizeMb) {
  HddLayout l{};
  l.Cylinders = static_cast<uint32_t>(uint64_t{sizeMb} * 1048576 / kCylinderBytes);
  l.SizeKb = l.Cylinders * 504;
  l.FileSize = kHddHeaderSize + uint64_t{l.SizeKb} * 1024;
  l.PartitionSectors = 2 * l.SizeKb - kPartitionStart;

  // Four sectors per cluster, except where that leaves the cluster count
  // outside what FAT16 can number (below about 9 MB, above about 128 MB):
  // there the cluster size moves as far as FAT16 allows. Past 2 GB even 64
  // sectors per cluster are too few, so the partition covers only the largest
  // FAT16 volume and the rest of the disk stays unallocated.
  uint64_t volumeKb = l.SizeKb;
  uint32_t spc = 4;
  // Images of 1 and 2 MB are too small for FAT16 at any cluster size; they
  // get the FAT12 file system that their cluster count implies.
  while (spc > 1 && ClusterCount(l.PartitionSectors, volumeKb, spc) < kFat16MinClusters) spc /= 2;
  if (ClusterCount(l.PartitionSectors, volumeKb, spc) < kFat16MinClusters) spc = 4;
  while (spc < 64 && ClusterCount(l.PartitionSectors, volumeKb, spc) > kFat16MaxClusters) spc *= 2;
  while (ClusterCount(l.PartitionSectors, volumeKb, spc) > kFat16MaxClusters) {
    const uint32_t excess = ClusterCount(l.PartitionSectors, volumeKb, spc) - kFat16MaxClusters;
    l.PartitionSectors -= excess * spc;
    volumeKb = (uint64_t{l.PartitionSectors} + kPartitionStart) / 2;
  }
  l.SectorsPerCluster = spc;
  l.SectorsPerFat = SectorsPerFat(volumeKb, spc);
  l.Clusters = ClusterCount(l.PartitionSectors, volumeKb, spc);
  l.FatBits = l.Clusters < kFat16MinClusters ? 12 : 16;
  return l;
}

std::vector<uint8_t> BuildHddStart(const HddLayout& l, uint32_t volumeSerial) {
  // Up to the second FAT's first sector.
  std::vector<uint8_t> out(kHddHeaderSize + (kPartitionStart + 2 + l.SectorsPerFat) * kSectorSize, 0);
  uint8_t* header = out.data();
  PutText(header, "HDDIMAGE Created with Pellucidor        ");
  Put32(header + 40, 1);
  Put32(header + 44, l.Cylinders);
  Put32(header + 48, kHddHeads);
  Put32(header + 52, kHddSectorsPerTrack);
  Put32(header + 56, l.SizeKb);

  uint8_t* mbr = out.data() + kHddHeaderSize;
  uint8_t* entry = mbr + 446;
  // The end address is the partition's last sector: with the full disk that
  // is the last cylinder (Cyl - 1, head 15, sector 63). Cylinder bits 8..9
  // go into the sector byte, and cylinders past 1023 are given as 1023.
  const uint32_t last = kPartitionStart + l.PartitionSectors - 1;
  const uint32_t endCylinder = std::min<uint32_t>(last / (kHddHeads * kHddSectorsPerTrack), 1023);
  const uint32_t endHead = endCylinder == 1023 ? kHddHeads - 1 : (last / kHddSectorsPerTrack) % kHddHeads;
  const uint32_t endSector = endCylinder == 1023 ? kHddSectorsPerTrack : last % kHddSectorsPerTrack + 1;
  entry[0] = 0x80;
  entry[1] = 1;  // start: cylinder 0, head 1, sector 1 = LBA 63
  entry[2] = 1;
  entry[3] = 0;
  entry[4] = l.FatBits == 12 ? 0x01 : 0x0E;
  entry[5] = static_cast<uint8_t>(endHead);
  entry[6] = static_cast<uint8_t>(endSector | ((endCylinder >> 2) & 0xC0));
  entry[7] = static_cast<uint8_t>(endCylinder);
  Put32(entry + 8, kPartitionStart);
  Put32(entry + 12, l.PartitionSectors);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;

  uint8_t* boot = out.data() + kHddHeaderSize + kPartitionStart * kSectorSize;
  PutText(boot + 0x03, "MSWIN4.1");
  Put16(boot + 0x0B, kSectorSize);
  boot[0x0D] = static_cast<uint8_t>(l.SectorsPerCluster);
  Put16(boot + 0x0E, 1);
  boot[0x10] = 2;
  Put16(boot + 0x11, kRootEntries);
  Put16(boot + 0x13, l.PartitionSectors < 65536 ? l.PartitionSectors : 0);
  boot[0x15] = 0xF8;
  Put16(boot + 0x16, l.SectorsPerFat);
  Put16(boot + 0x18, kHddSectorsPerTrack);
  Put16(boot + 0x1A, kHddHeads);
  Put32(boot + 0x1C, kPartitionStart);
  Put32(boot + 0x20, l.PartitionSectors >= 65536 ? l.PartitionSectors : 0);
  boot[0x24] = 0x80;
  boot[0x26] = 0x29;
  Put32(boot + 0x27, volumeSerial);
  PutText(boot + 0x2B, "NO NAME    ");
  PutText(boot + 0x36, l.FatBits == 12 ? "FAT12   " : "FAT16   ");
  boot[0x1FE] = 0x55;
  boot[0x1FF] = 0xAA;

  // Both FATs start with the media entries: a second FAT left zero makes
  // the two copies disagree, which checkers report as damage.
  for (uint32_t copy = 0; copy < 2; ++copy) {
    const size_t at = kHddHeaderSize + (kPartitionStart + 1 + copy * l.SectorsPerFat) * kSectorSize;
    out[at] = 0xF8;
    out[at + 1] = out[at + 2] = 0xFF;
    if (l.FatBits == 16) out[at + 3] = 0xFF;
  }
  return out;
}

ImageWriteResult WriteNewDsk(const fs::path& chosen, NewDiskFormat format) {
  ImageWriteResult r;
  r.Written = NewDskFileName(chosen);
  const std::vector<uint8_t> image = BuildNewDsk(format);
  AtomicFile file(r.Written);
  if (r.Error = file.Open(); !r.Ok()) return r;
  if (r.Error = file.Write(image.data(), image.size()); !r.Ok()) return r;
  r.Error = file.Commit();
  return r;
}

ImageWriteResult WriteNewHdd(const fs::path& chosen, uint32_t sizeMb, const WriteProgress& progress) {
  ImageWriteResult r;
  r.Written = NewHddFileName(chosen);
  if (sizeMb < kHddMinSizeMb || sizeMb > kHddMaxSizeMb) {
    r.Error = "The size must be 1 to 60000 MB";
    return r;
  }
  const HddLayout layout = HddLayoutFor(sizeMb);

  std::random_device seed;
  std::mt19937 generator(seed());
  const uint32_t serial = std::uniform_int_distribution<uint32_t>(0, 0x7FFFFFFE)(generator);
  const std::vector<uint8_t> start = BuildHddStart(layout, serial);

  AtomicFile file(r.Written);
  if (r.Error = file.Open(); !r.Ok()) return r;
  if (r.Error = file.Write(start.data(), start.size()); !r.Ok()) return r;

  static const std::vector<uint8_t> zeros(1 << 16, 0);
  uint64_t done = start.size();
  while (done < layout.FileSize) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(zeros.size(), layout.FileSize - done));
    if (r.Error = file.Write(zeros.data(), n); !r.Ok()) return r;
    done += n;
    // Asked after every block, not only when the percentage moves: 1% of a
    // 60000 MB image would be 600 MB written before a cancel is seen.
    if (progress) {
      if (!progress(static_cast<int>(done * 100 / layout.FileSize))) {
        r.Cancelled = true;
        r.Error = "Cancelled";
        return r;
      }
    }
  }
  r.Error = file.Commit();
  return r;
}
