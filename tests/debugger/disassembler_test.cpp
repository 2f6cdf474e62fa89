#include "debugger/disassembler.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

struct Memory64 {
  std::array<uint8_t, 65536> bytes{};
  ByteReader Reader() const {
    return [this](uint16_t a) { return bytes[a]; };
  }
  void Put(uint16_t at, std::initializer_list<uint8_t> code) {
    for (uint8_t b : code) bytes[at++] = b;
  }
};

struct Line {
  std::string text;
  int length;
};

Line Disassemble(const std::vector<uint8_t>& code, uint16_t at = 0) {
  Memory64 mem;
  for (size_t i = 0; i < code.size(); ++i) mem.bytes[static_cast<uint16_t>(at + i)] = code[i];
  uint16_t address = at;
  std::string text = DisassembleOne(mem.Reader(), address);
  return {text, static_cast<uint16_t>(address - at)};
}

struct Case {
  std::vector<uint8_t> code;
  std::string text;
  int length;
};

void CheckTable(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Line line = Disassemble(c.code);
    std::string bytes;
    for (uint8_t b : c.code) {
      bytes += ' ';
      bytes += std::to_string(b);
    }
    EXPECT_EQ(line.text, c.text) << "bytes" << bytes;
    EXPECT_EQ(line.length, c.length) << "bytes" << bytes << " (" << c.text << ")";
  }
}

TEST(Disassembler, UnprefixedGroups) {
  CheckTable({
      {{0x00}, "NOP", 1},
      {{0x01, 0x34, 0x12}, "LD BC,$1234", 3},
      {{0x31, 0xCD, 0xAB}, "LD SP,$ABCD", 3},
      {{0x02}, "LD (BC),A", 1},
      {{0x1A}, "LD A,(DE)", 1},
      {{0x08}, "EX AF,AF'", 1},
      {{0x09}, "ADD HL,BC", 1},
      {{0x39}, "ADD HL,SP", 1},
      {{0x18, 0x05}, "JR $0007", 2},
      {{0x20, 0x00}, "JR NZ,$0002", 2},
      {{0x38, 0x10}, "JR C,$0012", 2},
      {{0x10, 0x03}, "DJNZ $0005", 2},
      {{0x22, 0x34, 0x12}, "LD ($1234),HL", 3},
      {{0x2A, 0x34, 0x12}, "LD HL,($1234)", 3},
      {{0x32, 0x34, 0x12}, "LD ($1234),A", 3},
      {{0x3A, 0x34, 0x12}, "LD A,($1234)", 3},
      {{0x03}, "INC BC", 1},
      {{0x3B}, "DEC SP", 1},
      {{0x04}, "INC B", 1},
      {{0x34}, "INC (HL)", 1},
      {{0x3D}, "DEC A", 1},
      {{0x06, 0x12}, "LD B,$12", 2},
      {{0x36, 0xAB}, "LD (HL),$AB", 2},
      {{0x07}, "RLCA", 1},
      {{0x0F}, "RRCA", 1},
      {{0x17}, "RLA", 1},
      {{0x1F}, "RRA", 1},
      {{0x27}, "DAA", 1},
      {{0x2F}, "CPL", 1},
      {{0x37}, "SCF", 1},
      {{0x3F}, "CCF", 1},
      {{0x41}, "LD B,C", 1},
      {{0x66}, "LD H,(HL)", 1},
      {{0x77}, "LD (HL),A", 1},
      {{0x76}, "HALT", 1},
      {{0x80}, "ADD A,B", 1},
      {{0x8E}, "ADC A,(HL)", 1},
      {{0x90}, "SUB B", 1},
      {{0x9F}, "SBC A,A", 1},
      {{0xA6}, "AND (HL)", 1},
      {{0xAF}, "XOR A", 1},
      {{0xB1}, "OR C", 1},
      {{0xBF}, "CP A", 1},
      {{0xC6, 0x12}, "ADD A,$12", 2},
      {{0xCE, 0x12}, "ADC A,$12", 2},
      {{0xD6, 0x12}, "SUB A,$12", 2},
      {{0xDE, 0x12}, "SBC A,$12", 2},
      {{0xE6, 0x12}, "AND A,$12", 2},
      {{0xEE, 0x12}, "XOR A,$12", 2},
      {{0xF6, 0x12}, "OR A,$12", 2},
      {{0xFE, 0x12}, "CP A,$12", 2},
      {{0xC0}, "RET NZ", 1},
      {{0xE0}, "RET PO", 1},
      {{0xF8}, "RET M", 1},
      {{0xC1}, "POP BC", 1},
      {{0xF1}, "POP AF", 1},
      {{0xC9}, "RET", 1},
      {{0xD9}, "EXX", 1},
      {{0xE9}, "JP (HL)", 1},
      {{0xF9}, "LD SP,HL", 1},
      {{0xC2, 0x34, 0x12}, "JP NZ,$1234", 3},
      {{0xEA, 0x34, 0x12}, "JP PE,$1234", 3},
      {{0xC3, 0x34, 0x12}, "JP $1234", 3},
      {{0xD3, 0xBC}, "OUT ($BC),A", 2},
      {{0xDB, 0xF4}, "IN A,($F4)", 2},
      {{0xE3}, "EX (SP),HL", 1},
      {{0xEB}, "EX DE,HL", 1},
      {{0xF3}, "DI", 1},
      {{0xFB}, "EI", 1},
      {{0xC4, 0x34, 0x12}, "CALL NZ,$1234", 3},
      {{0xF4, 0x34, 0x12}, "CALL P,$1234", 3},
      {{0xC5}, "PUSH BC", 1},
      {{0xF5}, "PUSH AF", 1},
      {{0xCD, 0x34, 0x12}, "CALL $1234", 3},
      {{0xC7}, "RST $00", 1},
      {{0xEF}, "RST $28", 1},
      {{0xFF}, "RST $38", 1},
  });
}

