#include "platform/module_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#ifndef PELLUCIDORE_MODULE_RELDIR
#define PELLUCIDORE_MODULE_RELDIR "../lib/pellucidore"
#endif

namespace fs = std::filesystem;

void* OpenModule(const std::string& fileName, std::string& error) {
  std::vector<fs::path> dirs;
  if (const char* dir = std::getenv("PELLUCIDORE_MODULE_DIR"); dir && *dir) {
    dirs.emplace_back(dir);
  } else {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
      dirs.push_back(exe.parent_path());
      dirs.push_back((exe.parent_path() / PELLUCIDORE_MODULE_RELDIR).lexically_normal());
    }
  }
  std::string searched;
  for (const fs::path& dir : dirs) {
    const fs::path file = dir / fileName;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
      searched += (searched.empty() ? "" : ", ") + dir.string();
      continue;
    }
    // RTLD_LOCAL: the module's libraries stay out of the program's symbol space.
    if (void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    const char* why = dlerror();
    error = "cannot load " + file.string() + ": " + (why ? why : "unknown error");
    return nullptr;
  }
  error = fileName + " not found (looked in " + (searched.empty() ? std::string("no folder") : searched) + ")";
  return nullptr;
}
