#include "debugger/disassembler.h"

#include <array>

namespace {

constexpr const char* kRegisters[8] = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};
constexpr const char* kPairs[4] = {"BC", "DE", "HL", "SP"};
constexpr const char* kPairsAf[4] = {"BC", "DE", "HL", "AF"};
constexpr const char* kConditions[8] = {"NZ", "Z", "NC", "C", "PO", "PE", "P", "M"};
constexpr const char* kAluRegister[8] = {"ADD A,", "ADC A,", "SUB ", "SBC A,", "AND ", "XOR ", "OR ", "CP "};
// With an immediate operand every operation names A.
constexpr const char* kAluImmediate[8] = {"ADD A,", "ADC A,", "SUB A,", "SBC A,", "AND A,", "XOR A,", "OR A,", "CP A,"};
constexpr const char* kRotates[8] = {"RLC ", "RRC ", "RL ", "RR ", "SLA ", "SRA ", "SLL ", "SRL "};
constexpr const char* kAccumulatorOps[8] = {"RLCA", "RRCA", "RLA", "RRA", "DAA", "CPL", "SCF", "CCF"};
constexpr const char* kBlockOps[4][4] = {{"LDI", "CPI", "INI", "OUTI"},
                                         {"LDD", "CPD", "IND", "OUTD"},
                                         {"LDIR", "CPIR", "INIR", "OTIR"},
                                         {"LDDR", "CPDR", "INDR", "OTDR"}};

// Second bytes that have an index form after DD or FD; any other byte leaves
// the prefix on its own.
constexpr std::array<bool, 256> BuildIndexForms() {
  std::array<bool, 256> t{};
  auto range = [&t](int from, int to) {
    for (int i = from; i <= to; ++i) t[i] = true;
  };
  range(0x09, 0x09); range(0x19, 0x19); range(0x21, 0x26); range(0x29, 0x2E);
  range(0x34, 0x36); range(0x39, 0x39); range(0x44, 0x46); range(0x4C, 0x4E);
  range(0x54, 0x56); range(0x5C, 0x5E); range(0x60, 0x75); range(0x77, 0x77);
  range(0x7C, 0x7E);
  for (int base = 0x84; base <= 0xBC; base += 8) range(base, base + 2);
  range(0xCB, 0xCB); range(0xE1, 0xE1); range(0xE3, 0xE3); range(0xE5, 0xE5);
  range(0xE9, 0xE9); range(0xF9, 0xF9);
  return t;
}
constexpr std::array<bool, 256> kIndexForms = BuildIndexForms();

void AppendHex(std::string& s, uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  s += '$';
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) s += kDigits[(value >> shift) & 15];
}

// One instruction after its prefixes. `op` is the opcode address; with an
// index register the displacement byte follows the opcode and the other
// operands come after it.
class Decoder {
 public:
  Decoder(const ByteReader& read, uint16_t op, const char* index)
      : read_(read), op_(op), index_(index), operand_(static_cast<uint16_t>(op + 1)) {}

  // Length in bytes from the opcode on (prefixes not counted).
  int Length() const { return static_cast<uint16_t>(operand_ - op_); }

