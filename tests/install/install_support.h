// Helpers for the installation tests: the build folder, scratch folders,
// installing the build into a DESTDIR, and starting a program with its own
// environment and reading what it prints.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli_support.h"

namespace install_test {

namespace fs = std::filesystem;

inline fs::path BuildDir() { return fs::path(PELLUCIDORE_CLI_PATH).parent_path(); }

inline std::string Quote(const fs::path& p) {
  std::string quoted = "'";
  quoted += p.string();
  quoted += '\'';
  return quoted;
}

inline bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null").status == 0;
}

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag) {
    path_ = fs::temp_directory_path() /
            ("pellucidore-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

// `cmake --install` of the build into root (as DESTDIR) under prefix /usr.
inline CommandResult InstallInto(const fs::path& root) {
  return RunCommand("DESTDIR=" + Quote(root) + " cmake --install " + Quote(BuildDir()) + " --prefix /usr");
}

// A child process with a changed environment whose stdout and stderr are
// read through a pipe. Killed (with its process group) when destroyed.
class Child {
 public:
  // env: NAME -> value to set, or std::nullopt to remove the variable.
  Child(const fs::path& program, const fs::path& workDir,
        const std::map<std::string, std::optional<std::string>>& env, const std::vector<std::string>& args = {}) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      dup2(fds[1], 1);
      dup2(fds[1], 2);
      close(fds[0]);
      close(fds[1]);
      for (const auto& [name, value] : env) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
      }
      if (chdir(workDir.c_str()) != 0) _exit(126);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    fd_ = fds[0];
    fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  bool Started() const { return pid_ > 0; }

  // Reads output until it contains `text`, the process ends, or time is up.
  bool WaitForOutput(const std::string& text, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n > 0) output_.append(buffer, static_cast<size_t>(n));
      else if (n == 0) return output_.find(text) != std::string::npos;  // all writers gone
    }
    return true;
  }

  // True while the process has not ended.
  bool Running() {
    if (exited_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) exited_ = true;
    return !exited_;
  }

  const std::string& Output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  bool exited_ = false;
  std::string output_;
};

}  // namespace install_test