TEST(Disassembler, CbFamily) {
  CheckTable({
      {{0xCB, 0x00}, "RLC B", 2},
      {{0xCB, 0x0E}, "RRC (HL)", 2},
      {{0xCB, 0x17}, "RL A", 2},
      {{0xCB, 0x18}, "RR B", 2},
      {{0xCB, 0x21}, "SLA C", 2},
      {{0xCB, 0x2A}, "SRA D", 2},
      {{0xCB, 0x33}, "SLL E", 2},
      {{0xCB, 0x3C}, "SRL H", 2},
      {{0xCB, 0x45}, "BIT 0,L", 2},
      {{0xCB, 0x7E}, "BIT 7,(HL)", 2},
      {{0xCB, 0x87}, "RES 0,A", 2},
      {{0xCB, 0xB8}, "RES 7,B", 2},
      {{0xCB, 0xC1}, "SET 0,C", 2},
      {{0xCB, 0xFE}, "SET 7,(HL)", 2},
  });
}

TEST(Disassembler, EdFamilyWithMirrorsAndHoles) {
  std::vector<Case> cases = {
      {{0xED, 0x40}, "IN B,(C)", 2},
      {{0xED, 0x60}, "IN H,(C)", 2},
      {{0xED, 0x78}, "IN A,(C)", 2},
      {{0xED, 0x70}, "IN (C)", 2},
      {{0xED, 0x41}, "OUT (C),B", 2},
      {{0xED, 0x69}, "OUT (C),L", 2},
      {{0xED, 0x79}, "OUT (C),A", 2},
      {{0xED, 0x71}, "OUT (C),0", 2},
      {{0xED, 0x42}, "SBC HL,BC", 2},
      {{0xED, 0x52}, "SBC HL,DE", 2},
      {{0xED, 0x62}, "SBC HL,HL", 2},
      {{0xED, 0x72}, "SBC HL,SP", 2},
      {{0xED, 0x4A}, "ADC HL,BC", 2},
      {{0xED, 0x7A}, "ADC HL,SP", 2},
      {{0xED, 0x43, 0x34, 0x12}, "LD ($1234),BC", 4},
      {{0xED, 0x53, 0x34, 0x12}, "LD ($1234),DE", 4},
      {{0xED, 0x63, 0x34, 0x12}, "LD ($1234),HL", 4},
      {{0xED, 0x73, 0x34, 0x12}, "LD ($1234),SP", 4},
      {{0xED, 0x4B, 0x34, 0x12}, "LD BC,($1234)", 4},
      {{0xED, 0x5B, 0x34, 0x12}, "LD DE,($1234)", 4},
      {{0xED, 0x6B, 0x34, 0x12}, "LD HL,($1234)", 4},
      {{0xED, 0x7B, 0x34, 0x12}, "LD SP,($1234)", 4},
      {{0xED, 0x45}, "RETN", 2},
      {{0xED, 0x4D}, "RETI", 2},
      {{0xED, 0x46}, "IM 0", 2},
      {{0xED, 0x56}, "IM 1", 2},
      {{0xED, 0x5E}, "IM 2", 2},
      {{0xED, 0x47}, "LD I,A", 2},
      {{0xED, 0x4F}, "LD R,A", 2},
      {{0xED, 0x57}, "LD A,I", 2},
      {{0xED, 0x5F}, "LD A,R", 2},
      {{0xED, 0x67}, "RRD", 2},
      {{0xED, 0x6F}, "RLD", 2},
      {{0xED, 0xA0}, "LDI", 2},
      {{0xED, 0xA1}, "CPI", 2},
      {{0xED, 0xA2}, "INI", 2},
      {{0xED, 0xA3}, "OUTI", 2},
      {{0xED, 0xA8}, "LDD", 2},
      {{0xED, 0xA9}, "CPD", 2},
      {{0xED, 0xAA}, "IND", 2},
      {{0xED, 0xAB}, "OUTD", 2},
      {{0xED, 0xB0}, "LDIR", 2},
      {{0xED, 0xB1}, "CPIR", 2},
      {{0xED, 0xB2}, "INIR", 2},
      {{0xED, 0xB3}, "OTIR", 2},
      {{0xED, 0xB8}, "LDDR", 2},
      {{0xED, 0xB9}, "CPDR", 2},
      {{0xED, 0xBA}, "INDR", 2},
      {{0xED, 0xBB}, "OTDR", 2},
  };
  for (uint8_t m : {0x44, 0x4C, 0x54, 0x5C, 0x64, 0x6C, 0x74, 0x7C}) cases.push_back({{0xED, m}, "NEG", 2});
  for (uint8_t m : {0x55, 0x5D, 0x65, 0x6D, 0x75, 0x7D}) cases.push_back({{0xED, m}, "RETN", 2});
  for (uint8_t m : {0x4E, 0x66, 0x6E}) cases.push_back({{0xED, m}, "IM 0", 2});
  cases.push_back({{0xED, 0x76}, "IM 1", 2});
  cases.push_back({{0xED, 0x7E}, "IM 2", 2});
  // Every code without a meaning, operands or not, is a 2-byte NOP2.
  for (int code = 0; code < 256; ++code) {
    const bool hole = code < 0x40 || code == 0x77 || code == 0x7F || (code >= 0x80 && code < 0xA0) ||
                      code >= 0xC0 || ((code & 0xE4) == 0xA4);
    if (hole) cases.push_back({{0xED, static_cast<uint8_t>(code), 0x34, 0x12}, "NOP2", 2});
  }
  CheckTable(cases);
}

