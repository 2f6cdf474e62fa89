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
  d.TrackCount = 0;
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

// Reads the disk and track blocks of an image of `size` bytes; the rules by
// which a file is accepted live here, for files and archive members alike.
InsertResult LoadBlocks(DriveImage& d, const std::string& name, uint64_t size, const ReadFn& read) {
  read(0, d.Header.data(), d.Header.size());
  d.ImageSize = size;
  const uint32_t tracks = d.Header[kHeaderTracks];
  uint32_t stored = 0;

  if (std::memcmp(d.Header.data(), "MV - CPC", 8) == 0) {
    if (tracks > kMaxTracks) return Refuse(d, name, "more than 43 tracks");
    const uint32_t trackSize = d.Header[kHeaderTrackSize] | d.Header[kHeaderTrackSize + 1] << 8;
    // A track smaller than its own block cannot be laid out.
    if ((tracks == 0 || trackSize >= 256) && size == uint64_t{tracks} * trackSize + 256) {
      for (uint32_t k = 0; k < tracks; ++k) {
        d.TrackOffset[k] = 256 + k * trackSize;
        d.TrackLength[k] = trackSize;
      }
      stored = tracks;
    }
  } else if (std::memcmp(d.Header.data(), "EXTENDED", 8) == 0) {
    if (tracks > kHeaderTrackSizeEntries) return Refuse(d, name, "more than 43 tracks");
    uint64_t total = 256;
    uint32_t count = 0;
    bool gap = false;
    for (uint32_t k = 0; k < tracks; ++k) {
      const uint32_t high = d.Header[kHeaderTrackSizes + k];
      if (high == 0) {
        gap = true;
        continue;
      }
      if (gap) return Refuse(d, name, "an unstored track lies before a stored one");
      if (count >= kMaxTracks) return Refuse(d, name, "more than 43 tracks");
      d.TrackOffset[count] = static_cast<uint32_t>(total);
      d.TrackLength[count] = high * 256;
      total += high * 256;
      ++count;
    }
    if (size == total) stored = count;
  }

  if (stored == 0) {
    // Neither format, or the size test failed: a disk with no readable sectors.
    d.TrackOffset.fill(0);
    d.TrackLength.fill(0);
  }
  for (uint32_t k = 0; k < stored; ++k) {
    auto& block = d.Tracks[k];
    read(d.TrackOffset[k], block.data(), block.size());
    const uint32_t sectors = block[kTrackSectorCount];
    if (sectors > kMaxSectorsPerTrack)
      return Refuse(d, name, "track " + std::to_string(k) + " lists more sectors than its block holds");
    for (uint32_t s = 0; s < sectors; ++s)
      if (block[kTrackEntries + 8 * s + 3] > 6)
        return Refuse(d, name, "a sector size code above 6 on track " + std::to_string(k));
  }
  d.TrackCount = stored;
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
  if (track >= d.TrackCount) return 0;
  uint32_t offset = d.TrackOffset[track] + 256;
  const uint32_t last = std::min(sector, SectorCountOf(d, track));
  for (uint32_t i = 0; i < last; ++i) offset += SectorSize(d, track, i);
  return offset;
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
