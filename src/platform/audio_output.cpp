#include "platform/audio_output.h"

#include <algorithm>

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
#ifdef PELLUCIDORE_HAVE_SDL2
  const uint32_t frames = psg.SamplesPerBuffer;
  uint32_t queued = SDL_GetQueuedAudioSize(out.Device) / psg.BlockAlign;
  if (queued > 8 * frames) {
    // Far behind the machine (the host stalled the device): start afresh
    // rather than carry a long delay.
    SDL_ClearQueuedAudio(out.Device);
    queued = 0;
    out.QueueAverage = -1;
  }
  if (queued == 0) ++out.Underruns;
  const uint32_t length = SoundStretchedLength(out, frames, queued);
  SoundStretch(psg.Buffers[PsgLastBuffer(psg)], frames, psg.Channels, psg.BitsPerSample, length, out.Previous,
               out.Stretched);
  SDL_QueueAudio(out.Device, out.Stretched.data(), static_cast<Uint32>(out.Stretched.size()));
#endif
}

uint32_t SoundStretchedLength(SoundOutput& out, uint32_t frames, uint32_t queued) {
  if (queued == 0) {
    // Ran dry: refill with a stretched buffer at once.
    out.QueueAverage = 0;
    return 2 * frames;
  }
  // A smoothed depth, since the device takes its chunks at its own rhythm.
  out.QueueAverage = out.QueueAverage < 0 ? queued : out.QueueAverage + (queued - out.QueueAverage) / 8;
  const double length = frames + (frames - out.QueueAverage) / 4;
  return static_cast<uint32_t>(std::clamp(length, frames * 0.75, frames * 2.0) + 0.5);
}

void SoundStretch(const uint8_t* in, uint32_t frames, uint32_t channels, uint32_t bits, uint32_t length,
                  int32_t previous[2], std::vector<uint8_t>& out) {
  const uint32_t bytes = bits / 8;
  out.resize(static_cast<size_t>(length) * channels * bytes);
  auto get = [&](int64_t frame, uint32_t ch) -> int32_t {
    if (frame < 0) return previous[ch];
    const uint8_t* s = in + (frame * channels + ch) * bytes;
    return bytes == 1 ? s[0] : static_cast<int16_t>(s[0] | (s[1] << 8));
  };
  for (uint32_t j = 0; j < length; ++j) {
    // Output frame j sits at input position (j + 1) x frames / length - 1:
    // the last one on the last input frame, so the next buffer joins on.
    const int64_t position = (static_cast<int64_t>(j + 1) * frames << 16) / length - 65536;
    const int64_t i = position >> 16;
    const int64_t frac = position & 0xFFFF;
    for (uint32_t ch = 0; ch < channels; ++ch) {
      const int32_t a = get(i, ch);
      const int32_t b = frac ? get(i + 1, ch) : a;
      const int32_t v = static_cast<int32_t>(a + (((b - a) * frac) >> 16));
      uint8_t* d = out.data() + (static_cast<size_t>(j) * channels + ch) * bytes;
      if (bytes == 1) {
        d[0] = static_cast<uint8_t>(v);
      } else {
        d[0] = static_cast<uint8_t>(v);
        d[1] = static_cast<uint8_t>(v >> 8);
      }
    }
  }
  for (uint32_t ch = 0; ch < channels; ++ch) previous[ch] = get(frames - 1, ch);
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
  // A count of -1 (unknown) or even 0 does not mean there is no device: SDL
  // says the default one may still open (SDL_GetNumAudioDevices), so only a
  // failed open switches the sound off.
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(sampleRate);
  // 8-bit wave data is unsigned, 16-bit signed little-endian.
  want.format = bitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
  want.channels = static_cast<Uint8>(channels);
  // About 12 ms: the device's own share of the delay.
  want.samples = sampleRate >= 44100 ? 512 : 256;
  want.callback = nullptr;  // buffers are queued, as the ring hands them over
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (dev == 0) {
    out.Error = std::string("cannot open the audio device: ") + SDL_GetError();
    AudioDeviceClose(out);
    return false;
  }
  out.Device = dev;
  out.DeviceFrames = have.samples;
  out.QueueAverage = -1;
  out.Previous[0] = out.Previous[1] = bitsPerSample == 8 ? 128 : 0;
  out.Stretched.reserve(static_cast<size_t>(bufferBytes) * 2);
  // For AudioDeviceQueue (the Digiblaster's ring, five buffers behind):
  // enough for that distance and some jitter; beyond it the machine runs
  // faster than real time and buffers are dropped rather than letting the
  // delay grow. SoundSubmit paces the PSG's queue itself.
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
