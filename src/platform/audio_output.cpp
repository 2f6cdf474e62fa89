#include "platform/audio_output.h"

#include "devices/psg.h"

#ifdef PELLUCIDORE_HAVE_SDL2
#include <SDL.h>
#endif

bool SoundOpen(SoundOutput& out, PsgState& psg, const SoundSettings& settings) {
  SoundClose(out, psg);
  // The format is set even without a device: recorders read the same ring.
  PsgSetOutputFormat(psg, settings.SampleRate, settings.Channels, settings.BitsPerSample);
  out.Error.clear();
  if (!settings.Enabled) return false;
  if (!AudioDeviceOpen(out, psg.SampleRate, psg.Channels, psg.BitsPerSample, psg.BufferBytes)) return false;
  psg.SamplingEnabled = 1;
  return true;
}

void SoundClose(SoundOutput& out, PsgState& psg) {
  psg.SamplingEnabled = 0;
  AudioDeviceClose(out);
}

void SoundSubmit(SoundOutput& out, PsgState& psg) {
  if (out.Device == 0 || !psg.SamplingEnabled) return;
  const uint32_t buffer = PsgNextPlayBuffer(psg);
  AudioDeviceQueue(out, psg.Buffers[buffer], psg.BufferBytes);
}

bool AudioDeviceOpen(SoundOutput& out, uint32_t sampleRate, uint32_t channels, uint32_t bitsPerSample,
                     uint32_t bufferBytes) {
  AudioDeviceClose(out);
  out.Error.clear();
#ifdef PELLUCIDORE_HAVE_SDL2
  // Started and stopped with each open, so a changed driver or a device
  // plugged in since is seen by the next open, as the settings dialog expects.
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    out.Error = SDL_GetError();
    return false;
  }
  out.SubsystemStarted = true;
  if (SDL_GetNumAudioDevices(0) <= 0) {
    out.Error = "no audio output device";
    AudioDeviceClose(out);
    return false;
  }
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(sampleRate);
  // 8-bit wave data is unsigned, 16-bit signed little-endian.
  want.format = bitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
  want.channels = static_cast<Uint8>(channels);
  want.samples = 1024;
  want.callback = nullptr;  // buffers are queued, as the ring hands them over
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (dev == 0) {
    out.Error = SDL_GetError();
    AudioDeviceClose(out);
    return false;
  }
  out.Device = dev;
  // Enough for the five-buffer distance and some jitter; beyond it the
  // machine runs faster than real time and buffers are dropped rather than
  // letting the delay grow.
  out.QueueLimitBytes = bufferBytes * 10;
  SDL_PauseAudioDevice(dev, 0);
  return true;
#else
  (void)sampleRate;
  (void)channels;
  (void)bitsPerSample;
  (void)bufferBytes;
  out.Error = "built without audio output";
  return false;
#endif
}

void AudioDeviceClose(SoundOutput& out) {
#ifdef PELLUCIDORE_HAVE_SDL2
  if (out.Device != 0) {
    SDL_ClearQueuedAudio(out.Device);
    SDL_CloseAudioDevice(out.Device);
  }
  if (out.SubsystemStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  out.SubsystemStarted = false;
#endif
  out.Device = 0;
}

void AudioDeviceQueue(SoundOutput& out, const uint8_t* data, uint32_t bytes) {
  if (out.Device == 0) return;
#ifdef PELLUCIDORE_HAVE_SDL2
  if (SDL_GetQueuedAudioSize(out.Device) > out.QueueLimitBytes) return;
  SDL_QueueAudio(out.Device, data, bytes);
#else
  (void)data;
  (void)bytes;
#endif
}
