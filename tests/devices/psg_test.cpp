#include <gtest/gtest.h>

#include <vector>

#include "core/machine.h"
#include "devices/psg.h"

namespace {

// PPI port addresses: A &F4xx, C &F6xx, control &F7xx.
constexpr uint16_t kPortA = 0xF400, kPortC = 0xF600, kControl = 0xF700;

class PsgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m = CreateMachine(MachineConfig{.RomDir = "/nonexistent"});
    PsgSetOutputFormat(m->Psg, 22050, 1, 16);
  }

  // The firmware's way: port A output, latch the register, then write it.
  void WriteRegister(uint8_t reg, uint8_t value) {
    PpiWrite(*m, kControl, 0x82);
    PpiWrite(*m, kPortA, reg);
    PpiWrite(*m, kPortC, 0xC0);
    PpiWrite(*m, kPortC, 0x00);
    PpiWrite(*m, kPortA, value);
    PpiWrite(*m, kPortC, 0x80);
    PpiWrite(*m, kPortC, 0x00);
  }

  // Latch the register, turn port A to input, read cycle with port C's
  // lower bits selecting the keyboard line.
  uint8_t ReadRegister(uint8_t reg, uint8_t line = 0) {
    PpiWrite(*m, kControl, 0x82);
    PpiWrite(*m, kPortA, reg);
    PpiWrite(*m, kPortC, 0xC0);
    PpiWrite(*m, kPortC, 0x00);
    PpiWrite(*m, kControl, 0x92);
    PpiWrite(*m, kPortC, 0x40 | line);
    return PpiRead(*m, kPortA);
  }

  // One sample, read back from the ring (16-bit mono or the left channel).
  uint32_t Sample() {
    PsgSampleStep(*m);
    const PsgState& p = m->Psg;
    const uint8_t* b = p.Buffers[p.WriteIndex] + (p.SampleIndex - 1) * p.BlockAlign;
    return p.BitsPerSample == 8 ? b[0] : static_cast<uint32_t>(b[0] | (b[1] << 8));
  }

  int LevelOf(uint32_t sample) {
    for (int l = 15; l >= 0; --l)
      if (m->Psg.Volume[l] == sample) return l;
    return -1;
  }

  std::unique_ptr<Machine> m;
};

std::vector<int> Ramp(int from, int to) {
  std::vector<int> v;
  for (int l = from;; l += from < to ? 1 : -1) {
    v.push_back(l);
    if (l == to) break;
  }
  return v;
}

