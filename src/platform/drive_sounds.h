// The noises of the 3-inch drives: motor hum, head moves of three lengths and
// the motor running down, made by the program (no sample files) and played
// through SDL2_mixer on a device of their own, without waiting.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int kDriveSoundRate = 22050;
constexpr int kDriveSoundCount = 5;

// 16-bit mono samples of sound n (0 motor, 1 short, 2 medium, 3 long head
// move, 4 motor stopping).
std::vector<int16_t> SynthesizeDriveSound(int n);

// Mixer volume (0..128) of a level in hundredths of a decibel.
int MixerVolume(int hundredthsDb);

// What the controller's posted events ask for, in playing order.
struct DriveSoundAction {
  enum Kind { Play, Loop, Stop } What;
  int Sound;
};
std::vector<DriveSoundAction> DriveSoundActions(uint32_t events);

class DriveSounds {
 public:
  ~DriveSounds();
  // False (and silent from then on) when no device could be opened.
  bool Open();
  void Close();
  // Plays what the controller posted since the last call.
  void Play(uint32_t events);
  bool IsOpen() const { return open_; }
  const std::string& Error() const { return error_; }

 private:
  bool open_ = false;
  std::string error_;
  void* chunks_[kDriveSoundCount] = {};
  std::vector<int16_t> samples_[kDriveSoundCount];
};
