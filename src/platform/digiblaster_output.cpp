#include "platform/digiblaster_output.h"

bool DigiblasterOutput::Open() { return AudioDeviceOpen(out_, kDigiSampleRate, 1, 8, kDigiBufferSamples); }

void DigiblasterOutput::Close() { AudioDeviceClose(out_); }

void DigiblasterOutput::Queue(const uint8_t* samples, size_t count) {
  AudioDeviceQueue(out_, samples, static_cast<uint32_t>(count));
}
