// Z80 processor: register file and the whole-instruction executor.
//
// The CPU runs one complete instruction (or one interrupt acceptance) per
// call of ExecuteInstruction and states its length in NOP units (1 us,
// 4 T-states) in NopCounter. All memory and port accesses of the
// instruction happen at once; there is no contention, no MEMPTR and no Q.
//
// The executor is a template over the bus so that the machine, the CP/M
// harness and the tests each inline their own memory and port access:
//   uint8_t ReadByte(uint16_t)          void WriteByte(uint16_t, uint8_t)
//   uint8_t Z80In(uint16_t port)        void Z80Out(uint16_t port, uint8_t)
//   void InterruptAccepted()            (the gate array drops bit 5 of its counter)
#pragma once

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
  // The maskable interrupt line; raised and dropped by the gate array.
  uint8_t InterruptRequest;
};

void ResetZ80(Z80Registers& r);

// Placeholder until the instruction set lands: every byte is a 1-NOP NOP.
template <class Bus>
inline void ExecuteInstruction(Z80Registers& r, Bus&) {
  ++r.PC;
  r.NopCounter = 1;
}
