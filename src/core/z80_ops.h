// The Z80 executor's body, included at the end of z80.h.
//
// Speed comes from letting the compiler see a whole instruction at once:
// every opcode is a template instance selected by a switch, so register
// codes, conditions and lengths are constants inside each case. The eight
// flag bytes sit next to each other in Z80Registers, so most instructions
// write all of them with one 64-bit store built from the tables below.
#pragma once

#include <cstddef>
#include <cstring>

#include "core/z80.h"

namespace z80 {

// Bit positions of each flag byte inside the 64-bit flag word (little-endian,
// in field order S Z Y H X PV N C).
inline constexpr uint64_t kS = 1ull << 0;
inline constexpr uint64_t kZ = 1ull << 8;
inline constexpr uint64_t kY = 1ull << 16;
inline constexpr uint64_t kH = 1ull << 24;
inline constexpr uint64_t kX = 1ull << 32;
inline constexpr uint64_t kPV = 1ull << 40;
inline constexpr uint64_t kN = 1ull << 48;
inline constexpr uint64_t kC = 1ull << 56;

static_assert(offsetof(Z80Registers, FlagC) == offsetof(Z80Registers, FlagS) + 7);
static_assert(offsetof(Z80Registers, FlagPV) == offsetof(Z80Registers, FlagS) + 5);

struct FlagTables {
  uint64_t szyx[256];     // S, Z, Y, X of a result
  uint64_t szyxp[256];    // the same plus PV = parity
  uint64_t inc[256];      // INC of v, C left 0
  uint64_t dec[256];      // DEC of v, C left 0
  uint64_t unpack[256];   // packed F spread over the eight bytes
  uint64_t addHvc[32];    // H, PV, C of an addition, by carry bits 4, 7 and 8
  uint64_t subHvc[32];    // the same for a subtraction, N set
};

inline constexpr FlagTables kFlags = [] {
  FlagTables t{};
  for (unsigned v = 0; v < 256; ++v) {
    uint64_t f = 0;
    if (v & 0x80) f |= kS;
    if (v == 0) f |= kZ;
    if (v & 0x20) f |= kY;
    if (v & 0x08) f |= kX;
    t.szyx[v] = f;
    t.szyxp[v] = f | (ParityTable[v] ? kPV : 0);
    for (unsigned b = 0; b < 8; ++b)
      if (v & (0x80 >> b)) t.unpack[v] |= 1ull << (8 * b);
  }
  for (unsigned v = 0; v < 256; ++v) {
    t.inc[v] = t.szyx[(v + 1) & 0xFF] | ((v & 15) == 15 ? kH : 0) | (v == 0x7F ? kPV : 0);
    t.dec[v] = t.szyx[(v - 1) & 0xFF] | ((v & 15) == 0 ? kH : 0) | (v == 0x80 ? kPV : 0) | kN;
  }
  // Index bits: 0 = carry into bit 4, 3 = carry into bit 7, 4 = carry out.
  for (unsigned i = 0; i < 32; ++i) {
    const unsigned h = i & 1, c7 = (i >> 3) & 1, c8 = (i >> 4) & 1;
    const uint64_t f = (h ? kH : 0) | ((c7 ^ c8) ? kPV : 0) | (c8 ? kC : 0);
    t.addHvc[i] = f;
    t.subHvc[i] = f | kN;
  }
  return t;
}();

[[gnu::always_inline]] inline void StoreFlags(Z80Registers& r, uint64_t f) {
  std::memcpy(reinterpret_cast<unsigned char*>(&r) + offsetof(Z80Registers, FlagS), &f, 8);
}

[[gnu::always_inline]] inline uint64_t LoadFlags(const Z80Registers& r) {
  uint64_t f;
  std::memcpy(&f, reinterpret_cast<const unsigned char*>(&r) + offsetof(Z80Registers, FlagS), 8);
  return f;
}

[[gnu::always_inline]] inline uint64_t CarryIn(const Z80Registers& r) {
  return uint64_t(r.FlagC) << 56;
}

// Register codes 0 B, 1 C, 2 D, 3 E, 4 H, 5 L, 7 A; in index forms 4 and 5
// name the high and low byte of IX or IY.
template <unsigned code>
[[gnu::always_inline]] inline uint8_t& Reg(Z80Registers& r) {
  static_assert(code != 6);
  if constexpr (code == 0) return r.BC.B.H;
  else if constexpr (code == 1) return r.BC.B.L;
  else if constexpr (code == 2) return r.DE.B.H;
  else if constexpr (code == 3) return r.DE.B.L;
  else if constexpr (code == 4) return r.HL.B.H;
  else if constexpr (code == 5) return r.HL.B.L;
  else return r.AF.B.H;
}

template <unsigned code>
[[gnu::always_inline]] inline uint8_t& RegXY(Z80Registers& r, Z80Pair& xy) {
  if constexpr (code == 4) return xy.B.H;
  else if constexpr (code == 5) return xy.B.L;
  else return Reg<code>(r);
}

template <unsigned p>
[[gnu::always_inline]] inline uint16_t& Pair(Z80Registers& r) {
  if constexpr (p == 0) return r.BC.W;
  else if constexpr (p == 1) return r.DE.W;
  else if constexpr (p == 2) return r.HL.W;
  else return r.SP;
}

template <unsigned cc>
[[gnu::always_inline]] inline bool Condition(const Z80Registers& r) {
  if constexpr (cc == 0) return !r.FlagZ;
  else if constexpr (cc == 1) return r.FlagZ;
  else if constexpr (cc == 2) return !r.FlagC;
  else if constexpr (cc == 3) return r.FlagC;
  else if constexpr (cc == 4) return !r.FlagPV;
  else if constexpr (cc == 5) return r.FlagPV;
  else if constexpr (cc == 6) return !r.FlagS;
  else return r.FlagS;
}

template <class Bus>
[[gnu::always_inline]] inline uint16_t ReadWord(Bus& bus, uint16_t a) {
  const unsigned lo = bus.ReadByte(a);
  return uint16_t(lo | (unsigned(bus.ReadByte(uint16_t(a + 1))) << 8));
}

template <class Bus>
[[gnu::always_inline]] inline void WriteWord(Bus& bus, uint16_t a, uint16_t v) {
  bus.WriteByte(a, uint8_t(v));
  bus.WriteByte(uint16_t(a + 1), uint8_t(v >> 8));
}

template <class Bus>
[[gnu::always_inline]] inline void Push(Z80Registers& r, Bus& bus, uint16_t v) {
  const uint16_t sp = r.SP;
  bus.WriteByte(uint16_t(sp - 1), uint8_t(v >> 8));
  bus.WriteByte(uint16_t(sp - 2), uint8_t(v));
  r.SP = uint16_t(sp - 2);
}

template <class Bus>
[[gnu::always_inline]] inline uint16_t Pop(Z80Registers& r, Bus& bus) {
  const uint16_t sp = r.SP;
  const uint16_t v = ReadWord(bus, sp);
  r.SP = uint16_t(sp + 2);
  return v;
}

// ADD ADC SUB SBC AND XOR OR CP by y.
template <unsigned y>
[[gnu::always_inline]] inline void Alu(Z80Registers& r, uint8_t v) {
  const unsigned a = r.AF.B.H;
  if constexpr (y == 0 || y == 1) {
    const unsigned c = (y == 1) ? r.FlagC : 0;
    const unsigned s = a + v + c;
    r.AF.B.H = uint8_t(s);
    StoreFlags(r, kFlags.szyx[s & 0xFF] | kFlags.addHvc[((a ^ v ^ s) >> 4) & 0x19]);
  } else if constexpr (y == 2 || y == 3 || y == 7) {
    const unsigned c = (y == 3) ? r.FlagC : 0;
    const unsigned d = (a - v - c) & 0x1FF;
    // Overflow as the chip computes it, carry included (SBC A,&7F with
    // carry from 0 gives -128: no overflow).
    const uint64_t f = kFlags.szyx[d & 0xFF] | kFlags.subHvc[((a ^ v ^ d) >> 4) & 0x19];
    if constexpr (y != 7) r.AF.B.H = uint8_t(d);
    StoreFlags(r, f);
  } else if constexpr (y == 4) {
    const uint8_t res = uint8_t(a & v);
    r.AF.B.H = res;
    StoreFlags(r, kFlags.szyxp[res] | kH);
  } else if constexpr (y == 5) {
    const uint8_t res = uint8_t(a ^ v);
    r.AF.B.H = res;
    StoreFlags(r, kFlags.szyxp[res]);
  } else {
    const uint8_t res = uint8_t(a | v);
    r.AF.B.H = res;
    StoreFlags(r, kFlags.szyxp[res]);
  }
}

[[gnu::always_inline]] inline uint8_t Inc8(Z80Registers& r, uint8_t v) {
  StoreFlags(r, kFlags.inc[v] | CarryIn(r));
  return uint8_t(v + 1);
}

[[gnu::always_inline]] inline uint8_t Dec8(Z80Registers& r, uint8_t v) {
  StoreFlags(r, kFlags.dec[v] | CarryIn(r));
  return uint8_t(v - 1);
}

// RLC RRC RL RR SLA SRA SLL SRL by y.
[[gnu::always_inline]] inline uint8_t Rotate(Z80Registers& r, unsigned y, uint8_t v) {
  unsigned res, c;
  switch (y) {
    case 0: c = v >> 7; res = (v << 1) | c; break;
    case 1: c = v & 1; res = (v >> 1) | (c << 7); break;
    case 2: c = v >> 7; res = (v << 1) | r.FlagC; break;
    case 3: c = v & 1; res = (v >> 1) | (unsigned(r.FlagC) << 7); break;
    case 4: c = v >> 7; res = v << 1; break;
    case 5: c = v & 1; res = (v >> 1) | (v & 0x80); break;
    case 6: c = v >> 7; res = (v << 1) | 1; break;
    default: c = v & 1; res = v >> 1; break;
  }
  res &= 0xFF;
  StoreFlags(r, kFlags.szyxp[res] | (uint64_t(c) << 56));
  return uint8_t(res);
}

// BIT y,v. Y and X follow the tested bit, not the operand.
[[gnu::always_inline]] inline void Bit(Z80Registers& r, unsigned y, uint8_t v) {
  const unsigned t = v & (1u << y);
  uint64_t f = kH | CarryIn(r);
  if (t == 0) f |= kZ | kPV;
  else if (y == 7) f |= kS;
  else if (y == 5) f |= kY;
  else if (y == 3) f |= kX;
  StoreFlags(r, f);
}

// ADD HL,rr and the index forms: S, Z and PV keep their values.
[[gnu::always_inline]] inline uint16_t Add16(Z80Registers& r, uint16_t a, uint16_t b) {
  const unsigned s = unsigned(a) + b;
  const unsigned x = a ^ b ^ s;
  r.FlagH = (x >> 12) & 1;
  r.FlagN = 0;
  r.FlagC = (s >> 16) & 1;
  r.FlagY = (s >> 13) & 1;
  r.FlagX = (s >> 11) & 1;
  return uint16_t(s);
}

// ADC HL,rr (sub = false) and SBC HL,rr (sub = true).
template <bool sub>
[[gnu::always_inline]] inline void AdcSbc16(Z80Registers& r, uint16_t b) {
  const unsigned a = r.HL.W, c = r.FlagC;
  const unsigned s = (sub ? a - b - c : a + b + c) & 0x1FFFF;
  const unsigned x = a ^ b ^ s;
  const unsigned overflow = sub ? ((a ^ b) & (a ^ s)) : (~(a ^ b) & (a ^ s));
  const uint8_t hi = uint8_t(s >> 8);
  uint64_t f = (kFlags.szyx[hi] & ~kZ) | ((s & 0xFFFF) == 0 ? kZ : 0);
  f |= uint64_t((x >> 12) & 1) << 24;
  f |= uint64_t((overflow >> 15) & 1) << 40;
  f |= uint64_t(s >> 16) << 56;
  if (sub) f |= kN;
  r.HL.W = uint16_t(s);
  StoreFlags(r, f);
}

// Real Z80 decimal adjust.
[[gnu::always_inline]] inline void Daa(Z80Registers& r) {
  const unsigned a = r.AF.B.H, lo = a & 15;
  const bool c = r.FlagC || a > 0x99;
  unsigned diff = (r.FlagH || lo > 9) ? 0x06 : 0;
  if (c) diff |= 0x60;
  bool h;
  uint8_t res;
  if (r.FlagN) {
    h = r.FlagH && lo < 6;
    res = uint8_t(a - diff);
  } else {
    h = lo > 9;
    res = uint8_t(a + diff);
  }
  r.AF.B.H = res;
  StoreFlags(r, kFlags.szyxp[res] | (h ? kH : 0) | (r.FlagN ? kN : 0) | (c ? kC : 0));
}

// Microseconds from an I/O instruction's first step to the step in which it
// executes on a bus that times I/O (the machine's loop), so that its port
// access meets the devices where a CPC's bus cycle does. Instructions
// execute after the devices' step, so a write made at offset k shows from
// the instruction's microsecond k + 1 and a read sees k + 1 microseconds of
// device time. The positions are those of caprice32's CPC I/O timing table
// (T-states before the access: OUT (n),A 8, IN A,(n) 12, OUT (C),r 12,
// IN r,(C) 16, OUTI/OUTD and repeats 16), which put each I/O cycle in the
// instruction's last microsecond as the Z80 data sheet orders the machine
// cycles; INI/IND read in their 4th microsecond, before the memory write
// that the data sheet puts last.
inline constexpr unsigned kIoDelayOutN = 1, kIoDelayInN = 2, kIoDelayOutC = 2, kIoDelayInC = 3;
inline constexpr unsigned kIoDelayBlockOut = 3, kIoDelayBlockIn = 3;

// A bus that asks for it (static constexpr bool kTimedIo = true).
template <class Bus>
concept TimedIoBus = Bus::kTimedIo;

// The first call of a timed I/O instruction only starts its wait: the
// refresh counts of the fetch are taken back (the instruction is fetched
// again when it executes) and the wait is its length so far. The second
// call, with IoDelay set, executes it (FinishWaitingIo).
template <class Bus>
[[gnu::always_inline]] inline bool StartIoWait(Z80Registers& r, unsigned delay, unsigned fetches) {
  if constexpr (TimedIoBus<Bus>) {
    if (!r.IoDelay && r.CountCycles) {
      r.IoDelay = uint8_t(delay);
      r.R = uint8_t((r.R & 0x80) | ((r.R - fetches) & 0x7F));
      return true;
    }
  }
  return false;
}

// One unprefixed, CB or ED instruction at pc (the address of its first
// byte). Each returns the length in NOPs and leaves r.PC on the next
// instruction.
template <class Bus> inline unsigned ExecuteCb(Z80Registers& r, Bus& bus, uint16_t pc);
template <class Bus> inline unsigned ExecuteEd(Z80Registers& r, Bus& bus, uint16_t pc);
template <class Bus> inline unsigned ExecuteIndex(Z80Registers& r, Bus& bus, Z80Pair& xy, uint16_t pc);

template <unsigned op, class Bus>
[[gnu::always_inline]] inline unsigned Main(Z80Registers& r, Bus& bus, uint16_t pc) {
  constexpr unsigned x = op >> 6, y = (op >> 3) & 7, z = op & 7, p = y >> 1, q = y & 1;
  const uint16_t next = uint16_t(pc + 1);
  if constexpr (x == 1) {
    if constexpr (op == 0x76) {
      // HALT stays on itself and runs again every NOP until an interrupt.
      r.Halted = 1;
      return 1;
    } else if constexpr (z == 6) {
      Reg<y>(r) = bus.ReadByte(r.HL.W);
      r.PC = next;
      return 2;
    } else if constexpr (y == 6) {
      bus.WriteByte(r.HL.W, Reg<z>(r));
      r.PC = next;
      return 2;
    } else {
      Reg<y>(r) = Reg<z>(r);
      r.PC = next;
      return 1;
    }
  } else if constexpr (x == 2) {
    if constexpr (z == 6) {
      Alu<y>(r, bus.ReadByte(r.HL.W));
      r.PC = next;
      return 2;
    } else {
      Alu<y>(r, Reg<z>(r));
      r.PC = next;
      return 1;
    }
  } else if constexpr (x == 0) {
    if constexpr (z == 0) {
      if constexpr (y == 0) {
        r.PC = next;
        return 1;
      } else if constexpr (y == 1) {
        PackFlags(r);
        const uint16_t t = r.AF.W;
        r.AF.W = r.AF2.W;
        r.AF2.W = t;
        UnpackFlags(r);
        r.PC = next;
        return 1;
      } else if constexpr (y == 2) {
        const uint8_t b = uint8_t(r.BC.B.H - 1);
        r.BC.B.H = b;
        if (b != 0) {
          r.PC = uint16_t(pc + 2 + int8_t(bus.ReadByte(next)));
          return 4;
        }
        r.PC = uint16_t(pc + 2);
        return 3;
      } else if constexpr (y == 3) {
        r.PC = uint16_t(pc + 2 + int8_t(bus.ReadByte(next)));
        return 3;
      } else {
        if (Condition<y - 4>(r)) {
          r.PC = uint16_t(pc + 2 + int8_t(bus.ReadByte(next)));
          return 3;
        }
        r.PC = uint16_t(pc + 2);
        return 2;
      }
    } else if constexpr (z == 1) {
      if constexpr (q == 0) {
        Pair<p>(r) = ReadWord(bus, next);
        r.PC = uint16_t(pc + 3);
      } else {
        r.HL.W = Add16(r, r.HL.W, Pair<p>(r));
        r.PC = next;
      }
      return 3;
    } else if constexpr (z == 2) {
      if constexpr (op == 0x02 || op == 0x12) {
        bus.WriteByte(op == 0x02 ? r.BC.W : r.DE.W, r.AF.B.H);
        r.PC = next;
        return 2;
      } else if constexpr (op == 0x0A || op == 0x1A) {
        r.AF.B.H = bus.ReadByte(op == 0x0A ? r.BC.W : r.DE.W);
        r.PC = next;
        return 2;
      } else if constexpr (op == 0x22) {
        WriteWord(bus, ReadWord(bus, next), r.HL.W);
        r.PC = uint16_t(pc + 3);
        return 5;
      } else if constexpr (op == 0x2A) {
        r.HL.W = ReadWord(bus, ReadWord(bus, next));
        r.PC = uint16_t(pc + 3);
        return 5;
      } else if constexpr (op == 0x32) {
        bus.WriteByte(ReadWord(bus, next), r.AF.B.H);
        r.PC = uint16_t(pc + 3);
        return 4;
      } else {
        r.AF.B.H = bus.ReadByte(ReadWord(bus, next));
        r.PC = uint16_t(pc + 3);
        return 4;
      }
    } else if constexpr (z == 3) {
      Pair<p>(r) = uint16_t(Pair<p>(r) + (q ? -1 : 1));
      r.ShortAckFlag = 1;
      r.PC = next;
      return 2;
    } else if constexpr (z == 4 || z == 5) {
      if constexpr (y == 6) {
        const uint16_t hl = r.HL.W;
        const uint8_t v = bus.ReadByte(hl);
        bus.WriteByte(hl, z == 4 ? Inc8(r, v) : Dec8(r, v));
        r.PC = next;
        return 3;
      } else {
        uint8_t& reg = Reg<y>(r);
        reg = z == 4 ? Inc8(r, reg) : Dec8(r, reg);
        r.PC = next;
        return 1;
      }
    } else if constexpr (z == 6) {
      const uint8_t n = bus.ReadByte(next);
      r.PC = uint16_t(pc + 2);
      if constexpr (y == 6) {
        bus.WriteByte(r.HL.W, n);
        return 3;
      } else {
        Reg<y>(r) = n;
        return 2;
      }
    } else {
      const uint8_t a = r.AF.B.H;
      if constexpr (y == 0 || y == 1 || y == 2 || y == 3) {
        uint8_t res, c;
        if constexpr (y == 0) { c = a >> 7; res = uint8_t((a << 1) | c); }
        else if constexpr (y == 1) { c = a & 1; res = uint8_t((a >> 1) | (c << 7)); }
        else if constexpr (y == 2) { c = a >> 7; res = uint8_t((a << 1) | r.FlagC); }
        else { c = a & 1; res = uint8_t((a >> 1) | (r.FlagC << 7)); }
        r.AF.B.H = res;
        r.FlagC = c;
        r.FlagH = 0;
        r.FlagN = 0;
        r.FlagY = (res >> 5) & 1;
        r.FlagX = (res >> 3) & 1;
      } else if constexpr (y == 4) {
        Daa(r);
      } else if constexpr (y == 5) {
        const uint8_t res = uint8_t(~a);
        r.AF.B.H = res;
        r.FlagH = 1;
        r.FlagN = 1;
        r.FlagY = (res >> 5) & 1;
        r.FlagX = (res >> 3) & 1;
      } else {
        if constexpr (y == 6) {
          r.FlagH = 0;
          r.FlagC = 1;
        } else {
          r.FlagH = r.FlagC;
          r.FlagC = r.FlagC ^ 1;
        }
        r.FlagN = 0;
        r.FlagY = (a >> 5) & 1;
        r.FlagX = (a >> 3) & 1;
      }
      r.PC = next;
      return 1;
    }
  } else {
    if constexpr (z == 0) {
      if (Condition<y>(r)) {
        r.PC = Pop(r, bus);
        return 4;
      }
      r.ShortAckFlag = 1;
      r.PC = next;
      return 2;
    } else if constexpr (z == 1) {
      if constexpr (q == 0) {
        const uint16_t v = Pop(r, bus);
        if constexpr (p == 3) {
          r.AF.W = v;
          UnpackFlags(r);
        } else {
          Pair<p>(r) = v;
        }
        r.PC = next;
        return 3;
      } else if constexpr (p == 0) {
        r.PC = Pop(r, bus);
        return 3;
      } else if constexpr (p == 1) {
        uint16_t t = r.BC.W; r.BC.W = r.BC2.W; r.BC2.W = t;
        t = r.DE.W; r.DE.W = r.DE2.W; r.DE2.W = t;
        t = r.HL.W; r.HL.W = r.HL2.W; r.HL2.W = t;
        r.PC = next;
        return 1;
      } else if constexpr (p == 2) {
        r.PC = r.HL.W;
        return 1;
      } else {
        r.SP = r.HL.W;
        r.ShortAckFlag = 1;
        r.PC = next;
        return 2;
      }
    } else if constexpr (z == 2) {
      r.PC = Condition<y>(r) ? ReadWord(bus, next) : uint16_t(pc + 3);
      return 3;
    } else if constexpr (z == 3) {
      if constexpr (y == 0) {
        r.PC = ReadWord(bus, next);
        return 3;
      } else if constexpr (y == 1) {
        return ExecuteCb(r, bus, pc);
      } else if constexpr (y == 2) {
        if (StartIoWait<Bus>(r, kIoDelayOutN, 1)) return kIoDelayOutN;
        const uint8_t a = r.AF.B.H;
        bus.Z80Out(uint16_t((a << 8) | bus.ReadByte(next)), a);
        r.PC = uint16_t(pc + 2);
        return 3;
      } else if constexpr (y == 3) {
        if (StartIoWait<Bus>(r, kIoDelayInN, 1)) return kIoDelayInN;
        r.AF.B.H = bus.Z80In(uint16_t((r.AF.B.H << 8) | bus.ReadByte(next)));
        r.PC = uint16_t(pc + 2);
        return 3;
      } else if constexpr (y == 4) {
        const uint16_t sp = r.SP;
        const uint16_t v = ReadWord(bus, sp);
        WriteWord(bus, sp, r.HL.W);
        r.HL.W = v;
        r.ShortAckFlag = 1;
        r.PC = next;
        return 6;
      } else if constexpr (y == 5) {
        const uint16_t t = r.DE.W;
        r.DE.W = r.HL.W;
        r.HL.W = t;
        r.PC = next;
        return 1;
      } else {
        r.IFF1 = r.IFF2 = (y == 7) ? 1 : 0;
        r.InterruptEnableDelay = 0;
        r.PC = next;
        return 1;
      }
    } else if constexpr (z == 4) {
      if (Condition<y>(r)) {
        const uint16_t target = ReadWord(bus, next);
        Push(r, bus, uint16_t(pc + 3));
        r.PC = target;
        return 5;
      }
      r.PC = uint16_t(pc + 3);
      return 3;
    } else if constexpr (z == 5) {
      if constexpr (q == 0) {
        if constexpr (p == 3) {
          PackFlags(r);
          Push(r, bus, r.AF.W);
        } else {
          Push(r, bus, Pair<p>(r));
        }
        r.PC = next;
        return 4;
      } else if constexpr (p == 0) {
        const uint16_t target = ReadWord(bus, next);
        Push(r, bus, uint16_t(pc + 3));
        r.PC = target;
        return 5;
      } else if constexpr (p == 1) {
        return ExecuteIndex(r, bus, r.IX, pc);
      } else if constexpr (p == 2) {
        return ExecuteEd(r, bus, pc);
      } else {
        return ExecuteIndex(r, bus, r.IY, pc);
      }
    } else if constexpr (z == 6) {
      Alu<y>(r, bus.ReadByte(next));
      r.PC = uint16_t(pc + 2);
      return 2;
    } else {
      Push(r, bus, next);
      r.PC = y * 8;
      return 4;
    }
  }
}

template <unsigned op, class Bus>
[[gnu::always_inline]] inline unsigned Cb(Z80Registers& r, Bus& bus) {
  constexpr unsigned x = op >> 6, y = (op >> 3) & 7, z = op & 7;
  if constexpr (z == 6) {
    const uint16_t hl = r.HL.W;
    const uint8_t v = bus.ReadByte(hl);
    if constexpr (x == 0) {
      bus.WriteByte(hl, Rotate(r, y, v));
    } else if constexpr (x == 1) {
      Bit(r, y, v);
      return 3;
    } else if constexpr (x == 2) {
      bus.WriteByte(hl, uint8_t(v & ~(1u << y)));
    } else {
      bus.WriteByte(hl, uint8_t(v | (1u << y)));
    }
    return 4;
  } else {
    uint8_t& reg = Reg<z>(r);
    if constexpr (x == 0) reg = Rotate(r, y, reg);
    else if constexpr (x == 1) Bit(r, y, reg);
    else if constexpr (x == 2) reg = uint8_t(reg & ~(1u << y));
    else reg = uint8_t(reg | (1u << y));
    return 2;
  }
}

#define Z80_CASES4(f, n) f(n) f(n + 1) f(n + 2) f(n + 3)
#define Z80_CASES16(f, n) Z80_CASES4(f, n) Z80_CASES4(f, n + 4) Z80_CASES4(f, n + 8) Z80_CASES4(f, n + 12)
#define Z80_CASES64(f, n) \
  Z80_CASES16(f, n) Z80_CASES16(f, n + 16) Z80_CASES16(f, n + 32) Z80_CASES16(f, n + 48)
#define Z80_CASES256(f) Z80_CASES64(f, 0) Z80_CASES64(f, 64) Z80_CASES64(f, 128) Z80_CASES64(f, 192)

template <class Bus>
inline unsigned ExecuteCb(Z80Registers& r, Bus& bus, uint16_t pc) {
  IncrementR(r);
  r.PC = uint16_t(pc + 2);
  switch (bus.ReadByte(uint16_t(pc + 1))) {
#define Z80_CB_CASE(n) \
  case (n): return Cb<(n)>(r, bus);
    Z80_CASES256(Z80_CB_CASE)
#undef Z80_CB_CASE
  }
  __builtin_unreachable();
}

// Block transfer LDI/LDD (repeat = LDIR/LDDR).
template <int dir, bool repeat, class Bus>
[[gnu::always_inline]] inline unsigned BlockLoad(Z80Registers& r, Bus& bus, uint16_t pc) {
  const uint8_t m = bus.ReadByte(r.HL.W);
  bus.WriteByte(r.DE.W, m);
  r.HL.W = uint16_t(r.HL.W + dir);
  r.DE.W = uint16_t(r.DE.W + dir);
  const uint16_t bc = uint16_t(r.BC.W - 1);
  r.BC.W = bc;
  const unsigned k = m + r.AF.B.H;
  r.FlagY = (k >> 1) & 1;
  r.FlagX = (k >> 3) & 1;
  r.FlagH = 0;
  r.FlagN = 0;
  r.ShortAckFlag = 1;
  if constexpr (repeat) {
    if (bc != 0) {
      r.PC = pc;  // PV keeps its value while repeating
      return 6;
    }
    r.FlagPV = 0;
  } else {
    r.FlagPV = bc != 0;
  }
  r.PC = uint16_t(pc + 2);
  return 5;
}

template <int dir, bool repeat, class Bus>
[[gnu::always_inline]] inline unsigned BlockCompare(Z80Registers& r, Bus& bus, uint16_t pc) {
  const uint8_t m = bus.ReadByte(r.HL.W);
  const unsigned a = r.AF.B.H;
  const uint8_t d = uint8_t(a - m);
  const unsigned h = (a & 15) < (m & 15);
  const unsigned t = (d - h) & 0xFF;
  r.HL.W = uint16_t(r.HL.W + dir);
  const uint16_t bc = uint16_t(r.BC.W - 1);
  r.BC.W = bc;
  StoreFlags(r, (kFlags.szyx[d] & (kS | kZ)) | (uint64_t(h) << 24) | (uint64_t((t >> 1) & 1) << 16) |
                    (uint64_t((t >> 3) & 1) << 32) | (bc != 0 ? kPV : 0) | kN | CarryIn(r));
  if constexpr (repeat) {
    if (bc != 0 && d != 0) {
      r.ShortAckFlag = 1;
      r.PC = pc;
      return 6;
    }
  }
  r.PC = uint16_t(pc + 2);
  return 5;
}

// Flags and repeat of the block I/O instructions: v is the byte moved, k it
// plus the low byte the chip adds to it (C +/- 1 for IN, L after the step
// for OUT), b the decremented B.
template <bool repeat>
[[gnu::always_inline]] inline unsigned BlockIoEnd(Z80Registers& r, uint16_t pc, uint8_t v, unsigned k, uint8_t b) {
  const uint64_t hc = k > 255 ? (kH | kC) : 0;
  StoreFlags(r, kFlags.szyx[b] | hc | (uint64_t(v >> 7) << 48) | (ParityTable[(k & 7) ^ b] ? kPV : 0));
  if (repeat && b != 0) {
    r.PC = pc;
    return 6;
  }
  r.PC = uint16_t(pc + 2);
  return 5;
}

template <int dir, bool repeat, class Bus>
[[gnu::always_inline]] inline unsigned BlockIn(Z80Registers& r, Bus& bus, uint16_t pc) {
  if (StartIoWait<Bus>(r, kIoDelayBlockIn, 2)) return kIoDelayBlockIn;
  const uint8_t v = bus.Z80In(r.BC.W);
  bus.WriteByte(r.HL.W, v);
  const uint8_t b = uint8_t(r.BC.B.H - 1);
  r.BC.B.H = b;
  r.HL.W = uint16_t(r.HL.W + dir);
  return BlockIoEnd<repeat>(r, pc, v, v + uint8_t(r.BC.B.L + dir), b);
}

template <int dir, bool repeat, class Bus>
[[gnu::always_inline]] inline unsigned BlockOut(Z80Registers& r, Bus& bus, uint16_t pc) {
  if (StartIoWait<Bus>(r, kIoDelayBlockOut, 2)) return kIoDelayBlockOut;
  const uint8_t v = bus.ReadByte(r.HL.W);
  const uint8_t b = uint8_t(r.BC.B.H - 1);
  r.BC.B.H = b;
  bus.Z80Out(r.BC.W, v);
  r.HL.W = uint16_t(r.HL.W + dir);
  return BlockIoEnd<repeat>(r, pc, v, v + r.HL.B.L, b);
}

// ED 40-7F; the undefined ones among them are no-ops.
template <unsigned op, class Bus>
[[gnu::always_inline]] inline unsigned Ed(Z80Registers& r, Bus& bus, uint16_t pc) {
  constexpr unsigned y = (op >> 3) & 7, z = op & 7, p = y >> 1, q = y & 1;
  const uint16_t next = uint16_t(pc + 2);
  if constexpr (z == 0) {
    if (StartIoWait<Bus>(r, kIoDelayInC, 2)) return kIoDelayInC;
    const uint8_t v = bus.Z80In(r.BC.W);
    if constexpr (y != 6) Reg<y>(r) = v;
    StoreFlags(r, kFlags.szyxp[v] | CarryIn(r));
    r.PC = next;
    return 4;
  } else if constexpr (z == 1) {
    if (StartIoWait<Bus>(r, kIoDelayOutC, 2)) return kIoDelayOutC;
    uint8_t v = 0;
    if constexpr (y != 6) v = Reg<y>(r);
    bus.Z80Out(r.BC.W, v);
    r.PC = next;
    return 4;
  } else if constexpr (z == 2) {
    AdcSbc16<q == 0>(r, Pair<p>(r));
    r.PC = next;
    return 4;
  } else if constexpr (z == 3) {
    const uint16_t addr = ReadWord(bus, next);
    if constexpr (q == 0) WriteWord(bus, addr, Pair<p>(r));
    else Pair<p>(r) = ReadWord(bus, addr);
    r.PC = uint16_t(pc + 4);
    return 6;
  } else if constexpr (z == 4) {
    const uint8_t v = r.AF.B.H;
    r.AF.B.H = 0;
    Alu<2>(r, v);
    r.PC = next;
    return 2;
  } else if constexpr (z == 5) {
    r.PC = Pop(r, bus);
    r.IFF1 = r.IFF2;
    return 4;
  } else if constexpr (z == 6) {
    r.IM = (y & 3) == 2 ? 1 : (y & 3) == 3 ? 2 : 0;
    r.PC = next;
    return 2;
  } else {
    r.PC = next;
    if constexpr (y == 0) {
      r.I = r.AF.B.H;
    } else if constexpr (y == 1) {
      r.R = r.AF.B.H;
    } else if constexpr (y == 2 || y == 3) {
      const uint8_t v = y == 2 ? r.I : r.R;
      r.AF.B.H = v;
      StoreFlags(r, kFlags.szyx[v] | (r.IFF2 ? kPV : 0) | CarryIn(r));
    } else if constexpr (y == 4 || y == 5) {
      const uint16_t hl = r.HL.W;
      const uint8_t m = bus.ReadByte(hl);
      const uint8_t a = r.AF.B.H;
      if constexpr (y == 4) {
        bus.WriteByte(hl, uint8_t((m >> 4) | (a << 4)));
        r.AF.B.H = uint8_t((a & 0xF0) | (m & 0x0F));
      } else {
        bus.WriteByte(hl, uint8_t((m << 4) | (a & 0x0F)));
        r.AF.B.H = uint8_t((a & 0xF0) | (m >> 4));
      }
      StoreFlags(r, kFlags.szyxp[r.AF.B.H] | CarryIn(r));
      return 5;
    } else {
      if constexpr (op == 0x7F && requires { bus.UnusedEd(pc, uint8_t{}); }) bus.UnusedEd(pc, op);
      return 2;
    }
    r.ShortAckFlag = 1;
    return 3;
  }
}

template <class Bus>
inline unsigned ExecuteEd(Z80Registers& r, Bus& bus, uint16_t pc) {
  IncrementR(r);
  const uint8_t op = bus.ReadByte(uint16_t(pc + 1));
  switch (op) {
#define Z80_ED_CASE(n) \
  case (n): return Ed<(n)>(r, bus, pc);
    Z80_CASES64(Z80_ED_CASE, 0x40)
#undef Z80_ED_CASE
    case 0xA0: return BlockLoad<1, false>(r, bus, pc);
    case 0xA1: return BlockCompare<1, false>(r, bus, pc);
    case 0xA2: return BlockIn<1, false>(r, bus, pc);
    case 0xA3: return BlockOut<1, false>(r, bus, pc);
    case 0xA8: return BlockLoad<-1, false>(r, bus, pc);
    case 0xA9: return BlockCompare<-1, false>(r, bus, pc);
    case 0xAA: return BlockIn<-1, false>(r, bus, pc);
    case 0xAB: return BlockOut<-1, false>(r, bus, pc);
    case 0xB0: return BlockLoad<1, true>(r, bus, pc);
    case 0xB1: return BlockCompare<1, true>(r, bus, pc);
    case 0xB2: return BlockIn<1, true>(r, bus, pc);
    case 0xB3: return BlockOut<1, true>(r, bus, pc);
    case 0xB8: return BlockLoad<-1, true>(r, bus, pc);
    case 0xB9: return BlockCompare<-1, true>(r, bus, pc);
    case 0xBA: return BlockIn<-1, true>(r, bus, pc);
    case 0xBB: return BlockOut<-1, true>(r, bus, pc);
    default:
      // A bus may want to see the codes the Z80 ignores (screenshot requests).
      if constexpr (requires { bus.UnusedEd(pc, op); }) bus.UnusedEd(pc, op);
      r.PC = uint16_t(pc + 2);
      return 2;
  }
}

// The bytes that form an instruction after DD or FD; any other byte leaves
// the prefix as an instruction of its own.
constexpr bool IsIndexForm(unsigned op) {
  const unsigned x = op >> 6, y = (op >> 3) & 7, z = op & 7;
  switch (op) {
    case 0x09: case 0x19: case 0x29: case 0x39:
    case 0x21: case 0x22: case 0x23: case 0x24: case 0x25: case 0x26:
    case 0x2A: case 0x2B: case 0x2C: case 0x2D: case 0x2E:
    case 0x34: case 0x35: case 0x36:
    case 0xCB: case 0xE1: case 0xE3: case 0xE5: case 0xE9: case 0xF9:
      return true;
    default:
      break;
  }
  if (x == 1) {
    if (op == 0x76) return false;
    return y == 4 || y == 5 || y == 6 || z == 4 || z == 5 || z == 6;
  }
  if (x == 2) return z == 4 || z == 5 || z == 6;
  return false;
}

template <class Bus>
inline unsigned ExecuteIndexedBitOp(Z80Registers& r, Bus& bus, Z80Pair& xy, uint16_t pc) {
  IncrementR(r);
  const uint16_t addr = uint16_t(xy.W + int8_t(bus.ReadByte(uint16_t(pc + 2))));
  const uint8_t op = bus.ReadByte(uint16_t(pc + 3));
  const unsigned x = op >> 6, y = (op >> 3) & 7, z = op & 7;
  r.PC = uint16_t(pc + 4);
  const uint8_t v = bus.ReadByte(addr);
  uint8_t res;
  if (x == 1) {
    const unsigned t = v & (1u << y);
    const unsigned hi = addr >> 8;
    StoreFlags(r, kH | CarryIn(r) | (t == 0 ? (kZ | kPV) : 0) | (y == 7 && t ? kS : 0) |
                      (uint64_t((hi >> 5) & 1) << 16) | (uint64_t((hi >> 3) & 1) << 32));
    return 6;
  }
  if (x == 0) res = Rotate(r, y, v);
  else if (x == 2) res = uint8_t(v & ~(1u << y));
  else res = uint8_t(v | (1u << y));
  bus.WriteByte(addr, res);
  switch (z) {
    case 0: r.BC.B.H = res; break;
    case 1: r.BC.B.L = res; break;
    case 2: r.DE.B.H = res; break;
    case 3: r.DE.B.L = res; break;
    case 4: r.HL.B.H = res; break;
    case 5: r.HL.B.L = res; break;
    case 7: r.AF.B.H = res; break;
    default: break;
  }
  return 7;
}

// pc is the address of the DD or FD byte.
template <unsigned op, class Bus>
[[gnu::always_inline]] inline unsigned Index(Z80Registers& r, Bus& bus, Z80Pair& xy, uint16_t pc) {
  constexpr unsigned x = op >> 6, y = (op >> 3) & 7, z = op & 7, p = y >> 1;
  if constexpr (!IsIndexForm(op)) {
    r.InterruptEnableDelay = 0;
    r.PC = uint16_t(pc + 1);
    return 1;
  } else {
    const uint16_t next = uint16_t(pc + 2);
    const auto disp = [&] { return uint16_t(xy.W + int8_t(bus.ReadByte(next))); };
    if constexpr (op != 0xCB) IncrementR(r);
    if constexpr (op == 0xCB) {
      return ExecuteIndexedBitOp(r, bus, xy, pc);
    } else if constexpr (x == 1) {
      if constexpr (z == 6) {
        Reg<y>(r) = bus.ReadByte(disp());
        r.PC = uint16_t(pc + 3);
        return 5;
      } else if constexpr (y == 6) {
        bus.WriteByte(disp(), Reg<z>(r));
        r.PC = uint16_t(pc + 3);
        return 5;
      } else {
        RegXY<y>(r, xy) = RegXY<z>(r, xy);
        r.PC = next;
        return 2;
      }
    } else if constexpr (x == 2) {
      if constexpr (z == 6) {
        Alu<y>(r, bus.ReadByte(disp()));
        r.PC = uint16_t(pc + 3);
        return 5;
      } else {
        Alu<y>(r, RegXY<z>(r, xy));
        r.PC = next;
        return 2;
      }
    } else if constexpr (op == 0x09 || op == 0x19 || op == 0x29 || op == 0x39) {
      xy.W = Add16(r, xy.W, p == 2 ? xy.W : Pair<p>(r));
      r.PC = next;
      return 4;
    } else if constexpr (op == 0x21) {
      xy.W = ReadWord(bus, next);
      r.PC = uint16_t(pc + 4);
      return 4;
    } else if constexpr (op == 0x22) {
      WriteWord(bus, ReadWord(bus, next), xy.W);
      r.PC = uint16_t(pc + 4);
      return 6;
    } else if constexpr (op == 0x2A) {
      xy.W = ReadWord(bus, ReadWord(bus, next));
      r.PC = uint16_t(pc + 4);
      return 6;
    } else if constexpr (op == 0x23 || op == 0x2B) {
      xy.W = uint16_t(xy.W + (op == 0x23 ? 1 : -1));
      r.ShortAckFlag = 1;
      r.PC = next;
      return 3;
    } else if constexpr (op == 0x24 || op == 0x25 || op == 0x2C || op == 0x2D) {
      uint8_t& reg = RegXY<y>(r, xy);
      reg = z == 4 ? Inc8(r, reg) : Dec8(r, reg);
      r.PC = next;
      return 2;
    } else if constexpr (op == 0x26 || op == 0x2E) {
      RegXY<y>(r, xy) = bus.ReadByte(next);
      r.PC = uint16_t(pc + 3);
      return 3;
    } else if constexpr (op == 0x34 || op == 0x35) {
      const uint16_t addr = disp();
      const uint8_t v = bus.ReadByte(addr);
      bus.WriteByte(addr, op == 0x34 ? Inc8(r, v) : Dec8(r, v));
      r.PC = uint16_t(pc + 3);
      return 6;
    } else if constexpr (op == 0x36) {
      bus.WriteByte(disp(), bus.ReadByte(uint16_t(pc + 3)));
      r.PC = uint16_t(pc + 4);
      return 6;
    } else if constexpr (op == 0xE1) {
      xy.W = Pop(r, bus);
      r.PC = next;
      return 5;
    } else if constexpr (op == 0xE3) {
      const uint16_t sp = r.SP;
      const uint16_t v = ReadWord(bus, sp);
      WriteWord(bus, sp, xy.W);
      xy.W = v;
      r.ShortAckFlag = 1;
      r.PC = next;
      return 7;
    } else if constexpr (op == 0xE5) {
      Push(r, bus, xy.W);
      r.PC = next;
      return 5;
    } else if constexpr (op == 0xE9) {
      r.PC = xy.W;
      return 2;
    } else {
      static_assert(op == 0xF9);
      r.SP = xy.W;
      r.ShortAckFlag = 1;
      r.PC = next;
      return 3;
    }
  }
}

template <class Bus>
inline unsigned ExecuteIndex(Z80Registers& r, Bus& bus, Z80Pair& xy, uint16_t pc) {
  switch (bus.ReadByte(uint16_t(pc + 1))) {
#define Z80_INDEX_CASE(n) \
  case (n): return Index<(n)>(r, bus, xy, pc);
    Z80_CASES256(Z80_INDEX_CASE)
#undef Z80_INDEX_CASE
  }
  __builtin_unreachable();
}

template <class Bus>
[[gnu::noinline]] void AcceptInterrupt(Z80Registers& r, Bus& bus) {
  if (r.Halted) r.PC = uint16_t(r.PC + 1);
  r.Halted = 0;
  r.IFF1 = r.IFF2 = 0;
  r.InterruptRequest = 0;
  bus.InterruptAccepted();
  Push(r, bus, r.PC);
  IncrementR(r);
  unsigned nops;
  if (r.IM == 2) {
    r.PC = ReadWord(bus, uint16_t((r.I << 8) | 0xFF));
    nops = 19;
  } else {
    r.PC = 0x0038;
    nops = 5;
  }
  if (r.ShortAckFlag) --nops;
  r.NopCounter = r.CountCycles ? nops : 1;
}

}  // namespace z80