// Every second byte with an index form, as DD; the FD forms are the same
// text with IY.
const std::vector<Case> kIndexCases = {
    {{0xDD, 0x09}, "ADD IX,BC", 2},
    {{0xDD, 0x19}, "ADD IX,DE", 2},
    {{0xDD, 0x21}, "LD IX,$1234", 4},
    {{0xDD, 0x22}, "LD ($1234),IX", 4},
    {{0xDD, 0x23}, "INC IX", 2},
    {{0xDD, 0x24}, "INC IXH", 2},
    {{0xDD, 0x25}, "DEC IXH", 2},
    {{0xDD, 0x26}, "LD IXH,$34", 3},
    {{0xDD, 0x29}, "ADD IX,IX", 2},
    {{0xDD, 0x2A}, "LD IX,($1234)", 4},
    {{0xDD, 0x2B}, "DEC IX", 2},
    {{0xDD, 0x2C}, "INC IXL", 2},
    {{0xDD, 0x2D}, "DEC IXL", 2},
    {{0xDD, 0x2E}, "LD IXL,$34", 3},
    {{0xDD, 0x34}, "INC (IX+$34)", 3},
    {{0xDD, 0x35}, "DEC (IX+$34)", 3},
    {{0xDD, 0x36}, "LD (IX+$34),$12", 4},
    {{0xDD, 0x39}, "ADD IX,SP", 2},
    {{0xDD, 0x44}, "LD B,IXH", 2},
    {{0xDD, 0x45}, "LD B,IXL", 2},
    {{0xDD, 0x46}, "LD B,(IX+$34)", 3},
    {{0xDD, 0x4C}, "LD C,IXH", 2},
    {{0xDD, 0x4D}, "LD C,IXL", 2},
    {{0xDD, 0x4E}, "LD C,(IX+$34)", 3},
    {{0xDD, 0x54}, "LD D,IXH", 2},
    {{0xDD, 0x55}, "LD D,IXL", 2},
    {{0xDD, 0x56}, "LD D,(IX+$34)", 3},
    {{0xDD, 0x5C}, "LD E,IXH", 2},
    {{0xDD, 0x5D}, "LD E,IXL", 2},
    {{0xDD, 0x5E}, "LD E,(IX+$34)", 3},
    {{0xDD, 0x60}, "LD IXH,B", 2},
    {{0xDD, 0x61}, "LD IXH,C", 2},
    {{0xDD, 0x62}, "LD IXH,D", 2},
    {{0xDD, 0x63}, "LD IXH,E", 2},
    {{0xDD, 0x64}, "LD IXH,IXH", 2},
    {{0xDD, 0x65}, "LD IXH,IXL", 2},
    {{0xDD, 0x66}, "LD H,(IX+$34)", 3},
    {{0xDD, 0x67}, "LD IXH,A", 2},
    {{0xDD, 0x68}, "LD IXL,B", 2},
    {{0xDD, 0x69}, "LD IXL,C", 2},
    {{0xDD, 0x6A}, "LD IXL,D", 2},
    {{0xDD, 0x6B}, "LD IXL,E", 2},
    {{0xDD, 0x6C}, "LD IXL,IXH", 2},
    {{0xDD, 0x6D}, "LD IXL,IXL", 2},
    {{0xDD, 0x6E}, "LD L,(IX+$34)", 3},
    {{0xDD, 0x6F}, "LD IXL,A", 2},
    {{0xDD, 0x70}, "LD (IX+$34),B", 3},
    {{0xDD, 0x71}, "LD (IX+$34),C", 3},
    {{0xDD, 0x72}, "LD (IX+$34),D", 3},
    {{0xDD, 0x73}, "LD (IX+$34),E", 3},
    {{0xDD, 0x74}, "LD (IX+$34),H", 3},
    {{0xDD, 0x75}, "LD (IX+$34),L", 3},
    {{0xDD, 0x77}, "LD (IX+$34),A", 3},
    {{0xDD, 0x7C}, "LD A,IXH", 2},
    {{0xDD, 0x7D}, "LD A,IXL", 2},
    {{0xDD, 0x7E}, "LD A,(IX+$34)", 3},
    {{0xDD, 0x84}, "ADD A,IXH", 2},
    {{0xDD, 0x85}, "ADD A,IXL", 2},
    {{0xDD, 0x86}, "ADD A,(IX+$34)", 3},
    {{0xDD, 0x8C}, "ADC A,IXH", 2},
    {{0xDD, 0x8D}, "ADC A,IXL", 2},
    {{0xDD, 0x8E}, "ADC A,(IX+$34)", 3},
    {{0xDD, 0x94}, "SUB IXH", 2},
    {{0xDD, 0x95}, "SUB IXL", 2},
    {{0xDD, 0x96}, "SUB (IX+$34)", 3},
    {{0xDD, 0x9C}, "SBC A,IXH", 2},
    {{0xDD, 0x9D}, "SBC A,IXL", 2},
    {{0xDD, 0x9E}, "SBC A,(IX+$34)", 3},
    {{0xDD, 0xA4}, "AND IXH", 2},
    {{0xDD, 0xA5}, "AND IXL", 2},
    {{0xDD, 0xA6}, "AND (IX+$34)", 3},
    {{0xDD, 0xAC}, "XOR IXH", 2},
    {{0xDD, 0xAD}, "XOR IXL", 2},
    {{0xDD, 0xAE}, "XOR (IX+$34)", 3},
    {{0xDD, 0xB4}, "OR IXH", 2},
    {{0xDD, 0xB5}, "OR IXL", 2},
    {{0xDD, 0xB6}, "OR (IX+$34)", 3},
    {{0xDD, 0xBC}, "CP IXH", 2},
    {{0xDD, 0xBD}, "CP IXL", 2},
    {{0xDD, 0xBE}, "CP (IX+$34)", 3},
    {{0xDD, 0xE1}, "POP IX", 2},
    {{0xDD, 0xE3}, "EX (SP),IX", 2},
    {{0xDD, 0xE5}, "PUSH IX", 2},
    {{0xDD, 0xE9}, "JP (IX)", 2},
    {{0xDD, 0xF9}, "LD SP,IX", 2},
};

