#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "core/machine.h"
#include "devices/psg.h"
#include "sound_measure.h"

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

  // Runs the chip alone for `microseconds` in 20 ms batches and returns
  // the first output channel of the buffers it completed.
  std::vector<int> Play(uint32_t microseconds, uint32_t channel = 0) {
    PsgState& p = m->Psg;
    PsgRingCursor cursor;
    std::vector<uint8_t> bytes;
    PsgCollectSamples(p, cursor, bytes);
    for (uint32_t done = 0; done < microseconds; done += 20000) {
      PsgBeginBatch(p, 20000);
      PsgEndBatch(p);
      PsgCollectSamples(p, cursor, bytes);
    }
    return DecodePcm(bytes.data(), bytes.size(), p.SampleRate, p.Channels, p.BitsPerSample).Channel[channel];
  }

  // Steps the chip one tick (8 microseconds) at a time for `ticks` ticks,
  // calling `look` after each.
  template <typename Look>
  void Ticks(uint32_t ticks, Look look) {
    PsgState& p = m->Psg;
    while (ticks > 0) {
      const uint32_t batch = std::min<uint32_t>(ticks, 2500);
      PsgBeginBatch(p, batch * 8);
      for (uint32_t t = 8; t <= batch * 8; t += 8) {
        PsgSampleStep(p, t);
        look();
      }
      PsgEndBatch(p);
      ticks -= batch;
    }
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
    WriteRegister(11, 1);    // one step every 16 microseconds
    WriteRegister(12, 0);
    WriteRegister(13, static_cast<uint8_t>(shape));
    std::vector<int> levels;
    // The level after each step (the first one sets the start level).
    Ticks(static_cast<uint32_t>(expected[shape]->size() * 2), [&] {
      if (m->Psg.Envelope.Counter == 0) levels.push_back(m->Psg.Envelope.Level);
    });
    EXPECT_EQ(levels, *expected[shape]);
  }
}

TEST_F(PsgTest, RewritingTheSameShapeRestartsTheEnvelope) {
  WriteRegister(7, 0x3F);
  WriteRegister(8, 0x10);
  WriteRegister(11, 1);
  WriteRegister(13, 0);
  Ticks(10, [] {});  // five steps: 15 down to 11
  ASSERT_EQ(m->Psg.Envelope.Level, 11);
  WriteRegister(13, 0);
  // The new start level arrives with the next step, not at once.
  EXPECT_EQ(m->Psg.Envelope.Level, 11);
  Ticks(2, [] {});
  EXPECT_EQ(m->Psg.Envelope.Level, 15);
}

// A new period takes effect as on the chip: the counter keeps running, and
// one already past the new period wraps on the next tick.
TEST_F(PsgTest, ANewTonePeriodKeepsTheCounterRunning) {
  WriteRegister(7, 0x3E);
  WriteRegister(8, 15);
  WriteRegister(0, 100);
  std::vector<uint32_t> toggles;
  uint32_t tick = 0;
  uint8_t flipFlop = m->Psg.Tone[0].FlipFlop;
  auto watch = [&] {
    ++tick;
    if (m->Psg.Tone[0].FlipFlop != flipFlop) toggles.push_back(tick);
    flipFlop = m->Psg.Tone[0].FlipFlop;
  };
  Ticks(150, watch);  // toggles at 100; counter at 50
  WriteRegister(0, 200);
  Ticks(150, watch);  // next at 150 + 150
  WriteRegister(0, 30);  // counter at 0 after the toggle at 300
  Ticks(40, watch);
  WriteRegister(0, 100);
  Ticks(50, watch);  // counter 10 + 50 = 60: no toggle
  WriteRegister(0, 20);
  Ticks(3, watch);  // already past 20: wraps at once
  EXPECT_EQ(toggles, (std::vector<uint32_t>{100, 300, 330, 391}));
}

