#include "storage/snapshot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>

#include "core/machine.h"

namespace {

namespace fs = std::filesystem;

// Header offsets, version 1.
constexpr size_t kVersion = 0x10;
constexpr size_t kAF = 0x11, kBC = 0x13, kDE = 0x15, kHL = 0x17;
constexpr size_t kR = 0x19, kI = 0x1A, kIFF1 = 0x1B, kIFF2 = 0x1C;
constexpr size_t kIX = 0x1D, kIY = 0x1F, kSP = 0x21, kPC = 0x23, kIM = 0x25;
constexpr size_t kAF2 = 0x26, kBC2 = 0x28, kDE2 = 0x2A, kHL2 = 0x2C;
constexpr size_t kSelectedPen = 0x2E, kPens = 0x2F, kBorder = 0x3F;
constexpr size_t kModeAndRoms = 0x40, kRamConfig = 0x41;
constexpr size_t kCrtcSelected = 0x42, kCrtcRegisters = 0x43;
constexpr size_t kUpperRom = 0x55;
constexpr size_t kPpiA = 0x56, kPpiB = 0x57, kPpiC = 0x58, kPpiControl = 0x59;
constexpr size_t kPsgSelected = 0x5A, kPsgRegisters = 0x5B;
constexpr size_t kDumpKb = 0x6B;
// Version 2.
constexpr size_t kCpcType = 0x6D, kInterruptNumber = 0x6E, kMultimode = 0x6F;
// Version 3.
constexpr size_t kFdcMotor = 0x9C, kFdcTracks = 0x9D, kPrinterData = 0xA1, kCrtcType = 0xA4;
constexpr size_t kCrtcHcc = 0xA9, kCrtcVcc = 0xAB, kCrtcRa = 0xAC, kCrtcAdjust = 0xAD;
constexpr size_t kCrtcHsync = 0xAE, kCrtcVsync = 0xAF, kCrtcFlags = 0xB0;
constexpr size_t kGaVsyncDelay = 0xB2, kGaLineCounter = 0xB3, kInterruptRequest = 0xB4;

constexpr char kMagic[8] = {'M', 'V', ' ', '-', ' ', 'S', 'N', 'A'};
constexpr size_t kBankSize = 65536;
constexpr size_t kMaxBanks = 1 + kExpansionBanks;  // base RAM and the 4 MB card
constexpr size_t kMemChunks = 9;                   // MEM0..MEM8
constexpr size_t kChunkHeader = 8;
constexpr char kOwnChunk[4] = {'P', 'E', 'L', 'L'};
constexpr uint8_t kOwnChunkFormat = 1;

void Put16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }
uint32_t Get32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

// 64 KB banks: 0 the base RAM, n the expansion bank n - 1.
size_t MachineBanks(const MemoryMap& mem) {
  if (mem.Ram4MbEnabled) return kMaxBanks;
  return static_cast<size_t>(std::clamp(mem.RamBankLimit + 2, 1, 9));
}
const uint8_t* BankData(const MemoryMap& mem, size_t bank) {
  return bank == 0 ? mem.BaseRam : mem.ExpansionRam + (bank - 1) * kBankSize;
}
uint8_t* BankData(MemoryMap& mem, size_t bank) {
  return bank == 0 ? mem.BaseRam : mem.ExpansionRam + (bank - 1) * kBankSize;
}

// The CPC type byte: the profile names the machine only through its
// firmware; without a telling name, the RAM decides.
uint8_t CpcType(const MemoryMap& mem) {
  const std::string& rom = mem.LowerRomName;
  if (rom.find("6128") != std::string::npos) return 2;
  if (rom.find("664") != std::string::npos) return 1;
  if (rom.find("464") != std::string::npos) return 0;
  return mem.RamBankLimit >= 0 ? 2 : 0;
}

std::string ChunkName(const uint8_t* at) {
  std::string name;
  for (int i = 0; i < 4; ++i) {
    if (at[i] >= 0x20 && at[i] < 0x7F) {
      name += static_cast<char>(at[i]);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", at[i]);
      name += hex;
    }
  }
  return name;
}