inline void PackFlags(Z80Registers& r) {
  // Gathers byte i of the flag word into bit 7 - i of the top byte.
  r.AF.B.L = uint8_t((z80::LoadFlags(r) * 0x8040201008040201ull) >> 56);
}

inline void UnpackFlags(Z80Registers& r) { z80::StoreFlags(r, z80::kFlags.unpack[r.AF.B.L]); }

inline void ResetZ80(Z80Registers& r) {
  r.PC = 0;
  r.SP = r.AF.W = r.BC.W = r.DE.W = r.HL.W = r.IX.W = r.IY.W = 0xFFFF;
  r.AF2.W = r.BC2.W = r.DE2.W = r.HL2.W = 0xFFFF;
  r.R = r.I = 0;
  UnpackFlags(r);
  r.IFF1 = r.IFF2 = 0;
  r.IM = 0;
  r.InterruptRequest = 0;
  r.NopCounter = 0;
  r.IoDelay = 0;
  r.InterruptEnableDelay = 1;
  r.ShortAckFlag = 0;
  r.Halted = 0;
}

namespace z80 {

template <class Bus>
[[gnu::always_inline]] inline void ExecuteOpcode(Z80Registers& r, Bus& bus) {
  r.InterruptEnableDelay = 1;
  r.ShortAckFlag = 0;
  r.Halted = 0;
  IncrementR(r);
  const uint16_t pc = r.PC;
  unsigned nops;
  switch (bus.ReadByte(pc)) {
#define Z80_MAIN_CASE(n)                 \
  case (n):                              \
    nops = z80::Main<(n)>(r, bus, pc);   \
    break;
    Z80_CASES256(Z80_MAIN_CASE)
#undef Z80_MAIN_CASE
    default:
      __builtin_unreachable();
  }
  r.NopCounter = r.CountCycles ? nops : 1;
}

// The second call of a waiting I/O instruction: with IoDelay still set it
// executes whole, and what it has already waited comes off its length.
template <class Bus>
[[gnu::noinline]] void FinishWaitingIo(Z80Registers& r, Bus& bus) {
  const uint32_t waited = r.IoDelay;
  ExecuteOpcode(r, bus);
  r.IoDelay = 0;
  // Guards a PC changed while it waited (debugger, snapshot).
  r.NopCounter = r.NopCounter > waited ? r.NopCounter - waited : 1;
}

}  // namespace z80

