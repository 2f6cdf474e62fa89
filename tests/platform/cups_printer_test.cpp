// The default printer through CUPS, against a private scheduler started by
// the test: its own folders, a local socket, and one raw queue whose backend
// appends each job to a file. (A file: device prints nothing for a raw queue
// without filters, so a four-line backend stands in for it.)
#include "platform/cups_printer.h"

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "cli_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kCupsd[] = "/usr/sbin/cupsd";

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Points this process (and the children it starts) at a CUPS server.
void UseCupsServer(const std::string& server) {
  setenv("CUPS_SERVER", server.c_str(), 1);
  cupsSetServer(nullptr);  // the library keeps its server per thread: read it again
}

class PrivateCups {
 public:
  PrivateCups() : dir_(fs::temp_directory_path() / ("pellucidore-cups-" + std::to_string(getpid()))) {
    fs::remove_all(dir_);
    for (const char* sub : {"etc", "spool", "cache", "log", "run", "bin/backend"}) fs::create_directories(dir_ / sub);
    // cupsd runs its backends as an unprivileged user when started as root.
    fs::permissions(dir_, fs::perms::all, fs::perm_options::replace);
    fs::permissions(dir_ / "log", fs::perms::all, fs::perm_options::replace);
    output_ = dir_ / "log" / "printed";
    socket_ = dir_ / "run" / "cups.sock";
    std::ofstream(dir_ / "etc/cupsd.conf") << "Listen " << socket_.string() << "\n"
                                           << "LogLevel warn\nBrowsing No\nWebInterface No\n"
                                           << "DefaultAuthType None\n<Location />\nOrder allow,deny\nAllow all\n"
                                           << "</Location>\n";
    std::ofstream(dir_ / "etc/cups-files.conf")
        << "ServerRoot " << (dir_ / "etc").string() << "\nServerBin " << (dir_ / "bin").string()
        << "\nRequestRoot " << (dir_ / "spool").string() << "\nCacheDir " << (dir_ / "cache").string()
        << "\nStateDir " << (dir_ / "run").string() << "\nTempDir " << (dir_ / "spool").string()
        << "\nErrorLog " << (dir_ / "log/error_log").string() << "\nAccessLog " << (dir_ / "log/access_log").string()
        << "\nPageLog " << (dir_ / "log/page_log").string() << "\nSandboxing Relaxed\nFileDevice Yes\n";
    std::ofstream(dir_ / "etc/printers.conf") << "<DefaultPrinter cpc>\nInfo Pellucidore test queue\nDeviceURI capture:"
                                              << output_.string()
                                              << "\nState Idle\nAccepting Yes\nShared No\n</Printer>\n";
    const fs::path backend = dir_ / "bin/backend/capture";
    std::ofstream(backend) << "#!/bin/sh\n"
                              "[ $# -eq 0 ] && { echo 'direct capture \"Unknown\" \"file\"'; exit 0; }\n"
                              "if [ -n \"$6\" ]; then cat \"$6\"; else cat; fi >> \"${DEVICE_URI#capture:}\"\n";
    using fs::perms;
    const perms rx = perms::owner_all | perms::group_read | perms::group_exec | perms::others_read | perms::others_exec;
    for (const fs::path& p : {dir_ / "bin", dir_ / "bin/backend", backend}) fs::permissions(p, rx, fs::perm_options::replace);
    fs::create_directory_symlink("/usr/lib/cups/daemon", dir_ / "bin/daemon");
    fs::create_directory_symlink("/usr/lib/cups/filter", dir_ / "bin/filter");

    if (!fs::exists(kCupsd)) {
      why_ = std::string(kCupsd) + " is not installed (scripts/setup-deps installs cups)";
      return;
    }
    const std::string c = (dir_ / "etc/cupsd.conf").string(), s = (dir_ / "etc/cups-files.conf").string();
    const char* argv[] = {kCupsd, "-f", "-c", c.c_str(), "-s", s.c_str(), nullptr};
    if (posix_spawn(&pid_, kCupsd, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      why_ = "cupsd could not be started";
      pid_ = 0;
      return;
    }
    for (int i = 0; i < 100 && !fs::exists(socket_); ++i) std::this_thread::sleep_for(50ms);
    if (!fs::exists(socket_)) why_ = "cupsd did not open its socket: " + ReadAll(dir_ / "log/error_log");
  }
  ~PrivateCups() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    fs::remove_all(dir_);
  }
  const std::string& why() const { return why_; }
  std::string server() const { return socket_.string(); }
  // What the queue printed, once it stops growing (or after the timeout).
  std::string Printed(std::chrono::milliseconds timeout = 10s) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::string last;
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(200ms);
      const std::string now = ReadAll(output_);
      if (!now.empty() && now == last) return now;
      last = now;
    }
    return last;
  }

 private:
  fs::path dir_, output_, socket_;
  pid_t pid_ = 0;
  std::string why_;
};

TEST(CupsPrinter, JobsReachTheDefaultDestinationWhole) {
  PrivateCups cups;
  if (!cups.why().empty()) GTEST_SKIP() << cups.why();
  UseCupsServer(cups.server());
  EXPECT_EQ(CupsPrinter::DefaultDestination(), "cpc");
  {
    CupsPrinter printer;
    ASSERT_EQ(printer.Open(), "");
    for (char c : std::string("FIRST JOB\n")) printer.Write(static_cast<uint8_t>(c));
    printer.EndJob();
    for (char c : std::string("SECOND\n")) printer.Write(static_cast<uint8_t>(c));
    printer.Close();  // ends the second job; both are with CUPS when it returns
  }
  EXPECT_EQ(cups.Printed(), "FIRST JOB\nSECOND\n");
}

TEST(CupsPrinter, BasicListingPrintsThroughTheRunner) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  PrivateCups cups;
  if (!cups.why().empty()) GTEST_SKIP() << cups.why();
  UseCupsServer(cups.server());
  const fs::path start = fs::temp_directory_path() / ("pellucidore-cups-start-" + std::to_string(getpid()));
  fs::create_directories(start);
  // LIST #8 ends with the listing; the job ends when the CPC has printed
  // nothing for the idle time (5 s), well before the run does.
  const CommandResult r = RunCommand(Cli() + " --start-dir '" + start.string() + "' --rom-dir '" + RomDir() +
                                     "' --printer-mode 1 --benchmark --seconds 14 --type '10 PRINT \"HI\"\\n20 "
                                     "REM {CPC}\\nLIST #8\\n'");
  fs::remove_all(start);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(cups.Printed(), "10 PRINT \"HI\"\n20 REM {CPC}\n") << r.out;
}

TEST(CupsPrinter, NoSchedulerMeansOfflineAndTheRunGoesOn) {
  const fs::path nowhere = fs::temp_directory_path() / ("pellucidore-no-cups-" + std::to_string(getpid()));
  UseCupsServer(nowhere.string());
  CupsPrinter printer;
  const std::string why = printer.Open();
  EXPECT_EQ(why.rfind("Cannot print to the default printer: ", 0), 0u) << why;
  printer.Close();  // nothing queued, nothing to wait for

  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  const CommandResult r = RunCommand(Cli() + " --rom-dir '" + RomDir() + "' --printer-mode 1 --frames 10 --screen-text");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Cannot print to the default printer"), std::string::npos) << r.out;
}

}  // namespace
