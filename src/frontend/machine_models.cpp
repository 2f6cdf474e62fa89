#include "frontend/machine_models.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool SameRom(const std::string& a, const char* b) { return Lower(a) == Lower(b); }

}  // namespace

const CpcModel* FindModel(std::string_view id) {
  std::string key = Lower(id);
  if (key.rfind("cpc", 0) == 0) key.erase(0, 3);
  std::erase(key, ' ');
  std::replace(key.begin(), key.end(), '+', '-');
  for (const CpcModel& model : kCpcModels)
    if (key == model.Id) return &model;
  return nullptr;
}

void ApplyModel(Settings& s, const CpcModel& model) {
  s.ROMLow = model.LowerRom;
  s.ROM[0] = model.Basic;
  s.ROM[7] = model.DiskRom;
  s.RAM = model.Ram;
  s.RAM4MB = model.Ram4Mb;
  s.VENDOR = 14;  // "AMSTRAD"
}

const CpcModel* ModelOfSettings(const Settings& s) {
  for (const CpcModel& model : kCpcModels) {
    if (SameRom(s.ROMLow, model.LowerRom) && SameRom(s.ROM[0], model.Basic) && SameRom(s.ROM[7], model.DiskRom) &&
        s.RAM4MB == model.Ram4Mb && (model.Ram4Mb || s.RAM == model.Ram))
      return &model;
  }
  return nullptr;
}

SettingsResult EnsureModelProfiles(const Settings& s) {
  // A fresh start folder has no profiles folder yet; the write reports it.
  std::error_code made;
  fs::create_directories(s.PFLDIR, made);
  for (const CpcModel& model : kCpcModels) {
    std::error_code ec;
    if (fs::exists(fs::path(s.PFLDIR) / model.ProfileName, ec)) continue;
    Settings profile = DefaultSettings(s.StartDir);
    profile.PFLDIR = s.PFLDIR;
    profile.LASTPROFILE = std::string("/") + model.ProfileName;
    ApplyModel(profile, model);
    if (SettingsResult r = SaveProfile(profile); !r.Ok) return r;
  }
  return {};
}
