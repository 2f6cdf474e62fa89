// The ready machine models: CPC 464, 664, 6128 and the 6128 with the 4 MB
// expansion, each a profile in the profiles folder (written on first start
// when absent) and a shortcut for the runner's --model.
//
// A model fixes only what tells the machines apart: the lower ROM, BASIC in
// slot 0, the disk ROM in slot 7 (the 464 has no disk drive), the RAM and
// the brand. Everything else of a new model profile is the default.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "frontend/settings.h"

struct CpcModel {
  const char* Id;           // --model value: "464", "664", "6128", "6128-4mb"
  const char* MenuText;     // "CPC 464"
  const char* ProfileName;  // file in PFLDIR: "CPC464.pfl"
  const char* LowerRom;
  const char* Basic;    // upper ROM 0
  const char* DiskRom;  // upper ROM 7, "EMPTY" for none
  int32_t Ram;          // RamBankLimit: -1 = 64 KB, 0 = 128 KB
  bool Ram4Mb;
};

inline constexpr std::array<CpcModel, 4> kCpcModels = {{
    {"464", "CPC 464", "CPC464.pfl", "464Low.ROM", "464BASIC.ROM", "EMPTY", -1, false},
    {"664", "CPC 664", "CPC664.pfl", "664Low.ROM", "664BASIC.ROM", "AMSDOS.ROM", -1, false},
    {"6128", "CPC 6128", "CPC6128.pfl", "6128Low.ROM", "6128BASIC.ROM", "AMSDOS.ROM", 0, false},
    {"6128-4mb", "CPC 6128 + 4 MB", "CPC6128-4MB.pfl", "6128Low.ROM", "6128BASIC.ROM", "AMSDOS.ROM", 0, true},
}};

// The model of an id ("464", "cpc464", "6128-4MB", ...), or nullptr.
const CpcModel* FindModel(std::string_view id);

// Sets the model's ROMs, RAM and brand in s.
void ApplyModel(Settings& s, const CpcModel& model);

// The model whose ROMs and RAM s holds, or nullptr for any other machine.
const CpcModel* ModelOfSettings(const Settings& s);

// Writes each model's profile into PFLDIR (made when missing) unless a file
// of that name is there; the first failure is reported.
SettingsResult EnsureModelProfiles(const Settings& s);