// State the published fields leave out, in a fixed little-endian layout.
constexpr size_t kOwnChunkSize = 64;

void EncodeOwnChunk(const Machine& m, uint8_t* d) {
  const Z80Registers& z = m.Z80;
  const CrtcState& c = m.Crtc;
  const PpiState& p = m.Ppi;
  const PsgState& s = m.Psg;
  d[0] = kOwnChunkFormat;
  Put32(d + 1, z.NopCounter);
  d[5] = z.InterruptEnableDelay;
  d[6] = z.ShortAckFlag;
  d[7] = z.Halted;
  d[8] = static_cast<uint8_t>(m.Memory.ExpansionBank);
  d[9] = static_cast<uint8_t>(m.Memory.RamConfiguration);
  Put16(d + 10, c.MA);
  Put16(d + 12, c.MASaved);
  Put16(d + 14, c.MARowStart);
  const uint8_t flags[] = {c.HSYNC,    c.VSYNC,     c.DISPEN,  c.HorizontalDisplay, c.VerticalDisplay, c.EndOfLine,
                           c.EndOfRow, c.EndOfFrame, c.LastRow, c.InAdjust,          c.VsyncDone};
  uint16_t bits = 0;
  for (size_t i = 0; i < std::size(flags); ++i) bits |= static_cast<uint16_t>((flags[i] & 1) << i);
  Put16(d + 16, bits);
  d[18] = m.GateArray.IntCounter;
  d[19] = m.GateArray.IntDelay;
  d[20] = p.PortC;
  d[21] = p.GroupAMode;
  d[22] = p.GroupBMode;
  d[23] = static_cast<uint8_t>(p.PortAInput | p.PortBInput << 1 | p.PortCUpperInput << 2 | p.PortCLowerInput << 3);
  for (int t = 0; t < 3; ++t) {
    Put32(d + 24 + 5 * t, s.Tone[t].Counter);
    d[28 + 5 * t] = s.Tone[t].FlipFlop;
  }
  Put32(d + 39, s.Noise.Counter);
  Put16(d + 43, s.Noise.ShiftRegister);
  d[45] = static_cast<uint8_t>(s.Noise.Output | s.Noise.Feedback << 1);
  Put32(d + 46, s.Envelope.Counter);
  d[50] = s.Envelope.Level;
  d[51] = static_cast<uint8_t>(s.Envelope.Restart | s.Envelope.Hold << 1 | s.Envelope.Down << 2);
  d[52] = s.DataBus;
  Put16(d + 53, static_cast<uint16_t>(m.BeamX));
  Put16(d + 55, static_cast<uint16_t>(m.BeamY));
  d[57] = m.Z80.IoDelay ? 1 : 0;
  d[58] = static_cast<uint8_t>(m.GateArray.RequestedMode | m.GateArray.ModePending << 2);
}

