#include "platform/drive_sounds.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "storage/fdc.h"

namespace {

TEST(DriveSounds, SynthesizedSamples) {
  for (int n = 0; n < kDriveSoundCount; ++n) {
    auto s = SynthesizeDriveSound(n);
    ASSERT_FALSE(s.empty()) << n;
    int peak = 0;
    for (int16_t v : s) peak = std::max(peak, std::abs(int(v)));
    EXPECT_GT(peak, 1000) << "sound " << n << " is silent";
  }
  // Longer moves make longer noises; the motor loop is a whole second.
  EXPECT_LT(SynthesizeDriveSound(1).size(), SynthesizeDriveSound(2).size());
  EXPECT_LT(SynthesizeDriveSound(2).size(), SynthesizeDriveSound(3).size());
  EXPECT_EQ(SynthesizeDriveSound(0).size(), size_t(kDriveSoundRate));
  EXPECT_TRUE(SynthesizeDriveSound(5).empty());
}

TEST(DriveSounds, VolumesInHundredthsOfADecibel) {
  EXPECT_EQ(MixerVolume(0), 128);
  EXPECT_EQ(MixerVolume(-500), 72);
  EXPECT_EQ(MixerVolume(-1000), 40);
  EXPECT_EQ(MixerVolume(-100), 114);
}

TEST(DriveSounds, EventsToActions) {
  using A = DriveSoundAction;
  auto stop = DriveSoundActions(kSoundMotorStop);
  ASSERT_EQ(stop.size(), 2u);
  EXPECT_EQ(stop[0].What, A::Stop);  // the hum ends before the run-down plays
  EXPECT_EQ(stop[1].What, A::Play);
  EXPECT_EQ(stop[1].Sound, 4);
  auto start = DriveSoundActions(kSoundMotorStart | kSoundHeadLong);
  ASSERT_EQ(start.size(), 2u);
  EXPECT_EQ(start[0].What, A::Loop);
  EXPECT_EQ(start[0].Sound, 0);
  EXPECT_EQ(start[1].Sound, 3);
  EXPECT_TRUE(DriveSoundActions(0).empty());
}

TEST(DriveSounds, OpensOnTheDummyDriverAndPlays) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  DriveSounds sounds;
  if (!sounds.Open()) GTEST_SKIP() << "no audio: " << sounds.Error();
  sounds.Play(kSoundMotorStart | kSoundHeadShort | kSoundHeadMedium);
  sounds.Play(kSoundMotorStop);
  sounds.Close();
  EXPECT_FALSE(sounds.IsOpen());
}

}  // namespace
