#include "storage/tape.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

constexpr char kTzxSignature[] = "ZXTape!\x1A";
constexpr char kCswSignature[] = "Compressed Square Wave\x1A";
constexpr char kVocSignature[] = "Creative Voice File\x1A";
constexpr size_t kMaxTapeFile = 256u << 20;     // larger files are not tapes
constexpr size_t kMaxInflated = 256u << 20;     // Z-RLE output, against bombs
constexpr uint32_t kMaxLoopDepth = 16;
constexpr uint32_t kMaxIdleBlocks = 100000;     // blocks passed without a pulse
constexpr uint32_t kMaxIdleSymbols = 1u << 20;  // generalised symbols without a pulse
constexpr uint32_t kMaxDirectRun = 1u << 20;    // samples merged into one pulse
constexpr size_t kMaxVocSamples = 64u << 20;    // silence blocks expand: keep them bounded
// A cassette starts with a strip of clear leader tape, and the firmware
// listens only 2 s after it starts the motor (CAS START MOTOR): a rewound
// tape gives that much silence before its first block, so an image whose
// first record starts at once loads as the cassette would.
constexpr uint32_t kLeadInMs = 3000;

uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Le24(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16); }
uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

std::string Hex2(uint32_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "&%02X", v & 0xFF);
  return buf;
}