// Every value is kept to what its field can hold, so a crafted chunk cannot
// send a counter or an index out of range.
void DecodeOwnChunk(Machine& m, const uint8_t* d) {
  Z80Registers& z = m.Z80;
  CrtcState& c = m.Crtc;
  PpiState& p = m.Ppi;
  PsgState& s = m.Psg;
  z.NopCounter = std::min<uint32_t>(Get32(d + 1), 64);
  z.InterruptEnableDelay = d[5] & 1;
  z.ShortAckFlag = d[6] & 1;
  z.Halted = d[7] & 1;
  if (m.Memory.Ram4MbEnabled) {
    m.Memory.ExpansionBank = d[8] % kExpansionBanks;
    m.Memory.RamConfiguration = d[9] & 7;
    // The bank's high bits travel on port bits 8..10.
    RamConfigWrite(m.Memory, static_cast<uint16_t>(0x7800 | (m.Memory.ExpansionBank >> 3) << 8 | 0xFF),
                   static_cast<uint8_t>(0xC0 | (m.Memory.ExpansionBank & 7) << 3 | m.Memory.RamConfiguration));
  }
  // The address counters index nothing (the video address is masked from
  // them), so they come back exactly.
  c.MA = Get16(d + 10);
  c.MASaved = Get16(d + 12);
  c.MARowStart = Get16(d + 14);
  const uint16_t bits = Get16(d + 16);
  uint8_t* flags[] = {&c.HSYNC,    &c.VSYNC,     &c.DISPEN,  &c.HorizontalDisplay, &c.VerticalDisplay, &c.EndOfLine,
                      &c.EndOfRow, &c.EndOfFrame, &c.LastRow, &c.InAdjust,          &c.VsyncDone};
  for (size_t i = 0; i < std::size(flags); ++i) *flags[i] = (bits >> i) & 1;
  m.GateArray.IntCounter = d[18];  // only compared, like the header's copy
  m.GateArray.IntDelay = std::min<uint8_t>(d[19], 2);
  p.PortC = d[20];
  p.GroupAMode = d[21] & 3;
  p.GroupBMode = d[22] & 1;
  p.PortAInput = d[23] & 1;
  p.PortBInput = (d[23] >> 1) & 1;
  p.PortCUpperInput = (d[23] >> 2) & 1;
  p.PortCLowerInput = (d[23] >> 3) & 1;
  for (int t = 0; t < 3; ++t) {
    s.Tone[t].Counter = Get32(d + 24 + 5 * t);
    s.Tone[t].FlipFlop = d[28 + 5 * t] & 1;
  }
  s.Noise.Counter = Get32(d + 39);
  s.Noise.ShiftRegister = Get16(d + 43);
  s.Noise.Output = d[45] & 1;
  s.Noise.Feedback = (d[45] >> 1) & 1;
  s.Envelope.Counter = Get32(d + 46);
  s.Envelope.Level = d[50] & 0x0F;
  s.Envelope.Restart = d[51] & 1;
  s.Envelope.Hold = (d[51] >> 1) & 1;
  s.Envelope.Down = (d[51] >> 2) & 1;
  s.DataBus = d[52];
  m.BeamX = std::min<uint32_t>(Get16(d + 53), 1008) & ~15u;
  m.BeamY = std::min<uint32_t>(Get16(d + 55), 622) & ~1u;
  // An I/O instruction waiting for its bus cycle, and a mode waiting for
  // the next HSYNC, go on where they were.
  z.IoDelay = d[57] & 1;
  m.GateArray.RequestedMode = d[58] & 3;
  m.GateArray.ModePending = (d[58] >> 2) & 1;
}

// The published counters into the CRTC. The address counters are not in the
// layout: they are rebuilt from the start address, the row and the column,
// which is exact unless R1 or R12/R13 changed earlier in the frame.
void RestoreCrtcCounters(CrtcState& c, const uint8_t* h) {
  c.HCC = h[kCrtcHcc];
  c.VCC = h[kCrtcVcc] & 0x7F;
  c.RA = h[kCrtcRa] & 0x1F;
  // Only compared for equality, so any value is safe.
  c.AdjustCounter = h[kCrtcAdjust];
  c.HsyncCounter = h[kCrtcHsync] & 0x0F;
  c.VsyncCounter = h[kCrtcVsync];
  const uint16_t flags = Get16(h + kCrtcFlags);
  c.VSYNC = flags & 1;
  c.HSYNC = (flags >> 1) & 1;
  c.InAdjust = (flags >> 7) & 1;
  const uint16_t start = static_cast<uint16_t>(c.R[12] << 8 | c.R[13]);
  c.MARowStart = static_cast<uint16_t>((start + c.VCC * c.R[1]) & 0x3FFF);
  c.MA = static_cast<uint16_t>((c.MARowStart + c.HCC) & 0x3FFF);
  c.MASaved = static_cast<uint16_t>((c.MARowStart + c.R[1]) & 0x3FFF);
  c.HorizontalDisplay = c.HCC < c.R[1];
  c.VerticalDisplay = !c.InAdjust && c.VCC < c.R[6];
  c.DISPEN = c.HorizontalDisplay & c.VerticalDisplay;
  c.EndOfLine = c.HCC == c.R[0];
  c.EndOfRow = 0;
  c.EndOfFrame = 0;
  c.LastRow = c.InAdjust || c.VCC == c.R[4];
  c.VsyncDone = c.VSYNC || c.VCC > c.R[7] || (c.VCC == c.R[7] && c.RA > 0);
}