TEST(Disassembler, EveryIndexFormForIxAndIy) {
  std::vector<Case> cases;
  for (const Case& c : kIndexCases) {
    Case ix = c;
    ix.code.insert(ix.code.end(), {0x34, 0x12});
    cases.push_back(ix);
  }
  CheckTable(cases);
  for (Case& c : cases) {
    c.code[0] = 0xFD;
    for (size_t at; (at = c.text.find("IX")) != std::string::npos;) c.text.replace(at, 2, "IY");
  }
  CheckTable(cases);
}

TEST(Disassembler, PrefixWithoutIndexFormIsNopStarAndTakesOnlyThePrefix) {
  std::array<bool, 256> indexed{};
  for (const Case& c : kIndexCases) indexed[c.code[1]] = true;
  indexed[0xCB] = true;
  for (uint8_t prefix : {0xDD, 0xFD}) {
    for (int next = 0; next < 256; ++next) {
      if (indexed[next]) continue;
      Line line = Disassemble({prefix, static_cast<uint8_t>(next), 0x34, 0x12});
      EXPECT_EQ(line.text, "NOP*") << int(prefix) << " " << next;
      EXPECT_EQ(line.length, 1) << int(prefix) << " " << next;
    }
  }
}

TEST(Disassembler, IndexedBitOperationsWithAndWithoutRegisterSuffix) {
  CheckTable({
      {{0xDD, 0xCB, 0x05, 0x06}, "RLC (IX+$05)", 4},
      {{0xDD, 0xCB, 0x05, 0x00}, "RLC (IX+$05),B", 4},
      {{0xFD, 0xCB, 0x05, 0x0F}, "RRC (IY+$05),A", 4},
      {{0xDD, 0xCB, 0x80, 0x36}, "SLL (IX+$80)", 4},
      {{0xDD, 0xCB, 0x05, 0x3D}, "SRL (IX+$05),L", 4},
      {{0xDD, 0xCB, 0x05, 0x46}, "BIT 0,(IX+$05)", 4},
      {{0xDD, 0xCB, 0x05, 0x7C}, "BIT 7,(IX+$05),H", 4},
      {{0xFD, 0xCB, 0x10, 0x9E}, "RES 3,(IY+$10)", 4},
      {{0xDD, 0xCB, 0x05, 0xBA}, "RES 7,(IX+$05),D", 4},
      {{0xDD, 0xCB, 0xFF, 0xFE}, "SET 7,(IX+$FF)", 4},  // unsigned displacement
      {{0xFD, 0xCB, 0xFF, 0xC1}, "SET 0,(IY+$FF),C", 4},
  });
}

