// The debugger's model: everything the debugger window shows and edits, as
// text and plain values, with no toolkit. The window only copies these into
// its widgets and passes the user's keys and entries back.
//
// It works on a paused machine: the caller keeps the emulation thread
// suspended while any of these run. Every view is rebuilt by Refresh from the
// machine; nothing but the scroll positions and the view modes is kept
// between refreshes.
//
// Running to a place (step over, step out, run to cursor) only sets up what
// stops the machine: the caller then runs it (the window resumes the
// emulation thread) and refreshes at the stop.
//
// Left out: the window itself.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/breakpoints.h"
#include "debugger/symbols.h"

struct Machine;

constexpr int kListingLines = 30;
constexpr int kListingPcLine = 16;  // PC stands on the 17th line
constexpr int kDumpLines = 8;
constexpr int kDumpBytesPerLine = 8;
constexpr int kDumpScrollMax = 8191;
constexpr int kStackLines = 14;
constexpr int kCrtcEdits = 11;
constexpr int kPsgEdits = 16;
constexpr int kGateArrayPanels = 17;  // pens 0..15, then the border

// CRTC registers behind the CRTC edits, in their order.
constexpr std::array<int, kCrtcEdits> kCrtcEditRegisters = {0, 1, 2, 3, 4, 5, 6, 7, 9, 12, 13};

// The register edits, in the order of the window's edits.
enum class RegisterField { PC, SP, AF, BC, DE, HL, IX, IY, AF2, BC2, DE2, HL2, Flags, IM, IFF1, IR };
constexpr int kRegisterFields = 16;

// Cursor keys in the listing and the dump.
enum class NavKey { Up, Down, PageUp, PageDown };

// One microsecond of video for each microsecond still owed by the current
// instruction, then exactly one instruction, counted as the frame loop counts
// it. No sound, light pen or speed multiplier.
void StepInstruction(Machine& m);

// Hex entry of a register edit: the last 4 characters, padded on the left
// with "0", each a hex digit in either case. Anything else is refused.
bool ParseHexEntry(std::string_view text, uint16_t& value);
// Flags entry: the last 8 characters, padded with "0"; a "1" sets bit 7..0.
bool ParseFlagsEntry(std::string_view text, uint8_t& value);

// What Step over did: one plain step, or set up a run the caller starts.
enum class StepResult { Stepped, Running };

// The kinds of breakpoint by the words the window offers, in BreakKind order.
constexpr std::array<const char*, 9> kBreakKindNames = {"exec", "read", "write", "access", "in",
                                                        "out",  "irq",  "vsync", "line"};

// A breakpoint of the list as the window shows it (temporary ones are not).
struct BreakpointRow {
  size_t Index;      // in the machine's list
  std::string Text;  // "exec &4000 (main) if A==&3F"
  bool Enabled;
  uint32_t Hits;
};

struct GateArrayView {
  // Palette indices of the pens and the border: hardware colour number, plus
  // 32 on the green monitor.
  std::array<uint8_t, kGateArrayPanels> PanelColour;
  std::string ModeText;     // "Screen Mode: 1"
  std::string RomHighText;  // "ROM High: ROM 7"
  bool LowerRomEnabled;
  bool UpperRomEnabled;
};

class DebuggerModel {
 public:
  explicit DebuggerModel(Machine& m) : m_(m) {}

  // Recomputes the listing range (centred on PC when PC starts an instruction
  // of the walk from address 0) and rebuilds every view.
  void Refresh();
  // Step (F4): one instruction, then Refresh.
  void Step();
  // Goto PC: Refresh with the listing centred on PC even when not following.
  void GotoPc();
  // Follow PC (on at first): each refresh centres the listing on PC.
  void SetFollowPc(bool on) { followPc_ = on; }
  bool FollowPc() const { return followPc_; }

  // Step over: CALL, CALL cc, RST, DJNZ, HALT and the repeating block
  // instructions run through to the instruction after them; any other is a
  // Step.
  StepResult StepOver();
  // Runs until a return instruction leaves the current routine.
  void StepOut();
  void RunToCursor(uint16_t address);
  // Before any run: clears the stop; the instruction at PC runs unchecked.
  void PrepareRun();
  // At a stop or a pause: a run to a place that did not get there is dropped.
  void CancelRun();
  // Why the machine stopped, or empty.
  std::string StopText() const;

  // Memory view modes. While WhatZ80Sees is on, the ROM/RAM choice is off.
  void SetShowRom(bool on);
  void SetWhatZ80Sees(bool on);
  bool ShowRom() const { return showRom_; }
  bool WhatZ80Sees() const { return whatZ80Sees_; }
  bool RomButtonEnabled() const { return !whatZ80Sees_; }
  // The byte at an address as the views show it.
  uint8_t ReadView(uint16_t address) const;