// What a load will put into the machine, gathered before anything changes.
struct Plan {
  int Version = 1;
  std::vector<const uint8_t*> Banks;  // per 64 KB bank: its bytes, or null
  std::vector<std::vector<uint8_t>> Decoded;
  const uint8_t* Own = nullptr;
  size_t FileBanks = 0;
};

std::optional<std::string> MakePlan(std::span<const uint8_t> image, const std::string& name, Plan& plan) {
  if (image.size() < kSnapshotHeaderSize)
    return name + " is not a snapshot: " + std::to_string(image.size()) + " bytes, at least " +
           std::to_string(kSnapshotHeaderSize + kSnapshotDumpSize) + " expected";
  const uint8_t* h = image.data();
  // Neither the magic nor an unknown version refuses a file: anything but 2
  // and 3 is read as version 1, as before the later versions existed.
  const uint8_t version = h[kVersion];
  plan.Version = version == 2 || version == 3 ? version : 1;
  const uint32_t dumpKb = Get16(h + kDumpKb);
  if (dumpKb % 64 != 0)
    return name + " is not a snapshot: memory dump size " + std::to_string(dumpKb) + " KB is not a multiple of 64 KB";
  // Early version 1 writers left the field 0 over their 64 KB dump.
  const size_t dumpBanks = plan.Version == 1 && dumpKb == 0 ? 1 : dumpKb / 64;
  const size_t dumpEnd = kSnapshotHeaderSize + dumpBanks * kBankSize;
  if (image.size() < dumpEnd)
    return name + " is not a snapshot: " + std::to_string(image.size()) + " bytes, at least " +
           std::to_string(dumpEnd) + " expected for its " + std::to_string(dumpBanks * 64) + " KB memory dump";
  plan.FileBanks = dumpBanks;
  plan.Banks.assign(std::max(dumpBanks, kMemChunks), nullptr);
  for (size_t b = 0; b < dumpBanks; ++b) plan.Banks[b] = h + kSnapshotHeaderSize + b * kBankSize;

  if (plan.Version == 3) {
    size_t at = dumpEnd;
    while (at < image.size()) {
      if (image.size() - at < kChunkHeader)
        return name + ": chunk header cut short at offset " + std::to_string(at);
      const uint8_t* chunk = h + at;
      const std::string chunkName = ChunkName(chunk);
      const uint32_t length = Get32(chunk + 4);
      if (length > image.size() - at - kChunkHeader)
        return name + ": chunk " + chunkName + " of " + std::to_string(length) + " bytes runs past the end of the file";
      const std::span<const uint8_t> data(chunk + kChunkHeader, length);
      if (std::memcmp(chunk, "MEM", 3) == 0 && chunk[3] >= '0' && chunk[3] <= '8') {
        const size_t bank = static_cast<size_t>(chunk[3] - '0');
        if (length == kBankSize) {
          plan.Banks[bank] = data.data();
        } else {
          std::vector<uint8_t>& decoded = plan.Decoded.emplace_back(kBankSize);
          if (!DecompressMemoryChunk(data, decoded.data()))
            return name + ": chunk " + chunkName + " has bad run-length data (it must give exactly 64 KB)";
          plan.Banks[bank] = decoded.data();
        }
        plan.FileBanks = std::max(plan.FileBanks, bank + 1);
      } else if (std::memcmp(chunk, kOwnChunk, 4) == 0) {
        if (length < kOwnChunkSize || data[0] != kOwnChunkFormat)
          return name + ": chunk " + chunkName + " is damaged";
        plan.Own = data.data();
      }
      // Any other chunk (Plus ASIC, breakpoints, symbols, disk names) is
      // another program's business.
      at += kChunkHeader + length;
    }
  }
  if (plan.FileBanks == 0 || !plan.Banks[0]) return name + " is not a snapshot: it holds no memory (no dump, no MEM0)";
  return std::nullopt;
}

}  // namespace

