// Small hand-made DSK images and ZIP archives for the storage tests.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli_support.h"
#include "storage/disk_image.h"
#include "storage/fdc.h"

namespace disktest {

struct Sector {
  uint8_t C, H, R, N;
  uint8_t St1 = 0, St2 = 0;
  int Stored = -1;  // EXTENDED stored length; -1: the size of N
};

struct Track {
  std::vector<Sector> Sectors;
  // EXTENDED: size byte for the header (0 = unstored); -1 = computed.
  int SizeByte = -1;
};

// The byte every builder puts at a file offset, so reads can be checked.
inline uint8_t Pattern(uint64_t offset) { return static_cast<uint8_t>(offset * 7 + (offset >> 9) + 1); }
inline std::vector<uint8_t> PatternBytes(uint64_t offset, uint32_t length) {
  std::vector<uint8_t> v;
  for (uint32_t i = 0; i < length; ++i) v.push_back(Pattern(offset + i));
  return v;
}

inline uint32_t SizeOfN(uint8_t n) { return n <= 6 ? kSectorSizes[n] : 128u << (n & 7); }

inline void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
inline void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  Put16(v, at, x & 0xFFFF);
  Put16(v, at + 2, x >> 16);
}

inline std::vector<uint8_t> TrackBlock(const Track& t, uint8_t number) {
  std::vector<uint8_t> b(256, 0);
  std::memcpy(b.data(), "Track-Info\r\n", 12);
  b[0x10] = number;
  b[0x14] = t.Sectors.empty() ? 2 : t.Sectors[0].N;
  b[0x15] = static_cast<uint8_t>(t.Sectors.size());
  b[0x16] = 0x4E;
  b[0x17] = 0xE5;
  for (size_t i = 0; i < t.Sectors.size() && i < 29; ++i) {
    const Sector& s = t.Sectors[i];
    const size_t e = 0x18 + 8 * i;
    b[e] = s.C;
    b[e + 1] = s.H;
    b[e + 2] = s.R;
    b[e + 3] = s.N;
    b[e + 4] = s.St1;
    b[e + 5] = s.St2;
    Put16(b, e + 6, s.Stored >= 0 ? static_cast<uint32_t>(s.Stored) : SizeOfN(s.N));
  }
  return b;
}

inline uint32_t TrackBytes(const Track& t) {
  uint32_t n = 256;
  for (const Sector& s : t.Sectors) n += s.Stored >= 0 ? static_cast<uint32_t>(s.Stored) : SizeOfN(s.N);
  return n;
}

inline void FillPattern(std::vector<uint8_t>& image, size_t from, size_t to) {
  for (size_t i = from; i < to && i < image.size(); ++i) image[i] = Pattern(i);
}

// Standard image: every track `trackSize` bytes (0 = the largest track).
inline std::vector<uint8_t> StandardDsk(const std::vector<Track>& tracks, uint32_t trackSize = 0) {
  if (trackSize == 0) {
    trackSize = 256;
    for (const Track& t : tracks) trackSize = std::max(trackSize, TrackBytes(t));
  }
  std::vector<uint8_t> v(256 + tracks.size() * trackSize, 0);
  std::memcpy(v.data(), "MV - CPCEMU Disk-File\r\nDisk-Info\r\n", 34);
  std::memcpy(v.data() + 0x22, "test", 4);
  v[0x30] = static_cast<uint8_t>(tracks.size());
  v[0x31] = 1;
  Put16(v, 0x32, trackSize);
  for (size_t k = 0; k < tracks.size(); ++k) {
    const size_t at = 256 + k * trackSize;
    FillPattern(v, at + 256, at + trackSize);
    const auto block = TrackBlock(tracks[k], static_cast<uint8_t>(k));
    std::copy(block.begin(), block.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return v;
}

// Tracks in file order: with two sides, cylinder 0 side 0, cylinder 0 side 1...
inline std::vector<uint8_t> ExtendedDsk(const std::vector<Track>& tracks, int sides = 1) {
  std::vector<uint8_t> v(256, 0);
  std::memcpy(v.data(), "EXTENDED CPC DSK File\r\nDisk-Info\r\n", 34);
  v[0x30] = static_cast<uint8_t>(tracks.size() / sides);
  v[0x31] = static_cast<uint8_t>(sides);
  for (size_t k = 0; k < tracks.size(); ++k) {
    const Track& t = tracks[k];
    const uint32_t sizeByte = t.SizeByte >= 0 ? static_cast<uint32_t>(t.SizeByte) : (TrackBytes(t) + 255) / 256;
    if (k < 204) v[0x34 + k] = static_cast<uint8_t>(sizeByte);
    if (sizeByte == 0) continue;
    const size_t at = v.size();
    v.resize(at + sizeByte * 256, 0);
    FillPattern(v, at + 256, v.size());
    const auto block = TrackBlock(t, static_cast<uint8_t>(k));
    std::copy(block.begin(), block.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return v;
}

// The CPC data format: sectors &C1..&C9 of 512 bytes, interleaved as
// AMSDOS formats them.
inline Track DataTrack(uint8_t c) {
  Track t;
  for (uint8_t r : {0xC1, 0xC6, 0xC2, 0xC7, 0xC3, 0xC8, 0xC4, 0xC9, 0xC5}) t.Sectors.push_back({c, 0, r, 2});
  return t;
}

inline std::vector<Track> DataTracks(int count) {
  std::vector<Track> v;
  for (int c = 0; c < count; ++c) v.push_back(DataTrack(static_cast<uint8_t>(c)));
  return v;
}

// A ZIP member as the builder writes it.
struct Member {
  std::string Name;
  std::vector<uint8_t> Data;
  bool Deflate = true;
  int64_t Crc = -1;  // -1: the right CRC-32
};

inline std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& in) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, in.size()) + 16);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::vector<uint8_t> Zip(const std::vector<Member>& members) {
  std::vector<uint8_t> v, dir;
  for (const Member& m : members) {
    const std::vector<uint8_t> body = m.Deflate ? RawDeflate(m.Data) : m.Data;
    const uint32_t crc =
        m.Crc >= 0 ? static_cast<uint32_t>(m.Crc)
                   : static_cast<uint32_t>(crc32(0, m.Data.data(), static_cast<uInt>(m.Data.size())));
    const uint32_t offset = static_cast<uint32_t>(v.size());
    std::vector<uint8_t> local(30, 0);
    Put32(local, 0, 0x04034B50);
    Put16(local, 4, 20);
    Put16(local, 8, m.Deflate ? 8 : 0);
    Put32(local, 14, crc);
    Put32(local, 18, static_cast<uint32_t>(body.size()));
    Put32(local, 22, static_cast<uint32_t>(m.Data.size()));
    Put16(local, 26, static_cast<uint32_t>(m.Name.size()));
    Put16(local, 28, 4);  // an extra field the directory does not repeat
    v.insert(v.end(), local.begin(), local.end());
    v.insert(v.end(), m.Name.begin(), m.Name.end());
    v.insert(v.end(), {0xFE, 0xCA, 0, 0});
    v.insert(v.end(), body.begin(), body.end());

    std::vector<uint8_t> e(46, 0);
    Put32(e, 0, 0x02014B50);
    Put16(e, 4, 20);
    Put16(e, 6, 20);
    Put16(e, 10, m.Deflate ? 8 : 0);
    Put32(e, 16, crc);
    Put32(e, 20, static_cast<uint32_t>(body.size()));
    Put32(e, 24, static_cast<uint32_t>(m.Data.size()));
    Put16(e, 28, static_cast<uint32_t>(m.Name.size()));
    Put32(e, 42, offset);
    dir.insert(dir.end(), e.begin(), e.end());
    dir.insert(dir.end(), m.Name.begin(), m.Name.end());
  }
  const uint32_t dirOffset = static_cast<uint32_t>(v.size());
  v.insert(v.end(), dir.begin(), dir.end());
  std::vector<uint8_t> end(22, 0);
  Put32(end, 0, 0x06054B50);
  Put16(end, 8, static_cast<uint32_t>(members.size()));
  Put16(end, 10, static_cast<uint32_t>(members.size()));
  Put32(end, 12, static_cast<uint32_t>(dir.size()));
  Put32(end, 16, dirOffset);
  v.insert(v.end(), end.begin(), end.end());
  return v;
}

// A scratch folder removed with the fixture.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "pellucidore-disk-XXXXXX").string();
    if (mkdtemp(tmpl.data())) path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string p = (path_ / name).string();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p;
  }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Driving the controller through its ports.