// Printable text of a TZX string field.
std::string Text(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    if (c == 13 || c == 10) s += ' ';
    else if (c >= 32 && c < 127) s += static_cast<char>(c);
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

TapeLoadResult Refused(std::string error) {
  TapeLoadResult r;
  r.Error = std::move(error);
  return r;
}

// ---------------------------------------------------------------------------
// TZX block layout

// Bytes of a block after its ID, from the fields that give them; -1 when the
// block's format is not known (IDs below &10, which have no length field).
// `avail` is what the file still holds; fields beyond it count as missing.
int64_t BodySize(uint8_t id, const uint8_t* p, size_t avail) {
  auto need = [&](size_t n) { return avail >= n; };
  switch (id) {
    case 0x10: return need(4) ? 4 + int64_t(Le16(p + 2)) : INT64_MAX;
    case 0x11: return need(18) ? 18 + int64_t(Le24(p + 15)) : INT64_MAX;
    case 0x12: return 4;
    case 0x13: return need(1) ? 1 + 2 * int64_t(p[0]) : INT64_MAX;
    case 0x14: return need(10) ? 10 + int64_t(Le24(p + 7)) : INT64_MAX;
    case 0x15: return need(8) ? 8 + int64_t(Le24(p + 5)) : INT64_MAX;
    case 0x20: case 0x23: case 0x24: return 2;
    case 0x21: case 0x30: return need(1) ? 1 + int64_t(p[0]) : INT64_MAX;
    case 0x22: case 0x25: case 0x27: return 0;
    case 0x26: return need(2) ? 2 + 2 * int64_t(Le16(p)) : INT64_MAX;
    case 0x28: case 0x32: return need(2) ? 2 + int64_t(Le16(p)) : INT64_MAX;
    case 0x31: return need(2) ? 2 + int64_t(p[1]) : INT64_MAX;
    case 0x33: return need(1) ? 1 + 3 * int64_t(p[0]) : INT64_MAX;
    case 0x34: return 8;
    case 0x35: return need(20) ? 20 + int64_t(Le32(p + 16)) : INT64_MAX;
    case 0x40: return need(4) ? 4 + int64_t(Le24(p + 1)) : INT64_MAX;
    case 0x5A: return 9;
    default:
      // From TZX 1.10 on every new block starts with its length, so a block
      // of a later version can be stepped over.
      if (id < 0x10) return -1;
      return need(4) ? 4 + int64_t(Le32(p)) : INT64_MAX;
  }
}

// ID &19's layout, checked against the block's size.
struct GenLayout {
  uint32_t Pause = 0;
  uint32_t Totp = 0, Npp = 0, Asp = 0, Totd = 0, Npd = 0, Asd = 0, Nb = 0;
  uint64_t PilotDefs = 0, PilotStream = 0, DataDefs = 0, DataStream = 0;  // offsets in the image
  bool Ok = false;
};

GenLayout ReadGenLayout(const TapeImage& img, const TapeBlock& b) {
  GenLayout g;
  if (b.Size < 18) return g;
  const uint8_t* p = &img.Data[b.Offset];
  g.Pause = Le16(p + 4);
  g.Totp = Le32(p + 6);
  g.Npp = p[10];
  g.Asp = p[11] ? p[11] : 256;
  g.Totd = Le32(p + 12);
  g.Npd = p[16];
  g.Asd = p[17] ? p[17] : 256;
  g.Nb = 0;
  while ((1u << g.Nb) < g.Asd) ++g.Nb;
  uint64_t pos = b.Offset + 18;
  const uint64_t end = uint64_t(b.Offset) + b.Size;
  if (g.Totp > 0) {
    g.PilotDefs = pos;
    pos += uint64_t(g.Asp) * (1 + 2 * g.Npp);
    g.PilotStream = pos;
    pos += uint64_t(g.Totp) * 3;
  }
  if (g.Totd > 0) {
    g.DataDefs = pos;
    pos += uint64_t(g.Asd) * (1 + 2 * g.Npd);
    g.DataStream = pos;
    pos += (uint64_t(g.Nb) * g.Totd + 7) / 8;
  }
  g.Ok = pos <= end;
  return g;
}

// RLE pulse data of CSW: a byte counts samples, a zero byte is followed by
// a 32-bit count.
bool DecodeRle(const uint8_t* p, size_t n, std::vector<uint32_t>& out) {
  for (size_t i = 0; i < n;) {
    if (p[i] != 0) {
      out.push_back(p[i++]);
      continue;
    }
    if (n - i < 5) return false;
    out.push_back(Le32(p + i + 1));
    i += 5;
  }
  return true;
}

bool Inflate(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<uint8_t*>(p);
  z.avail_in = static_cast<uInt>(n);
  uint8_t buf[16384];
  int rc;
  do {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    if (out.size() > kMaxInflated) rc = Z_MEM_ERROR;
  } while (rc == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

// Pulses from compressed CSW data (1 = RLE, 2 = Z-RLE).
bool CswPulses(const uint8_t* p, size_t n, uint8_t compression, std::vector<uint32_t>& out) {
  if (compression == 1) return DecodeRle(p, n, out);
  if (compression != 2) return false;
  std::vector<uint8_t> rle;
  return Inflate(p, n, rle) && DecodeRle(rle.data(), rle.size(), out);
}

// The name of a CPC firmware header record (sync byte &2C, then 16 name
// bytes, block number), for the block list.
std::string FirmwareRecord(const uint8_t* data, size_t len) {
  if (len < 20) return {};
  if (data[0] == 0x2C) {
    std::string name = Text(data + 1, 16);
    return ": header \"" + name + "\" block " + std::to_string(data[17]);
  }
  if (data[0] == 0x16) return ": data";
  return {};
}

std::string BlockLabel(const TapeImage& img, const TapeBlock& b) {
  const uint8_t* p = &img.Data[b.Offset];
  const uint8_t id = b.Id;
  switch (id) {
    case 0x10: return "Standard data, " + std::to_string(Le16(p + 2)) + " bytes";
    case 0x11: {
      const uint32_t n = Le24(p + 15);
      return "Turbo data, " + std::to_string(n) + " bytes" + FirmwareRecord(p + 18, n);
    }
    case 0x12: return "Pure tone, " + std::to_string(Le16(p + 2)) + " pulses";
    case 0x13: return "Pulse sequence, " + std::to_string(p[0]) + " pulses";
    case 0x14: {
      const uint32_t n = Le24(p + 7);
      return "Pure data, " + std::to_string(n) + " bytes" + FirmwareRecord(p + 10, n);
    }
    case 0x15: return "Direct recording, " + std::to_string(Le24(p + 5)) + " bytes";
    case 0x18: return "CSW recording";
    case 0x19: return "Generalised data";
    case 0x20: return Le16(p) ? "Pause, " + std::to_string(Le16(p)) + " ms" : "Stop the tape";
    case 0x21: return "Group: " + Text(p + 1, p[0]);
    case 0x22: return "Group end";
    case 0x23: return "Jump by " + std::to_string(static_cast<int16_t>(Le16(p)));
    case 0x24: return "Loop start, " + std::to_string(Le16(p)) + " times";
    case 0x25: return "Loop end";
    case 0x26: return "Call sequence, " + std::to_string(Le16(p)) + " calls";
    case 0x27: return "Return from sequence";
    case 0x28: return "Select block";
    case 0x2A: return "Stop the tape in 48K mode";
    case 0x2B: return b.Size >= 5 && p[4] ? "Signal level high" : "Signal level low";
    case 0x30: return "Text: " + Text(p + 1, p[0]);
    case 0x31: return "Message: " + Text(p + 2, p[1]);
    case 0x32: {
      // Title (0), publisher (1), author (2), year (3) where present.
      std::string info;
      size_t pos = 3;
      for (uint32_t i = 0; i < p[2] && pos + 2 <= b.Size; ++i) {
        const uint8_t type = p[pos], len = p[pos + 1];
        if (pos + 2 + len > b.Size) break;
        if (type <= 3) info += (info.empty() ? "" : ", ") + Text(p + pos + 2, len);
        pos += 2 + len;
      }
      return "Archive info: " + info;
    }
    case 0x33: return "Hardware type";
    case 0x34: return "Emulation info";
    case 0x35: return "Custom info: " + Text(p, 10);
    case 0x40: return "Snapshot";
    case 0x5A: return "Glue";
    default: return "Unknown block " + Hex2(id) + ", skipped";
  }
}

// What is wrong inside a block whose size fits the file.
std::string BlockProblem(const TapeImage& img, const TapeBlock& b) {
  const uint8_t* p = &img.Data[b.Offset];
  if (b.Id == 0x19 && !ReadGenLayout(img, b).Ok) return "its tables run past its end";
  if (b.Id == 0x18 && b.Size < 14) return "it is cut short";
  if (b.Id == 0x2B && b.Size < 5) return "it is cut short";
  if (b.Id == 0x11 && (p[12] > 8)) return "its last byte claims more than 8 bits";
  return {};
}

TapeLoadResult ParseTzx(const std::vector<uint8_t>& bytes, const std::string& name) {
  TapeLoadResult r;
  auto img = std::make_shared<TapeImage>();
  img->Name = name;
  img->Data = bytes;
  if (bytes.size() < 10) {
    return Refused("The tape image is cut short: " + name);
  }
  if (bytes[8] != 1) r.Warnings.push_back("TZX version " + std::to_string(bytes[8]) + " is newer than this player");
  size_t pos = 10;
  const std::vector<uint8_t>& data = img->Data;
  while (pos < data.size()) {
    TapeBlock b;
    b.Id = data[pos];
    b.Offset = static_cast<uint32_t>(pos + 1);
    const size_t avail = data.size() - b.Offset;
    const int64_t size = BodySize(b.Id, &data[b.Offset], avail);
    const std::string where = "Block " + std::to_string(img->Blocks.size() + 1) + " (" + Hex2(b.Id) + ")";
    if (size < 0) {
      b.Label = "Unknown block " + Hex2(b.Id);
      b.Problem = where + " is of an unknown kind; the rest of the tape cannot be read";
      r.Warnings.push_back(b.Problem);
      img->Blocks.push_back(std::move(b));
      break;
    }
    if (size > int64_t(avail)) {
      b.Size = static_cast<uint32_t>(avail);
      b.Label = "Damaged block " + Hex2(b.Id);
      b.Problem = where + " runs past the end of the file";
      r.Warnings.push_back(b.Problem);
      img->Blocks.push_back(std::move(b));
      break;
    }
    b.Size = static_cast<uint32_t>(size);
    b.Label = BlockLabel(*img, b);
    if (std::string problem = BlockProblem(*img, b); !problem.empty()) b.Problem = where + ": " + problem;
    if (b.Id == 0x18 && b.Problem.empty()) {
      const uint8_t* p = &data[b.Offset];
      TapePulseList list;
      list.Rate = Le24(p + 6);
      if (list.Rate == 0 || !CswPulses(p + 14, b.Size - 14, p[9], list.Samples)) {
        b.Problem = where + ": its pulse data cannot be read";
      } else {
        b.Pulses = static_cast<int>(img->PulseLists.size());
        img->PulseLists.push_back(std::move(list));
      }
    }
    if (!b.Problem.empty()) r.Warnings.push_back(b.Problem);
    img->Blocks.push_back(std::move(b));
    pos += 1 + static_cast<size_t>(size);
  }
  r.Image = std::move(img);
  return r;
}

// ---------------------------------------------------------------------------
// Sampled recordings


// A Schmitt trigger over signed samples: the level goes high above centre +
// hysteresis and low below centre - hysteresis, so noise around the
// crossing makes no extra edges. The centre is the recording's mean, which
// takes out a DC offset.
TapePulseList PulsesFromSamples(const std::vector<int32_t>& s, uint32_t rate, int32_t fullScale) {
  TapePulseList list;
  list.Rate = rate;
  if (s.empty()) return list;
  int64_t sum = 0;
  for (int32_t v : s) sum += v;
  const int64_t centre = sum / int64_t(s.size());
  const int64_t hyst = std::max<int64_t>(1, fullScale / 64);
  int level = -1;
  uint32_t run = 0;
  for (int32_t v : s) {
    int next = level;
    if (v > centre + hyst) next = 1;
    else if (v < centre - hyst) next = 0;
    if (next != level && level != -1) {
      list.Samples.push_back(run);
      run = 0;
    }
    if (level == -1 && next != -1) list.FirstLevel = next;
    level = next;
    ++run;
  }
  if (level != -1 && run > 0) list.Samples.push_back(run);
  if (list.FirstLevel < 0) list.FirstLevel = 0;
  return list;
}

std::shared_ptr<TapeImage> SampledImage(const std::string& name, TapePulseList list, const std::string& label) {
  auto img = std::make_shared<TapeImage>();
  img->Name = name;
  TapeBlock b;
  b.Id = kTapeSampledBlock;
  b.Pulses = 0;
  b.Label = label;
  img->PulseLists.push_back(std::move(list));
  img->Blocks.push_back(std::move(b));
  return img;
}

TapeLoadResult ParseCsw(const std::vector<uint8_t>& d, const std::string& name) {
  TapeLoadResult r;
  if (d.size() < 0x20) {
    return Refused("The CSW file is cut short: " + name);
  }
  TapePulseList list;
  uint8_t compression = 0;
  size_t start = 0;
  if (d[0x17] >= 2) {
    if (d.size() < 0x34) {
      r.Error = "The CSW file is cut short: " + name;
      return r;
    }
    list.Rate = Le32(&d[0x19]);
    compression = d[0x21];
    list.FirstLevel = d[0x22] & 1;
    start = 0x34 + d[0x23];
  } else {
    list.Rate = Le16(&d[0x19]);
    compression = d[0x1B];
    list.FirstLevel = d[0x1C] & 1;
    start = 0x20;
  }
  if (list.Rate == 0 || start > d.size() || !CswPulses(d.data() + start, d.size() - start, compression, list.Samples)) {
    return Refused("The CSW file's pulse data cannot be read: " + name);
  }
  // The first pulse starts at the flag's level rather than changing it.
  r.Image = SampledImage(name, std::move(list), "CSW recording");
  return r;
}

TapeLoadResult ParseWav(const std::vector<uint8_t>& d, const std::string& name) {
  TapeLoadResult r;
  uint32_t format = 0, channels = 0, rate = 0, bits = 0;
  const uint8_t* samples = nullptr;
  size_t sampleBytes = 0;
  for (size_t pos = 12; pos + 8 <= d.size();) {
    const uint32_t len = Le32(&d[pos + 4]);
    const size_t body = pos + 8;
    const size_t avail = std::min<size_t>(len, d.size() - body);
    if (std::memcmp(&d[pos], "fmt ", 4) == 0 && avail >= 16) {
      format = Le16(&d[body]);
      channels = Le16(&d[body + 2]);
      rate = Le32(&d[body + 4]);
      bits = Le16(&d[body + 14]);
      if (format == 0xFFFE && avail >= 26) format = Le16(&d[body + 24]);  // extensible: the sub-format
    } else if (std::memcmp(&d[pos], "data", 4) == 0) {
      samples = &d[body];
      sampleBytes = avail;  // a cut recording plays what it holds
    }
    pos = body + len + (len & 1);
    if (pos < body) break;
  }
  const bool pcm = format == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool floats = format == 3 && bits == 32;
  if (!samples || channels == 0 || rate == 0 || !(pcm || floats)) {
    return Refused("Not a WAV recording this player reads (PCM or float samples): " + name);
  }
  const size_t frame = size_t(channels) * (bits / 8);
  std::vector<int32_t> s;
  s.reserve(sampleBytes / frame);
  for (size_t i = 0; i + frame <= sampleBytes; i += frame) {
    const uint8_t* p = samples + i;  // the first channel
    int32_t v = 0;
    if (floats) {
      float f;
      std::memcpy(&f, p, 4);
      v = static_cast<int32_t>(std::clamp(f, -1.0f, 1.0f) * 32767.0f);
    } else if (bits == 8) {
      v = (int32_t(p[0]) - 128) << 8;
    } else {
      v = static_cast<int16_t>(Le16(p + bits / 8 - 2));  // the top 16 bits
    }
    s.push_back(v);
  }
  r.Image = SampledImage(name, PulsesFromSamples(s, rate, 32768), "WAV recording");
  return r;
}

TapeLoadResult ParseVoc(const std::vector<uint8_t>& d, const std::string& name) {
  TapeLoadResult r;
  if (d.size() < 26) {
    return Refused("The VOC file is cut short: " + name);
  }
  std::vector<int32_t> s;
  uint32_t rate = 0;
  uint32_t bits = 8;
  for (size_t pos = Le16(&d[20]); pos < d.size();) {
    const uint8_t type = d[pos];
    if (type == 0 || pos + 4 > d.size()) break;
    const size_t len = Le24(&d[pos + 1]);
    const size_t body = pos + 4;
    const size_t avail = std::min(len, d.size() - body);
    const uint8_t* p = &d[body];
    size_t dataStart = 0;
    if (type == 1 && avail >= 2) {
      if (!rate) rate = 1000000 / (256 - p[0]);
      bits = p[1] == 4 ? 16 : 8;
      dataStart = 2;
    } else if (type == 9 && avail >= 12) {
      if (!rate) rate = Le32(p);
      bits = p[4] == 16 ? 16 : 8;
      dataStart = 12;
    } else if (type == 2) {
      dataStart = 0;
    } else if (type == 3 && avail >= 3) {
      if (!rate) rate = 1000000 / (256 - p[2]);
      if (s.size() < kMaxVocSamples) s.insert(s.end(), Le16(p) + 1, 0);
      pos = body + len;
      continue;
    } else {
      pos = body + len;
      continue;
    }
    const size_t step = bits / 8;
    for (size_t i = dataStart; i + step <= avail; i += step)
      s.push_back(bits == 8 ? (int32_t(p[i]) - 128) << 8 : static_cast<int16_t>(Le16(p + i)));
    pos = body + len;
  }
  if (rate == 0 || s.empty()) {
    return Refused("The VOC file holds no samples: " + name);
  }
  r.Image = SampledImage(name, PulsesFromSamples(s, rate, 32768), "VOC recording");
  return r;
}

bool StartsWith(const std::vector<uint8_t>& d, const char* sig) {
  const size_t n = std::strlen(sig);
  return d.size() >= n && std::memcmp(d.data(), sig, n) == 0;
}

// ---------------------------------------------------------------------------
// Playback

enum Phase : uint8_t {
  kLeadIn,
  kBlockStart,
  kPilot,
  kSync,
  kData,
  kSequence,
  kDirect,
  kPulses,
  kGenPilot,
  kGenData,
  kPause,
  kPauseLow,
  kBlockEnd,
};

void UpdateRunning(TapeDeck& d) {
  d.Running.store(d.Motor && (d.Playing.load() || d.Recording.load()), std::memory_order_relaxed);
}

void StopPlaying(TapeDeck& d) {
  d.Playing.store(false);
  UpdateRunning(d);
}

void StopWithMessage(TapeDeck& d, const std::string& message) {
  d.Message = "The tape stopped: " + message;
  d.MessageSerial.fetch_add(1);
  StopPlaying(d);
}

std::string Where(const TapeDeck& d) {
  const uint32_t n = d.Cursor.Block;
  return "block " + std::to_string(n + 1) + " (" + Hex2(d.Image->Blocks[n].Id) + ")";
}

void GoToBlock(TapeDeck& d, uint32_t block) {
  d.Cursor.Block = block;
  d.Cursor.Phase = kBlockStart;
  d.CurrentBlock.store(block, std::memory_order_relaxed);
}

// Bits of a data block: whole bytes, then `used` bits of the last (0 or
// more than 8 read as 8).
uint64_t DataBits(uint32_t bytes, uint8_t used) {
  if (bytes == 0) return 0;
  return uint64_t(bytes - 1) * 8 + (used == 0 || used > 8 ? 8 : used);
}

int64_t Milliseconds(uint32_t ms) { return int64_t(ms) * (kTapeUnitsPerSecond / 1000); }

// A pulse of t T-states starting with a level change; 0 stops the tape.
int64_t Pulse(TapeDeck& d, uint32_t t, bool& pulseOpen) {
  if (t == 0) {
    StopWithMessage(d, Where(d) + " holds a pulse of zero length");
    return 0;
  }
  d.Level ^= 1;
  pulseOpen = true;
  return int64_t(t) * kTapeUnitsPerTState;
}

// Applies a generalised symbol's start polarity (bits 1..0 of its flags).
void SymbolPolarity(TapeDeck& d, uint8_t flags) {
  switch (flags & 3) {
    case 0: d.Level ^= 1; break;
    case 1: break;
    case 2: d.Level = 0; break;
    case 3: d.Level = 1; break;
  }
}

bool JumpRelative(TapeDeck& d, uint32_t from, int32_t offset) {
  const int64_t target = int64_t(from) + offset;
  if (offset == 0 || target < 0 || target >= int64_t(d.Image->Blocks.size())) {
    StopWithMessage(d, Where(d) + " jumps to a block the tape does not have");
    return false;
  }
  GoToBlock(d, static_cast<uint32_t>(target));
  return true;
}

// Enters a block: takes its timing, or acts on a control block. False when
// the tape stopped.
bool StartBlock(TapeDeck& d, const TapeBlock& b) {
  TapeCursor& c = d.Cursor;
  const TapeImage& img = *d.Image;
  if (++d.IdleSteps > kMaxIdleBlocks) {
    StopWithMessage(d, Where(d) + " loops or jumps without end and plays nothing");
    return false;
  }
  if (!b.Problem.empty()) {
    StopWithMessage(d, b.Problem);
    return false;
  }
  const uint8_t* p = img.Data.empty() ? nullptr : &img.Data[b.Offset];
  c.Pos = 0;
  c.Sub = 0;
  c.Count = 0;
  c.PauseMs = 0;
  c.Remainder = 0;
  auto next = [&] { GoToBlock(d, c.Block + 1); };
  switch (b.Id) {
    case 0x10: {
      const uint32_t len = Le16(p + 2);
      c.PauseMs = Le16(p);
      c.PilotLen = 2168;
      c.PilotCount = len > 0 && p[4] < 128 ? 8063 : 3223;
      c.Sync1 = 667;
      c.Sync2 = 735;
      c.Zero = 855;
      c.One = 1710;
      c.DataOffset = b.Offset + 4;
      c.DataBits = uint64_t(len) * 8;
      c.Count = c.PilotCount;
      c.Phase = kPilot;
      return true;
    }
    case 0x11: {
      c.PilotLen = Le16(p);
      c.Sync1 = Le16(p + 2);
      c.Sync2 = Le16(p + 4);
      c.Zero = Le16(p + 6);
      c.One = Le16(p + 8);
      c.PilotCount = Le16(p + 10);
      c.PauseMs = Le16(p + 13);
      c.DataOffset = b.Offset + 18;
      c.DataBits = DataBits(Le24(p + 15), p[12]);
      c.Count = c.PilotCount;
      c.Phase = kPilot;
      return true;
    }
    case 0x12:
      c.PilotLen = Le16(p);
      c.Count = Le16(p + 2);
      c.Sync1 = c.Sync2 = 0;
      c.DataBits = 0;
      c.Phase = kPilot;
      return true;
    case 0x13:
      c.Count = p[0];
      c.DataOffset = b.Offset + 1;
      c.Phase = kSequence;
      return true;
    case 0x14: {
      c.Zero = Le16(p);
      c.One = Le16(p + 2);
      c.PauseMs = Le16(p + 5);
      c.DataOffset = b.Offset + 10;
      c.DataBits = DataBits(Le24(p + 7), p[4]);
      c.Phase = kData;
      return true;
    }
    case 0x15: {
      c.SampleLen = Le16(p);
      c.PauseMs = Le16(p + 2);
      c.DataOffset = b.Offset + 8;
      c.DataBits = DataBits(Le24(p + 5), p[4]);
      if (c.SampleLen == 0 && c.DataBits > 0) {
        StopWithMessage(d, Where(d) + " has samples of zero length");
        return false;
      }
      c.Phase = kDirect;
      return true;
    }
    case 0x18:
      c.PauseMs = Le16(p + 4);
      c.Phase = kPulses;
      return true;
    case kTapeSampledBlock:
      c.Phase = kPulses;
      return true;
    case 0x19:
      c.PauseMs = ReadGenLayout(img, b).Pause;
      c.Phase = kGenPilot;
      return true;
    case 0x20:
      c.PauseMs = Le16(p);
      if (c.PauseMs == 0) {
        // "Stop the tape": PLAY pops up; pressing it again goes on.
        next();
        d.IdleSteps = 0;
        StopPlaying(d);
        return false;
      }
      c.Phase = kPause;
      return true;
    case 0x23:
      return JumpRelative(d, c.Block, static_cast<int16_t>(Le16(p)));
    case 0x24:
      if (c.Loops.size() >= kMaxLoopDepth) {
        StopWithMessage(d, Where(d) + " opens loops inside loops too deep");
        return false;
      }
      c.Loops.push_back({c.Block + 1, std::max<uint32_t>(1, Le16(p))});
      next();
      return true;
    case 0x25:
      // A loop end without a start is passed over.
      if (!c.Loops.empty() && --c.Loops.back().Left > 0) {
        GoToBlock(d, c.Loops.back().Start);
      } else {
        if (!c.Loops.empty()) c.Loops.pop_back();
        next();
      }
      return true;
    case 0x26: {
      const uint32_t calls = Le16(p);
      if (calls == 0) {
        next();
        return true;
      }
      c.CallBlock = c.Block;
      c.CallNext = 1;
      return JumpRelative(d, c.Block, static_cast<int16_t>(Le16(p + 2)));
    }
    case 0x27: {
      if (c.CallBlock < 0) {
        next();
        return true;
      }
      const TapeBlock& call = img.Blocks[static_cast<size_t>(c.CallBlock)];
      const uint8_t* q = &img.Data[call.Offset];
      const uint32_t from = static_cast<uint32_t>(c.CallBlock);
      if (c.CallNext < Le16(q)) {
        const int32_t offset = static_cast<int16_t>(Le16(q + 2 + 2 * c.CallNext++));
        return JumpRelative(d, from, offset);
      }
      c.CallBlock = -1;
      GoToBlock(d, from + 1);
      return true;
    }
    case 0x2B:
      d.Level = p[4] ? 1 : 0;
      next();
      return true;
    default:
      // Information, groups, selections, the 48K stop and unknown blocks
      // play nothing.
      next();
      return true;
  }
}

// The next pulse: applies its level and returns its length in tape units;
// 0 when the tape stopped.
int64_t NextPulse(TapeDeck& d, bool& pulseOpen) {
  TapeCursor& c = d.Cursor;
  const TapeImage& img = *d.Image;
  uint32_t emptySymbols = 0;
  for (;;) {
    if (!d.Playing.load(std::memory_order_relaxed)) return 0;
    if (c.Block >= img.Blocks.size()) {
      StopPlaying(d);
      return 0;
    }
    const TapeBlock& b = img.Blocks[c.Block];
    switch (c.Phase) {
      case kLeadIn:
        c.Phase = kBlockStart;
        d.Level = 0;
        return Milliseconds(kLeadInMs);
      case kBlockStart:
        if (!StartBlock(d, b)) return 0;
        continue;
      case kPilot:
        if (c.Count > 0) {
          --c.Count;
          return Pulse(d, c.PilotLen, pulseOpen);
        }
        c.Phase = b.Id == 0x12 ? kBlockEnd : kSync;
        c.Sub = 0;
        continue;
      case kSync:
        if (c.Sub == 0) {
          c.Sub = 1;
          return Pulse(d, c.Sync1, pulseOpen);
        }
        if (c.Sub == 1) {
          c.Sub = 2;
          return Pulse(d, c.Sync2, pulseOpen);
        }
        c.Phase = kData;
        c.Sub = 0;
        continue;
      case kData:
        if (c.Pos < c.DataBits) {
          const uint8_t byte = img.Data[c.DataOffset + c.Pos / 8];
          const bool one = (byte >> (7 - c.Pos % 8)) & 1;
          if (++c.Sub == 2) {
            c.Sub = 0;
            ++c.Pos;
          }
          return Pulse(d, one ? c.One : c.Zero, pulseOpen);
        }
        c.Phase = kPause;
        continue;
      case kSequence:
        if (c.Pos < c.Count) {
          const uint32_t t = Le16(&img.Data[c.DataOffset + 2 * c.Pos]);
          ++c.Pos;
          return Pulse(d, t, pulseOpen);
        }
        c.Phase = kBlockEnd;
        continue;
      case kDirect:
        if (c.Pos < c.DataBits) {
          auto sample = [&](uint64_t i) { return (img.Data[c.DataOffset + i / 8] >> (7 - i % 8)) & 1; };
          const uint8_t level = sample(c.Pos);
          uint64_t run = 0;
          while (c.Pos < c.DataBits && run < kMaxDirectRun && sample(c.Pos) == level) {
            ++c.Pos;
            ++run;
          }
          d.Level = level;
          pulseOpen = true;
          return int64_t(run) * c.SampleLen * kTapeUnitsPerTState;
        }
        c.Phase = kPause;
        continue;
      case kPulses: {
        const TapePulseList& list = img.PulseLists[static_cast<size_t>(b.Pulses)];
        if (c.Pos < list.Samples.size()) {
          const uint32_t n = list.Samples[c.Pos];
          if (n == 0) {
            StopWithMessage(d, Where(d) + " holds a pulse of zero length");
            return 0;
          }
          if (c.Pos == 0 && list.FirstLevel >= 0) d.Level = static_cast<uint8_t>(list.FirstLevel);
          else d.Level ^= 1;
          ++c.Pos;
          pulseOpen = true;
          // Exact time: the rounding remainder carries to the next pulse.
          const int64_t scaled = int64_t(n) * kTapeUnitsPerSecond + c.Remainder;
          c.Remainder = scaled % list.Rate;
          return std::max<int64_t>(1, scaled / list.Rate);
        }
        c.Phase = kPause;
        continue;
      }
      case kGenPilot:
      case kGenData: {
        const GenLayout g = ReadGenLayout(img, b);
        const bool pilot = c.Phase == kGenPilot;
        const uint32_t total = pilot ? g.Totp : g.Totd;
        const uint32_t np = pilot ? g.Npp : g.Npd;
        const uint32_t alphabet = pilot ? g.Asp : g.Asd;
        if (c.Pos >= total) {
          c.Phase = pilot ? kGenData : kPause;
          c.Pos = 0;
          c.Sub = 0;
          c.Count = 0;
          continue;
        }
        uint32_t symbol;
        if (pilot) {
          const uint8_t* e = &img.Data[g.PilotStream + 3 * c.Pos];
          symbol = e[0];
          if (c.Count == 0 && c.Sub == 0) {
            c.Count = Le16(e + 1);
            if (c.Count == 0) {
              ++c.Pos;
              continue;
            }
          }
        } else {
          symbol = 0;
          const uint64_t bit0 = c.Pos * g.Nb;
          for (uint32_t k = 0; k < g.Nb; ++k) {
            const uint64_t bit = bit0 + k;
            symbol = (symbol << 1) | ((img.Data[g.DataStream + bit / 8] >> (7 - bit % 8)) & 1);
          }
          c.Count = 1;
        }
        if (symbol >= alphabet) {
          StopWithMessage(d, Where(d) + " uses a symbol it does not define");
          return 0;
        }
        const uint8_t* def = &img.Data[(pilot ? g.PilotDefs : g.DataDefs) + uint64_t(symbol) * (1 + 2 * np)];
        if (c.Sub < np) {
          const uint32_t t = Le16(def + 1 + 2 * c.Sub);
          if (t != 0) {
            if (c.Sub == 0) SymbolPolarity(d, def[0]);
            else d.Level ^= 1;
            ++c.Sub;
            pulseOpen = true;
            return int64_t(t) * kTapeUnitsPerTState;
          }
        }
        // The symbol is over (all pulses, or a zero length ends it early).
        // Symbols of no pulses at all, repeated, would keep the machine here.
        if (c.Sub == 0 && ++emptySymbols > kMaxIdleSymbols) {
          StopWithMessage(d, Where(d) + " plays symbols without pulses");
          return 0;
        }
        c.Sub = 0;
        if (--c.Count == 0) ++c.Pos;
        if (!pilot) c.Count = 0;
        continue;
      }
      case kPause:
        if (c.PauseMs == 0) {
          c.Phase = kBlockEnd;
          continue;
        }
        // A pause is a low level. An edge first ends the last pulse; if
        // that leaves the level high, it goes low after 1 ms.
        if (pulseOpen) {
          pulseOpen = false;
          d.Level ^= 1;
          if (d.Level) {
            c.Phase = kPauseLow;
            return Milliseconds(1);
          }
        }
        d.Level = 0;
        c.Phase = kBlockEnd;
        return Milliseconds(c.PauseMs);
      case kPauseLow:
        d.Level = 0;
        c.Phase = kBlockEnd;
        if (c.PauseMs > 1) return Milliseconds(c.PauseMs - 1);
        continue;
      case kBlockEnd:
      default:
        GoToBlock(d, c.Block + 1);
        continue;
    }
  }
}

}  // namespace

TapeLoadResult ParseTapeImage(const std::vector<uint8_t>& bytes, const std::string& name) {
  if (StartsWith(bytes, kTzxSignature)) return ParseTzx(bytes, name);
  if (StartsWith(bytes, kCswSignature)) return ParseCsw(bytes, name);
  if (StartsWith(bytes, kVocSignature)) return ParseVoc(bytes, name);
  if (bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 && std::memcmp(&bytes[8], "WAVE", 4) == 0)
    return ParseWav(bytes, name);
  return Refused("Not a tape image (CDT, TZX, CSW, WAV or VOC): " + name);
}

TapeLoadResult LoadTapeImage(const fs::path& file) {
  const std::string name = file.filename().string();
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec) {
    return Refused("The tape image cannot be read: " + file.string());
  }
  if (size > kMaxTapeFile) {
    return Refused("The file is too large for a tape image: " + file.string());
  }
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    return Refused("The tape image cannot be read: " + file.string());
  }
  return ParseTapeImage(bytes, name);
}