std::vector<uint8_t> CompressMemoryChunk(std::span<const uint8_t> bank) {
  std::vector<uint8_t> out;
  out.reserve(bank.size() / 4);
  size_t i = 0;
  while (i < bank.size()) {
    const uint8_t v = bank[i];
    size_t run = 1;
    while (i + run < bank.size() && run < 255 && bank[i + run] == v) ++run;
    if (run >= 3 || (v == 0xE5 && run >= 2)) {
      out.insert(out.end(), {0xE5, static_cast<uint8_t>(run), v});
    } else {
      for (size_t k = 0; k < run; ++k) {
        out.push_back(v);
        if (v == 0xE5) out.push_back(0);
      }
    }
    i += run;
  }
  return out;
}

bool DecompressMemoryChunk(std::span<const uint8_t> data, uint8_t* bank) {
  size_t out = 0, i = 0;
  while (i < data.size()) {
    const uint8_t v = data[i++];
    if (v != 0xE5) {
      if (out == kBankSize) return false;
      bank[out++] = v;
      continue;
    }
    if (i == data.size()) return false;
    const uint8_t count = data[i++];
    if (count == 0) {
      if (out == kBankSize) return false;
      bank[out++] = 0xE5;
      continue;
    }
    if (i == data.size() || count > kBankSize - out) return false;
    std::memset(bank + out, data[i++], count);
    out += count;
  }
  return out == kBankSize;
}

