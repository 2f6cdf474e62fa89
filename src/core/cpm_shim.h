// A bare CP/M stand-in for running Z80 exerciser programs (ZEXDOC, ZEXALL)
// on the executor: 64 KB of flat RAM, the program at &0100, and the two
// BDOS console calls such programs use, trapped at &0005. No disk, no
// interrupts; port reads give &FF and port writes go nowhere.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include "core/z80.h"

struct CpmBus {
  static constexpr bool kQuiet = true;  // nothing here raises an interrupt
  alignas(64) std::array<uint8_t, 0x10000> Memory{};

  uint8_t ReadByte(uint16_t address) const { return Memory[address]; }
  void WriteByte(uint16_t address, uint8_t value) { Memory[address] = value; }
  uint8_t Z80In(uint16_t) const { return 0xFF; }
  void Z80Out(uint16_t, uint8_t) {}
  void InterruptAccepted() {}
};

struct CpmMachine {
  Z80Registers Cpu{};
  CpmBus Bus;
  uint64_t Instructions = 0;  // ExecuteInstruction calls so far
  bool Finished = false;      // the program jumped to &0000
};

constexpr uint16_t kCpmLoadAddress = 0x0100;
constexpr uint16_t kCpmBdosEntry = 0x0005;
constexpr uint16_t kCpmStackTop = 0xF000;

// Clears memory and the CPU and puts image at &0100, ready to run.
// Returns false when the image does not fit below the top of memory.
bool LoadCpmImage(CpmMachine& m, std::span<const uint8_t> image);

// Reads a .COM file and loads it; on failure error says why.
bool LoadCpmFile(CpmMachine& m, const std::string& path, std::string& error);

// Runs until the program ends or maxInstructions more instructions have run.
// BDOS output goes to out, flushed at every call so progress shows.
// Returns true once the program has ended.
bool RunCpm(CpmMachine& m, std::ostream& out, uint64_t maxInstructions);
