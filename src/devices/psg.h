// AY-3-8912 sound generator and the ring of 20 ms sound buffers it fills.
//
// Models: the register file with its write masks, the bus cycles the PPI
// drives (read, write, latch address), and the chip in its own 1 MHz clock:
// tone and noise counters and the envelope run at 1 MHz / 8 (125 kHz chip
// ticks), the noise is the chip's 17-bit shift register, and the envelope
// takes one step per 16 microseconds of its period. Register 14 reads the
// keyboard line the PPI selects.
//
// Output: every change of a channel's level is placed at its exact machine
// time as a band-limited step (a windowed-sinc kernel, so a 15 kHz tone does
// not fold back into an audible whistle) and the sum is passed through a
// DC-blocking high-pass, as the CPC's amplifier is AC-coupled: silence is
// 128 in 8-bit samples and 0 in 16-bit ones, and tones swing around it.
// Each batch of EmulateTick, whatever its length (the speed), becomes
// exactly one 20 ms buffer, so recordings keep one buffer per picture.
// Below 100 % the sound is slowed with the picture; above, it is sped up;
// a frozen machine (speed 0) holds its level, which the high-pass brings
// to silence.
//
// Timing: the chip runs lazily. EmulateTick opens a batch, notes the
// microsecond before every instruction, and closes the batch at its end; a
// register write first runs the chip up to that microsecond. Nothing of this
// costs anything per microsecond.
//
// Leaves out: the chip's analogue mixing (the channels add linearly) and the
// PSG's port B (absent on the 8912: it reads &FF as input).
//
// The host device (SDL2) lives in platform/audio_output; this file knows
// only the buffers.
#pragma once

#include <cstdint>
#include <vector>

struct Machine;

constexpr int kSoundBuffers = 16;
constexpr uint32_t kMaxSamplesPerBuffer = 960;                      // 20 ms at 48000 Hz
constexpr uint32_t kMaxSoundBufferBytes = kMaxSamplesPerBuffer * 4;  // 16-bit stereo
constexpr uint32_t kPsgKernelTaps = 32;  // width of a band-limited step, in output samples

enum class PsgFormat : uint8_t { Mono8, Stereo8, Mono16, Stereo16 };

struct PsgTone {
  uint32_t HalfPeriod;  // chip ticks per half wave: the 12-bit period, 0 as 1
  uint32_t Counter;
  uint8_t FlipFlop;
  uint8_t ToneEnabled, NoiseEnabled;
  uint8_t FixedVolume;   // 0..15
  uint8_t EnvelopeMode;  // level follows the envelope
};

struct PsgNoise {
  uint32_t Step;  // chip ticks per half step of the shift register: R6, 0 as 1
  uint32_t Counter;
  uint32_t ShiftRegister;  // 17 bits
  uint8_t Prescaler;       // the register shifts on every second count
  uint8_t Output;          // bit 0 of the register
};

struct PsgEnvelope {
  uint32_t Step;  // chip ticks per envelope step: 2 x the 16-bit period, 0 as 1
  uint32_t Counter;
  uint8_t Level;  // 0..15
  uint8_t Shape;  // R13
  uint8_t Restart, Hold;
  uint8_t Down;  // direction of the triangle shapes 10 and 14
};

struct PsgState {
  // Chip.
  uint8_t Registers[16];  // as written, masked
  uint8_t SelectedRegister;
  uint8_t DataBus;  // what a read put on the bus while PPI port A was an output
  PsgTone Tone[3];  // A, B, C
  PsgNoise Noise;
  PsgEnvelope Envelope;
  uint8_t PortAInput, PortBInput;  // R7 bits 6, 7 clear

  // Output format (SAMPLERATE, CHANNELS, BITSPERSAMPLE).
  uint32_t SampleRate;
  uint32_t Channels;
  uint32_t BitsPerSample;
  PsgFormat Format;
  uint16_t Volume[16];  // the table of the format

  // Sampling inside EmulateTick.
  uint8_t SamplingEnabled;  // sound switched on: the loop runs the chip

  // The running batch: machine microseconds since it opened.
  uint32_t BatchMicroseconds;  // its length; 0 outside a batch
  uint32_t Now;                // the microsecond the Z80 is at
  uint32_t RenderedTo;         // the chip has run up to here
  uint32_t NextTick;           // microsecond of the next chip tick (may lie beyond the batch)
  uint64_t PositionScale;      // microseconds to output position, 16.16 fixed point of kernel phases

  // Which generators can change the output now; the others are advanced
  // in closed form.
  uint8_t ToneLive[3], NoiseLive, EnvelopeLive;

  // Band-limited output: the amplitude last fed per output channel, the
  // steps waiting to be summed (one batch plus a kernel's tail), the running
  // sum and the high-pass's slow average.
  int32_t Amplitude[2];
  alignas(64) float Steps[2][kMaxSamplesPerBuffer + kPsgKernelTaps + 1];
  double Sum[2];
  double Average[2];
  double HighPass;  // the average's share of each new sample
  uint8_t StepsAdded;    // steps were added since the last buffer was completed
  uint8_t StepsCarried;  // ... and before it, so their tails may reach this one

  // The ring: the PSG fills buffer WriteIndex, one per batch.
  uint32_t SamplesPerBuffer;  // 441, 882 or 960
  uint32_t BufferBytes;
  uint32_t BlockAlign;  // bytes per sample frame
  uint32_t WriteIndex;
  alignas(64) uint8_t Buffers[kSoundBuffers][kMaxSoundBufferBytes];
};

// Chooses the output format: rate 22050, 44100 or 48000, 1 or 2 channels,
// 8 or 16 bits (anything else falls back to 22050, 1, 8 as the settings do).
// Clears the ring and the output filters and recomputes the derived values.
void PsgSetOutputFormat(PsgState& p, uint32_t rate, uint32_t channels, uint32_t bits);

void PsgReset(PsgState& p);

// A bus cycle as PPI port C bits 7..6 (function = latch & &C0) request it.
void PsgBusControl(Machine& m, uint8_t function);

// A register write with its masks and effects (what a &80 bus cycle does).
// Inside a batch the chip first runs up to the current microsecond.
void PsgWriteRegister(PsgState& p, uint8_t reg, uint8_t value);
// The value a &40 bus cycle reads from the selected register.
uint8_t PsgReadRegister(const Machine& m);

// Recomputes tone, noise and envelope periods and the R7..R10 switches from
// the register file, as register writes would.
void PsgRecomputeDerived(PsgState& p);

// The batch of EmulateTick: opened with its length in microseconds, the
// chip run up to a microsecond of it (PsgSampleStep), and closed, which runs
// the chip to the end and completes the buffer WriteIndex before moving
// WriteIndex on.
void PsgBeginBatch(PsgState& p, uint32_t microseconds);
void PsgSampleStep(PsgState& p, uint32_t microsecond);
void PsgEndBatch(PsgState& p);

// The buffer the last batch completed.
inline uint32_t PsgLastBuffer(const PsgState& p) { return (p.WriteIndex - 1) & (kSoundBuffers - 1); }

// Follows the ring from outside (a recorder): the samples completed since
// the cursor, appended in order. Valid while fewer than 16 buffers have been
// completed since the last call.
struct PsgRingCursor {
  uint32_t Buffer = 0;
  bool Started = false;
};
// The first call only places the cursor at the current position.
void PsgCollectSamples(const PsgState& p, PsgRingCursor& cursor, std::vector<uint8_t>& out);
