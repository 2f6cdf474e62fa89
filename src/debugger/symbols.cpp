#include "debugger/symbols.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "debugger/breakpoints.h"

namespace {

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

bool IsName(std::string_view s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '@' || c == '?';
  });
}

}  // namespace

size_t ParseSymbols(std::string_view text, SymbolTable& table) {
  size_t count = 0;
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    if (const size_t comment = line.find(';'); comment != std::string::npos) line.resize(comment);
    // "=" and ":" are separators like blanks: NAME=$10, NAME: EQU 16.
    std::replace(line.begin(), line.end(), '=', ' ');
    std::replace(line.begin(), line.end(), '\t', ' ');
    std::istringstream words(line);
    std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
    if (w.size() < 2) continue;
    std::string name = w[0];
    if (name.ends_with(':')) name.pop_back();
    if (!IsName(name)) continue;
    std::string value = w[1];
    if (Upper(value) == "EQU" || Upper(value) == "DEFL") {
      if (w.size() < 3) continue;
      value = w[2];
    }
    uint32_t number = 0;
    if (!ParseDebugNumber(value, number) || number > 0xFFFF) continue;
    const auto address = static_cast<uint16_t>(number);
    table.ByName[name] = address;
    table.ByAddress.emplace(address, name);
    ++count;
  }
  return count;
}

std::string LoadSymbols(const std::filesystem::path& file, SymbolTable& table) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "cannot read the symbol file " + file.string();
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  if (ParseSymbols(text, table) == 0) return "no symbols found in " + file.string();
  return {};
}

std::optional<uint16_t> ResolveAddress(std::string_view text, const SymbolTable& table) {
  uint32_t number = 0;
  if (ParseDebugNumber(text, number)) {
    if (number > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(number);
  }
  if (auto it = table.ByName.find(std::string(text)); it != table.ByName.end()) return it->second;
  const std::string wanted = Upper(text);
  for (const auto& [name, address] : table.ByName)
    if (Upper(name) == wanted) return address;
  return std::nullopt;
}

std::string SymbolAt(const SymbolTable& table, uint16_t address) {
  auto it = table.ByAddress.find(address);
  return it == table.ByAddress.end() ? std::string() : it->second;
}