  // Listing.
  const std::vector<std::string>& ListingLines() const { return listing_; }
  int ListingPosition() const { return listingPosition_; }
  int ListingMax() const { return listingMax_; }
  void SetListingPosition(int position);  // the scroll bar
  // A cursor key on `line` (0..29); moves the listing at its edges.
  void ListingKey(NavKey key, int line);
  // The address of the instruction on a listing line; none on a label line.
  std::optional<uint16_t> ListingAddress(int line) const;

  // Symbols: label lines in the listing and operands shown by name.
  std::string LoadSymbolFile(const std::filesystem::path& file);
  void SetSymbols(SymbolTable table);
  const SymbolTable& Symbols() const { return symbols_; }

  // The breakpoint list. `where` is an address or label, a range
  // (FIRST-LAST, FIRST+LENGTH), a port (PORT or PORT/MASK) or a scan line,
  // as the kind needs; irq and vsync need none. Empty, or why not.
  std::vector<BreakpointRow> BreakpointRows() const;
  std::string AddBreakpoint(BreakKind kind, std::string_view where, std::string_view condition);
  void RemoveBreakpoint(size_t index);
  void SetBreakpointEnabled(size_t index, bool on);

  // Memory search in the dump's view: hex bytes ("3E 41", "3E41") or text
  // in quotes ("\"Ready\""), from after the last match (or the dump's first
  // address), forwards or backwards, wrapping round memory. A match moves the
  // dump to it. Empty, or why not ("not found" included).
  std::string Search(std::string_view pattern, bool forward, uint16_t* found = nullptr);

  // Memory dump.
  const std::vector<std::string>& DumpLines() const { return dump_; }
  int DumpPosition() const { return dumpPosition_; }
  void SetDumpPosition(int position);  // 0..8191, start = position * 8
  void DumpKey(NavKey key, int line);

  const std::vector<std::string>& StackLines() const { return stack_; }

  // Register edits. AcceptsKey filters typed characters (control keys are the
  // window's business). Apply parses and writes the entry, then redisplays;
  // it returns false and leaves the machine alone when the entry is refused.
  const std::string& RegisterText(RegisterField f) const { return registers_[static_cast<int>(f)]; }
  static bool AcceptsKey(RegisterField f, char c);
  bool ApplyRegisterEdit(RegisterField f, std::string_view text);
  void RedisplayRegisters();  // Escape

  // CRTC, PSG and gate array.
  const std::string& CrtcText(int edit) const { return crtc_[edit]; }
  bool ApplyCrtcEdit(int edit, std::string_view text);
  const std::string& PsgText(int reg) const { return psg_[reg]; }
  bool ApplyPsgEdit(int reg, std::string_view text);
  const GateArrayView& GateArray() const { return gateArray_; }
  void SetLowerRomEnabled(bool on);
  void SetUpperRomEnabled(bool on);
  // MONITOR setting: 1 colour, 2 green.
  void SetMonitor(int monitor) { monitor_ = monitor; }

  // Port-write log.
  bool PortLogEnabled() const;
  void SetPortLogEnabled(bool on);
  void ClearPortLog();
  // "F4FF 0E": port and value, oldest first.
  std::vector<std::string> PortLogLines() const;

 private:
  void ComputeListingRange();
  void BuildListing();
  void BuildDump();
  void BuildStack();
  void BuildCrtc();
  void BuildPsg();
  void BuildGateArray();

  Machine& m_;
  bool showRom_ = false;
  // Opens on what the Z80 reads, ROMs included: RAM under an enabled ROM
  // would show the code at PC as something it is not.
  bool whatZ80Sees_ = true;
  int monitor_ = 1;
  int listingPosition_ = 0;
  int listingMax_ = 0;
  int dumpPosition_ = 0;
  std::vector<std::string> listing_;
  std::vector<std::string> dump_;
  std::vector<std::string> stack_;
  std::array<std::string, kRegisterFields> registers_;
  std::array<std::string, kCrtcEdits> crtc_;
  std::array<std::string, kPsgEdits> psg_;
  GateArrayView gateArray_{};
  bool followPc_ = true;
  bool centreOnPc_ = false;
  std::vector<int> listingAddress_;  // per line; -1 on a label line
  SymbolTable symbols_;
  std::vector<uint8_t> searchBytes_;
  std::optional<uint16_t> lastMatch_;
};
