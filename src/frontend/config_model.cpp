#include "frontend/config_model.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

int SpeedPositionFromSetting(int32_t cpuSpeed) {
  return std::clamp(cpuSpeed / 2000, 0, kSpeedPositions);
}

int32_t CpuSpeedFromPosition(int position) { return 2000 * position; }

std::string SpeedLabel(int position) { return "CPC Speed " + std::to_string(10 * position) + "%"; }

std::string Z80Label(int position) { return "Z80 @ " + std::to_string(4 * position) + " Mhz"; }

int RamPositionFromSetting(int32_t ram) { return std::clamp(8 - ram, 1, 9); }

int32_t RamFromPosition(int position) { return 8 - position; }

std::string RamLabel(int position) { return std::to_string((9 - position) * 64 + 64) + " KB"; }

int BrandIndexFromVendor(int32_t vendor) {
  if (vendor < 0 || vendor > 14 || (vendor & 1)) return -1;
  return vendor / 2;
}

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

}  // namespace

std::vector<std::string> RomList(const fs::path& romDir, const fs::path& builtInDir) {
  std::vector<std::string> names;
  for (const fs::path& dir : {romDir, builtInDir}) {
    if (dir.empty()) continue;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_directory(ec)) continue;
      const std::string name = Upper(it->path().filename().string());
      if (name.size() > 4 && name.ends_with(".ROM") && std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
    }
  }
  // The directory's own order means nothing on Linux file systems; sorted
  // names are easier to find in a list of seventeen drop-downs.
  std::sort(names.begin(), names.end());
  names.insert(names.begin(), kEmptyRom);
  return names;
}

std::string FileNameOnly(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* FramesWord(int everyFrame) { return everyFrame == 1 ? "Frame" : "Frames"; }

std::vector<ParallelPort> ListParallelPorts(const fs::path& procDir) {
  std::vector<std::pair<int, ParallelPort>> found;
  std::error_code ec;
  for (fs::directory_iterator it(procDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string dir = it->path().filename().string();
    if (!dir.starts_with("parport") || dir.size() == 7 || dir.size() > 10) continue;
    if (!std::all_of(dir.begin() + 7, dir.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    std::ifstream in(it->path() / "base-addr");
    long address = -1;
    if (!(in >> address) || address < 0 || address > 0xFFFF) continue;
    const int number = std::stoi(dir.substr(7));
    // Named as the system's own printer ports are, with the kernel's name
    // beside it for the user who knows the device file.
    found.push_back({number, {"LPT" + std::to_string(number + 1) + " (" + dir + ")", static_cast<uint16_t>(address), dir}});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ParallelPort> ports;
  for (auto& [number, port] : found) {
    if (ports.size() == kMaxParallelPorts) break;  // the address table's size
    ports.push_back(std::move(port));
  }
  return ports;
}
