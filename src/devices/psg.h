// AY-3-8912 sound generator and the ring of sound buffers.
#pragma once

#include <cstdint>

struct Machine;

struct PsgState {
  uint8_t Registers[16];
  uint8_t SamplingEnabled;  // sound switched on: the loop takes samples
  uint32_t SampleInterval;  // microseconds between samples
  uint32_t SampleStepLimit; // last step of a batch that takes a sample
};

void PsgReset(PsgState& p);
void PsgSampleStep(Machine& m);