void TapeAdvance(TapeDeck& d) {
  if (!d.Playing.load(std::memory_order_relaxed) || !d.Image) {
    // Recording alone: no level changes to wait for.
    d.Remaining = INT64_MAX / 2;
    return;
  }
  while (d.Remaining <= 0) {
    const int64_t t = NextPulse(d, d.Cursor.PulseOpen);
    if (t <= 0) {
      d.Remaining = INT64_MAX / 2;
      return;
    }
    d.IdleSteps = 0;
    d.Remaining += t;
  }
}

int64_t TapeNextPulse(TapeDeck& d) {
  if (!d.Image || !d.Playing.load()) return 0;
  const int64_t t = NextPulse(d, d.Cursor.PulseOpen);
  if (t > 0) d.IdleSteps = 0;
  return t;
}

void TapeSetMotor(TapeDeck& d, bool on) {
  if (on == d.Motor) return;
  d.Motor = on;
  if (on && d.AutoPlay && !d.Recording.load() && !d.Playing.load() && d.Image && !TapeAtEnd(d)) TapePlay(d);
  UpdateRunning(d);
}

void TapeSetWriteLine(TapeDeck& d, bool high) {
  if (high == d.WriteLine) return;
  d.WriteLine = high;
  if (!d.Recording.load(std::memory_order_relaxed) || !d.Motor) return;
  if (d.Edges.empty()) d.FirstRecordedLevel = high;
  d.Edges.push_back(d.Microseconds.load(std::memory_order_relaxed));
}

