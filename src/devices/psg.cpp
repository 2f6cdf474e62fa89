#include "devices/psg.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/machine.h"

namespace {

// Level 0..15 to output amplitude, about 3 dB a step. Each table is scaled
// so that the widest sum (three channels mono, two stereo), swinging around
// the centre once the high-pass has taken its mean away, fits the sample.
constexpr uint16_t kVolumeMono8[16] = {0, 1, 1, 1, 2, 3, 4, 5, 7, 10, 15, 21, 30, 42, 60, 85};
constexpr uint16_t kVolumeStereo8[16] = {0, 1, 1, 2, 3, 4, 6, 8, 11, 16, 22, 32, 45, 64, 90, 127};
constexpr uint16_t kVolumeMono16[16] = {0,    85,   121,  170,  241,  341,  483,  683,
                                        965,  1365, 1931, 2730, 3862, 5461, 7723, 10922};
constexpr uint16_t kVolumeStereo16[16] = {0,    128,  181,  256,  362,  512,  724,   1024,
                                          1448, 2048, 2896, 4096, 5796, 8192, 11585, 16383};

// Band-limited steps: a Kaiser-windowed sinc, cut at 0.45 of the output
// rate, tabulated for 256 fractional positions, each row summing to 1.
// Floats, so a step costs a few vector operations; the rounding they leave
// in the running sum is a DC offset the high-pass takes out.
constexpr int kPhaseBits = 8;
constexpr uint32_t kPhases = 1u << kPhaseBits;

struct StepKernel {
  alignas(64) float Taps[kPhases][kPsgKernelTaps];
  StepKernel() {
    constexpr double kCutoff = 0.45, kBeta = 7.0, kPi = 3.14159265358979323846;
    const double half = kPsgKernelTaps / 2.0, centre = half - 1.0;
    auto bessel0 = [](double x) {
      double sum = 1, term = 1;
      for (int k = 1; k < 30; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
      }
      return sum;
    };
    for (uint32_t f = 0; f < kPhases; ++f) {
      double row[kPsgKernelTaps], total = 0;
      for (uint32_t k = 0; k < kPsgKernelTaps; ++k) {
        const double t = k - static_cast<double>(f) / kPhases - centre;
        const double r = t / half;
        const double window = r * r < 1 ? bessel0(kBeta * std::sqrt(1 - r * r)) / bessel0(kBeta) : 0;
        const double x = 2 * kCutoff * t;
        const double sinc = x == 0 ? 1 : std::sin(kPi * x) / (kPi * x);
        row[k] = window * sinc;
        total += row[k];
      }
      for (uint32_t k = 0; k < kPsgKernelTaps; ++k) Taps[f][k] = static_cast<float>(row[k] / total);
    }
  }
};
const StepKernel kStepKernel;

// Periods of 0 count as 1, as on the chip (the counter reaches them at once).
uint32_t ToneHalfPeriod(const PsgState& p, int channel) {
  const uint32_t period = p.Registers[channel * 2] + 256u * p.Registers[channel * 2 + 1];
  return period == 0 ? 1 : period;
}

// The shift register moves on every second count: 62500 / R6 times a second.
uint32_t NoiseStep(const PsgState& p) { return p.Registers[6] == 0 ? 1 : p.Registers[6]; }

// One step per 16 microseconds of the period: two chip ticks.
uint32_t EnvelopeStep(const PsgState& p) {
  const uint32_t period = p.Registers[11] + 256u * p.Registers[12];
  return 2 * (period == 0 ? 1 : period);
}

void ApplyMixer(PsgState& p) {
  const uint8_t r7 = p.Registers[7];
  for (int c = 0; c < 3; ++c) {
    p.Tone[c].ToneEnabled = !(r7 & (1 << c));
    p.Tone[c].NoiseEnabled = !(r7 & (8 << c));
  }
  p.PortAInput = !(r7 & 0x40);
  p.PortBInput = !(r7 & 0x80);
}

void ApplyVolume(PsgState& p, int channel) {
  const uint8_t r = p.Registers[8 + channel];
  p.Tone[channel].FixedVolume = r & 0x0F;
  p.Tone[channel].EnvelopeMode = (r >> 4) & 1;
}

// The new start level is set by the next envelope step, not at once.
void RestartEnvelope(PsgEnvelope& e) {
  e.Hold = 0;
  e.Restart = 1;
}

void RunEnvelopeStep(PsgEnvelope& e) {
  if (e.Restart) {
    e.Restart = 0;
    switch (e.Shape) {
      case 4: case 5: case 6: case 7: case 12: case 13: case 14: case 15:
        e.Level = 0;
        e.Down = 0;
        break;
      default:
        e.Level = 15;
        e.Down = 1;
        break;
    }
    return;
  }
  if (e.Hold) return;
  switch (e.Shape) {
    case 0: case 1: case 2: case 3: case 9:  // decay, then silence
      if (e.Level > 0) --e.Level; else e.Hold = 1;
      break;
    case 4: case 5: case 6: case 7: case 15:  // attack, then silence
      if (e.Level < 15) {
        ++e.Level;
      } else {
        e.Level = 0;
        e.Hold = 1;
      }
      break;
    case 8:  // repeated decay
      e.Level = (e.Level - 1) & 15;
      break;
    case 11:  // decay, then loud
      if (e.Level > 1) {
        --e.Level;
      } else {
        e.Level = 15;
        e.Hold = 1;
      }
      break;
    case 12:  // repeated attack
      e.Level = (e.Level + 1) & 15;
      break;
    case 13:  // attack, then loud
      if (e.Level < 15) ++e.Level; else e.Hold = 1;
      break;
    case 10: case 14:  // triangles: each end value lasts two steps
      if (e.Down) {
        if (e.Level == 0) e.Down = 0; else --e.Level;
      } else {
        if (e.Level == 15) e.Down = 1; else ++e.Level;
      }
      break;
  }
}

inline void Store16(uint8_t* at, int32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

// Chip ticks until a counter that counts up to `period` reaches it: a
// counter already past a newly shortened period wraps on the next tick.
inline uint32_t TicksLeft(uint32_t counter, uint32_t period) { return counter < period ? period - counter : 1; }

// Runs a counter n ticks; returns how many times it reached its period.
inline uint32_t RunCounter(uint32_t& counter, uint32_t period, uint32_t n) {
  const uint32_t left = TicksLeft(counter, period);
  if (n < left) {
    counter += n;
    return 0;
  }
  n -= left;
  uint32_t wraps = 1;
  if (n >= period) {
    wraps += n / period;
    n %= period;
  }
  counter = n;
  return wraps;
}

void RunNoise(PsgNoise& z, uint32_t n) {
  const uint32_t counts = RunCounter(z.Counter, z.Step, n);
  if (counts == 0) return;
  // The register shifts when the prescaler falls back to 0.
  uint32_t shifts = (counts + z.Prescaler) / 2;
  z.Prescaler = static_cast<uint8_t>((z.Prescaler + counts) & 1);
  shifts %= 0x1FFFF;  // the register's cycle
  uint32_t r = z.ShiftRegister;
  // AY-3-8910 (MAME ay8910.cpp, verified on chips): 17 bits, the input is
  // bit 0 XOR bit 3, and bit 0 is the output.
  for (uint32_t i = 0; i < shifts; ++i) r = (r >> 1) | (((r ^ (r >> 3)) & 1) << 16);
  z.ShiftRegister = r;
  z.Output = static_cast<uint8_t>(r & 1);
}

void RunEnvelope(PsgEnvelope& e, uint32_t n) {
  uint32_t steps = RunCounter(e.Counter, e.Step, n);
  if (steps == 0) return;
  if (e.Restart) {
    RunEnvelopeStep(e);
    --steps;
  }
  switch (e.Shape) {
    case 8: case 10: case 12: case 14:
      steps %= 32;  // the repeating shapes come round in 16 or 32 steps
      break;
    default:
      steps = std::min<uint32_t>(steps, 17);  // the others hold within 16
      break;
  }
  while (steps-- > 0 && !e.Hold) RunEnvelopeStep(e);
}

// Which generators can change the output at once. The others still run,
// in closed form, so their phase is right when they become audible.
void UpdateLive(PsgState& p) {
  uint8_t noise = 0, envelope = 0;
  for (int c = 0; c < 3; ++c) {
    const PsgTone& t = p.Tone[c];
    const bool audible = t.EnvelopeMode || t.FixedVolume != 0;
    p.ToneLive[c] = t.ToneEnabled && audible;
    noise |= t.NoiseEnabled && audible;
    envelope |= t.EnvelopeMode;
  }
  p.NoiseLive = noise;
  p.EnvelopeLive = envelope && (p.Envelope.Restart || !p.Envelope.Hold);
}

void AddSteps(PsgState& p, const float delta[2], uint32_t at) {
  const uint64_t phase = (at * p.PositionScale + 0x8000) >> 16;
  const uint32_t index = std::min(static_cast<uint32_t>(phase >> kPhaseBits), p.SamplesPerBuffer);
  const float* taps = kStepKernel.Taps[phase & (kPhases - 1)];
  p.StepsAdded = 1;
  for (uint32_t ch = 0; ch < p.Channels; ++ch) {
    float* steps = p.Steps[ch] + index;
    const float d = delta[ch];
    for (uint32_t k = 0; k < kPsgKernelTaps; ++k) steps[k] += d * taps[k];
  }
}

// The channels' levels at machine microsecond `at` of the batch, fed to the
// output where they changed.
void Mix(PsgState& p, uint32_t at) {
  int32_t amplitude[3];
  for (int c = 0; c < 3; ++c) {
    const PsgTone& t = p.Tone[c];
    // The chip's mixer: a channel sounds while both its enabled sources are
    // high (AY-3-8910 data sheet, mixer).
    const bool on = (t.FlipFlop || !t.ToneEnabled) && (p.Noise.Output || !t.NoiseEnabled);
    amplitude[c] = on ? p.Volume[t.EnvelopeMode ? p.Envelope.Level : t.FixedVolume] : 0;
  }
  // A on the left, C on the right, B on both at full weight.
  int32_t out[2] = {amplitude[0] + amplitude[1] + amplitude[2], 0};
  if (p.Channels == 2) {
    out[0] = amplitude[0] + amplitude[1];
    out[1] = amplitude[2] + amplitude[1];
  }
  if (out[0] == p.Amplitude[0] && out[1] == p.Amplitude[1]) return;
  const float delta[2] = {static_cast<float>(out[0] - p.Amplitude[0]), static_cast<float>(out[1] - p.Amplitude[1])};
  AddSteps(p, delta, at);
  p.Amplitude[0] = out[0];
  p.Amplitude[1] = out[1];
}

// Runs the chip from where it stands to microsecond `to` of the batch, one
// stretch of ticks per change of an audible generator.
void RunChip(PsgState& p, uint32_t to) {
  to = std::min(to, p.BatchMicroseconds);
  while (p.NextTick <= to) {
    uint32_t n = (to - p.NextTick) / 8 + 1;  // ticks due up to `to`
    for (int c = 0; c < 3; ++c)
      if (p.ToneLive[c]) n = std::min(n, TicksLeft(p.Tone[c].Counter, p.Tone[c].HalfPeriod));
    if (p.NoiseLive) {
      // Only every second count shifts the register.
      n = std::min(n, TicksLeft(p.Noise.Counter, p.Noise.Step) + (p.Noise.Prescaler ? 0 : p.Noise.Step));
    }
    if (p.EnvelopeLive) n = std::min(n, TicksLeft(p.Envelope.Counter, p.Envelope.Step));
    const uint32_t at = p.NextTick + (n - 1) * 8;
    for (PsgTone& t : p.Tone) {
      const uint32_t toggles = RunCounter(t.Counter, t.HalfPeriod, n);
      t.FlipFlop ^= static_cast<uint8_t>(toggles & 1);
    }
    RunNoise(p.Noise, n);
    if (p.EnvelopeLive) {
      RunEnvelope(p.Envelope, n);
      UpdateLive(p);  // a finished envelope holds
    } else {
      RunEnvelope(p.Envelope, n);
    }
    p.NextTick = at + 8;
    Mix(p, at);
  }
  p.RenderedTo = std::max(p.RenderedTo, to);
}

void ClearOutput(PsgState& p) {
  std::memset(p.Steps, 0, sizeof p.Steps);
  p.StepsAdded = p.StepsCarried = 0;
  for (int ch = 0; ch < 2; ++ch) p.Amplitude[ch] = 0, p.Sum[ch] = 0, p.Average[ch] = 0;
}

}  // namespace

void PsgSetOutputFormat(PsgState& p, uint32_t rate, uint32_t channels, uint32_t bits) {
  if (rate != 22050 && rate != 44100 && rate != 48000) rate = 22050;
  if (channels != 1 && channels != 2) channels = 1;
  if (bits != 8 && bits != 16) bits = 8;
  p.SampleRate = rate;
  p.Channels = channels;
  p.BitsPerSample = bits;

  const uint16_t* table;
  if (bits == 8) {
    p.Format = channels == 1 ? PsgFormat::Mono8 : PsgFormat::Stereo8;
    table = channels == 1 ? kVolumeMono8 : kVolumeStereo8;
  } else {
    p.Format = channels == 1 ? PsgFormat::Mono16 : PsgFormat::Stereo16;
    table = channels == 1 ? kVolumeMono16 : kVolumeStereo16;
  }
  std::memcpy(p.Volume, table, sizeof p.Volume);

  p.SamplesPerBuffer = rate / 50;
  p.BlockAlign = channels * bits / 8;
  p.BufferBytes = p.SamplesPerBuffer * p.BlockAlign;
  // The high-pass settles in about 12 ms (a corner near 14 Hz), like the
  // coupling capacitor of the CPC's amplifier.
  p.HighPass = 1.0 / (rate >= 44100 ? 512 : 256);

  std::memset(p.Buffers, bits == 8 ? 128 : 0, sizeof p.Buffers);
  p.WriteIndex = 0;
  p.BatchMicroseconds = p.RenderedTo = p.Now = 0;
  p.PositionScale = 0;
  if (p.NextTick == 0) p.NextTick = 8;
  ClearOutput(p);
  PsgRecomputeDerived(p);
}

void PsgRecomputeDerived(PsgState& p) {
  for (int c = 0; c < 3; ++c) {
    p.Tone[c].HalfPeriod = ToneHalfPeriod(p, c);
    ApplyVolume(p, c);
  }
  p.Noise.Step = NoiseStep(p);
  p.Envelope.Step = EnvelopeStep(p);
  p.Envelope.Shape = p.Registers[13] & 0x0F;
  ApplyMixer(p);
  UpdateLive(p);
  Mix(p, p.RenderedTo);
}

void PsgReset(PsgState& p) {
  std::memset(p.Registers, 0, sizeof p.Registers);
  p.SelectedRegister = 0;
  p.DataBus = 0xFF;
  for (PsgTone& t : p.Tone) {
    t.Counter = 0;
    t.FlipFlop = 1;
  }
  // A shift register of zeros would stay silent for ever; the chip's reset
  // leaves it at 1 (MAME ay8910.cpp).
  p.Noise.ShiftRegister = 1;
  p.Noise.Output = 1;
  p.Noise.Prescaler = 0;
  p.Noise.Counter = 0;
  p.Envelope.Counter = 0;
  p.Envelope.Restart = 1;
  p.Envelope.Hold = 0;
  // The derived periods and switches keep their values until the registers
  // are written again; a machine that never had a format gets the default
  // one, which also derives them from the cleared registers.
  if (p.SampleRate == 0) PsgSetOutputFormat(p, 22050, 1, 8);
  UpdateLive(p);
  Mix(p, p.RenderedTo);
}

void PsgWriteRegister(PsgState& p, uint8_t reg, uint8_t value) {
  reg &= 0x0F;
  if (reg >= 14) {  // the I/O ports: no sound
    p.Registers[reg] = value;
    return;
  }
  // The chip has played up to this moment with the old value.
  RunChip(p, p.Now);
  switch (reg) {
    case 0: case 2: case 4:
      p.Registers[reg] = value;
      p.Tone[reg / 2].HalfPeriod = ToneHalfPeriod(p, reg / 2);
      break;
    case 1: case 3: case 5:
      p.Registers[reg] = value & 0x0F;
      p.Tone[reg / 2].HalfPeriod = ToneHalfPeriod(p, reg / 2);
      break;
    case 6:
      p.Registers[6] = value & 0x1F;
      p.Noise.Step = NoiseStep(p);
      break;
    case 7:
      p.Registers[7] = value;
      ApplyMixer(p);
      break;
    case 8: case 9: case 10:
      p.Registers[reg] = value & 0x1F;
      ApplyVolume(p, reg - 8);
      break;
    case 11: case 12:
      p.Registers[reg] = value;
      p.Envelope.Step = EnvelopeStep(p);
      RestartEnvelope(p.Envelope);
      break;
    case 13:
      // Rewriting the same shape restarts it too: that is how programs
      // retrigger an envelope.
      p.Registers[13] = value & 0x0F;
      p.Envelope.Shape = value & 0x0F;
      RestartEnvelope(p.Envelope);
      break;
  }
  UpdateLive(p);
  Mix(p, p.RenderedTo);
}

uint8_t PsgReadRegister(const Machine& m) {
  const PsgState& p = m.Psg;
  const uint8_t reg = p.SelectedRegister & 0x0F;
  if (reg < 14) return p.Registers[reg];
  if (reg == 14) {
    // The keyboard line PPI port C selects; an output port can only pull
    // bits low.
    const uint8_t line = KeyboardLine(m.Keyboard, m.Ppi.PortC & 0x0F);
    return p.PortAInput ? line : static_cast<uint8_t>(line & p.Registers[14]);
  }
  return p.PortBInput ? 0xFF : p.Registers[15];
}

void PsgBusControl(Machine& m, uint8_t function) {
  PsgState& p = m.Psg;
  switch (function & 0xC0) {
    case 0x40: {  // read
      const uint8_t value = PsgReadRegister(m);
      if (m.Ppi.PortAInput) m.Ppi.PortA = value; else p.DataBus = value;
      break;
    }
    case 0x80:  // write
      p.DataBus = 0xFF;
      if (!m.Ppi.PortAInput) PsgWriteRegister(p, p.SelectedRegister, m.Ppi.PortA);
      break;
    case 0xC0:  // latch address
      p.DataBus = 0xFF;
      if (!m.Ppi.PortAInput) p.SelectedRegister = m.Ppi.PortA & 0x0F;
      break;
    default:  // inactive
      break;
  }
}

void PsgBeginBatch(PsgState& p, uint32_t microseconds) {
  p.BatchMicroseconds = microseconds;
  p.RenderedTo = p.Now = 0;
  // The batch, whatever its length, fills one buffer.
  p.PositionScale =
      microseconds ? (static_cast<uint64_t>(p.SamplesPerBuffer) << (kPhaseBits + 16)) / microseconds : 0;
  UpdateLive(p);
}

void PsgSampleStep(PsgState& p, uint32_t microsecond) { RunChip(p, microsecond); }

void PsgEndBatch(PsgState& p) {
  RunChip(p, p.BatchMicroseconds);
  const uint32_t n = p.SamplesPerBuffer;
  const uint32_t channels = p.Channels;
  const bool wide = p.BitsPerSample == 16;
  uint8_t* buffer = p.Buffers[p.WriteIndex];
  for (uint32_t ch = 0; ch < channels; ++ch) {
    float* steps = p.Steps[ch];
    double sum = p.Sum[ch], average = p.Average[ch];
    if (!p.StepsAdded && !p.StepsCarried && std::abs(sum - average) < 0.25) {
      // Settled silence: every sample would round to the centre.
      p.Average[ch] = sum;
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t frame = i * channels + ch;
        if (wide) Store16(buffer + frame * 2, 0); else buffer[frame] = 128;
      }
      continue;
    }
    const double share = p.HighPass;
    for (uint32_t i = 0; i < n; ++i) {
      sum += steps[i];
      average += (sum - average) * share;
      const double x = sum - average;
      const int32_t v = static_cast<int32_t>(x < 0 ? x - 0.5 : x + 0.5);  // rounded, without a libm call
      const uint32_t frame = i * channels + ch;
      if (wide) {
        Store16(buffer + frame * 2, std::clamp(v, -32768, 32767));
      } else {
        buffer[frame] = static_cast<uint8_t>(std::clamp(v + 128, 0, 255));
      }
    }
    p.Sum[ch] = sum;
    p.Average[ch] = average;
    // The kernel tails of the last steps belong to the next buffer.
    std::memmove(steps, steps + n, (kPsgKernelTaps + 1) * sizeof *steps);
    std::memset(steps + kPsgKernelTaps + 1, 0, n * sizeof *steps);
  }
  // A step's kernel may reach into the next buffer.
  p.StepsCarried = p.StepsAdded;
  p.StepsAdded = 0;
  p.NextTick -= p.BatchMicroseconds;
  p.BatchMicroseconds = p.RenderedTo = p.Now = 0;
  p.PositionScale = 0;
  p.WriteIndex = (p.WriteIndex + 1) & (kSoundBuffers - 1);
}

void PsgCollectSamples(const PsgState& p, PsgRingCursor& cursor, std::vector<uint8_t>& out) {
  if (!cursor.Started) {
    cursor = {p.WriteIndex, true};
    return;
  }
  while (cursor.Buffer != p.WriteIndex) {
    const uint8_t* b = p.Buffers[cursor.Buffer];
    out.insert(out.end(), b, b + p.BufferBytes);
    cursor.Buffer = (cursor.Buffer + 1) & (kSoundBuffers - 1);
  }
}
