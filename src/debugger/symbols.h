// Symbol files of the cross-assemblers CPC programmers use, for breakpoints,
// watchpoints and traces by name.
//
// One symbol a line, in any of the common forms:
//   NAME EQU &1234        NAME: equ 0x1234      NAME = $1234
//   NAME: EQU 0x00001234  (sjasmplus --sym)     NAME EQU 01234H (pasmo)
//   NAME #1234            (rasm)                NAME 1234h
// Comments after ";" and lines that are none of these are skipped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

struct SymbolTable {
  std::map<std::string, uint16_t> ByName;       // names as written
  std::multimap<uint16_t, std::string> ByAddress;
};

// Adds the symbols of a file's text; returns how many were read.
size_t ParseSymbols(std::string_view text, SymbolTable& table);
// Reads a file; empty, or why it could not be read.
std::string LoadSymbols(const std::filesystem::path& file, SymbolTable& table);
// A number in the debugger's syntax, or a symbol's address (case-insensitive
// when no symbol matches exactly).
std::optional<uint16_t> ResolveAddress(std::string_view text, const SymbolTable& table);
// The first name at an address, or empty.
std::string SymbolAt(const SymbolTable& table, uint16_t address);
