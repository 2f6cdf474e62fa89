// AY-3-8912 sound generator and the ring of 20 ms sound buffers it fills.
//
// Models: the register file with its write masks, the bus cycles the PPI
// drives (read, write, latch address), the three tone channels, the noise
// generator, the envelope generator and its shapes, the volume tables and
// the mixing into 8- or 16-bit, mono or stereo samples. Register 14 reads
// the keyboard line the PPI selects.
//
// Leaves out: true AY timing. Everything is counted in output samples (one
// call of PsgSampleStep per sample, made by EmulateTick at fixed microsecond
// positions), so periods are rounded to whole samples; the noise generator
// is a simple shift register, not the AY's 17-bit one. The PSG's port B
// (absent on the 8912) reads &FF as input.
//
// The host device (SDL2) lives in platform/audio_output; this file knows
// only the buffers.
#pragma once

#include <cstdint>
#include <vector>

struct Machine;

constexpr int kSoundBuffers = 16;
constexpr uint32_t kMaxSoundBufferBytes = 3528;  // 20 ms at 44100 Hz, 16-bit stereo

enum class PsgFormat : uint8_t { Mono8, Stereo8, Mono16, Stereo16 };

struct PsgTone {
  uint32_t HalfPeriod;  // samples per half wave
  uint32_t Counter;
  uint8_t FlipFlop;
  uint8_t ToneEnabled, NoiseEnabled;
  uint8_t FixedVolume;   // 0..15
  uint8_t EnvelopeMode;  // level follows the envelope
};

struct PsgNoise {
  uint32_t Step;  // samples per noise step
  uint32_t Counter;
  uint16_t ShiftRegister;
  uint8_t Output, Feedback;
};

struct PsgEnvelope {
  uint32_t Step;  // samples per envelope step
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
  uint8_t SamplingEnabled;   // sound switched on: the loop takes samples
  uint32_t SampleInterval;   // microseconds between samples
  uint32_t SampleStepLimit;  // last step of a batch that takes a sample

  // The ring: the PSG fills buffer WriteIndex, the output queues PlayIndex.
  uint32_t SamplesPerBuffer;  // 441 or 882
  uint32_t BufferBytes;
  uint32_t BlockAlign;  // bytes per sample frame
  uint32_t WriteIndex, PlayIndex, SampleIndex;
  alignas(64) uint8_t Buffers[kSoundBuffers][kMaxSoundBufferBytes];
};

// Chooses the output format: rate 22050 or 44100, 1 or 2 channels, 8 or 16
// bits (anything else falls back to 22050, 1, 8 as the settings do). Sets the
// sample timing, recomputes the derived periods for the new rate, clears the
// buffers and puts the ring in its opening position (write 5, play 0).
void PsgSetOutputFormat(PsgState& p, uint32_t rate, uint32_t channels, uint32_t bits);

void PsgReset(PsgState& p);

// A bus cycle as PPI port C bits 7..6 (function = latch & &C0) request it.
void PsgBusControl(Machine& m, uint8_t function);

// A register write with its masks and effects (what a &80 bus cycle does).
void PsgWriteRegister(PsgState& p, uint8_t reg, uint8_t value);
// The value a &40 bus cycle reads from the selected register.
uint8_t PsgReadRegister(const Machine& m);

// Recomputes tone, noise and envelope periods and the R7..R10 switches from
// the register file, as register writes would.
void PsgRecomputeDerived(PsgState& p);

// One output sample into the ring; called by EmulateTick.
void PsgSampleStep(Machine& m);

// The once-per-period hand-over position: when the play index has caught up
// with the write index it jumps back five buffers. Returns the buffer to
// hand to the device and advances the play index.
uint32_t PsgNextPlayBuffer(PsgState& p);

// Follows the ring from outside (a recorder): the samples written since the
// cursor, appended in order. Valid while fewer than 16 buffers have been
// filled since the last call.
struct PsgRingCursor {
  uint32_t Buffer = 0;
  uint32_t Sample = 0;
  bool Started = false;
};
// The first call only places the cursor at the current position.
void PsgCollectSamples(const PsgState& p, PsgRingCursor& cursor, std::vector<uint8_t>& out);
