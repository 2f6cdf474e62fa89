#include "devices/crtc.h"

void CrtcReset(CrtcState&) {}
void CrtcWrite(CrtcState&, uint16_t, uint8_t) {}
uint8_t CrtcRead(CrtcState&, uint16_t) { return 0xFF; }