template <class Bus>
[[gnu::always_inline]] inline void ExecuteInstruction(Z80Registers& r, Bus& bus) {
  // One test for the two rare cases; the flags are 0 or 1.
  if ((r.InterruptRequest & r.IFF1 & r.InterruptEnableDelay) | r.IoDelay) [[unlikely]] {
    if (r.IoDelay) z80::FinishWaitingIo(r, bus);
    else z80::AcceptInterrupt(r, bus);
    return;
  }
  z80::ExecuteOpcode(r, bus);
}

// Opcode labels for the threaded loop: X256(f) calls f(h, l) for every pair
// of hex digits.
#define Z80_X16(f, h) \
  f(h, 0) f(h, 1) f(h, 2) f(h, 3) f(h, 4) f(h, 5) f(h, 6) f(h, 7) \
  f(h, 8) f(h, 9) f(h, A) f(h, B) f(h, C) f(h, D) f(h, E) f(h, F)
#define Z80_X256(f) \
  Z80_X16(f, 0) Z80_X16(f, 1) Z80_X16(f, 2) Z80_X16(f, 3) Z80_X16(f, 4) Z80_X16(f, 5) \
  Z80_X16(f, 6) Z80_X16(f, 7) Z80_X16(f, 8) Z80_X16(f, 9) Z80_X16(f, A) Z80_X16(f, B) \
  Z80_X16(f, C) Z80_X16(f, D) Z80_X16(f, E) Z80_X16(f, F)

