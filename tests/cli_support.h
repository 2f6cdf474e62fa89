// Runs pellucidore-cli (or another tool) as a child process for end-to-end
// tests and hands back its exit status and output.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <sys/wait.h>

struct CommandResult {
  int status = -1;
  std::string out;  // stdout and stderr together
};

inline CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  int raw = pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

inline std::string SharedDir() {
  if (const char* env = std::getenv("PELLUCIDORE_SHARED_DIR")) return env;
  return PELLUCIDORE_SHARED_DIR;
}

inline std::string RomDir() { return SharedDir() + "/roms"; }

inline bool HaveRoms() { return std::filesystem::exists(RomDir() + "/6128Low.ROM"); }

// Binaries built without the runner (the sanitizer soak build) have no Cli().
#ifdef PELLUCIDORE_CLI_PATH
inline std::string Cli() { return std::string("'") + PELLUCIDORE_CLI_PATH + "'"; }
#endif

// The lines of the runner's output (--screen-text), trailing spaces dropped.
inline std::vector<std::string> ScreenLines(const std::string& out) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}