std::vector<uint8_t> EncodeSnapshot(const Machine& m, int version, bool packMemory) {
  if (version != 1 && version != 2) version = 3;
  const MemoryMap& mem = m.Memory;
  const size_t banks = version == 1 ? 1 : MachineBanks(mem);
  // Version 3 keeps memory in chunks while MEM0..MEM8 can hold it all;
  // larger (4 MB) machines go into one dump.
  const bool chunks = version == 3 && banks <= kMemChunks;
  const size_t dumpBanks = chunks ? 0 : banks;
  std::vector<uint8_t> image(kSnapshotHeaderSize + dumpBanks * kBankSize, 0);
  uint8_t* h = image.data();

  std::memcpy(h, kMagic, sizeof kMagic);
  h[kVersion] = static_cast<uint8_t>(version);

  Z80Registers z = m.Z80;  // F is packed on a copy: saving leaves the machine alone
  PackFlags(z);
  Put16(h + kAF, z.AF.W);
  Put16(h + kBC, z.BC.W);
  Put16(h + kDE, z.DE.W);
  Put16(h + kHL, z.HL.W);
  h[kR] = z.R;
  h[kI] = z.I;
  h[kIFF1] = z.IFF1 ? 1 : 0;
  h[kIFF2] = z.IFF2 ? 1 : 0;
  Put16(h + kIX, z.IX.W);
  Put16(h + kIY, z.IY.W);
  Put16(h + kSP, z.SP);
  Put16(h + kPC, z.PC);
  h[kIM] = z.IM;
  Put16(h + kAF2, z.AF2.W);
  Put16(h + kBC2, z.BC2.W);
  Put16(h + kDE2, z.DE2.W);
  Put16(h + kHL2, z.HL2.W);

  const GateArrayState& g = m.GateArray;
  h[kSelectedPen] = g.SelectedPen;
  std::memcpy(h + kPens, g.PenColours, 16);
  h[kBorder] = g.BorderColour;
  h[kModeAndRoms] = static_cast<uint8_t>(0x80 | (g.ScreenMode & 3) | (mem.UpperRomEnabled ? 0 : 0x08) |
                                         (mem.LowerRomEnabled ? 0 : 0x04));
  // The byte has three bank bits; the banks a 4 MB card adds above them
  // travel in our own chunk.
  h[kRamConfig] = static_cast<uint8_t>((mem.ExpansionBank & 7) * 8 + (mem.RamConfiguration & 7));

  h[kCrtcSelected] = m.Crtc.SelectedRegister;
  std::memcpy(h + kCrtcRegisters, m.Crtc.R, 18);
  h[kUpperRom] = static_cast<uint8_t>(mem.SelectedUpperRom);

  const PpiState& ppi = m.Ppi;
  h[kPpiA] = ppi.PortA;
  // Brand, 50 Hz and VSYNC only: the printer's busy line is no part of the format.
  h[kPpiB] = static_cast<uint8_t>(PpiPortB(m) & 0x3F);
  h[kPpiC] = ppi.PortC;
  h[kPpiControl] = static_cast<uint8_t>(0x80 | (ppi.GroupAMode & 3) * 32 | (ppi.GroupBMode & 1) * 4 |
                                        (ppi.PortAInput ? 0x10 : 0) | (ppi.PortCUpperInput ? 0x08 : 0) |
                                        (ppi.PortBInput ? 0x02 : 0) | (ppi.PortCLowerInput ? 0x01 : 0));

  h[kPsgSelected] = m.Psg.SelectedRegister;
  std::memcpy(h + kPsgRegisters, m.Psg.Registers, 16);

  // The size of the dump that follows, never the configured RAM alone: a
  // reader that trusted a larger figure would read past the end.
  Put16(h + kDumpKb, static_cast<uint16_t>(dumpBanks * 64));

  if (version >= 2) {
    h[kCpcType] = CpcType(mem);
    // Emulators that cannot change modes mid-frame use these; the mode
    // applies to the whole frame here.
    h[kInterruptNumber] = 0;
    std::memset(h + kMultimode, g.ScreenMode & 3, 6);
  }
  if (version == 3) {
    h[kFdcMotor] = m.Fdc.Motor ? 1 : 0;
    for (int d = 0; d < 2; ++d) h[kFdcTracks + d] = static_cast<uint8_t>(std::clamp(m.Fdc.Track[d], 0, 255));
    h[kPrinterData] = m.Printer.LastByte;
    h[kCrtcType] = static_cast<uint8_t>(CrtcTypeIndex(m.Crtc));
    const CrtcState& c = m.Crtc;
    h[kCrtcHcc] = c.HCC;
    h[kCrtcVcc] = c.VCC;
    h[kCrtcRa] = c.RA;
    h[kCrtcAdjust] = c.AdjustCounter;
    h[kCrtcHsync] = c.HsyncCounter;
    h[kCrtcVsync] = c.VsyncCounter;
    Put16(h + kCrtcFlags, static_cast<uint16_t>((c.VSYNC & 1) | (c.HSYNC & 1) << 1 | (c.InAdjust & 1) << 7));
    // The layout counts HSYNCs since VSYNC upwards (1, 2; 0 idle); the gate
    // array here counts the ones left downwards.
    h[kGaVsyncDelay] = static_cast<uint8_t>(g.IntDelay ? 3 - std::min<uint8_t>(g.IntDelay, 2) : 0);
    h[kGaLineCounter] = g.IntCounter;
    h[kInterruptRequest] = m.Z80.InterruptRequest ? 1 : 0;
  }

  for (size_t b = 0; b < dumpBanks; ++b)
    std::memcpy(h + kSnapshotHeaderSize + b * kBankSize, BankData(mem, b), kBankSize);
  if (version == 3) {
    auto addChunk = [&image](const char* name, std::span<const uint8_t> data) {
      const size_t at = image.size();
      image.resize(at + kChunkHeader + data.size());
      std::memcpy(image.data() + at, name, 4);
      Put32(image.data() + at + 4, static_cast<uint32_t>(data.size()));
      std::memcpy(image.data() + at + kChunkHeader, data.data(), data.size());
    };
    if (chunks) {
      for (size_t b = 0; b < banks; ++b) {
        const std::span<const uint8_t> raw(BankData(mem, b), kBankSize);
        const std::vector<uint8_t> packed = packMemory ? CompressMemoryChunk(raw) : std::vector<uint8_t>();
        const char name[5] = {'M', 'E', 'M', static_cast<char>('0' + b), 0};
        // A compressed chunk of exactly 64 KB would read as a stored one.
        addChunk(name, packMemory && packed.size() < kBankSize ? std::span<const uint8_t>(packed) : raw);
      }
    }
    uint8_t own[kOwnChunkSize] = {};
    EncodeOwnChunk(m, own);
    addChunk(kOwnChunk, own);
  }
  return image;
}