namespace z80 {

// A bus none of whose accesses can raise the interrupt line, and that does
// not time I/O (static constexpr bool kQuiet = true): once the line is low
// and no I/O waits, nothing inside a run of instructions can change that.
template <class Bus>
concept QuietBus = Bus::kQuiet;

// The threaded loop behind RunInstructions. Each opcode's body ends in its
// own copy of the dispatch, so the host predicts the next opcode from the
// one just run instead of from one shared jump. kWatchLine = false leaves
// out the test for an interrupt or a waiting I/O instruction.
template <bool kWatchLine, class Bus, class Stop>
inline uint64_t RunThreaded(Z80Registers& r, Bus& bus, uint64_t max, Stop& stop) {
  static const void* const kLabels[256] = {
#define Z80_LABEL_ADDRESS(h, l) &&op_##h##l,
      Z80_X256(Z80_LABEL_ADDRESS)
#undef Z80_LABEL_ADDRESS
  };
  uint64_t left = max;
  uint16_t pc;
  unsigned nops = r.NopCounter;
#define Z80_DISPATCH()                                                                                \
  do {                                                                                                \
    if (left == 0) goto out;                                                                          \
    if (kWatchLine && ((r.InterruptRequest & r.IFF1 & r.InterruptEnableDelay) | r.IoDelay)) goto slow; \
    if (stop(r)) goto out;                                                                            \
    r.InterruptEnableDelay = 1;                                                                       \
    r.ShortAckFlag = 0;                                                                               \
    r.Halted = 0;                                                                                     \
    IncrementR(r);                                                                                    \
    pc = r.PC;                                                                                        \
    --left;                                                                                           \
    goto* kLabels[bus.ReadByte(pc)];                                                                  \
  } while (0)
  Z80_DISPATCH();
slow:
  if (stop(r)) goto out;
  ExecuteInstruction(r, bus);
  nops = r.NopCounter;
  --left;
  Z80_DISPATCH();
#define Z80_LABEL_BODY(h, l)                          \
  op_##h##l : nops = z80::Main<0x##h##l>(r, bus, pc); \
  Z80_DISPATCH();
  Z80_X256(Z80_LABEL_BODY)
#undef Z80_LABEL_BODY
#undef Z80_DISPATCH
out:
  // Only the last instruction's length is kept, as single steps leave it.
  if (left != max) r.NopCounter = r.CountCycles ? nops : 1;
  return max - left;
}

}  // namespace z80

// Runs up to max instructions (or interrupt acceptances), exactly as that
// many ExecuteInstruction calls would, but stops before an instruction at
// which stop(r) holds. Returns how many ran. For callers that run many
// instructions with no device time between them (the CP/M harness); inside
// the run NopCounter is not kept up to date, only at its end.
template <class Bus, class Stop>
inline uint64_t RunInstructions(Z80Registers& r, Bus& bus, uint64_t max, Stop stop) {
  if constexpr (z80::QuietBus<Bus>) {
    uint64_t done = 0;
    // A raised line or a waiting I/O instruction left from before: single
    // steps until it is dealt with.
    while ((r.InterruptRequest | r.IoDelay) && done < max && !stop(r)) {
      ExecuteInstruction(r, bus);
      ++done;
    }
    if (r.InterruptRequest | r.IoDelay) return done;
    return done + z80::RunThreaded<false>(r, bus, max - done, stop);
  } else {
    return z80::RunThreaded<true>(r, bus, max, stop);
  }
}

#undef Z80_X16
#undef Z80_X256
#undef Z80_CASES4
#undef Z80_CASES16
#undef Z80_CASES64
#undef Z80_CASES256