// The real chip's rates at 1 MHz: a tone of period P is 62500 / P Hz, the
// noise register shifts 62500 / R6 times a second, a saw envelope repeats
// at 62500 / (16 x period) Hz and a triangle at half that.
TEST_F(PsgTest, FrequenciesMatchTheChip) {
  struct Case {
    const char* what;
    std::vector<std::pair<uint8_t, uint8_t>> writes;
    double hz;
  };
  auto tone = [](uint16_t period) {
    return std::vector<std::pair<uint8_t, uint8_t>>{
        {7, 0x3E}, {8, 15}, {0, period & 0xFF}, {1, static_cast<uint8_t>(period >> 8)}};
  };
  auto envelope = [](uint8_t shape, uint16_t period) {
    return std::vector<std::pair<uint8_t, uint8_t>>{
        {7, 0x3F}, {8, 0x10}, {11, period & 0xFF}, {12, static_cast<uint8_t>(period >> 8)}, {13, shape}};
  };
  const Case audible[] = {
      {"tone 71", tone(71), 62500.0 / 71},       {"tone 142", tone(142), 62500.0 / 142},
      {"tone 284", tone(284), 62500.0 / 284},    {"tone 1000", tone(1000), 62.5},
      {"tone 4095", tone(4095), 62500.0 / 4095}, {"envelope 8/1", envelope(8, 1), 62500.0 / 16},
      {"envelope 8/30", envelope(8, 30), 62500.0 / 480},  {"envelope 10/5", envelope(10, 5), 62500.0 / 160},
      {"envelope 12/100", envelope(12, 100), 62500.0 / 1600}, {"envelope 14/2", envelope(14, 2), 62500.0 / 64},
  };
  for (const uint32_t rate : {22050u, 44100u, 48000u}) {
    for (const Case& c : audible) {
      if (c.hz > rate * 0.4) continue;
      SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(rate));
      PsgSetOutputFormat(m->Psg, rate, 1, 16);
      PsgReset(m->Psg);
      for (const auto& [reg, value] : c.writes) WriteRegister(reg, value);
      std::vector<int> s = Play(3000000);
      s.erase(s.begin(), s.begin() + rate / 10);  // the high-pass settles
      int peak = 0;
      for (int v : s) peak = std::max(peak, std::abs(v));
      // A saw of logarithmic levels spends most of its time just below the
      // centre, so its hysteresis is smaller; a square's must stay above the
      // band-limited edge's ripple.
      const bool saw = c.what[0] == 'e';
      const double hz = CrossingFrequency(s, rate, 0, saw ? peak / 8 : peak / 4);
      EXPECT_NEAR(hz, c.hz, c.hz * 0.002);
    }
  }

  // Above the output's range the generators are counted in the chip.
  struct ChipCase {
    const char* what;
    uint8_t reg, value;
    double hz;
  };
  const ChipCase chip[] = {{"tone 1", 0, 1, 62500}, {"tone 142", 0, 142, 62500.0 / 142},
                           {"noise 1", 6, 1, 62500}, {"noise 31", 6, 31, 62500.0 / 31}};
  for (const ChipCase& c : chip) {
    SCOPED_TRACE(c.what);
    PsgReset(m->Psg);
    WriteRegister(7, 0x36);  // tone and noise on A
    WriteRegister(8, 15);
    WriteRegister(c.reg, c.value);
    uint32_t changes = 0;
    uint32_t shift = m->Psg.Noise.ShiftRegister;
    uint8_t flipFlop = m->Psg.Tone[0].FlipFlop;
    Ticks(125000, [&] {  // one second
      if (c.reg == 6 && m->Psg.Noise.ShiftRegister != shift) ++changes;
      if (c.reg == 0 && m->Psg.Tone[0].FlipFlop != flipFlop) ++changes;
      shift = m->Psg.Noise.ShiftRegister;
      flipFlop = m->Psg.Tone[0].FlipFlop;
    });
    const double hz = c.reg == 0 ? changes / 2.0 : changes;
    EXPECT_NEAR(hz, c.hz, c.hz * 0.002);
  }
}

TEST_F(PsgTest, NoiseIsTheChips17BitRegister) {
  WriteRegister(6, 1);
  const uint32_t start = m->Psg.Noise.ShiftRegister;
  uint32_t shifts = 0, repeat = 0, last = start;
  int ones = 0;
  Ticks(2 * 131071, [&] {
    if (m->Psg.Noise.ShiftRegister == last) return;
    last = m->Psg.Noise.ShiftRegister;
    ++shifts;
    ones += m->Psg.Noise.Output;
    if (last == start && repeat == 0) repeat = shifts;
  });
  EXPECT_EQ(repeat, 131071u) << "a maximal-length 17-bit sequence";
  EXPECT_EQ(ones, 65536) << "2^16 ones in a cycle";
}

