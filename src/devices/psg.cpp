#include "devices/psg.h"

#include "core/machine.h"

void PsgReset(PsgState&) {}
void PsgSampleStep(Machine&) {}
