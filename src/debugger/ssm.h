// Screenshot requests a running program makes with unused ED opcodes.
//
// A program asks for picture HHLL with the four bytes ED LL ED HH, LL and HH
// both from the set of ED codes the Z80 ignores (SsmCodeUsable); ED FE and
// ED FF ask for the picture and the snapshot a running script has named, and
// ED 00 ED 00 releases a script's wait_ssm0000. Off by default: then, as on
// a real Z80, these are two-NOP instructions and nothing else happens.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct Machine;

enum class SsmKind : uint8_t {
  Numbered,    // ED LL ED HH: Code = HHLL
  Screenshot,  // ED FE
  Snapshot,    // ED FF
  Release,     // ED 00 ED 00
};

struct SsmRequest {
  SsmKind Kind;
  uint16_t Code = 0;
};

struct SsmState {
  uint8_t Enabled = 0;
  // Called inside the instruction that completes a request, so a picture
  // taken there shows the frame as the program left it.
  std::function<void(Machine&, const SsmRequest&)> Handler;
  // The first half of a numbered request, and where its ED was.
  uint8_t HaveLow = 0;
  uint8_t Low = 0;
  uint16_t LowPc = 0;
};

// LL and HH may be 00-3F, 7F-9F, A4-A7, AC-AF, B4-B7, BC-BF or C0-FD.
bool SsmCodeUsable(uint8_t op);

// The Z80 ran ED op at pc, op being one of the codes it ignores.
void SsmUnusedEd(Machine& m, uint16_t pc, uint8_t op);

// PELLUCIDORE_<CRTC type>_<HHLL in hex>, the name a numbered request's
// picture takes (without the extension).
std::string SsmPictureName(uint32_t crtcType, uint16_t code);
