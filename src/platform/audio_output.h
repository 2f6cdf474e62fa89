// Host sound output (SDL2 audio): the PSG's ring of 20 ms buffers played
// through one device.
//
// SoundOpen sets the PSG's output format and opens the device; with no
// device (or no SDL) sound is switched off and the machine runs silently.
// SoundSubmit runs once per emulation period, from the emulation thread,
// and queues the buffer the period completed. The device's queue is kept
// near one buffer deep (about 40 ms from the chip to the loudspeaker): each
// buffer is resampled a little longer or shorter as the queue runs low or
// high, so a host that falls behind stretches the sound instead of letting
// the device run dry, and the host's audio clock never drifts away from
// the 20 ms period.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
  uint32_t DeviceFrames = 0;  // the device's own buffer, in sample frames

  // SoundSubmit's pacing.
  double QueueAverage = -1;     // frames queued before a submission, smoothed
  std::vector<uint8_t> Stretched;
  int32_t Previous[2] = {0, 0};  // the last frame handed over, for a seamless join
  uint64_t Underruns = 0;       // submissions that found the device already dry
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
// Hands the buffer of the last period to the device.
void SoundSubmit(SoundOutput& out, PsgState& psg);

// The frames to queue for a buffer of `frames` when `queued` frames are
// still waiting (smoothed in out.QueueAverage): the buffer's own length near
// the target depth, up to twice as long when the device is running dry and
// down to three quarters when the queue has grown.
uint32_t SoundStretchedLength(SoundOutput& out, uint32_t frames, uint32_t queued);
// `frames` sample frames of the PSG's format resampled to `length` frames
// by linear interpolation, continuing from `previous` (the frame before).
void SoundStretch(const uint8_t* in, uint32_t frames, uint32_t channels, uint32_t bits, uint32_t length,
                  int32_t previous[2], std::vector<uint8_t>& out);
