// Host sound output (SDL2 audio): the PSG's ring of 20 ms buffers played
// through one device.
//
// SoundOpen sets the PSG's output format and opens the device; with no
// device (or no SDL) sound is switched off and the machine runs silently.
// SoundSubmit runs once per emulation period, from the emulation thread,
// and queues one buffer, the ring's play index trailing the PSG's write
// index by five buffers as the ring's rules say.
#pragma once

#include <cstdint>
#include <string>

struct PsgState;

struct SoundSettings {
  bool Enabled = false;          // SOUNDENABLED
  uint32_t Channels = 1;         // CHANNELS
  uint32_t SampleRate = 22050;   // SAMPLERATE
  uint32_t BitsPerSample = 8;    // BITSPERSAMPLE
};

struct SoundOutput {
  uint32_t Device = 0;  // SDL audio device id, 0 = none
  uint32_t QueueLimitBytes = 0;
  bool SubsystemStarted = false;  // SDL audio started by SoundOpen, stopped by SoundClose
  std::string Error;    // why the last open failed
};

// One queued SDL output device, shared by the PSG and the Digiblaster.
// AudioDeviceOpen starts SDL audio and opens the default device for the
// format (8-bit unsigned or 16-bit signed); bufferBytes is one 20 ms buffer.
bool AudioDeviceOpen(SoundOutput& out, uint32_t sampleRate, uint32_t channels, uint32_t bitsPerSample,
                     uint32_t bufferBytes);
void AudioDeviceClose(SoundOutput& out);
// Queues one buffer unless the device is already well behind.
void AudioDeviceQueue(SoundOutput& out, const uint8_t* data, uint32_t bytes);

// Returns whether sound is on. False when switched off in the settings or
// when no device could be opened (the caller then clears SOUNDENABLED).
bool SoundOpen(SoundOutput& out, PsgState& psg, const SoundSettings& settings);
void SoundClose(SoundOutput& out, PsgState& psg);
// Hands the next buffer of the ring to the device.
void SoundSubmit(SoundOutput& out, PsgState& psg);