  std::string Unprefixed(uint8_t code) {
    const int x = code >> 6, y = (code >> 3) & 7, z = code & 7, p = y >> 1, q = y & 1;
    std::string s;
    // The displacement of an (HL) operand comes before any immediate byte.
    if (index_ && UsesMemoryOperand(code)) TakeDisplacement();
    switch (x) {
      case 0:
        switch (z) {
          case 0:
            if (y == 0) return "NOP";
            if (y == 1) return "EX AF,AF'";
            s = y == 2 ? "DJNZ " : y == 3 ? "JR " : std::string("JR ") + kConditions[y - 4] + ",";
            AppendRelative(s);
            return s;
          case 1:
            if (q == 0) {
              s = std::string("LD ") + Pair(p) + ",";
              AppendWord(s);
            } else {
              s = std::string("ADD ") + Pair(2) + "," + Pair(p);
            }
            return s;
          case 2:
            if (p < 2) return q == 0 ? (p == 0 ? "LD (BC),A" : "LD (DE),A") : (p == 0 ? "LD A,(BC)" : "LD A,(DE)");
            if (q == 0) {
              s = "LD (";
              AppendWord(s);
              s += p == 2 ? std::string("),") + Pair(2) : std::string("),A");
            } else {
              s = p == 2 ? std::string("LD ") + Pair(2) + ",(" : std::string("LD A,(");
              AppendWord(s);
              s += ")";
            }
            return s;
          case 3:
            return std::string(q == 0 ? "INC " : "DEC ") + Pair(p);
          case 4:
            return "INC " + Register(y, true);
          case 5:
            return "DEC " + Register(y, true);
          case 6:
            s = "LD " + Register(y, true) + ",";
            AppendByte(s);
            return s;
          default:
            return kAccumulatorOps[y];
        }
      case 1: {
        if (code == 0x76) return "HALT";
        // With an (IX+d) operand the other register keeps its plain name.
        const bool plain = y != 6 && z != 6;
        return "LD " + Register(y, plain) + "," + Register(z, plain);
      }
      case 2:
        return kAluRegister[y] + Register(z, true);
      default:
        return Group3(y, z, p, q);
    }
  }

  std::string Cb(uint8_t code) {
    const int x = code >> 6, y = (code >> 3) & 7, z = code & 7;
    return CbOperation(x, y) + kRegisters[z];
  }

  // DD CB d op / FD CB d op: displacement first, then the operation byte.
  std::string IndexedCb() {
    TakeDisplacement();
    const uint8_t code = read_(operand_++);
    const int x = code >> 6, y = (code >> 3) & 7, z = code & 7;
    std::string s = CbOperation(x, y) + Register(6, false);
    if (z != 6) s += std::string(",") + kRegisters[z];
    return s;
  }

  std::string Ed(uint8_t code) {
    const int x = code >> 6, y = (code >> 3) & 7, z = code & 7, p = y >> 1, q = y & 1;
    if (x == 2 && z <= 3 && y >= 4) return kBlockOps[y - 4][z];
    if (x != 1) return "NOP2";
    std::string s;
    switch (z) {
      case 0:
        return y == 6 ? "IN (C)" : std::string("IN ") + kRegisters[y] + ",(C)";
      case 1:
        return y == 6 ? "OUT (C),0" : std::string("OUT (C),") + kRegisters[y];
      case 2:
        return std::string(q == 0 ? "SBC HL," : "ADC HL,") + kPairs[p];
      case 3:
        if (q == 0) {
          s = "LD (";
          AppendWord(s);
          s += std::string("),") + kPairs[p];
        } else {
          s = std::string("LD ") + kPairs[p] + ",(";
          AppendWord(s);
          s += ")";
        }
        return s;
      case 4:
        return "NEG";
      case 5:
        return y == 1 ? "RETI" : "RETN";
      case 6:
        return (y & 3) == 2 ? "IM 1" : (y & 3) == 3 ? "IM 2" : "IM 0";
      default: {
        constexpr const char* kMisc[8] = {"LD I,A", "LD R,A", "LD A,I", "LD A,R", "RRD", "RLD", "NOP2", "NOP2"};
        return kMisc[y];
      }
    }
  }

