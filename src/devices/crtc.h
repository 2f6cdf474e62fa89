// 6845 CRT controller (types 0, 1, 2): register file and the ports.
// The per-microsecond CrtcStep lives in crtc_step.h so the machine loop can
// inline it.
#pragma once

#include <cstdint>

struct CrtcState {
  uint8_t R[18];
  uint8_t SelectedRegister;
  uint32_t Type;  // 0, 1 or 2
  uint8_t HSYNC, VSYNC, DISPEN;
  uint16_t VideoAddress;
  uint16_t MA;
  uint8_t LightPenEnabled;
  uint8_t LightPenArmed;  // a strobe is pending
  uint32_t LightPenTargetX, LightPenTargetY;
};

void CrtcReset(CrtcState& c);
void CrtcWrite(CrtcState& c, uint16_t port, uint8_t value);
uint8_t CrtcRead(CrtcState& c, uint16_t port);
