#include "storage/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace {

constexpr uint32_t kEndOfDirSignature = 0x06054B50;
constexpr uint32_t kDirEntrySignature = 0x02014B50;
constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr size_t kEndOfDirSize = 22;
constexpr size_t kDirEntrySize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kMaxCommentSize = 65535;

constexpr size_t kInputChunk = 8192;
constexpr size_t kOutputBuffer = 65536;
// Guards against a chunk that keeps inflating without end.
constexpr int kMaxFullPasses = 100;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

TMiniZip::~TMiniZip() { Close(); }

void TMiniZip::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  fileSize_ = 0;
  path_.clear();
  members_.clear();
}

bool TMiniZip::ReadAt(uint64_t offset, void* buffer, size_t length) const {
  if (!file_ || offset > fileSize_ || length > fileSize_ - offset) return false;
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  return std::fread(buffer, 1, length, file_) == length;
}

bool TMiniZip::Open(const std::string& path) {
  if (file_ && path == path_) return true;
  Close();
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) return false;
  path_ = path;
  if (fseeko(file_, 0, SEEK_END) != 0) {
    Close();
    return false;
  }
  const off_t size = ftello(file_);
  fileSize_ = size > 0 ? static_cast<uint64_t>(size) : 0;

  // The end record sits in the last 22 bytes plus at most a 64 KB comment;
  // search backwards for the last signature whose comment fits.
  const size_t tailLength = static_cast<size_t>(std::min<uint64_t>(fileSize_, kEndOfDirSize + kMaxCommentSize));
  std::vector<uint8_t> tail(tailLength);
  const uint64_t tailStart = fileSize_ - tailLength;
  bool found = false;
  size_t endPos = 0;
  if (tailLength >= kEndOfDirSize && ReadAt(tailStart, tail.data(), tailLength)) {
    for (size_t i = tailLength - kEndOfDirSize + 1; i-- > 0;) {
      if (Le32(&tail[i]) == kEndOfDirSignature && i + kEndOfDirSize + Le16(&tail[i + 20]) <= tailLength) {
        endPos = i;
        found = true;
        break;
      }
    }
  }
  if (!found) {
    Close();
    return false;
  }
  const uint8_t* end = &tail[endPos];
  const uint16_t diskNumber = Le16(end + 4);
  const uint16_t dirDisk = Le16(end + 6);
  const uint16_t entries = Le16(end + 10);
  const uint32_t dirSize = Le32(end + 12);
  const uint32_t dirOffset = Le32(end + 16);
  const uint64_t endOffset = tailStart + endPos;
  if (diskNumber != 0 || dirDisk != 0 || static_cast<uint64_t>(dirOffset) + dirSize > endOffset) {
    Close();
    return false;
  }
  std::vector<uint8_t> dir(dirSize);
  if (dirSize && !ReadAt(dirOffset, dir.data(), dirSize)) {
    Close();
    return false;
  }
  size_t pos = 0;
  for (uint32_t n = 0; n < entries; ++n) {
    if (dirSize - pos < kDirEntrySize || Le32(&dir[pos]) != kDirEntrySignature) {
      Close();
      return false;
    }
    const uint8_t* e = &dir[pos];
    const size_t nameLength = Le16(e + 28);
    const size_t variableLength = nameLength + Le16(e + 30) + Le16(e + 32);
    if (dirSize - pos - kDirEntrySize < variableLength) {
      Close();
      return false;
    }
    ZipMemberInfo info;
    info.Flags = Le16(e + 8);
    info.Method = Le16(e + 10);
    info.Crc = Le32(e + 16);
    info.CompressedSize = Le32(e + 20);
    info.UncompressedSize = Le32(e + 24);
    info.LocalHeaderOffset = Le32(e + 42);
    info.Name.assign(reinterpret_cast<const char*>(e + kDirEntrySize), nameLength);
    members_.push_back(std::move(info));
    pos += kDirEntrySize + variableLength;
  }
  return true;
}