void TapeInsert(TapeDeck& d, std::shared_ptr<const TapeImage> image) {
  d.Recording.store(false);
  d.Image = std::move(image);
  TapeRewind(d);
}

void TapeEject(TapeDeck& d) {
  d.Recording.store(false);
  d.Image.reset();
  TapeRewind(d);
}

void TapePlay(TapeDeck& d) {
  if (!d.Image) return;
  d.Recording.store(false);
  if (TapeAtEnd(d)) TapeRewind(d);
  d.Playing.store(true);
  d.IdleSteps = 0;
  if (d.Remaining > INT64_MAX / 4) d.Remaining = 0;
  UpdateRunning(d);
}

void TapeStop(TapeDeck& d) {
  d.Playing.store(false);
  d.Recording.store(false);
  UpdateRunning(d);
}

void TapeRewind(TapeDeck& d) {
  d.Playing.store(false);
  d.Cursor = TapeCursor{};
  d.Level = 0;
  d.Remaining = 0;
  d.IdleSteps = 0;
  d.Microseconds.store(0);
  d.CurrentBlock.store(0);
  UpdateRunning(d);
}

void TapeRecord(TapeDeck& d) {
  d.Playing.store(false);
  d.Edges.clear();
  d.Edges.reserve(1u << 20);  // no allocation while the machine writes
  d.Microseconds.store(0);
  d.Level = 0;
  d.Recording.store(true);
  UpdateRunning(d);
}

