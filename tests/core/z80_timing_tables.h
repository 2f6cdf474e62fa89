// Instruction lengths in NOP units as the timing tables give them, one
// string per row of 16 cells: "n" a length, "a/b" taken/not taken (for the
// ED Bx row repeating/finished), "*" the shortened interrupt acknowledge
// after it, "-" a byte after DD/FD that is no index form, "CB"/"DD"/"ED"/"FD"
// a prefix.
#pragma once

#include <array>
#include <cctype>
#include <string>

inline const std::array<std::string, 16> kUnprefixedTimes = {
    "1 3 2 2* 1 1 2 1 1 3 2 2* 1 1 2 1",                    // 0x
    "4/3 3 2 2* 1 1 2 1 3 3 2 2* 1 1 2 1",                  // 1x
    "3/2 3 5 2* 1 1 2 1 3/2 3 5 2* 1 1 2 1",                // 2x
    "3/2 3 4 2* 3 3 3 1 3/2 3 4 2* 1 1 2 1",                // 3x
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",                      // 4x
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",                      // 5x
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",                      // 6x
    "2 2 2 2 2 2 1 2 1 1 1 1 1 1 2 1",                      // 7x
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",                      // 8x
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",                      // 9x
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",                      // Ax
    "1 1 1 1 1 1 2 1 1 1 1 1 1 1 2 1",                      // Bx
    "4/2* 3 3 3 5/3 4 2 4 4/2* 3 3 CB 5/3 5 2 4",           // Cx
    "4/2* 3 3 3 5/3 4 2 4 4/2* 1 3 3 5/3 DD 2 4",           // Dx
    "4/2* 3 3 6* 5/3 4 2 4 4/2* 1 3 1 5/3 ED 2 4",          // Ex
    "4/2* 3 3 1 5/3 4 2 4 4/2* 2* 3 1 5/3 FD 2 4",          // Fx
};

inline const std::array<std::string, 16> kEdTimes = {
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // 0x
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // 1x
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // 2x
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // 3x
    "4 4 4 6 2 4 2 3* 4 4 4 6 2 4 2 3*",                    // 4x
    "4 4 4 6 2 4 2 3* 4 4 4 6 2 4 2 3*",                    // 5x
    "4 4 4 6 2 4 2 5 4 4 4 6 2 4 2 5",                      // 6x
    "4 4 4 6 2 4 2 2 4 4 4 6 2 4 2 2",                      // 7x
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // 8x
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // 9x
    "5* 5 5 5 2 2 2 2 5* 5 5 5 2 2 2 2",                    // Ax
    "6*/5* 6*/5 6/5 6/5 2 2 2 2 6*/5* 6*/5 6/5 6/5 2 2 2 2", // Bx
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // Cx
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // Dx
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // Ex
    "2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2",                      // Fx
};

inline const std::array<std::string, 16> kIndexTimes = {
    "- - - - - - - - - 4 - - - - - -",                      // 0x
    "- - - - - - - - - 4 - - - - - -",                      // 1x
    "- 4 6 3* 2 2 3 - - 4 6 3* 2 2 3 -",                    // 2x
    "- - - - 6 6 6 - - 4 - - - - - -",                      // 3x
    "- - - - 2 2 5 - - - - - 2 2 5 -",                      // 4x
    "- - - - 2 2 5 - - - - - 2 2 5 -",                      // 5x
    "2 2 2 2 2 2 5 2 2 2 2 2 2 2 5 2",                      // 6x
    "5 5 5 5 5 5 - 5 - - - - 2 2 5 -",                      // 7x
    "- - - - 2 2 5 - - - - - 2 2 5 -",                      // 8x
    "- - - - 2 2 5 - - - - - 2 2 5 -",                      // 9x
    "- - - - 2 2 5 - - - - - 2 2 5 -",                      // Ax
    "- - - - 2 2 5 - - - - - 2 2 5 -",                      // Bx
    "- - - - - - - - - - - CB - - - -",                     // Cx
    "- - - - - - - - - - - - - - - -",                      // Dx
    "- 5 - 7* - 5 - - - 2 - - - - - -",                     // Ex
    "- - - - - - - - - 3* - - - - - -",                     // Fx
};

struct TimingCell {
  std::string text;      // the cell as written
  int first = 0;         // taken / repeating, or the only length
  int second = 0;        // not taken / finished (= first when single)
  bool firstShort = false;
  bool secondShort = false;
};

inline TimingCell ParseTimingCell(const std::array<std::string, 16>& table, unsigned op) {
  const std::string& row = table[op >> 4];
  size_t pos = 0;
  for (unsigned i = 0; i < (op & 15); ++i) pos = row.find(' ', pos) + 1;
  TimingCell c;
  c.text = row.substr(pos, row.find(' ', pos) - pos);
  if (c.text.empty() || !std::isdigit(static_cast<unsigned char>(c.text[0]))) return c;
  const size_t slash = c.text.find('/');
  const std::string a = c.text.substr(0, slash);
  const std::string b = slash == std::string::npos ? a : c.text.substr(slash + 1);
  c.first = std::stoi(a);
  c.second = std::stoi(b);
  c.firstShort = a.back() == '*';
  c.secondShort = b.back() == '*';
  return c;
}
