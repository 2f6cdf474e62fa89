#include "core/builtin_roms.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace fs = std::filesystem;

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool HasRoms(const fs::path& dir) {
  std::error_code ec;
  return !dir.empty() && fs::is_directory(dir, ec);
}

}  // namespace

fs::path FindBuiltInRomDir() {
  if (const char* env = std::getenv("PELLUCIDORE_BUILTIN_ROM_DIR")) return fs::path(env);
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path installed = exe.parent_path().parent_path() / PELLUCIDORE_INSTALLED_ROM_DIR;
    if (HasRoms(installed)) return installed;
  }
  const fs::path source = PELLUCIDORE_SOURCE_ROM_DIR;
  if (HasRoms(source)) return source;
  return {};
}

fs::path FindRomFile(const fs::path& dir, const std::string& name) {
  if (dir.empty() || name.empty() || name == "EMPTY") return {};
  std::error_code ec;
  if (fs::is_regular_file(dir / name, ec)) return dir / name;
  fs::path best;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path candidate = it->path();
    if (EqualNoCase(candidate.filename().string(), name) && fs::is_regular_file(candidate, ec) &&
        (best.empty() || candidate < best))
      best = candidate;
  }
  return best;
}

fs::path LocateRom(const fs::path& romDir, const fs::path& builtInDir, const std::string& name, bool* fromBuiltIn) {
  if (fromBuiltIn) *fromBuiltIn = false;
  if (name.empty() || name == "EMPTY") return {};
  std::error_code ec;
  // A name with a folder in it (the runner's --rom-low) is taken as it stands.
  if (fs::path(name).has_parent_path()) return fs::is_regular_file(romDir / name, ec) ? romDir / name : fs::path();
  if (fs::path own = FindRomFile(romDir, name); !own.empty()) return own;
  fs::path builtIn = FindRomFile(builtInDir, name);
  if (fromBuiltIn) *fromBuiltIn = !builtIn.empty();
  return builtIn;
}