int TMiniZip::ListMembers(const std::function<void(const std::string&)>& onMember,
                          std::vector<std::string>& messages) const {
  if (!IsOpen()) {
    messages.emplace_back(kMsgNoZipOpened);
    return -1;
  }
  for (const auto& member : members_) onMember(member.Name);
  return static_cast<int>(members_.size());
}

bool TMiniZip::ExtractToStream(const std::string& name, std::vector<std::string>& messages) {
  Stream.clear();
  if (!IsOpen()) {
    messages.emplace_back(kMsgNoZipOpened);
    return false;
  }
  for (const auto& member : members_) {
    if (!SameNameIgnoringCase(member.Name, name)) continue;
    if (Extract(member, messages)) return true;
    Stream.clear();
    return false;
  }
  // Not in the archive: nothing to extract, the drive ends up with no sectors.
  return false;
}

bool TMiniZip::Extract(const ZipMemberInfo& member, std::vector<std::string>& messages) {
  auto fail = [&] {
    messages.emplace_back(kMsgExtractError);
    return false;
  };
  // Encrypted members and anything larger than a disk image are not ours.
  if ((member.Flags & 0x0001) || member.UncompressedSize > kMaxMemberSize) return fail();

  // The data offset comes from the local header: its extra field may differ
  // in length from the central directory's copy.
  std::array<uint8_t, kLocalHeaderSize> local;
  if (!ReadAt(member.LocalHeaderOffset, local.data(), local.size()) || Le32(local.data()) != kLocalHeaderSignature)
    return fail();
  const uint64_t dataOffset = uint64_t{member.LocalHeaderOffset} + kLocalHeaderSize + Le16(&local[26]) +
                              Le16(&local[28]);
  if (dataOffset > fileSize_ || member.CompressedSize > fileSize_ - dataOffset) return fail();

  uLong crc = crc32(0L, Z_NULL, 0);
  if (member.Method == 0) {
    if (member.CompressedSize != member.UncompressedSize) return fail();
    Stream.resize(member.UncompressedSize);
    if (member.UncompressedSize && !ReadAt(dataOffset, Stream.data(), member.UncompressedSize)) return fail();
    crc = crc32(crc, Stream.data(), static_cast<uInt>(Stream.size()));
  } else if (member.Method == 8) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return fail();
    std::vector<uint8_t> input(kInputChunk);
    std::vector<uint8_t> output(kOutputBuffer);
    Stream.reserve(member.UncompressedSize);
    uint64_t remaining = member.CompressedSize;
    uint64_t readPos = dataOffset;
    bool ended = false;
    bool ok = true;
    while (ok && !ended && remaining > 0) {
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, kInputChunk));
      if (!ReadAt(readPos, input.data(), chunk)) {
        ok = false;
        break;
      }
      readPos += chunk;
      remaining -= chunk;
      z.next_in = input.data();
      z.avail_in = static_cast<uInt>(chunk);
      int fullPasses = 0;
      do {
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
          ok = false;
          break;
        }
        const size_t produced = output.size() - z.avail_out;
        if (Stream.size() + produced > member.UncompressedSize) {
          ok = false;  // more data than the directory promised
          break;
        }
        Stream.insert(Stream.end(), output.begin(), output.begin() + static_cast<std::ptrdiff_t>(produced));
        crc = crc32(crc, output.data(), static_cast<uInt>(produced));
        if (rc == Z_STREAM_END) {
          ended = true;
          break;
        }
        if (z.avail_out != 0) break;  // this chunk is used up
        if (++fullPasses > kMaxFullPasses) {
          ok = false;
          break;
        }
      } while (true);
      // Data left over after the end of the deflate stream.
      if (ended && (z.avail_in != 0 || remaining != 0)) ok = false;
    }
    inflateEnd(&z);
    if (!ok || !ended || Stream.size() != member.UncompressedSize) return fail();
  } else {
    return fail();
  }
  if (member.Crc != 0 && crc != member.Crc) messages.emplace_back(kMsgWrongCrc);
  return true;
}
