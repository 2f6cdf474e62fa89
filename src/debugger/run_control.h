// What a build script asks of a headless run: stop at a breakpoint or
// watchpoint and say why, end the run when a condition holds, trace the
// instructions of a span of frames, and dump memory afterwards.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "debugger/symbols.h"

struct Machine;

// Exit statuses the runner documents.
inline constexpr int kExitBreakpoint = 3;
inline constexpr int kExitUntilNotMet = 4;

struct RunControlOptions {
  std::vector<std::string> breaks;   // ADDR or ADDR:CONDITION
  std::vector<std::string> watches;  // ADDR, ADDR-ADDR or ADDR+LEN, then :r, :w or :rw
  std::vector<std::string> dumps;    // ADDR:LEN:FILE
  std::string untilText, untilPc, untilMemory;  // untilMemory: ADDR=VALUE
  std::string traceFile;
  long traceFrom = 0;    // first traced frame
  long traceFrames = 1;  // frames traced
  std::string symbolsFile;
};

class RunControl {
 public:
  RunControl();
  ~RunControl();

  // Reads the symbols and sets the breakpoints; empty, or what is wrong.
  std::string Setup(Machine& m, const RunControlOptions& options);
  // Before period `period` (0 based): starts or stops the trace.
  void BeforePeriod(Machine& m, long period);
  // After each period: true when the run ends here.
  bool AfterPeriod(Machine& m, long period);
  // After the run: the memory dumps; empty, or what failed.
  std::string Finish(Machine& m);
  // 0, kExitBreakpoint or kExitUntilNotMet; and the lines to print.
  int ExitStatus() const { return exitStatus_; }
  const std::string& Report() const { return report_; }
  bool HasUntil() const;

 private:
  struct Dump {
    uint16_t address;
    uint32_t length;
    std::string file;
  };
  RunControlOptions options_;
  SymbolTable symbols_;
  std::vector<Dump> dumps_;
  bool untilPc_ = false;
  size_t untilPcIndex_ = 0;
  bool untilMemory_ = false;
  uint16_t untilAddress_ = 0;
  uint8_t untilValue_ = 0;
  bool untilMet_ = false;
  std::FILE* trace_ = nullptr;
  int exitStatus_ = 0;
  std::string report_;
};
