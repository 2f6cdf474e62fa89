// Z80 processor: register file and the whole-instruction executor.
//
// The CPU runs one complete instruction (or one interrupt acceptance) per
// call of ExecuteInstruction and states its length in NOP units (1 us,
// 4 T-states) in NopCounter. All memory and port accesses of the
// instruction happen at once; there is no contention, no MEMPTR and no Q.
// In the machine's loop an I/O instruction executes at the microsecond of
// its bus cycle rather than its first one (kTimedIo buses).
//
// The executor is a template over the bus so that the machine, the CP/M
// harness and the tests each inline their own memory and port access:
//   uint8_t ReadByte(uint16_t)          void WriteByte(uint16_t, uint8_t)
//   uint8_t Z80In(uint16_t port)        void Z80Out(uint16_t port, uint8_t)
//   void InterruptAccepted()            (the gate array drops bit 5 of its counter)
#pragma once

#include <array>
#include <cstdint>

// A register pair; the low byte comes first, as in memory (x86-64 only).
union Z80Pair {
  uint16_t W;
  struct {
    uint8_t L, H;
  } B;
};
static_assert(sizeof(Z80Pair) == 2);

struct Z80Registers {
  Z80Pair AF, BC, DE, HL;
  uint16_t PC, SP;
  Z80Pair IX, IY;
  Z80Pair AF2, BC2, DE2, HL2;  // alternate set; F' is kept packed
  uint8_t R, I, IM, IFF1, IFF2;
  // The live flags, one byte each (0 or 1). F inside AF is only a packed copy.
  uint8_t FlagS, FlagZ, FlagY, FlagH, FlagX, FlagPV, FlagN, FlagC;
  uint32_t NopCounter;
  uint8_t InterruptEnableDelay;
  uint8_t ShortAckFlag;
  uint8_t Halted;
  uint8_t CountCycles;  // a setting: 0 makes every instruction one NOP
  // The maskable interrupt line; raised by the gate array, cleared by
  // acceptance (or the gate array's counter reset).
  uint8_t InterruptRequest;
  // NOPs an I/O instruction at PC has already spent waiting for its bus
  // cycle (on a kTimedIo bus); 0 = none is waiting.
  uint8_t IoDelay;
};

// Entry v is 1 when v has an even number of set bits.
inline constexpr std::array<uint8_t, 256> ParityTable = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned v = 0; v < 256; ++v) {
    unsigned bits = 0;
    for (unsigned b = 0; b < 8; ++b) bits += (v >> b) & 1;
    t[v] = (bits & 1) ? 0 : 1;
  }
  return t;
}();

inline constexpr uint8_t BitMaskTable[8] = {1, 2, 4, 8, 16, 32, 64, 128};

// F = S Z Y H X PV N C from bit 7 down to bit 0. Anything outside the
// executor that reads F packs first; anything that writes F unpacks after.
inline void PackFlags(Z80Registers& r);
inline void UnpackFlags(Z80Registers& r);

// R = (R & &80) | ((R + 1) & &7F), as a table: it runs at least once per
// instruction and the lookup is shorter than the arithmetic.
inline constexpr std::array<uint8_t, 256> kNextR = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned v = 0; v < 256; ++v) t[v] = uint8_t((v & 0x80) | ((v + 1) & 0x7F));
  return t;
}();

inline void IncrementR(Z80Registers& r) { r.R = kNextR[r.R]; }

// Power-on state. CountCycles is a setting and is left alone.
inline void ResetZ80(Z80Registers& r);

// One interrupt acceptance or one whole instruction; sets NopCounter >= 1.
// On a bus with kTimedIo (the machine's loop) an I/O instruction takes two
// calls: the first only waits (NopCounter = the NOPs to its bus cycle,
// IoDelay set), the second executes it whole and leaves the rest of its
// length. The total length is unchanged; only the moment its port access
// meets the devices moves. Any bus finishes a waiting instruction.
template <class Bus>
inline void ExecuteInstruction(Z80Registers& r, Bus& bus);

// Up to max instructions with nothing between them, exactly as that many
// ExecuteInstruction calls, stopping before one at which stop(r) holds;
// returns how many ran. NopCounter is that of the last one.
template <class Bus, class Stop>
inline uint64_t RunInstructions(Z80Registers& r, Bus& bus, uint64_t max, Stop stop);

#include "core/z80_ops.h"
