#include "devices/psg.h"

#include <cstring>

#include "core/machine.h"

namespace {

// Level 0..15 to output amplitude, about 3 dB a step. Each table is scaled
// so that the widest sum (three channels mono, two stereo) still fits the
// sample without going negative.
constexpr uint16_t kVolumeMono8[16] = {0, 1, 1, 1, 2, 3, 4, 5, 7, 10, 15, 21, 30, 42, 60, 85};
constexpr uint16_t kVolumeStereo8[16] = {0, 1, 1, 2, 3, 4, 6, 8, 11, 16, 22, 32, 45, 64, 90, 127};
constexpr uint16_t kVolumeMono16[16] = {0,    85,   121,  170,  241,  341,  483,  683,
                                        965,  1365, 1931, 2730, 3862, 5461, 7723, 10922};
constexpr uint16_t kVolumeStereo16[16] = {0,    128,  181,  256,  362,  512,  724,   1024,
                                          1448, 2048, 2896, 4096, 5796, 8192, 11585, 16383};

uint32_t ToneHalfPeriod(const PsgState& p, int channel) {
  const uint64_t period = p.Registers[channel * 2] + 256u * p.Registers[channel * 2 + 1];
  const uint32_t half = static_cast<uint32_t>(period * p.SampleRate / 125000);
  // A period too short for one sample would toggle every sample, a loud
  // whistle; the chip's real output there is inaudible, so make it a very
  // low, near-silent tone instead.
  return half == 0 ? 4096 : half;
}

uint32_t NoiseStep(const PsgState& p) {
  const uint32_t step = p.Registers[6] * p.SampleRate / 62500;
  return step == 0 ? 32 : step;
}

uint32_t EnvelopeStep(const PsgState& p) {
  const uint64_t period = p.Registers[11] + 256u * p.Registers[12];
  const uint32_t step = static_cast<uint32_t>(period * p.SampleRate / 62500);
  return step == 0 ? 65536 : step;
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

inline void Store16(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

void PsgSetOutputFormat(PsgState& p, uint32_t rate, uint32_t channels, uint32_t bits) {
  if (rate != 22050 && rate != 44100) rate = 22050;
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

  // 441 samples per 20 ms batch at 22050 Hz, 882 at 44100 Hz, taken at whole
  // microsecond positions.
  p.SampleInterval = rate == 44100 ? 22 : 45;
  p.SamplesPerBuffer = rate / 50;
  p.SampleStepLimit = p.SampleInterval * p.SamplesPerBuffer;
  p.BlockAlign = channels * bits / 8;
  p.BufferBytes = p.SamplesPerBuffer * p.BlockAlign;

  std::memset(p.Buffers, 0, sizeof p.Buffers);
  p.WriteIndex = 5;  // output trails generation by five buffers
  p.PlayIndex = 0;
  p.SampleIndex = 0;
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
}

void PsgReset(PsgState& p) {
  std::memset(p.Registers, 0, sizeof p.Registers);
  p.SelectedRegister = 0;
  p.DataBus = 0xFF;
  for (PsgTone& t : p.Tone) {
    t.Counter = 0;
    t.FlipFlop = 1;
  }
  p.Noise.ShiftRegister = 0;
  p.Noise.Output = 0;
  p.Noise.Feedback = 0;
  p.Noise.Counter = 0;
  p.Envelope.Counter = 0;
  p.Envelope.Restart = 1;
  p.Envelope.Hold = 0;
  // The derived periods and switches keep their values until the registers
  // are written again; a machine that never had a format gets the default
  // one, which also derives them from the cleared registers.
  if (p.SampleRate == 0) PsgSetOutputFormat(p, 22050, 1, 8);
}

void PsgWriteRegister(PsgState& p, uint8_t reg, uint8_t value) {
  reg &= 0x0F;
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
    default:  // 14, 15: the I/O ports
      p.Registers[reg] = value;
      break;
  }
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

void PsgSampleStep(Machine& m) {
  PsgState& p = m.Psg;
  if (p.SampleIndex >= p.SamplesPerBuffer) {
    p.SampleIndex = 0;
    p.WriteIndex = (p.WriteIndex + 1) & (kSoundBuffers - 1);
  }
  const uint32_t at = p.SampleIndex++;

  for (PsgTone& t : p.Tone) {
    if (t.Counter >= t.HalfPeriod) {
      t.Counter = 0;
      t.FlipFlop ^= 1;
    } else {
      ++t.Counter;
    }
  }

  PsgNoise& n = p.Noise;
  if (n.Counter >= n.Step) {
    n.Counter = 0;
    n.Output = (n.ShiftRegister >> 15) & 1;
    n.ShiftRegister = static_cast<uint16_t>(n.ShiftRegister << 1);
    if (n.Feedback) n.ShiftRegister |= 1;
    n.Feedback = ((n.ShiftRegister >> 13) & 1) ^ n.Output ^ 1;
  } else {
    ++n.Counter;
  }

  PsgEnvelope& e = p.Envelope;
  if (e.Counter >= e.Step) {
    e.Counter = 0;
    RunEnvelopeStep(e);
  } else {
    ++e.Counter;
  }

  uint32_t level[3];
  for (int c = 0; c < 3; ++c) {
    const PsgTone& t = p.Tone[c];
    uint32_t l = t.EnvelopeMode ? e.Level : t.FixedVolume;
    if (t.ToneEnabled && !t.FlipFlop) l = 0;
    else if (t.NoiseEnabled && n.Output) l = 0;
    level[c] = p.Volume[l];
  }

  // A on the left, C on the right, B on both at full weight.
  uint8_t* buffer = p.Buffers[p.WriteIndex];
  switch (p.Format) {
    case PsgFormat::Mono8:
      buffer[at] = static_cast<uint8_t>(level[0] + level[1] + level[2]);
      break;
    case PsgFormat::Stereo8:
      buffer[at * 2] = static_cast<uint8_t>(level[0] + level[1]);
      buffer[at * 2 + 1] = static_cast<uint8_t>(level[2] + level[1]);
      break;
    case PsgFormat::Mono16:
      Store16(buffer + at * 2, level[0] + level[1] + level[2]);
      break;
    case PsgFormat::Stereo16:
      Store16(buffer + at * 4, level[0] + level[1]);
      Store16(buffer + at * 4 + 2, level[2] + level[1]);
      break;
  }
}

uint32_t PsgNextPlayBuffer(PsgState& p) {
  // Caught up with generation (the machine runs slower than real time):
  // play older buffers again rather than the one being filled.
  if (p.PlayIndex == p.WriteIndex) p.PlayIndex = (p.WriteIndex - 5) & (kSoundBuffers - 1);
  const uint32_t buffer = p.PlayIndex;
  p.PlayIndex = (p.PlayIndex + 1) & (kSoundBuffers - 1);
  return buffer;
}

void PsgCollectSamples(const PsgState& p, PsgRingCursor& cursor, std::vector<uint8_t>& out) {
  if (!cursor.Started) {
    cursor = {p.WriteIndex, p.SampleIndex, true};
    return;
  }
  const uint32_t block = p.BlockAlign;
  auto take = [&](uint32_t buffer, uint32_t from, uint32_t to) {
    if (to > p.SamplesPerBuffer) to = p.SamplesPerBuffer;
    if (from >= to) return;
    const uint8_t* b = p.Buffers[buffer];
    out.insert(out.end(), b + from * block, b + to * block);
  };
  while (cursor.Buffer != p.WriteIndex) {
    take(cursor.Buffer, cursor.Sample, p.SamplesPerBuffer);
    cursor.Buffer = (cursor.Buffer + 1) & (kSoundBuffers - 1);
    cursor.Sample = 0;
  }
  take(cursor.Buffer, cursor.Sample, p.SampleIndex);
  cursor.Sample = p.SampleIndex;
}