// The chip's tone at 15.6 kHz has harmonics far above half the output rate;
// stepped into the output unfiltered they would fold back to 2.8 kHz,
// 10 kHz and more.
TEST_F(PsgTest, AToneNearTheTopDoesNotAliasIntoTheAudibleBand) {
  PsgSetOutputFormat(m->Psg, 44100, 1, 16);
  WriteRegister(7, 0x3E);
  WriteRegister(8, 15);
  WriteRegister(0, 4);  // 15625 Hz
  std::vector<int> s = Play(1000000);
  s.erase(s.begin(), s.begin() + 4410);
  constexpr size_t kSize = 32768;
  const std::vector<double> spectrum = Spectrum(s, kSize);
  const double binHz = 44100.0 / kSize;
  const size_t fundamental = static_cast<size_t>(std::lround(15625 / binHz));
  double peak = 0;
  for (size_t i = fundamental - 4; i <= fundamental + 4; ++i) peak = std::max(peak, spectrum[i]);
  double worst = 0, worstHz = 0;
  for (size_t i = static_cast<size_t>(20 / binHz); i < static_cast<size_t>(20000 / binHz); ++i) {
    if (i + 8 > fundamental && i < fundamental + 8) continue;  // the window's main lobe
    if (spectrum[i] > worst) worst = spectrum[i], worstHz = i * binHz;
  }
  EXPECT_LT(20 * std::log10(worst / peak), -40.0) << "strongest other component at " << worstHz << " Hz";
}

TEST_F(PsgTest, SilenceIsTheCentreAndTonesSwingAroundIt) {
  struct Format {
    uint32_t rate, channels, bits;
  };
  for (const Format f : {Format{22050, 1, 8}, Format{44100, 2, 8}, Format{44100, 1, 16}, Format{48000, 2, 16}}) {
    SCOPED_TRACE(std::to_string(f.rate) + " Hz, " + std::to_string(f.channels) + " channels, " +
                 std::to_string(f.bits) + " bits");
    PsgSetOutputFormat(m->Psg, f.rate, f.channels, f.bits);
    PsgReset(m->Psg);
    const int centre = f.bits == 8 ? 128 : 0;
    for (uint32_t ch = 0; ch < f.channels; ++ch) {
      const std::vector<int> before = Play(100000, ch);
      EXPECT_EQ(std::count(before.begin(), before.end(), centre), static_cast<long>(before.size()));
    }
    WriteRegister(7, 0x3E);
    WriteRegister(8, 15);
    WriteRegister(0, 142);
    std::vector<int> tone = Play(400000);
    tone.erase(tone.begin(), tone.begin() + tone.size() / 2);  // settled
    const double mean = std::accumulate(tone.begin(), tone.end(), 0.0) / tone.size();
    const auto [low, high] = std::minmax_element(tone.begin(), tone.end());
    EXPECT_NEAR(mean, centre, (*high - *low) * 0.02);
    EXPECT_LT(*low, centre - (*high - *low) / 3);
    EXPECT_GT(*high, centre + (*high - *low) / 3);
    // Stopped: after the high-pass has settled, a second of exact silence.
    WriteRegister(8, 0);
    Play(200000);
    for (uint32_t ch = 0; ch < f.channels; ++ch) {
      const std::vector<int> after = Play(1000000, ch);
      EXPECT_EQ(std::count(after.begin(), after.end(), centre), static_cast<long>(after.size())) << "channel " << ch;
    }
  }
}

TEST_F(PsgTest, MixingPlacesChannelsAndNeverOverflows) {
  struct Case {
    uint32_t channels, bits;
    int32_t left, right;  // with A, B, C all at level 15
  };
  const Case cases[] = {{1, 8, 255, 0}, {2, 8, 254, 254}, {1, 16, 32766, 0}, {2, 16, 32766, 32766}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.bits) + " bits");
    PsgSetOutputFormat(m->Psg, 44100, c.channels, c.bits);
    WriteRegister(7, 0x3F);
    for (uint8_t r = 8; r <= 10; ++r) WriteRegister(r, 15);
    EXPECT_EQ(m->Psg.Amplitude[0], c.left);
    if (c.channels == 2) {
      EXPECT_EQ(m->Psg.Amplitude[1], c.right);
    }
    // The step into full level stays inside the sample range.
    const std::vector<int> s = Play(100000);
    EXPECT_GT(*std::max_element(s.begin(), s.end()), c.bits == 8 ? 200 : 25000);
  }
  // Stereo: A left, C right, B on both.
  PsgSetOutputFormat(m->Psg, 44100, 2, 16);
  WriteRegister(8, 15);
  WriteRegister(9, 4);
  WriteRegister(10, 8);
  EXPECT_EQ(m->Psg.Amplitude[0], 16383 + 362);
  EXPECT_EQ(m->Psg.Amplitude[1], 1448 + 362);
  // A tone on A alone leaves the right channel silent.
  WriteRegister(9, 0);
  WriteRegister(10, 0);
  WriteRegister(7, 0x3E);
  const std::vector<int> right = Play(200000, 1);
  EXPECT_EQ(std::count(right.begin(), right.end(), 0), static_cast<long>(right.size()));
}

