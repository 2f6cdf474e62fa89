#include <gtest/gtest.h>

#include <cstdlib>

#include "core/machine.h"
#include "platform/audio_output.h"

namespace {

// SDL reads the driver name when the audio subsystem starts, so each case
// names its driver first.
class AudioOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { m = CreateMachine(MachineConfig{.RomDir = "/nonexistent"}); }
  void TearDown() override { SoundClose(out, m->Psg); }
  std::unique_ptr<Machine> m;
  SoundOutput out;
};

TEST_F(AudioOutputTest, SwitchedOffInTheSettingsStillSetsTheFormat) {
  EXPECT_FALSE(SoundOpen(out, m->Psg, SoundSettings{.Enabled = false, .Channels = 2, .SampleRate = 48000,
                                                    .BitsPerSample = 16}));
  EXPECT_EQ(m->Psg.BufferBytes, 3840u);
  EXPECT_EQ(m->Psg.SamplingEnabled, 0);
}

// A buffer resampled to another length starts where the last one ended and
// ends on its own last frame, so joins are seamless whatever the length.
TEST(SoundStretch, KeepsEndsAndJoinsOn) {
  const uint8_t ramp[8] = {10, 20, 30, 40, 50, 60, 70, 80};  // 8-bit mono
  struct Case {
    uint32_t length;
    std::vector<uint8_t> want;
  };
  const Case cases[] = {
      {8, {10, 20, 30, 40, 50, 60, 70, 80}},
      {16, {5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80}},  // from the previous frame, 0
      {4, {20, 40, 60, 80}},
  };
  for (const Case& c : cases) {
    int32_t previous[2] = {0, 0};
    std::vector<uint8_t> out;
    SoundStretch(ramp, 8, 1, 8, c.length, previous, out);
    EXPECT_EQ(out, c.want) << c.length;
    EXPECT_EQ(previous[0], 80);
  }
  // 16-bit stereo, negative values, channels kept apart.
  const int16_t pairs[4] = {-1000, 500, -3000, 700};
  int32_t previous[2] = {1000, 300};
  std::vector<uint8_t> out;
  SoundStretch(reinterpret_cast<const uint8_t*>(pairs), 2, 2, 16, 4, previous, out);
  ASSERT_EQ(out.size(), 16u);
  const auto* v = reinterpret_cast<const int16_t*>(out.data());
  EXPECT_EQ(std::vector<int16_t>(v, v + 8), (std::vector<int16_t>{0, 400, -1000, 500, -2000, 600, -3000, 700}));
  EXPECT_EQ(previous[0], -3000);
  EXPECT_EQ(previous[1], 700);
}

// The queue is steered towards one buffer of depth: a dry device gets a
// doubled buffer at once, a deep queue shorter ones, never beyond the bounds.
TEST(SoundStretch, LengthFollowsTheQueue) {
  SoundOutput out;
  EXPECT_EQ(SoundStretchedLength(out, 882, 0), 1764u);
  out.QueueAverage = -1;
  EXPECT_EQ(SoundStretchedLength(out, 882, 882), 882u);
  uint32_t length = 0;
  for (int i = 0; i < 50; ++i) length = SoundStretchedLength(out, 882, 882 * 6);
  EXPECT_EQ(length, 662u) << "three quarters at most";
  for (int i = 0; i < 50; ++i) length = SoundStretchedLength(out, 882, 300);
  EXPECT_GT(length, 882u);
  EXPECT_LT(length, 1100u);
}

#ifdef PELLUCIDORE_HAVE_SDL2
TEST_F(AudioOutputTest, NoDeviceMeansSilentEmulation) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_FALSE(SoundOpen(out, m->Psg, SoundSettings{.Enabled = true}));
  EXPECT_FALSE(out.Error.empty());
  EXPECT_EQ(m->Psg.SamplingEnabled, 0);
  const uint32_t write = m->Psg.WriteIndex;
  EmulateTick(*m);  // runs without taking samples
  EXPECT_EQ(m->Psg.WriteIndex, write);
  SoundSubmit(out, m->Psg);
  unsetenv("SDL_AUDIODRIVER");
}

// SDL's dummy driver reports no device list; its default device still opens.
TEST_F(AudioOutputTest, AnUnknownDeviceCountStillOpensTheDefaultDevice) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  const bool open = SoundOpen(out, m->Psg, SoundSettings{.Enabled = true, .Channels = 2, .SampleRate = 48000,
                                                         .BitsPerSample = 16});
  unsetenv("SDL_AUDIODRIVER");
  ASSERT_TRUE(open) << out.Error;
  EXPECT_EQ(m->Psg.SamplingEnabled, 1);
  for (int period = 0; period < 7; ++period) {
    const uint32_t write = m->Psg.WriteIndex;
    EmulateTick(*m);
    EXPECT_EQ(m->Psg.WriteIndex, (write + 1) & 15);
    SoundSubmit(out, m->Psg);
  }
  SoundClose(out, m->Psg);
  EXPECT_EQ(m->Psg.SamplingEnabled, 0);
  EXPECT_EQ(out.Device, 0u);
}
#endif

}  // namespace
