// Breakpoints and watchpoints: what stops the machine at an instruction
// boundary, for the debugger window and the runner.
//
// The machine loop looks at them only while one is enabled (Active): with
// none set it runs the very loop it runs without a debugger. While one is
// set, the loop checks execution breakpoints, the interrupt, VSYNC and scan
// line before each instruction, and memory and port watchpoints on every
// access the instruction makes; a hit ends the period at the end of that
// instruction (before it, for an execution breakpoint) with Stopped set.
//
// Conditions are small expressions over the registers and memory as the Z80
// sees it: A==&3F && (HL)!=0, BC>=$4000, (&C000)==0 || SP<&BF00,
// ROM==7 (the upper ROM selected and enabled; -1 when none is), RAM==4
// (the RAM configuration). (x) is the byte at address x.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct Machine;
struct BreakExpr;

enum class BreakKind : uint8_t {
  Execute,    // PC in First..Last, before the instruction
  Read,       // a memory read in First..Last
  Write,      // a memory write in First..Last
  Access,     // either
  PortIn,     // an IN whose port & Mask == Value
  PortOut,    // an OUT likewise
  Interrupt,  // the Z80 takes an interrupt; stops at the handler's first instruction
  Vsync,      // the CRTC's VSYNC starts
  ScanLine,   // the CRTC starts scan line First of the frame (lines since VSYNC)
};

struct Breakpoint {
  BreakKind Kind = BreakKind::Execute;
  uint16_t First = 0, Last = 0;  // address range, or the scan line
  uint16_t Mask = 0, Value = 0;  // ports
  std::string Condition;         // empty: always
  bool Enabled = true;
  bool Temporary = false;  // removed when hit (run to cursor, step over and out)
  uint32_t Hits = 0;       // times the breakpoint and its condition held
  std::string Name;        // how reports name it; a label, or empty
  std::shared_ptr<const BreakExpr> Compiled;
};

struct BreakState {
  std::vector<Breakpoint> List;
  // Instruction tracing: called before each instruction while set.
  std::function<void(const Machine&)> Trace;

  // Derived by RebuildBreaks: read by the machine loop.
  uint8_t Active = 0;    // an enabled breakpoint, or a trace
  uint8_t Watching = 0;  // memory or port watchpoints: accesses are checked
  std::vector<uint8_t> ExecuteMap;  // 65536 flags, PC may hit

  // The stop.
  uint8_t Stopped = 0;
  int HitIndex = -1;  // in List at the time of the hit; -1 for none
  std::string Reason;
  uint16_t HitAddress = 0;  // the watched address or port

  // Step out: stop at the boundary after a return instruction that popped a
  // word at or above this stack level; -1 when off.
  int32_t StepOutLevel = -1;
  int32_t ReturnSp = -1;  // SP before the return instruction just met; -1 none

  // Loop bookkeeping.
  uint8_t SkipOnce = 0;  // after a stop, the next instruction is not checked again
  uint8_t LastVsync = 0;
  uint16_t LinesSinceVsync = 0;
  uint8_t LastHsync = 0;
};

// Parses a condition; empty when it is well formed, else why not.
std::string CheckCondition(std::string_view text);
// Adds a breakpoint (its condition compiled); empty, or why not.
std::string AddBreakpoint(BreakState& s, Breakpoint bp);
void RemoveBreakpoint(BreakState& s, size_t index);
void ClearBreakpoints(BreakState& s);
// After editing List (Enabled, ranges): recompute what the loop reads.
void RebuildBreaks(BreakState& s);
// Clears the stop so that the machine can run on; the instruction it stopped
// before then runs without stopping again.
void ResumeFromBreak(BreakState& s);

// Evaluates a compiled condition on the machine.
int32_t EvaluateCondition(const BreakExpr& e, const Machine& m);
// Compiles and evaluates in one go (tests, the runner's --until-memory).
bool ConditionHolds(std::string_view text, const Machine& m, std::string* error = nullptr);

// Number syntax of the debugger: &1234, $1234, #1234, 0x1234, 1234h, 1234.
bool ParseDebugNumber(std::string_view text, uint32_t& value);

// "BREAK at &1234 (name)", "WATCH write &C000 at PC &4003", ...
std::string DescribeStop(const BreakState& s);
// One line of registers: "PC=&1234 SP=&BFF0 AF=&0044 ...".
std::string RegisterLine(const Machine& m);

// Called by the machine loop; see machine.cpp.
bool BreakBeforeInstruction(Machine& m);
void BreakOnAccess(Machine& m, BreakKind kind, uint16_t address);
void BreakAfterInterrupt(Machine& m);
void BreakAfterVideoStep(Machine& m);