constexpr uint16_t kMotorPort = 0xFA7E;
constexpr uint16_t kStatusPort = 0xFB7E;
constexpr uint16_t kDataPort = 0xFB7F;

// Each port access takes the time of an IN or OUT of the Z80 (4 us), so the
// controller's disk turns under the tests as under a program.
constexpr uint64_t kAccessTime = 4;

inline uint8_t Status(FdcState& f) {
  f.Now += kAccessTime;
  return FdcRead(f, kStatusPort);
}
inline uint8_t DataIn(FdcState& f) {
  f.Now += kAccessTime;
  return FdcRead(f, kDataPort);
}
inline void DataOut(FdcState& f, uint8_t value) {
  f.Now += kAccessTime;
  FdcWrite(f, kDataPort, value);
}

inline void Command(FdcState& f, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) DataOut(f, b);
}

// Polls until the controller asks for a transfer or has results (a full
// second of disk time at most); returns the status without the drive busy
// bits.
inline uint8_t WaitRequest(FdcState& f) {
  uint8_t s = Status(f);
  for (int i = 0; i < 300000 && (s & 0x80) == 0 && (s & 0x10); ++i) s = Status(f);
  return s & 0xF0;
}

// Reads result bytes while the status says they are there.
inline std::vector<uint8_t> Results(FdcState& f) {
  std::vector<uint8_t> out;
  while (WaitRequest(f) == 0xD0 && out.size() < 16) out.push_back(DataIn(f));
  return out;
}

// Reads data bytes while the status says a read transfer runs.
inline std::vector<uint8_t> ReadTransfer(FdcState& f, size_t limit = 1 << 20) {
  std::vector<uint8_t> out;
  while (WaitRequest(f) == 0xF0 && out.size() < limit) out.push_back(DataIn(f));
  return out;
}

// Writes `bytes` as the controller asks for them; false if it stopped asking.
inline bool WriteTransfer(FdcState& f, const std::vector<uint8_t>& bytes) {
  for (uint8_t b : bytes) {
    if (WaitRequest(f) != 0xB0) return false;
    DataOut(f, b);
  }
  return true;
}

// Read Data of sectors r..eot on cylinder c.
inline void ReadDataCommand(FdcState& f, int drive, uint8_t c, uint8_t r, uint8_t eot, uint8_t code = 0x46) {
  Command(f, {code, static_cast<uint8_t>(drive), c, 0, r, 2, eot, 0x2A, 0xFF});
}
inline void WriteDataCommand(FdcState& f, int drive, uint8_t c, uint8_t r, uint8_t eot, uint8_t code = 0x45) {
  Command(f, {code, static_cast<uint8_t>(drive), c, 0, r, 2, eot, 0x2A, 0xFF});
}

inline std::unique_ptr<FdcState> NewFdc() {
  auto f = std::make_unique<FdcState>();
  FdcReset(*f);
  return f;
}

}  // namespace disktest