 private:
  std::string Group3(int y, int z, int p, int q) {
    std::string s;
    switch (z) {
      case 0:
        return std::string("RET ") + kConditions[y];
      case 1:
        if (q == 0) return std::string("POP ") + PairAf(p);
        if (p == 0) return "RET";
        if (p == 1) return "EXX";
        if (p == 2) return std::string("JP (") + Pair(2) + ")";
        return std::string("LD SP,") + Pair(2);
      case 2:
        s = std::string("JP ") + kConditions[y] + ",";
        AppendWord(s);
        return s;
      case 3:
        switch (y) {
          case 0:
            s = "JP ";
            AppendWord(s);
            return s;
          case 2:
            s = "OUT (";
            AppendByte(s);
            return s + "),A";
          case 3:
            s = "IN A,(";
            AppendByte(s);
            return s + ")";
          case 4:
            return std::string("EX (SP),") + Pair(2);
          case 5:
            return "EX DE,HL";
          case 6:
            return "DI";
          case 7:
            return "EI";
          default:
            return "NOP";  // CB is decoded by the caller
        }
      case 4:
        s = std::string("CALL ") + kConditions[y] + ",";
        AppendWord(s);
        return s;
      case 5:
        if (q == 0) return std::string("PUSH ") + PairAf(p);
        s = "CALL ";
        AppendWord(s);
        return s;  // DD, ED and FD never reach here
      case 6:
        s = kAluImmediate[y];
        AppendByte(s);
        return s;
      default:
        s = "RST ";
        AppendHex(s, static_cast<uint32_t>(y * 8), 2);
        return s;
    }
  }

  static bool UsesMemoryOperand(uint8_t code) {
    const int x = code >> 6, y = (code >> 3) & 7, z = code & 7;
    if (code == 0x76) return false;
    if (x == 0) return (z >= 4 && z <= 6) && y == 6;  // INC/DEC/LD (HL)
    if (x == 1) return y == 6 || z == 6;
    if (x == 2) return z == 6;
    return false;
  }

  static std::string CbOperation(int x, int y) {
    if (x == 0) return kRotates[y];
    static constexpr const char* kBitOps[4] = {"", "BIT ", "RES ", "SET "};
    return std::string(kBitOps[x]) + static_cast<char>('0' + y) + ",";
  }

  std::string Pair(int p) const { return p == 2 && index_ ? index_ : kPairs[p]; }
  std::string PairAf(int p) const { return p == 2 && index_ ? index_ : kPairsAf[p]; }

  // `halves`: H and L stand for the index register's halves.
  std::string Register(int r, bool halves) const {
    if (!index_) return kRegisters[r];
    if (r == 6) {
      std::string s = std::string("(") + index_ + "+";
      AppendHex(s, displacement_, 2);
      return s + ")";
    }
    if (halves && (r == 4 || r == 5)) return std::string(index_) + (r == 4 ? "H" : "L");
    return kRegisters[r];
  }

  void TakeDisplacement() { displacement_ = read_(operand_++); }
  void AppendByte(std::string& s) { AppendHex(s, read_(operand_++), 2); }
  void AppendWord(std::string& s) {
    const uint8_t low = read_(operand_++);
    const uint8_t high = read_(operand_++);
    AppendHex(s, static_cast<uint32_t>(high << 8 | low), 4);
  }
  void AppendRelative(std::string& s) {
    const auto e = static_cast<int8_t>(read_(operand_++));
    AppendHex(s, static_cast<uint16_t>(op_ + 2 + e), 4);
  }

  const ByteReader& read_;
  uint16_t op_;
  const char* index_;
  uint16_t operand_;
  uint8_t displacement_ = 0;
};

}  // namespace

std::string DisassembleOne(const ByteReader& read, uint16_t& address) {
  const uint16_t start = address;
  const uint8_t code = read(start);
  if (code == 0xCB || code == 0xED) {
    const auto op = static_cast<uint16_t>(start + 1);
    Decoder d(read, op, nullptr);
    std::string text = code == 0xCB ? d.Cb(read(op)) : d.Ed(read(op));
    address = static_cast<uint16_t>(op + d.Length());
    return text;
  }
  if (code == 0xDD || code == 0xFD) {
    const auto op = static_cast<uint16_t>(start + 1);
    const uint8_t next = read(op);
    if (!kIndexForms[next]) {
      address = op;
      return "NOP*";
    }
    Decoder d(read, op, code == 0xDD ? "IX" : "IY");
    std::string text = next == 0xCB ? d.IndexedCb() : d.Unprefixed(next);
    address = static_cast<uint16_t>(op + d.Length());
    return text;
  }
  Decoder d(read, start, nullptr);
  std::string text = d.Unprefixed(code);
  address = static_cast<uint16_t>(start + d.Length());
  return text;
}
