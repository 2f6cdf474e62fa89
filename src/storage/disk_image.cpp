#include "storage/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>

namespace {

constexpr int kHeaderTracks = 0x30;
constexpr int kHeaderSides = 0x31;
constexpr int kHeaderTrackSize = 0x32;
constexpr int kHeaderTrackSizes = 0x34;
constexpr int kHeaderTrackSizeEntries = 256 - kHeaderTrackSizes;  // 204

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads up to `length` bytes at `offset`, zero-filling what the image lacks.
using ReadFn = std::function<void(uint64_t offset, uint8_t* buffer, size_t length)>;

void ClearImage(DriveImage& d) {
  d.Header.fill(0);
  for (auto& t : d.Tracks) t.fill(0);
  d.TrackOffset.fill(0);
  d.TrackLength.fill(0);
  for (auto& t : d.SectorData) t.fill(0);
  for (auto& t : d.SectorStored) t.fill(0);
  d.TrackCount = 0;
  d.Sides = 1;
  d.Extended = 0;
  d.WeakRead = 0;
  d.ImageSize = 0;
  d.Loaded = 0;
  d.ReadOnly = 0;
  d.Position = 0;
  d.CacheValid = 0;
  d.CacheLength = 0;
  d.DirtyBegin = d.DirtyEnd = 0;
}

InsertResult Refuse(DriveImage& d, const std::string& name, const std::string& why) {
  InsertResult r;
  r.Status = InsertStatus::Refused;
  r.Messages.push_back(name + ": " + why + "; the disk image cannot be used.");
  EjectDisk(d);
  return r;
}

// Works out where each sector of a read track block lies. Stored lengths are
// clamped to the track, so nothing beyond it is ever read as sector data.
void LayOutSectors(DriveImage& d, uint32_t k) {
  const auto& block = d.Tracks[k];
  const uint32_t sectors = block[kTrackSectorCount];
  const uint64_t end = uint64_t{d.TrackOffset[k]} + d.TrackLength[k];
  uint64_t at = uint64_t{d.TrackOffset[k]} + 256;
  for (uint32_t s = 0; s < sectors; ++s) {
    const uint8_t* e = &block[kTrackEntries + 8 * s];
    uint32_t stored = StoredSizeOfCode(e[3]);
    // Some tools leave the stored length 0 in EXTENDED images: the size code
    // then says it.
    if (d.Extended && (e[6] | e[7] << 8) != 0) stored = e[6] | e[7] << 8;
    const uint64_t from = std::min(at, end);
    d.SectorData[k][s] = static_cast<uint32_t>(from);
    d.SectorStored[k][s] = static_cast<uint32_t>(std::min<uint64_t>(stored, end - from));
    at += stored;
  }
}

// Reads the disk and track blocks of an image of `size` bytes; the rules by
// which a file is accepted live here, for files and archive members alike.
// Bytes after the last track are never read as track data.
InsertResult LoadBlocks(DriveImage& d, const std::string& name, uint64_t size, const ReadFn& read) {
  read(0, d.Header.data(), d.Header.size());
  d.ImageSize = size;
  const uint32_t cylinders = d.Header[kHeaderTracks];
  const uint32_t sides = d.Header[kHeaderSides] == 2 ? 2 : 1;
  const bool standard = std::memcmp(d.Header.data(), "MV - CPC", 8) == 0;
  const bool extended = std::memcmp(d.Header.data(), "EXTENDED", 8) == 0;
  if (!standard && !extended) {
    d.Loaded = 1;  // neither format: a disk with no readable sectors
    return {InsertStatus::Inserted, {}};
  }
  if (cylinders > kMaxCylinders) return Refuse(d, name, "more than 84 tracks");
  if (d.Header[kHeaderSides] > 2) return Refuse(d, name, "more than 2 sides");
  const uint32_t records = cylinders * sides;
  d.Sides = sides;
  d.Extended = extended;

  uint64_t total = 256;
  if (standard) {
    const uint32_t trackSize = d.Header[kHeaderTrackSize] | d.Header[kHeaderTrackSize + 1] << 8;
    for (uint32_t k = 0; k < records; ++k) {
      d.TrackOffset[k] = static_cast<uint32_t>(total);
      // A track smaller than its own block cannot be laid out.
      d.TrackLength[k] = trackSize >= 256 ? trackSize : 0;
      total += trackSize;
    }
  } else {
    if (records > kHeaderTrackSizeEntries) return Refuse(d, name, "more track entries than the header holds");
    for (uint32_t k = 0; k < records; ++k) {
      d.TrackOffset[k] = static_cast<uint32_t>(total);
      d.TrackLength[k] = d.Header[kHeaderTrackSizes + k] * 256u;
      total += d.TrackLength[k];
    }
  }
  if (size < total) {
    // Cut short: a disk with no readable sectors, as the written rule has it.
    d.TrackOffset.fill(0);
    d.TrackLength.fill(0);
    d.Loaded = 1;
    return {InsertStatus::Inserted, {}};
  }
  for (uint32_t k = 0; k < records; ++k) {
    if (d.TrackLength[k] == 0) continue;
    auto& block = d.Tracks[k];
    read(d.TrackOffset[k], block.data(), block.size());
    if (block[kTrackSectorCount] > kMaxSectorsPerTrack)
      return Refuse(d, name, "track " + std::to_string(k) + " lists more sectors than its block holds");
    LayOutSectors(d, k);
  }
  d.TrackCount = records;
  d.Loaded = 1;
  return {InsertStatus::Inserted, {}};
}

void FillCache(DriveImage& d, uint64_t offset) {
  const uint64_t base = offset & ~uint64_t{DriveImage::kCacheSize - 1};
  if (d.CacheValid && d.CacheBase == base) return;
  FlushDisk(d);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(DriveImage::kCacheSize, d.ImageSize - base));
  size_t got = 0;
  while (got < want) {
    const ssize_t n = pread(d.File, d.Cache.data() + got, want - got, static_cast<off_t>(base + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  d.CacheBase = base;
  d.CacheLength = static_cast<uint32_t>(got);
  d.CacheValid = 1;
}

}  // namespace

DriveImage::~DriveImage() {
  if (File >= 0) {
    FlushDisk(*this);
    close(File);
  }
}

InsertResult OpenDiskFile(DriveImage& d, const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {InsertStatus::Missing, {}};
  EjectDisk(d);
  d.Source = kSourceFile;
  d.WriteFailed = 0;
  if (!S_ISREG(st.st_mode)) return Refuse(d, path, "not a file");
  // A file without any write permission bit stays unwritten even for root,
  // who could open it for writing regardless.
  int fd = (st.st_mode & 0222) ? open(path.c_str(), O_RDWR | O_CLOEXEC) : -1;
  if (fd < 0 && (!(st.st_mode & 0222) || errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    d.ReadOnly = fd >= 0;
  }
  if (fd < 0) return Refuse(d, path, std::strerror(errno));
  d.File = fd;
  d.FilePath = path;
  struct stat opened {};
  const uint64_t size = fstat(fd, &opened) == 0 ? static_cast<uint64_t>(opened.st_size) : 0;
  return LoadBlocks(d, path, size, [fd](uint64_t offset, uint8_t* buffer, size_t length) {
    size_t got = 0;
    while (got < length) {
      const ssize_t n = pread(fd, buffer + got, length - got, static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    std::memset(buffer + got, 0, length - got);
  });
}

namespace {

InsertResult LoadFromStream(DriveImage& d, const std::string& name) {
  const std::vector<uint8_t>& s = d.Zip.Stream;
  return LoadBlocks(d, name, s.size(), [&s](uint64_t offset, uint8_t* buffer, size_t length) {
    const size_t avail = offset < s.size() ? static_cast<size_t>(std::min<uint64_t>(length, s.size() - offset)) : 0;
    if (avail) std::memcpy(buffer, s.data() + offset, avail);
    std::memset(buffer + avail, 0, length - avail);
  });
}

}  // namespace

InsertResult OpenDiskFromZip(DriveImage& d, const std::string& member) {
  EjectDisk(d);
  d.Source = kSourceZip;
  d.WriteFailed = 0;
  InsertResult r;
  // A failed extraction still leaves the drive loaded, with no sectors.
  d.Zip.ExtractToStream(member, r.Messages);
  InsertResult loaded = LoadFromStream(d, member);
  r.Status = loaded.Status;
  r.Messages.insert(r.Messages.end(), loaded.Messages.begin(), loaded.Messages.end());
  return r;
}

InsertResult OpenDiskFromMemory(DriveImage& d, std::vector<uint8_t> image) {
  EjectDisk(d);
  d.Source = kSourceZip;
  d.WriteFailed = 0;
  d.Zip.Stream = std::move(image);
  return LoadFromStream(d, "image");
}

void EjectDisk(DriveImage& d) {
  if (d.File >= 0) {
    FlushDisk(d);
    close(d.File);
    d.File = -1;
  }
  d.FilePath.clear();
  ClearImage(d);
}

std::vector<std::string> ListDskMembers(TMiniZip& zip, std::vector<std::string>& messages) {
  std::vector<std::string> names;
  zip.ListMembers(
      [&names](const std::string& name) {
        std::string upper = Upper(name);
        if (upper.find(".DSK") != std::string::npos) names.push_back(std::move(upper));
      },
      messages);
  return names;
}

InsertResult InsertDiskPath(DriveImage& d, const std::string& path, const std::string& member,
                            std::vector<std::string>* choices) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return {InsertStatus::Missing, {}};
  if (Upper(path).find(".ZIP") == std::string::npos) {
    InsertResult r = OpenDiskFile(d, path);
    d.ZipPath.clear();
    d.ZipMember.clear();
    d.DiskPath = r.Status == InsertStatus::Inserted ? path : std::string();
    return r;
  }

  EjectDisk(d);
  InsertResult r;
  auto giveUp = [&](InsertStatus status) {
    d.Source = kSourceFile;
    d.ZipPath.clear();
    d.ZipMember.clear();
    d.DiskPath.clear();
    r.Status = status;
    return r;
  };
  d.Source = kSourceZip;
  d.ZipPath = path;
  if (!d.Zip.Open(path)) d.Zip.Close();
  const std::vector<std::string> names = ListDskMembers(d.Zip, r.Messages);
  if (names.empty()) {
    r.Messages.emplace_back(kMsgNoDskInZip);
    return giveUp(InsertStatus::Refused);
  }
  std::string chosen;
  if (!member.empty()) {
    const auto it = std::find(names.begin(), names.end(), Upper(member));
    if (it == names.end()) {
      r.Messages.push_back(path + ": no DSK member named " + member + " in the archive.");
      return giveUp(InsertStatus::Refused);
    }
    chosen = *it;
  } else if (names.size() == 1) {
    chosen = names.front();
  } else {
    if (choices) *choices = names;
    return giveUp(InsertStatus::Choose);
  }
  InsertResult loaded = OpenDiskFromZip(d, chosen);
  r.Messages.insert(r.Messages.end(), loaded.Messages.begin(), loaded.Messages.end());
  r.Status = loaded.Status;
  if (loaded.Status != InsertStatus::Inserted) return giveUp(loaded.Status);
  d.DiskPath = path;
  d.ZipMember = chosen;
  return r;
}

void EjectDrive(DriveImage& d) {
  EjectDisk(d);
  d.DiskPath.clear();
  d.ZipPath.clear();
  d.ZipMember.clear();
}

std::string DriveCaption(const DriveImage& d, int drive) {
  const char letter = drive == 0 ? 'A' : 'B';
  if (!d.Loaded) return std::string("Floppy ") + letter + ":";
  const std::string& name = d.Source == kSourceZip ? d.ZipMember : d.DiskPath;
  return std::string(1, letter) + ": " + Upper(BaseName(name));
}

std::string DriveStatusText(const DriveImage& d, int drive) {
  // The disk's name rather than a bare "Loaded": with two drives and a Recent
  // list, the user needs to see which disk is where.
  if (d.Loaded) return DriveCaption(d, drive);
  return std::string(1, drive == 0 ? 'A' : 'B') + ": Empty";
}

uint32_t LocateSector(const DriveImage& d, uint32_t track, uint32_t sector) {
  const uint32_t count = SectorCountOf(d, track);
  if (count == 0) return track < d.TrackCount && d.TrackLength[track] ? d.TrackOffset[track] + 256 : 0;
  if (sector < count) return d.SectorData[track][sector];
  return d.SectorData[track][count - 1] + d.SectorStored[track][count - 1];
}

void ReadDiskByte(DriveImage& d, uint8_t& data) {
  if (d.Source == kSourceZip) {
    if (d.Position < d.Zip.Stream.size()) data = d.Zip.Stream[d.Position];
    return;
  }
  if (d.File < 0 || d.Position >= d.ImageSize) return;
  FillCache(d, d.Position);
  const uint64_t at = d.Position - d.CacheBase;
  if (at < d.CacheLength) data = d.Cache[at];
}

void WriteDiskByte(DriveImage& d, uint8_t value) {
  if (d.Source == kSourceZip) {
    // Lasts until the next extraction; archives are never written.
    if (d.Position < d.Zip.Stream.size()) d.Zip.Stream[d.Position] = value;
    return;
  }
  if (d.File < 0 || d.ReadOnly || d.Position >= d.ImageSize) return;
  FillCache(d, d.Position);
  const uint32_t at = static_cast<uint32_t>(d.Position - d.CacheBase);
  if (at >= d.CacheLength) return;
  d.Cache[at] = value;
  if (d.DirtyBegin == d.DirtyEnd) {
    d.DirtyBegin = at;
    d.DirtyEnd = at + 1;
  } else {
    d.DirtyBegin = std::min(d.DirtyBegin, at);
    d.DirtyEnd = std::max(d.DirtyEnd, at + 1);
  }
}

void FlushDisk(DriveImage& d) {
  if (d.File >= 0 && d.DirtyEnd > d.DirtyBegin) {
    size_t done = 0;
    const size_t length = d.DirtyEnd - d.DirtyBegin;
    while (done < length) {
      const ssize_t n = pwrite(d.File, d.Cache.data() + d.DirtyBegin + done, length - done,
                               static_cast<off_t>(d.CacheBase + d.DirtyBegin + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        d.WriteFailed = 1;
        break;
      }
      done += static_cast<size_t>(n);
    }
  }
  d.DirtyBegin = d.DirtyEnd = 0;
  // Read afresh next time, so a change made to the file outside shows up.
  d.CacheValid = 0;
}

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t length, uint64_t offset) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = pwrite(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, uint8_t* data, size_t length, uint64_t offset) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = pread(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::vector<uint8_t> TrackBytes(const FormattedTrack& t, uint32_t roundTo) {
  uint32_t size = 256;
  for (const SectorId& s : t.Sectors) size += StoredSizeOfCode(s.N);
  size = (size + roundTo - 1) / roundTo * roundTo;
  std::vector<uint8_t> v(size, t.Filler);
  std::fill(v.begin(), v.begin() + 256, 0);
  std::memcpy(v.data(), "Track-Info\r\n", 12);
  v[0x10] = static_cast<uint8_t>(t.Cylinder);
  v[0x11] = static_cast<uint8_t>(t.Side);
  v[kTrackSizeCode] = t.SizeCode;
  v[kTrackSectorCount] = static_cast<uint8_t>(t.Sectors.size());
  v[kTrackGap3] = t.Gap3;
  v[kTrackFiller] = t.Filler;
  for (size_t i = 0; i < t.Sectors.size(); ++i) {
    uint8_t* e = &v[kTrackEntries + 8 * i];
    const SectorId& s = t.Sectors[i];
    e[0] = s.C;
    e[1] = s.H;
    e[2] = s.R;
    e[3] = s.N;
    const uint32_t stored = StoredSizeOfCode(s.N);
    e[6] = static_cast<uint8_t>(stored);
    e[7] = static_cast<uint8_t>(stored >> 8);
  }
  return v;
}

// The whole image as EXTENDED with record `k` replaced, or empty when a track
// cannot be read back.
std::vector<uint8_t> RebuiltImage(DriveImage& d, uint32_t k, const std::vector<uint8_t>& track, uint32_t cylinders) {
  std::vector<uint8_t> v(256, 0);
  std::memcpy(v.data(), "EXTENDED CPC DSK File\r\nDisk-Info\r\n", 34);
  std::memcpy(v.data() + 0x22, "Pellucidore", 11);
  v[kHeaderTracks] = static_cast<uint8_t>(cylinders);
  v[kHeaderSides] = static_cast<uint8_t>(d.Sides);
  for (uint32_t r = 0; r < cylinders * d.Sides; ++r) {
    std::vector<uint8_t> bytes;
    if (r == k) {
      bytes = track;
    } else if (r < d.TrackCount && d.TrackLength[r] != 0) {
      bytes.assign((d.TrackLength[r] + 255) / 256 * 256, 0);
      if (!ReadAll(d.File, bytes.data(), d.TrackLength[r], d.TrackOffset[r])) return {};
      if (!d.Extended) {
        // Standard entries carry no status or stored length.
        for (uint32_t s = 0; s < SectorCountOf(d, r); ++s) {
          uint8_t* e = &bytes[kTrackEntries + 8 * s];
          e[4] = e[5] = 0;
          e[6] = static_cast<uint8_t>(d.SectorStored[r][s]);
          e[7] = static_cast<uint8_t>(d.SectorStored[r][s] >> 8);
        }
      }
    }
    if (bytes.size() > 255 * 256) return {};
    v[kHeaderTrackSizes + r] = static_cast<uint8_t>(bytes.size() / 256);
    v.insert(v.end(), bytes.begin(), bytes.end());
  }
  return v;
}

}  // namespace

bool FormatTrackInImage(DriveImage& d, const FormattedTrack& t) {
  if (!d.Loaded || d.Source != kSourceFile || d.File < 0 || d.ReadOnly) return false;
  if (t.Cylinder >= kMaxCylinders || t.Side >= d.Sides || t.Sectors.size() > kMaxSectorsPerTrack) return false;
  // Neither format, or cut short: nothing here may be replaced by a rewrite.
  if (std::memcmp(d.Header.data(), "MV - CPC", 8) != 0 && std::memcmp(d.Header.data(), "EXTENDED", 8) != 0) return false;
  if (d.TrackCount == 0 && d.Header[kHeaderTracks] != 0) return false;
  FlushDisk(d);
  const uint32_t k = t.Cylinder * d.Sides + t.Side;
  const bool stored = k < d.TrackCount && d.TrackLength[k] != 0;

  // In place when the track keeps its size in the file.
  if (stored) {
    std::vector<uint8_t> bytes = TrackBytes(t, 256);
    if (!d.Extended && bytes.size() <= d.TrackLength[k]) bytes.resize(d.TrackLength[k], t.Filler);
    if (bytes.size() == d.TrackLength[k]) {
      if (!WriteAll(d.File, bytes.data(), bytes.size(), d.TrackOffset[k])) {
        d.WriteFailed = 1;
        return false;
      }
      std::copy(bytes.begin(), bytes.begin() + 256, d.Tracks[k].begin());
      LayOutSectors(d, k);
      return true;
    }
  }

  const uint32_t oldCylinders = d.TrackCount / d.Sides;
  const uint32_t cylinders = std::max(oldCylinders, t.Cylinder + 1);
  const std::vector<uint8_t> image = RebuiltImage(d, k, TrackBytes(t, 256), cylinders);
  if (image.empty()) return false;

  // A temporary file beside the image replaces it only once complete.
  const std::string path = d.FilePath;
  std::string tmp = path + ".XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(d.File, &st) == 0) fchmod(fd, st.st_mode & 07777);
  if (!WriteAll(fd, image.data(), image.size(), 0) || fsync(fd) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
    close(fd);
    unlink(tmp.c_str());
    d.WriteFailed = 1;
    return false;
  }
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }

  // Take up the new file as the drive's image.
  close(d.File);
  d.File = fd;
  const uint8_t readOnly = d.ReadOnly;
  ClearImage(d);
  d.ReadOnly = readOnly;
  d.Source = kSourceFile;
  d.FilePath = path;
  const InsertResult r = LoadBlocks(d, path, image.size(), [&image](uint64_t offset, uint8_t* buffer, size_t length) {
    const size_t avail =
        offset < image.size() ? static_cast<size_t>(std::min<uint64_t>(length, image.size() - offset)) : 0;
    if (avail) std::memcpy(buffer, image.data() + offset, avail);
    std::memset(buffer + avail, 0, length - avail);
  });
  return r.Status == InsertStatus::Inserted;
}