TEST(Disassembler, EdgeCases) {
  Memory64 mem;
  // A doubled prefix: the first stands alone, the second starts the load.
  mem.Put(0x0100, {0xDD, 0xDD, 0x21, 0x34, 0x12});
  uint16_t address = 0x0100;
  EXPECT_EQ(DisassembleOne(mem.Reader(), address), "NOP*");
  EXPECT_EQ(address, 0x0101);
  EXPECT_EQ(DisassembleOne(mem.Reader(), address), "LD IX,$1234");
  EXPECT_EQ(address, 0x0105);

  mem.Put(0x0200, {0xED, 0x00});
  address = 0x0200;
  EXPECT_EQ(DisassembleOne(mem.Reader(), address), "NOP2");
  EXPECT_EQ(address, 0x0202);

  // Operands past &FFFF come from &0000 on, and the next address wraps.
  mem.Put(0xFFFE, {0x21, 0x34});
  mem.Put(0x0000, {0x12});
  address = 0xFFFE;
  EXPECT_EQ(DisassembleOne(mem.Reader(), address), "LD HL,$1234");
  EXPECT_EQ(address, 0x0001);
  mem.Put(0xFFFF, {0xDD});
  mem.Put(0x0000, {0xCB, 0x02, 0x16});
  address = 0xFFFF;
  EXPECT_EQ(DisassembleOne(mem.Reader(), address), "RL (IX+$02)");
  EXPECT_EQ(address, 0x0003);

  // Relative targets are absolute and wrap too.
  mem.Put(0x4000, {0x18, 0xFE});
  address = 0x4000;
  EXPECT_EQ(DisassembleOne(mem.Reader(), address), "JR $4000");
  EXPECT_EQ(address, 0x4002);
  mem.Put(0x0010, {0x10, 0x80});
  address = 0x0010;
  EXPECT_EQ(DisassembleOne(mem.Reader(), address), "DJNZ $FF92");
  mem.Put(0xFFF0, {0x30, 0x7F});
  address = 0xFFF0;
  EXPECT_EQ(DisassembleOne(mem.Reader(), address), "JR NC,$0071");
}

TEST(Disassembler, WalkFromZeroEndsExactlyAtTheWrap) {
  // Random-looking bytes: every instruction is 1..4 bytes and the walk
  // reaches &FFFF's instruction and wraps once.
  Memory64 mem;
  uint32_t seed = 12345;
  for (auto& b : mem.bytes) {
    seed = seed * 1103515245 + 12345;
    b = static_cast<uint8_t>(seed >> 16);
  }
  uint16_t address = 0;
  uint32_t total = 0, count = 0;
  for (;;) {
    const uint16_t before = address;
    DisassembleOne(mem.Reader(), address);
    const uint16_t length = static_cast<uint16_t>(address - before);
    ASSERT_GE(length, 1);
    ASSERT_LE(length, 4);
    total += length;
    ++count;
    if (address <= before) break;
  }
  EXPECT_GE(total, 65536u);
  EXPECT_LT(total, 65536u + 4);
  EXPECT_GT(count, 16384u);
}

}  // namespace
