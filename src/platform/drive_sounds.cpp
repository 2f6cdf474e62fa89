#include "platform/drive_sounds.h"

#include <cmath>
#include <random>

#include "storage/fdc.h"

#if PELLUCIDORE_HAVE_SDL2_MIXER
#include <SDL.h>
#include <SDL_mixer.h>
#endif

namespace {

// Channel of each sound: the motor loops on its own channel so that a stop
// can end it without cutting a head move short.
constexpr int kMotorChannel = 0;

// Volumes in hundredths of a decibel.
constexpr int kLevels[kDriveSoundCount] = {-500, -1000, -100, -100, -500};

std::vector<int16_t> Clicks(int count, double spacing, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  const int stepSamples = static_cast<int>(spacing * kDriveSoundRate);
  std::vector<int16_t> out(static_cast<size_t>(count * stepSamples + kDriveSoundRate / 50), 0);
  for (int c = 0; c < count; ++c) {
    // A stepper tick: a damped 1.2 kHz ring with a little noise.
    for (int i = 0; i < kDriveSoundRate / 100; ++i) {
      const double t = static_cast<double>(i) / kDriveSoundRate;
      const double v = std::exp(-t * 600) * (std::sin(2 * M_PI * 1200 * t) + 0.3 * noise(rng));
      out[static_cast<size_t>(c * stepSamples + i)] = static_cast<int16_t>(v * 12000);
    }
  }
  return out;
}

std::vector<int16_t> Hum(double seconds, bool fading) {
  const int n = static_cast<int>(seconds * kDriveSoundRate);
  std::vector<int16_t> out(static_cast<size_t>(n));
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kDriveSoundRate;
    // The belt drive: a 50 Hz hum with harmonics, slowing as it stops.
    const double f = fading ? 50.0 * (1.0 - 0.5 * t / seconds) : 50.0;
    const double envelope = fading ? std::exp(-3.0 * t / seconds) : 1.0;
    const double v = 0.5 * std::sin(2 * M_PI * f * t) + 0.25 * std::sin(2 * M_PI * 3 * f * t) + 0.08 * noise(rng);
    out[static_cast<size_t>(i)] = static_cast<int16_t>(v * envelope * 6000);
  }
  return out;
}

}  // namespace

std::vector<int16_t> SynthesizeDriveSound(int n) {
  switch (n) {
    case 0: return Hum(1.0, false);  // a whole number of 50 Hz cycles: loops cleanly
    case 1: return Clicks(3, 0.012, 1);
    case 2: return Clicks(12, 0.008, 2);
    case 3: return Clicks(35, 0.006, 4);
    case 4: return Hum(0.4, true);
    default: return {};
  }
}

int MixerVolume(int hundredthsDb) {
  const double gain = std::pow(10.0, hundredthsDb / 2000.0);
  return static_cast<int>(std::lround(gain * 128));
}

std::vector<DriveSoundAction> DriveSoundActions(uint32_t events) {
  std::vector<DriveSoundAction> actions;
  if (events & kSoundMotorStop) {
    actions.push_back({DriveSoundAction::Stop, 0});
    actions.push_back({DriveSoundAction::Play, 4});
  }
  if (events & kSoundMotorStart) actions.push_back({DriveSoundAction::Loop, 0});
  if (events & kSoundHeadShort) actions.push_back({DriveSoundAction::Play, 1});
  if (events & kSoundHeadMedium) actions.push_back({DriveSoundAction::Play, 2});
  if (events & kSoundHeadLong) actions.push_back({DriveSoundAction::Play, 3});
  return actions;
}

DriveSounds::~DriveSounds() { Close(); }

#if PELLUCIDORE_HAVE_SDL2_MIXER

bool DriveSounds::Open() {
  if (open_) return true;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    error_ = SDL_GetError();
    return false;
  }
  if (Mix_OpenAudio(kDriveSoundRate, AUDIO_S16SYS, 1, 1024) != 0) {
    error_ = Mix_GetError();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  Mix_AllocateChannels(4);
  for (int n = 0; n < kDriveSoundCount; ++n) {
    samples_[n] = SynthesizeDriveSound(n);
    Mix_Chunk* chunk = Mix_QuickLoad_RAW(reinterpret_cast<Uint8*>(samples_[n].data()),
                                         static_cast<Uint32>(samples_[n].size() * sizeof(int16_t)));
    if (chunk) Mix_VolumeChunk(chunk, MixerVolume(kLevels[n]));
    chunks_[n] = chunk;
  }
  open_ = true;
  return true;
}

void DriveSounds::Close() {
  if (!open_) return;
  Mix_HaltChannel(-1);
  for (auto& chunk : chunks_) {
    if (chunk) Mix_FreeChunk(static_cast<Mix_Chunk*>(chunk));
    chunk = nullptr;
  }
  Mix_CloseAudio();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  open_ = false;
}

void DriveSounds::Play(uint32_t events) {
  if (!open_) return;
  for (const DriveSoundAction& a : DriveSoundActions(events)) {
    auto* chunk = static_cast<Mix_Chunk*>(chunks_[a.Sound]);
    if (!chunk) continue;
    switch (a.What) {
      case DriveSoundAction::Stop: Mix_HaltChannel(kMotorChannel); break;
      case DriveSoundAction::Loop: Mix_PlayChannel(kMotorChannel, chunk, -1); break;
      case DriveSoundAction::Play: Mix_PlayChannel(-1, chunk, 0); break;
    }
  }
}

#else

bool DriveSounds::Open() {
  error_ = "built without SDL2_mixer";
  return false;
}
void DriveSounds::Close() {}
void DriveSounds::Play(uint32_t) {}

#endif
