// Memory map: main RAM, the 4 MB expansion, the lower ROM, 32 upper ROM
// slots and the four 16 KB pages through which every Z80 access goes.
//
// ReadBank/WriteBank are derived state: UpdateMemoryBanks recomputes them
// after any change of ROM enables, RAM configuration, upper ROM selection or
// SymbiFace II mapping, and nothing else writes them.
//
// The SymbiFace II fields are owned by the card; the banking only reads them.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

constexpr uint32_t kBlockSize = 0x4000;
constexpr int kUpperRomSlots = 32;
constexpr int kExpansionBanks = 64;

struct MemoryMap {
  alignas(64) uint8_t BaseRam[4 * kBlockSize];
  uint8_t ExpansionRam[kExpansionBanks * 4 * kBlockSize];
  uint8_t LowerRom[kBlockSize];
  uint8_t UpperRomImage[kUpperRomSlots][kBlockSize];
  uint8_t SymbifaceRomRam[kUpperRomSlots * kBlockSize];

  uint8_t* ExpansionBlock[4][kExpansionBanks];

  std::array<std::string, kUpperRomSlots> UpperRomName;
  uint8_t UpperRomPresent[kUpperRomSlots];
  std::string LowerRomName;
  // Names the last LoadRoms took from the built-in firmware.
  std::vector<std::string> BuiltInRomsUsed;

  uint8_t LowerRomEnabled;
  uint8_t UpperRomEnabled;
  uint32_t SelectedUpperRom;
  uint8_t* UpperRomBank;
  uint32_t RamConfiguration;
  uint32_t ExpansionBank;
  int32_t RamBankLimit;  // -1 = 64 KB machine, 0 = 128 KB, ... 7 = 576 KB
  uint8_t Ram4MbEnabled;

  // SymbiFace II state read by the banking.
  uint8_t SymbifaceEnabled;
  uint8_t SymbifaceDipSwitch[8];
  uint8_t SymbifaceRomRamActive;
  uint8_t SymbifaceRomRamWindow;
  uint8_t* SymbifaceRomRamBank;

  uint8_t* RamPage[4];
  uint8_t* ReadBank[4];
  uint8_t* WriteBank[4];
};

// Point every table at a valid block and clear the settings. Call once on a
// freshly allocated, zero-filled map (its RAM and ROM arrays are not cleared
// again); InitMemory is the per-reset part.
void ConstructMemory(MemoryMap& m);
void InitMemory(MemoryMap& m);
void UpdateMemoryBanks(MemoryMap& m);
void SelectUpperRom(MemoryMap& m, uint8_t value);
void RamConfigWrite(MemoryMap& m, uint16_t port, uint8_t value);

// Loads LowerRomName and UpperRomName[] from romDir; a name romDir lacks is
// taken from builtInDir (the firmware shipped with the program) when given,
// and listed in BuiltInRomsUsed. A file missing from both is not an error:
// the lower ROM keeps its image, an upper slot becomes "EMPTY".
void LoadRoms(MemoryMap& m, const std::filesystem::path& romDir, const std::filesystem::path& builtInDir = {});

// Reads one ROM file into a 16 KB slot, dropping an AMSDOS header
// (rom_header.h); any other file is the image from its first byte. Bytes
// past 16 KB are ignored; a short image leaves the rest of the slot zero.
// Returns false when the file cannot be read.
bool LoadRomImage(const std::filesystem::path& file, uint8_t (&slot)[kBlockSize]);

inline uint8_t ReadByte(const MemoryMap& m, uint16_t address) {
  return m.ReadBank[address >> 14][address & 0x3FFF];
}
inline void WriteByte(MemoryMap& m, uint16_t address, uint8_t value) {
  m.WriteBank[address >> 14][address & 0x3FFF] = value;
}