// A write lands at its microsecond: moving it by 5000 of a batch's 20000
// microseconds moves the step in the output by a quarter of the buffer.
TEST_F(PsgTest, AWriteLandsAtItsMicrosecond) {
  PsgSetOutputFormat(m->Psg, 44100, 1, 16);
  WriteRegister(7, 0x3F);
  auto stepAt = [&](uint32_t microsecond) {
    PsgReset(m->Psg);
    WriteRegister(7, 0x3F);
    WriteRegister(8, 0);
    Play(100000);
    PsgState& p = m->Psg;
    PsgRingCursor cursor;
    std::vector<uint8_t> bytes;
    PsgCollectSamples(p, cursor, bytes);
    PsgBeginBatch(p, 20000);
    p.Now = microsecond;
    WriteRegister(8, 15);
    PsgEndBatch(p);
    PsgCollectSamples(p, cursor, bytes);
    const std::vector<int> s = DecodePcm(bytes.data(), bytes.size(), 44100, 1, 16).Channel[0];
    for (size_t i = 1; i < s.size(); ++i)  // half way up the step
      if (s[i] >= 10922 / 2) return i - 1 + static_cast<double>(10922 / 2 - s[i - 1]) / (s[i] - s[i - 1]);
    return -1.0;
  };
  const double early = stepAt(5000), late = stepAt(10000);
  ASSERT_GT(early, 0);
  EXPECT_NEAR(late - early, 220.5, 0.1);
}

// Each batch is one buffer whatever the speed: slower machine time is
// stretched over it, faster compressed, so the sound stays with the picture.
TEST_F(PsgTest, EachBatchFillsOneBufferAtEverySpeed) {
  PsgSetOutputFormat(m->Psg, 44100, 1, 16);
  m->Psg.SamplingEnabled = 1;
  WriteRegister(7, 0x3E);
  WriteRegister(8, 15);
  WriteRegister(0, 142);
  for (const uint32_t microseconds : {10000u, 20000u, 40000u, 0u}) {
    SCOPED_TRACE(microseconds);
    m->MicrosecondsPerTick = microseconds;
    PsgRingCursor cursor;
    std::vector<uint8_t> bytes;
    PsgCollectSamples(m->Psg, cursor, bytes);
    const uint32_t write = m->Psg.WriteIndex;
    for (int i = 0; i < 150; ++i) {
      EmulateTick(*m);
      PsgCollectSamples(m->Psg, cursor, bytes);
    }
    EXPECT_EQ(m->Psg.WriteIndex, (write + 150) & 15);
    ASSERT_EQ(bytes.size(), 150u * 882 * 2);
    std::vector<int> s = DecodePcm(bytes.data(), bytes.size(), 44100, 1, 16).Channel[0];
    s.erase(s.begin(), s.begin() + 4410);
    const double hz = CrossingFrequency(s, 44100, 0, 2000);
    if (microseconds == 0) {
      EXPECT_EQ(hz, 0) << "a frozen machine holds its level";
    } else {
      EXPECT_NEAR(hz, 62500.0 / 142 * microseconds / 20000, 1.0);
    }
  }
}

TEST_F(PsgTest, CollectingSamplesFollowsTheRing) {
  PsgSetOutputFormat(m->Psg, 22050, 1, 8);
  m->Psg.SamplingEnabled = 1;
  PsgRingCursor cursor;
  std::vector<uint8_t> out;
  PsgCollectSamples(m->Psg, cursor, out);
  EXPECT_TRUE(out.empty());
  for (int i = 0; i < 5; ++i) {
    EmulateTick(*m);
    PsgCollectSamples(m->Psg, cursor, out);
  }
  EXPECT_EQ(out.size(), 5u * 441);
  // Nothing new without a batch.
  PsgCollectSamples(m->Psg, cursor, out);
  EXPECT_EQ(out.size(), 5u * 441);
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
