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
  EXPECT_FALSE(SoundOpen(out, m->Psg, SoundSettings{.Enabled = false, .Channels = 2, .SampleRate = 44100,
                                                    .BitsPerSample = 16}));
  EXPECT_EQ(m->Psg.BufferBytes, 3528u);
  EXPECT_EQ(m->Psg.SamplingEnabled, 0);
  EXPECT_EQ(m->Psg.WriteIndex, 5u);
}

#ifdef PELLUCIDORE_HAVE_SDL2
TEST_F(AudioOutputTest, NoDeviceMeansSilentEmulation) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_FALSE(SoundOpen(out, m->Psg, SoundSettings{.Enabled = true}));
  EXPECT_FALSE(out.Error.empty());
  EXPECT_EQ(m->Psg.SamplingEnabled, 0);
  EmulateTick(*m);  // runs without taking samples
  EXPECT_EQ(m->Psg.SampleIndex, 0u);
  SoundSubmit(out, m->Psg);
  EXPECT_EQ(m->Psg.PlayIndex, 0u);
  unsetenv("SDL_AUDIODRIVER");
}

TEST_F(AudioOutputTest, OpenDeviceTakesOneBufferPerPeriod) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  const bool open = SoundOpen(out, m->Psg, SoundSettings{.Enabled = true});
  unsetenv("SDL_AUDIODRIVER");
  if (!open) GTEST_SKIP() << "SDL's dummy audio driver is not available: " << out.Error;
  EXPECT_EQ(m->Psg.SamplingEnabled, 1);
  for (uint32_t period = 0; period < 7; ++period) {
    EmulateTick(*m);
    EXPECT_EQ(m->Psg.SampleIndex, 441u);
    SoundSubmit(out, m->Psg);
    EXPECT_EQ(m->Psg.PlayIndex, period + 1);
    EXPECT_EQ(m->Psg.WriteIndex, 5 + period);
  }
  SoundClose(out, m->Psg);
  EXPECT_EQ(m->Psg.SamplingEnabled, 0);
  EXPECT_EQ(out.Device, 0u);
}
#endif

}  // namespace