SnapshotResult DecodeSnapshot(Machine& m, std::span<const uint8_t> image, const std::string& name) {
  Plan plan;
  if (const auto refused = MakePlan(image, name, plan)) return {false, *refused, {}};
  // Fields that index tables or select colours are kept to the bits their
  // chip holds, so a hostile header cannot reach past them.
  const uint8_t* h = image.data();

  Z80Registers& z = m.Z80;
  z.AF.W = Get16(h + kAF);
  UnpackFlags(z);
  z.BC.W = Get16(h + kBC);
  z.DE.W = Get16(h + kDE);
  z.HL.W = Get16(h + kHL);
  z.R = h[kR];
  z.I = h[kI];
  z.IFF1 = h[kIFF1] != 0;
  z.IFF2 = h[kIFF2] != 0;
  z.IX.W = Get16(h + kIX);
  z.IY.W = Get16(h + kIY);
  z.SP = Get16(h + kSP);
  z.PC = Get16(h + kPC);
  z.IM = h[kIM];
  z.AF2.W = Get16(h + kAF2);
  z.BC2.W = Get16(h + kBC2);
  z.DE2.W = Get16(h + kDE2);
  z.HL2.W = Get16(h + kHL2);
  // A halt state left over from the running program would make the next
  // interrupt skip the first byte at the loaded PC. A snapshot taken during
  // a HALT has PC on it and simply halts again. (Our own chunk restores the
  // exact state.)
  z.Halted = 0;
  z.InterruptEnableDelay = 0;
  z.IoDelay = 0;  // an I/O instruction waiting for its bus cycle belongs to the old program

  GateArrayState& g = m.GateArray;
  g.SelectedPen = h[kSelectedPen] & 0x1F;
  for (int i = 0; i < 16; ++i) g.PenColours[i] = h[kPens + i] & 0x1F;
  g.BorderColour = h[kBorder] & 0x1F;
  const uint8_t modeAndRoms = h[kModeAndRoms];
  g.ScreenMode = modeAndRoms & 3;
  g.RequestedMode = g.ScreenMode;
  g.ModePending = 0;
  m.Memory.UpperRomEnabled = !(modeAndRoms & 0x08);
  m.Memory.LowerRomEnabled = !(modeAndRoms & 0x04);

  // Replayed through the port so the pages follow the configuration (and the
  // machine's RAM size limits the bank). Bits 7..6 of the byte are not part
  // of it; keeping them out makes every byte a valid configuration write.
  const uint8_t ram = h[kRamConfig];
  m.Memory.ExpansionBank = (ram >> 3) & 7;
  m.Memory.RamConfiguration = ram & 7;
  RamConfigWrite(m.Memory, 0x7FFF, static_cast<uint8_t>(0xC0 | (ram & 0x3F)));

  // The registers as the file has them (the CRTC only compares them); the
  // next step re-evaluates the vertical compares against the new values.
  m.Crtc.SelectedRegister = h[kCrtcSelected] & 0x1F;
  std::memcpy(m.Crtc.R, h + kCrtcRegisters, 18);
  m.Crtc.VerticalCheck = 1;

  SelectUpperRom(m.Memory, h[kUpperRom]);  // also recomputes the banks

  m.Ppi.PortA = h[kPpiA];

  // The registers as read; the periods and switches derived by the same rules
  // as a register write (a period of 0 included), so a loaded machine plays
  // what the saved one played. The envelope restarts with the stored shape.
  m.Psg.SelectedRegister = h[kPsgSelected] & 0x0F;
  std::memcpy(m.Psg.Registers, h + kPsgRegisters, 16);
  PsgRecomputeDerived(m.Psg);
  m.Psg.Envelope.Hold = 0;
  m.Psg.Envelope.Restart = 1;

  // The CPC type, interrupt number and multimode bytes of version 2 have
  // nothing to set here: the profile is the machine, and modes change where
  // the program changes them.
  if (plan.Version == 3) {
    m.Fdc.Motor = h[kFdcMotor] & 1;
    for (int d = 0; d < 2; ++d) m.Fdc.Track[d] = std::min<int32_t>(h[kFdcTracks + d], kMaxTracks - 1);
    m.Printer.LastByte = h[kPrinterData];
    // A program saved on another CRTC may rely on it (the ASIC types 3 and 4
    // are not fitted here and leave the profile's type).
    if (h[kCrtcType] <= 2) m.Crtc.Type = h[kCrtcType];
    RestoreCrtcCounters(m.Crtc, h);
    const uint8_t delay = h[kGaVsyncDelay];
    g.IntDelay = delay == 1 || delay == 2 ? static_cast<uint8_t>(3 - delay) : 0;
    g.IntCounter = h[kGaLineCounter];  // only compared with 52 and 32: any value is safe
    z.InterruptRequest = h[kInterruptRequest] & 1;
  }
  if (plan.Own) DecodeOwnChunk(m, plan.Own);

  const size_t machineBanks = MachineBanks(m.Memory);
  for (size_t b = 0; b < std::min(machineBanks, plan.Banks.size()); ++b)
    if (plan.Banks[b]) std::memcpy(BankData(m.Memory, b), plan.Banks[b], kBankSize);
  RebuildByteExpansionTable(m);

  SnapshotResult result;
  if (plan.FileBanks > machineBanks)
    result.Warning = name + " holds " + std::to_string(plan.FileBanks * 64) + " KB of memory, this machine has " +
                     std::to_string(machineBanks * 64) + " KB: the rest was not loaded";
  return result;
}

