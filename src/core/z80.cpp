#include "core/z80.h"

void ResetZ80(Z80Registers& r) { r = Z80Registers{}; }
