// CSL (CPC Script Language 1.0) scripts: a text file of commands that drives
// the machine in its own time (reset, type keys, wait, insert disks, take
// pictures), and chains to further scripts with csl_load.
//
// The script runs between periods: the owner calls Service after each one
// (and once before the first); Service runs the commands that are due and
// returns once one has to wait for machine time, the drive motor, VSYNC or
// the program. Waits end at the first period boundary at or after their
// time, except VSYNC waits, which step the machine to the exact microsecond.
// Times are kept from the scheduled moments, so rounding never accumulates.
//
// Errors name the script and its line: "demo.csl:12: unknown command 'foo'"
// and end the script.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "debugger/ssm.h"

struct Machine;

// What the script needs from whoever owns the machine.
struct CslHost {
  // Writes the current picture as a PNG; empty, or why not.
  std::function<std::string(const Machine&, const std::filesystem::path&)> WriteScreenshot;
  // Selects a CRTC type (0..4): a new machine configuration, or just the type.
  std::function<void(Machine&, uint32_t type)> SelectCrtc;
  // Folders for names without a folder when the script sets none (besides
  // the script's own folder, which is tried first for files to read).
  std::filesystem::path DiskDir, TapeDir, SnapshotDir, ScreenshotDir;
  // Lines for the user ("CSL: ..."), e.g. a picture written.
  std::function<void(const std::string&)> Message;
};

struct CslLine {
  int Number = 0;                  // 1-based
  std::string Command;             // lower case
  std::vector<std::string> Args;   // quotes removed
};

struct CslFile {
  std::filesystem::path Path;
  std::vector<CslLine> Lines;
};

// Parses a script's text; empty, or "NAME:LINE: problem" for the first
// malformed line (unknown command, bad argument).
std::string ParseCsl(const std::string& text, const std::filesystem::path& path, CslFile& out);

// One key group of key_output: the matrix keys pressed together.
struct CslKeyGroup {
  std::vector<std::pair<uint8_t, uint8_t>> Keys;  // line, bit
  bool NoDelayAfter = false;                       // followed by \(KOF)
  bool CarriageReturn = false;                     // holds RETURN or ENTER
};
// key_output's text as key groups; false with a message for a malformed
// \(code) or an unclosed brace. Characters no CPC key types are dropped.
bool CslKeyGroups(const std::string& text, std::vector<CslKeyGroup>& groups, std::string& error);

class CslRunner {
 public:
  explicit CslRunner(CslHost host);
  ~CslRunner();
  CslRunner(const CslRunner&) = delete;
  CslRunner& operator=(const CslRunner&) = delete;

  // Reads and checks the first script; empty, or the error. Takes over the
  // machine's SSM handler while the script runs.
  std::string Start(Machine& m, const std::filesystem::path& file);
  // Runs what is due; false once the script has ended (see Error).
  bool Service(Machine& m);
  // Lets go of the machine (keys up, SSM handler back); safe to repeat.
  void Stop(Machine& m);

  bool Running() const { return running_; }
  const std::string& Error() const { return error_; }
  // Pictures and snapshots written so far, in order.
  const std::vector<std::filesystem::path>& Written() const { return written_; }

 private:
  enum class Wait { None, Time, Keys, DriveOnOff, Vsync, Ssm0000 };
  bool Fail(Machine& m, const std::string& message);
  bool Execute(Machine& m, const CslLine& line);
  void OnSsm(Machine& m, const SsmRequest& r);
  std::filesystem::path Find(const std::filesystem::path& dir, const std::string& name,
                             const std::filesystem::path& fallback) const;
  std::filesystem::path OutputPath(const std::filesystem::path& dir, const std::filesystem::path& fallback,
                                   const std::string& name, const char* ext) const;
  std::string TakeScreenshot(Machine& m, const std::string& name);
  std::string TakeSnapshot(Machine& m, const std::string& name);
  bool VsyncEdge(Machine& m);
  bool KeysService(Machine& m);
  uint64_t Now(const Machine& m) const;

  CslHost host_;
  CslFile file_;
  size_t next_ = 0;
  bool running_ = false;
  std::string error_;
  Wait wait_ = Wait::None;
  uint64_t due_ = 0;  // machine microseconds
  uint32_t driveCount_ = 0;
  bool driveWasOn_ = false;
  bool ssmReleased_ = false;
  // key_output in progress
  std::vector<CslKeyGroup> groups_;
  size_t group_ = 0;
  bool keyDown_ = false;
  uint64_t keyPress_ = 19968, keyGap_ = 19968, keyAfterCr_ = 19968;
  // Folders and names the script set.
  std::filesystem::path diskDir_, tapeDir_, snapshotDir_, screenshotDir_;
  std::string screenshotName_, snapshotName_;
  bool pendingScreenshotVsync_ = false, pendingSnapshotVsync_ = false;
  int chain_ = 0;
  std::function<void(Machine&, const SsmRequest&)> savedHandler_;
  uint8_t savedSsmEnabled_ = 0;
  std::vector<std::filesystem::path> written_;
};