std::vector<int> Cat(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

TEST_F(PsgTest, EnvelopeShapesGiveTheirLevelSequences) {
  const std::vector<int> decay = Cat({Ramp(15, 0), {0, 0, 0, 0}});
  const std::vector<int> attackThenSilence = Cat({Ramp(0, 15), {0, 0, 0, 0}});
  const std::vector<int> sawDown = Cat({Ramp(15, 0), Ramp(15, 12)});
  const std::vector<int> triangleDown = Cat({Ramp(15, 0), Ramp(0, 15), Ramp(15, 13)});
  const std::vector<int> decayThenLoud = Cat({Ramp(15, 1), {15, 15, 15, 15}});
  const std::vector<int> sawUp = Cat({Ramp(0, 15), Ramp(0, 3)});
  const std::vector<int> attackThenLoud = Cat({Ramp(0, 15), {15, 15, 15, 15}});
  const std::vector<int> triangleUp = Cat({Ramp(0, 15), Ramp(15, 0), Ramp(0, 2)});
  const std::vector<int>* expected[16] = {
      &decay,      &decay,        &decay,         &decay,          &attackThenSilence, &attackThenSilence,
      &attackThenSilence, &attackThenSilence, &sawDown, &decay,   &triangleDown,      &decayThenLoud,
      &sawUp,      &attackThenLoud, &triangleUp,  &attackThenSilence};

  for (int shape = 0; shape < 16; ++shape) {
    SCOPED_TRACE("shape " + std::to_string(shape));
    PsgReset(m->Psg);
    WriteRegister(7, 0x3F);  // no tone, no noise: the level alone
    WriteRegister(8, 0x10);  // channel A follows the envelope
    WriteRegister(11, 3);    // one envelope step every 2 samples at 22050 Hz
    WriteRegister(12, 0);
    WriteRegister(13, static_cast<uint8_t>(shape));
    std::vector<int> levels;
    for (size_t i = 0; i < expected[shape]->size(); ++i) {
      Sample();  // counter 0 -> 1
      levels.push_back(LevelOf(Sample()));  // the step
    }
    EXPECT_EQ(levels, *expected[shape]);
  }
}

TEST_F(PsgTest, RewritingTheSameShapeRestartsTheEnvelope) {
  WriteRegister(7, 0x3F);
  WriteRegister(8, 0x10);
  WriteRegister(11, 3);
  WriteRegister(13, 0);
  for (int i = 0; i < 9; ++i) Sample();
  const int before = LevelOf(Sample());  // steps fall on even samples
  ASSERT_LT(before, 15);
  WriteRegister(13, 0);
  // The new start level arrives with the next step, not at once.
  EXPECT_EQ(LevelOf(Sample()), before);
  EXPECT_EQ(LevelOf(Sample()), 15);
}

// Samples between flip-flop toggles, measured from the output.
std::vector<int> RunLengths(const std::vector<uint32_t>& samples) {
  std::vector<int> runs;
  int run = 1;
  for (size_t i = 1; i < samples.size(); ++i) {
    if (samples[i] == samples[i - 1]) {
      ++run;
    } else {
      runs.push_back(run);
      run = 1;
    }
  }
  return runs;
}

TEST_F(PsgTest, ToneHalfPeriodFollowsTheSampleRate) {
  struct Case {
    uint32_t rate;
    uint16_t period;
    int samplesPerHalfWave;
  };
  const Case cases[] = {
      {44100, 284, 101},  // 218.3 Hz: 202 samples a wave
      {22050, 284, 51},
      {44100, 3, 2},      // the shortest period that still gives one sample
      {22050, 6, 2},
      {44100, 0, 4097},   // period 0 and periods below one sample: 4096
      {44100, 2, 4097},
      {22050, 5, 4097},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("rate " + std::to_string(c.rate) + " period " + std::to_string(c.period));
    PsgSetOutputFormat(m->Psg, c.rate, 1, 16);
    PsgReset(m->Psg);
    WriteRegister(7, 0x3E);  // tone A only
    WriteRegister(8, 15);
    WriteRegister(0, c.period & 0xFF);
    WriteRegister(1, c.period >> 8);
    std::vector<uint32_t> samples;
    for (int i = 0; i < c.samplesPerHalfWave * 5; ++i) samples.push_back(Sample());
    const std::vector<int> runs = RunLengths(samples);
    ASSERT_GE(runs.size(), 3u);
    // The first run is one short: the counter starts at 0 after reset.
    EXPECT_EQ(runs[0], c.samplesPerHalfWave - 1);
    for (size_t i = 1; i < runs.size(); ++i) EXPECT_EQ(runs[i], c.samplesPerHalfWave) << "run " << i;
  }
}

TEST_F(PsgTest, MixerOffGivesAConstantLevel) {
  WriteRegister(0, 1);  // a period that would toggle fast
  WriteRegister(6, 0);  // and the fastest noise
  WriteRegister(7, 0x3F);
  WriteRegister(8, 15);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(Sample(), m->Psg.Volume[15]) << "sample " << i;
}

TEST_F(PsgTest, NoiseSwitchesAChannelOnAndOff) {
  WriteRegister(6, 1);
  WriteRegister(7, 0x37);  // noise on A only
  WriteRegister(8, 15);
  int on = 0, off = 0;
  for (int i = 0; i < 2000; ++i) (Sample() ? on : off)++;
  EXPECT_GT(on, 100);
  EXPECT_GT(off, 100);
}

TEST_F(PsgTest, MixingPlacesChannelsAndNeverOverflows) {
  struct Case {
    uint32_t channels, bits;
    uint32_t left, right;  // with A, B, C all at level 15
  };
  const Case cases[] = {{1, 8, 255, 255}, {2, 8, 254, 254}, {1, 16, 32766, 32766}, {2, 16, 32766, 32766}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.bits) + " bits");
    PsgSetOutputFormat(m->Psg, 44100, c.channels, c.bits);
    WriteRegister(7, 0x3F);
    for (uint8_t r = 8; r <= 10; ++r) WriteRegister(r, 15);
    PsgSampleStep(*m);
    const PsgState& p = m->Psg;
    const uint8_t* b = p.Buffers[p.WriteIndex];
    auto at = [&](int i) { return c.bits == 8 ? b[i] : static_cast<uint32_t>(b[2 * i] | (b[2 * i + 1] << 8)); };
    EXPECT_EQ(at(0), c.left);
    if (c.channels == 2) {
      EXPECT_EQ(at(1), c.right);
    }
  }
  // Stereo: A left, C right, B on both.
  PsgSetOutputFormat(m->Psg, 44100, 2, 16);
  WriteRegister(8, 15);
  WriteRegister(9, 4);
  WriteRegister(10, 8);
  PsgSampleStep(*m);
  const uint8_t* b = m->Psg.Buffers[m->Psg.WriteIndex];
  EXPECT_EQ(b[0] | (b[1] << 8), 16383 + 362);
  EXPECT_EQ(b[2] | (b[3] << 8), 1448 + 362);
}