SnapshotResult SaveSnapshot(const Machine& m, const fs::path& path, int version) {
  const std::vector<uint8_t> image = EncodeSnapshot(m, version);
  fs::path temporary = path;
  temporary += ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (out) out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(temporary, ec);
      return {false, "cannot write snapshot " + path.string(), {}};
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    return {false, "cannot write snapshot " + path.string() + ": " + ec.message(), {}};
  }
  return {};
}

SnapshotResult LoadSnapshot(Machine& m, const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return {false, "cannot read snapshot " + path.string() + ": no such file", {}};
  // The largest file worth reading: a 4 MB machine's dump and every chunk
  // a writer could add beside it.
  constexpr uintmax_t kLargest = 64u << 20;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec) return {false, "cannot read snapshot " + path.string(), {}};
  if (size > kLargest)
    return {false, path.string() + " is not a snapshot: " + std::to_string(size) + " bytes is too large", {}};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {false, "cannot read snapshot " + path.string(), {}};
  std::vector<uint8_t> image(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (in.bad()) return {false, "cannot read snapshot " + path.string(), {}};
  image.resize(static_cast<size_t>(in.gcount()));
  return DecodeSnapshot(m, image, path.string());
}

fs::path SnapshotFileName(const fs::path& chosen) {
  if (chosen.filename().string().find(".sna") != std::string::npos) return chosen;
  fs::path named = chosen;
  named += ".sna";
  return named;
}
