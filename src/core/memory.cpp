#include "core/memory.h"

#include "core/rom_header.h"

#include <cstring>

#include "core/builtin_roms.h"
#include <fstream>
#include <iterator>
#include <vector>

namespace {

uint8_t* Base(MemoryMap& m, int block) { return m.BaseRam + block * kBlockSize; }

}  // namespace

void ConstructMemory(MemoryMap& m) {
  // The RAM and ROM arrays arrive zero (a new Machine is fresh zero pages):
  // clearing them again would touch all 5 MB at every start.
  for (auto& name : m.UpperRomName) name = "EMPTY";
  std::memset(m.UpperRomPresent, 0, sizeof m.UpperRomPresent);
  m.RamConfiguration = 0;
  m.ExpansionBank = 0;
  m.RamBankLimit = 0;
  m.Ram4MbEnabled = 0;
  m.SymbifaceEnabled = 0;
  std::memset(m.SymbifaceDipSwitch, 0, sizeof m.SymbifaceDipSwitch);
  m.SymbifaceRomRamActive = 0;
  m.SymbifaceRomRamWindow = 0;
  m.SymbifaceRomRamBank = m.SymbifaceRomRam;
  InitMemory(m);
}

void InitMemory(MemoryMap& m) {
  m.LowerRomEnabled = 1;
  m.UpperRomEnabled = 0;
  m.SelectedUpperRom = 0;
  m.UpperRomBank = m.UpperRomImage[0];
  std::memset(m.BaseRam, 0, sizeof m.BaseRam);
  // Banks 8..63 survive a reset, as the card's RAM would.
  std::memset(m.ExpansionRam, 0, 8 * 4 * kBlockSize);
  for (int k = 0; k < 4; ++k)
    for (int n = 0; n < kExpansionBanks; ++n)
      m.ExpansionBlock[k][n] = m.ExpansionRam + n * 4 * kBlockSize + k * kBlockSize;
  for (int k = 0; k < 4; ++k) m.RamPage[k] = Base(m, k);
  UpdateMemoryBanks(m);
}

void UpdateMemoryBanks(MemoryMap& m) {
  m.ReadBank[0] = m.LowerRomEnabled ? m.LowerRom : m.RamPage[0];
  m.WriteBank[0] = m.RamPage[0];

  if (m.SymbifaceEnabled && m.SymbifaceRomRamWindow) {
    m.ReadBank[1] = m.WriteBank[1] = m.SymbifaceRomRamBank;
  } else {
    m.ReadBank[1] = m.WriteBank[1] = m.RamPage[1];
  }

  m.ReadBank[2] = m.WriteBank[2] = m.RamPage[2];

  m.WriteBank[3] = m.RamPage[3];
  if (!m.UpperRomEnabled) {
    m.ReadBank[3] = m.RamPage[3];
  } else if (m.SymbifaceEnabled && m.SymbifaceRomRamActive &&
             m.SymbifaceDipSwitch[m.SelectedUpperRom & 7]) {
    m.ReadBank[3] = m.SymbifaceRomRamBank;
  } else {
    m.ReadBank[3] = m.UpperRomBank;
  }
}

void SelectUpperRom(MemoryMap& m, uint8_t value) {
  m.SelectedUpperRom = value & 31;
  m.SymbifaceRomRamBank = m.SymbifaceRomRam + m.SelectedUpperRom * kBlockSize;
  m.UpperRomBank = m.UpperRomPresent[m.SelectedUpperRom] ? m.UpperRomImage[m.SelectedUpperRom]
                                                         : m.UpperRomImage[0];
  UpdateMemoryBanks(m);
}

void RamConfigWrite(MemoryMap& m, uint16_t port, uint8_t value) {
  if ((value & 0xC0) != 0xC0) return;
  if (m.Ram4MbEnabled) {
    m.ExpansionBank = (((port >> 8) & 7u) << 3) | ((value >> 3) & 7u);
    m.RamConfiguration = value & 7;
  } else {
    int32_t bank = (value >> 3) & 7;
    if (bank > m.RamBankLimit) bank = 0;
    m.ExpansionBank = static_cast<uint32_t>(bank);
    m.RamConfiguration = m.RamBankLimit == -1 ? 0 : (value & 7u);
  }

  // Blocks per page for each configuration: 0..3 main RAM, 4..7 expansion.
  static constexpr uint8_t kLayout[8][4] = {
      {0, 1, 2, 3}, {0, 1, 2, 7}, {4, 5, 6, 7}, {0, 3, 2, 7},
      {0, 4, 2, 3}, {0, 5, 2, 3}, {0, 6, 2, 3}, {0, 7, 2, 3},
  };
  for (int page = 0; page < 4; ++page) {
    uint8_t b = kLayout[m.RamConfiguration][page];
    m.RamPage[page] = b < 4 ? Base(m, b) : m.ExpansionBlock[b - 4][m.ExpansionBank];
  }
  UpdateMemoryBanks(m);
}

bool LoadRomImage(const std::filesystem::path& file, uint8_t (&slot)[kBlockSize]) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  // Read at most header + one slot; anything longer is cut off.
  std::vector<uint8_t> data(128 + kBlockSize);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (in.bad()) return false;
  size_t size = static_cast<size_t>(in.gcount());
  std::error_code ec;
  const uint64_t fileSize = std::filesystem::file_size(file, ec);
  size_t start = size >= kAmsdosHeaderSize && HasAmsdosHeader(data.data(), ec ? size : fileSize) ? kAmsdosHeaderSize : 0;
  size_t length = std::min<size_t>(size - start, kBlockSize);
  std::memset(slot, 0, kBlockSize);
  std::memcpy(slot, data.data() + start, length);
  return true;
}

void LoadRoms(MemoryMap& m, const std::filesystem::path& romDir, const std::filesystem::path& builtInDir) {
  m.BuiltInRomsUsed.clear();
  auto locate = [&](const std::string& name) {
    bool builtIn = false;
    std::filesystem::path file = LocateRom(romDir, builtInDir, name, &builtIn);
    if (builtIn) m.BuiltInRomsUsed.push_back(name);
    return file;
  };
  if (!m.LowerRomName.empty() && m.LowerRomName != "EMPTY") {
    uint8_t image[kBlockSize];
    const std::filesystem::path file = locate(m.LowerRomName);
    if (!file.empty() && LoadRomImage(file, image)) std::memcpy(m.LowerRom, image, kBlockSize);
  }
  for (int i = 0; i < kUpperRomSlots; ++i) {
    if (m.UpperRomName[i].empty() || m.UpperRomName[i] == "EMPTY") {
      m.UpperRomName[i] = "EMPTY";
      m.UpperRomPresent[i] = 0;
      continue;
    }
    const std::filesystem::path file = locate(m.UpperRomName[i]);
    if (!file.empty() && LoadRomImage(file, m.UpperRomImage[i])) {
      m.UpperRomPresent[i] = 1;
    } else {
      m.UpperRomName[i] = "EMPTY";
      m.UpperRomPresent[i] = 0;
    }
  }
  SelectUpperRom(m, static_cast<uint8_t>(m.SelectedUpperRom));
}
