#include "debugger/ssm.h"

#include <cstdio>

#include "core/machine.h"

bool SsmCodeUsable(uint8_t op) {
  return op <= 0x3F || (op >= 0x7F && op <= 0x9F) || (op >= 0xA4 && op <= 0xA7) || (op >= 0xAC && op <= 0xAF) ||
         (op >= 0xB4 && op <= 0xB7) || (op >= 0xBC && op <= 0xFD);
}

void SsmUnusedEd(Machine& m, uint16_t pc, uint8_t op) {
  SsmState& s = m.Ssm;
  if (!s.Enabled) return;
  // The two halves must be adjacent instructions: an ED LL left over from
  // some other use of the unused codes does not pair with a later ED HH.
  const bool secondHalf = s.HaveLow && pc == uint16_t(s.LowPc + 2);
  s.HaveLow = 0;
  SsmRequest request{SsmKind::Numbered};
  if (op == 0xFE || op == 0xFF) {
    request.Kind = op == 0xFE ? SsmKind::Screenshot : SsmKind::Snapshot;
  } else if (!SsmCodeUsable(op)) {
    return;
  } else if (!secondHalf) {
    s.HaveLow = 1;
    s.Low = op;
    s.LowPc = pc;
    return;
  } else {
    request.Code = uint16_t(op << 8 | s.Low);
    if (request.Code == 0) request.Kind = SsmKind::Release;
  }
  if (s.Handler) s.Handler(m, request);
}

std::string SsmPictureName(uint32_t crtcType, uint16_t code) {
  char name[40];
  std::snprintf(name, sizeof name, "PELLUCIDORE_%u_%04X", unsigned(crtcType), unsigned(code));
  return name;
}
