#include "storage/snapshot.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <system_error>

#include "core/machine.h"

namespace {

namespace fs = std::filesystem;

// Header offsets.
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

constexpr char kMagic[8] = {'M', 'V', ' ', '-', ' ', 'S', 'N', 'A'};

void Put16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t Get16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

}  // namespace

std::vector<uint8_t> EncodeSnapshot(const Machine& m) {
  std::vector<uint8_t> image(kSnapshotSize, 0);
  uint8_t* h = image.data();

  std::memcpy(h, kMagic, sizeof kMagic);
  h[kVersion] = 1;

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
  const MemoryMap& mem = m.Memory;
  h[kSelectedPen] = g.SelectedPen;
  std::memcpy(h + kPens, g.PenColours, 16);
  h[kBorder] = g.BorderColour;
  h[kModeAndRoms] = static_cast<uint8_t>(0x80 | (g.ScreenMode & 3) | (mem.UpperRomEnabled ? 0 : 0x08) |
                                         (mem.LowerRomEnabled ? 0 : 0x04));
  // The byte has three bank bits; the banks a 4 MB card adds above them
  // cannot be told apart in this format.
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

  // The size of the dump that follows, which is always the base 64 KB: a
  // reader that trusted the configured RAM size here would read past the end.
  Put16(h + kDumpKb, kSnapshotDumpSize / 1024);

  std::memcpy(h + kSnapshotHeaderSize, mem.BaseRam, kSnapshotDumpSize);
  return image;
}

SnapshotResult DecodeSnapshot(Machine& m, std::span<const uint8_t> image, const std::string& name) {
  if (image.size() < kSnapshotSize)
    return {false, name + " is not a snapshot: " + std::to_string(image.size()) + " bytes, at least " +
                       std::to_string(kSnapshotSize) + " expected"};
  // Neither the magic nor the version is tested: every file is read as a
  // version 1 file. Fields that index tables or select colours are kept to
  // the bits their chip holds, so a hostile header cannot reach past them.
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
  // a HALT has PC on it and simply halts again.
  z.Halted = 0;
  z.IoDelay = 0;  // an I/O instruction waiting for its bus cycle belongs to the old program

  GateArrayState& g = m.GateArray;
  g.SelectedPen = h[kSelectedPen] & 0x1F;
  for (int i = 0; i < 16; ++i) g.PenColours[i] = h[kPens + i] & 0x1F;
  g.BorderColour = h[kBorder] & 0x1F;
  const uint8_t modeAndRoms = h[kModeAndRoms];
  g.ScreenMode = modeAndRoms & 3;
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

  std::memcpy(m.Memory.BaseRam, h + kSnapshotHeaderSize, kSnapshotDumpSize);
  RebuildByteExpansionTable(m);
  return {};
}

SnapshotResult SaveSnapshot(const Machine& m, const fs::path& path) {
  const std::vector<uint8_t> image = EncodeSnapshot(m);
  fs::path temporary = path;
  temporary += ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (out) out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(temporary, ec);
      return {false, "cannot write snapshot " + path.string()};
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    return {false, "cannot write snapshot " + path.string() + ": " + ec.message()};
  }
  return {};
}

SnapshotResult LoadSnapshot(Machine& m, const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return {false, "cannot read snapshot " + path.string() + ": no such file"};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {false, "cannot read snapshot " + path.string()};
  // Only the version 1 part is used; the rest of a longer file is not read.
  std::vector<uint8_t> image(kSnapshotSize);
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (in.bad()) return {false, "cannot read snapshot " + path.string()};
  image.resize(static_cast<size_t>(in.gcount()));
  return DecodeSnapshot(m, image, path.string());
}

fs::path SnapshotFileName(const fs::path& chosen) {
  if (chosen.filename().string().find(".sna") != std::string::npos) return chosen;
  fs::path named = chosen;
  named += ".sna";
  return named;
}