bool TapeAtEnd(const TapeDeck& d) { return d.Image && d.Cursor.Block >= d.Image->Blocks.size(); }

// ---------------------------------------------------------------------------
// Recording to CDT

namespace {

void Put16(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(v & 0xFF);
  o.push_back((v >> 8) & 0xFF);
}
void Put24(std::vector<uint8_t>& o, uint32_t v) {
  Put16(o, v);
  o.push_back((v >> 16) & 0xFF);
}

uint32_t ToTStates(double us) { return static_cast<uint32_t>(std::clamp(us * 3.5 + 0.5, 1.0, 65535.0)); }

// Pulses (microseconds) of one burst as a CPC firmware record: a leader of
// long pulses, two short sync pulses, then bits as pairs of equal pulses
// (a one twice as long as a zero). Written as a turbo data block with the
// measured timing; false when the burst is something else.
bool WriteFirmwareBlock(std::vector<uint8_t>& out, std::vector<uint64_t> p, uint32_t pauseMs) {
  if (p.size() < 300) return false;
  std::vector<uint64_t> lead(p.begin(), p.begin() + 256);
  std::nth_element(lead.begin(), lead.begin() + 128, lead.end());
  const uint64_t ref = lead[128];
  if (ref == 0) return false;
  const uint64_t threshold = ref * 3 / 4;
  size_t k = 0;
  uint64_t pilotSum = 0;
  while (k < p.size() && p[k] > threshold) pilotSum += p[k++];
  const size_t pilotCount = k;
  if (pilotCount < 256 || pilotCount > 65535 || k + 2 > p.size()) return false;
  const uint64_t sync1 = p[k], sync2 = p[k + 1];
  if (sync1 > threshold || sync2 > threshold) return false;
  k += 2;
  // The firmware ends a record by setting the write line, which may leave a
  // sliver of a pulse or two after the last bit: they carry nothing.
  for (int i = 0; i < 4 && p.size() > k && p.back() < ref / 4; ++i) p.pop_back();
  // The last half-bit has no edge to end it (the gap does): it is as long
  // as its partner.
  if ((p.size() - k) % 2) p.push_back(p.back());
  std::vector<uint8_t> data;
  uint64_t zeroSum = 0, oneSum = 0, zeros = 0, ones = 0, bits = 0;
  for (; k + 1 < p.size(); k += 2) {
    const bool a = p[k] > threshold, b = p[k + 1] > threshold;
    if (a != b || p[k] < ref / 4 || p[k] > ref * 2 || p[k + 1] < ref / 4 || p[k + 1] > ref * 2) return false;
    if (bits % 8 == 0) data.push_back(0);
    if (a) {
      data.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
      oneSum += p[k] + p[k + 1];
      ones += 2;
    } else {
      zeroSum += p[k] + p[k + 1];
      zeros += 2;
    }
    ++bits;
  }
  if (bits < 8 || data.size() > 0xFFFFFF) return false;
  const double zero = zeros ? double(zeroSum) / zeros : double(ref) / 2;
  const double one = ones ? double(oneSum) / ones : double(ref);
  out.push_back(0x11);
  Put16(out, ToTStates(double(pilotSum) / pilotCount));
  Put16(out, ToTStates(double(sync1)));
  Put16(out, ToTStates(double(sync2)));
  Put16(out, ToTStates(zero));
  Put16(out, ToTStates(one));
  Put16(out, static_cast<uint32_t>(pilotCount));
  out.push_back(static_cast<uint8_t>(bits % 8 ? bits % 8 : 8));
  Put16(out, pauseMs);
  Put24(out, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return true;
}

// Any burst as direct recording: one sample per 79 T-states (44.3 kHz).
void WriteDirectBlock(std::vector<uint8_t>& out, const std::vector<uint64_t>& p, bool firstLevel, uint32_t pauseMs) {
  constexpr uint32_t kSampleT = 79;
  constexpr size_t kMaxBytes = 0xFFFF00;
  std::vector<uint8_t> bits;
  uint64_t samples = 0;
  double timeUs = 0;
  bool level = firstLevel;
  for (uint64_t len : p) {
    timeUs += double(len);
    const uint64_t until = static_cast<uint64_t>(timeUs * 3.5 / kSampleT + 0.5);
    for (; samples < until; ++samples) {
      if (samples % 8 == 0) bits.push_back(0);
      if (level) bits.back() |= static_cast<uint8_t>(0x80 >> (samples % 8));
    }
    level = !level;
  }
  // The final level lasts one more sample so its edge is heard.
  if (samples % 8 == 0) bits.push_back(0);
  if (level) bits.back() |= static_cast<uint8_t>(0x80 >> (samples % 8));
  ++samples;
  for (size_t start = 0; start < bits.size(); start += kMaxBytes) {
    const size_t n = std::min(kMaxBytes, bits.size() - start);
    const bool last = start + n == bits.size();
    out.push_back(0x15);
    Put16(out, kSampleT);
    Put16(out, last ? pauseMs : 0);
    out.push_back(static_cast<uint8_t>(last && samples % 8 ? samples % 8 : 8));
    Put24(out, static_cast<uint32_t>(n));
    out.insert(out.end(), bits.begin() + static_cast<std::ptrdiff_t>(start),
               bits.begin() + static_cast<std::ptrdiff_t>(start + n));
  }
}

void WritePause(std::vector<uint8_t>& out, uint64_t ms) {
  while (ms > 0) {
    const uint32_t part = static_cast<uint32_t>(std::min<uint64_t>(ms, 65535));
    out.push_back(0x20);
    Put16(out, part);
    ms -= part;
  }
}

}  // namespace

std::vector<uint8_t> RecordedCdt(const std::vector<uint64_t>& edges, bool firstLevel) {
  // Bursts are separated by gaps longer than any bit of any firmware speed.
  constexpr uint64_t kGapUs = 5000;
  std::vector<uint8_t> out(kTzxSignature, kTzxSignature + 8);
  out.push_back(1);
  out.push_back(20);
  const std::string text = "Recorded by Pellucidore";
  out.push_back(0x30);
  out.push_back(static_cast<uint8_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
  if (!edges.empty()) WritePause(out, edges[0] / 1000);
  for (size_t i = 0; i < edges.size();) {
    size_t j = i;
    while (j + 1 < edges.size() && edges[j + 1] - edges[j] < kGapUs) ++j;
    std::vector<uint64_t> pulses;
    for (size_t k = i; k < j; ++k) pulses.push_back(edges[k + 1] - edges[k]);
    const uint64_t gapMs = j + 1 < edges.size() ? (edges[j + 1] - edges[j]) / 1000 : 1000;
    const uint32_t pauseMs = static_cast<uint32_t>(std::min<uint64_t>(gapMs, 65535));
    const bool level = firstLevel ^ (i & 1);
    if (pulses.empty()) {
      WritePause(out, pauseMs);
    } else if (!WriteFirmwareBlock(out, pulses, pauseMs)) {
      WriteDirectBlock(out, pulses, level, pauseMs);
    }
    if (gapMs > 65535) WritePause(out, gapMs - 65535);
    i = j + 1;
  }
  return out;
}

std::string WriteRecordedCdt(const TapeDeck& d, const fs::path& file) {
  const std::vector<uint8_t> bytes = RecordedCdt(d.Edges, d.FirstRecordedLevel);
  // Into a temporary beside it first: a failed write keeps an older file.
  fs::path temp = file;
  temp += ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())) ||
        !out.flush()) {
      std::error_code ec;
      fs::remove(temp, ec);
      return "Unable to write to " + file.string();
    }
  }
  std::error_code ec;
  fs::rename(temp, file, ec);
  if (ec) {
    fs::remove(temp, ec);
    return "Unable to write to " + file.string();
  }
  return {};
}
