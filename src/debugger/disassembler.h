// Z80 disassembler for the debugger: one instruction of Zilog text per call.
//
// Covers the unprefixed set and the CB, ED, DD/FD and DD CB/FD CB families,
// the undocumented forms the CPU implements included (SLL, IXH/IXL, ED 70/71,
// the NEG/RETN/IM mirrors, the register copies of DD CB). Numbers are "$" and
// upper-case hex. A DD/FD before a byte with no index form shows as "NOP*" and
// takes only the prefix, as the CPU does; an ED code without a meaning shows
// "NOP2". It never fails: every byte sequence gives some text.
//
// Memory is read only through the caller's reader, so the text follows the
// debugger's memory view (RAM, ROM or what the Z80 sees).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

using ByteReader = std::function<uint8_t(uint16_t)>;

// Disassembles the instruction at `address` and leaves `address` on the next
// one (modulo 65536; operands past &FFFF are read from &0000 on).
std::string DisassembleOne(const ByteReader& read, uint16_t& address);