TEST_F(PsgTest, RegistersAreStoredWithTheirMasks) {
  const struct {
    uint8_t reg, written, read;
  } cases[] = {{0, 0xFF, 0xFF}, {1, 0xFF, 0x0F}, {5, 0xAB, 0x0B}, {6, 0xFF, 0x1F}, {7, 0xBF, 0xBF},
               {8, 0xFF, 0x1F}, {10, 0x3A, 0x1A}, {11, 0xFF, 0xFF}, {12, 0x81, 0x81}, {13, 0xFE, 0x0E}};
  for (const auto& c : cases) {
    WriteRegister(c.reg, c.written);
    EXPECT_EQ(ReadRegister(c.reg), c.read) << "R" << int(c.reg);
  }
}

TEST_F(PsgTest, AWriteWhilePortAIsInputDoesNotReachThePsg) {
  WriteRegister(8, 5);  // also leaves R8 latched
  PpiWrite(*m, kControl, 0x92);  // port A input, port C output
  PpiWrite(*m, kPortA, 12);       // ignored
  PpiWrite(*m, kPortC, 0x80);     // write cycle: nothing to write
  PpiWrite(*m, kPortC, 0xC0);     // latch cycle: nothing to latch
  EXPECT_EQ(m->Psg.Registers[8], 5);
  EXPECT_EQ(m->Psg.SelectedRegister, 8);
}

TEST_F(PsgTest, Register14ReadsTheSelectedKeyboardLine) {
  MatrixPress(m->Keyboard, 3, 0);
  MatrixPress(m->Keyboard, 3, 5);
  const uint8_t line3 = 0xDE;
  // PSG port A as input: the line itself.
  WriteRegister(7, 0x3F);
  EXPECT_EQ(ReadRegister(14, 3), line3);
  EXPECT_EQ(ReadRegister(14, 4), 0xFF);
  // As output: the line ANDed with R14.
  WriteRegister(7, 0x7F);
  WriteRegister(14, 0xF0);
  EXPECT_EQ(ReadRegister(14, 3), line3 & 0xF0);
  // Register 15 (no port B on the 8912): &FF as input, else R15.
  WriteRegister(15, 0x12);
  EXPECT_EQ(ReadRegister(15), 0xFF);
  WriteRegister(7, 0xBF);
  EXPECT_EQ(ReadRegister(15), 0x12);
}

TEST_F(PsgTest, ABatchFillsOneBufferAndOutputTrailsByFive) {
  PsgSetOutputFormat(m->Psg, 44100, 2, 16);
  m->Psg.SamplingEnabled = 1;
  EmulateTick(*m);
  EXPECT_EQ(m->Psg.WriteIndex, 5u);
  EXPECT_EQ(m->Psg.SampleIndex, 882u);
  EmulateTick(*m);
  EXPECT_EQ(m->Psg.WriteIndex, 6u);
  EXPECT_EQ(m->Psg.SampleIndex, 882u);

  // A batch longer than 20 ms still takes only 882 samples.
  m->MicrosecondsPerTick = 40000;
  EmulateTick(*m);
  EXPECT_EQ(m->Psg.WriteIndex, 7u);
  EXPECT_EQ(m->Psg.SampleIndex, 882u);

  // Play index: 0..5 behind, and back by five when it catches up.
  PsgSetOutputFormat(m->Psg, 22050, 1, 8);
  std::vector<uint32_t> played;
  for (int i = 0; i < 7; ++i) played.push_back(PsgNextPlayBuffer(m->Psg));
  EXPECT_EQ(played, (std::vector<uint32_t>{0, 1, 2, 3, 4, 0, 1}));
}

TEST_F(PsgTest, CollectingSamplesFollowsTheRing) {
  PsgSetOutputFormat(m->Psg, 22050, 1, 8);
  m->Psg.SamplingEnabled = 1;
  PsgRingCursor cursor;
  std::vector<uint8_t> out;
  PsgCollectSamples(m->Psg, cursor, out);
  EXPECT_TRUE(out.empty());
  m->MicrosecondsPerTick = 10000;  // half a buffer per batch
  for (int i = 0; i < 5; ++i) {
    EmulateTick(*m);
    PsgCollectSamples(m->Psg, cursor, out);
  }
  EXPECT_EQ(out.size(), 5u * 222);  // steps 45..9990: 222 samples a batch
}

TEST_F(PsgTest, ResetKeepsDerivedValuesUntilWritten) {
  WriteRegister(0, 200);
  const uint32_t half = m->Psg.Tone[0].HalfPeriod;
  PsgReset(m->Psg);
  EXPECT_EQ(m->Psg.Registers[0], 0);
  EXPECT_EQ(m->Psg.Tone[0].HalfPeriod, half);
  EXPECT_EQ(m->Psg.Tone[0].FlipFlop, 1);
  EXPECT_EQ(m->Psg.Envelope.Restart, 1);
}

}  // namespace
