// The cassette deck: tape images, their playback as pulse edges in machine
// time, and recording of the write line.
//
// Models: a deck whose tape moves only while the motor relay (PPI port C bit
// 4) is closed and PLAY or RECORD is pressed. Playback turns a CDT/TZX image
// (the TZX block format with CPC timings), a CSW file or a WAV/VOC recording
// into a stream of level changes; the level is what PPI port B bit 7 reads.
// Recording notes every change of the write line (port C bit 5) with its
// time and makes a CDT of them when the recording ends: standard firmware
// records become turbo data blocks, anything else direct recording blocks.
//
// Time: TZX lengths are T-states of a 3.5 MHz clock, recordings count
// samples of their own rate. Both become "tape units" of 1/882,000,000 s,
// a rate that 3.5 MHz, 1 MHz and the usual sample rates divide, so the
// stream keeps exact time against the machine's microsecond steps.
//
// Leaves out: the sound of the tape, "select block" choices (the tape plays
// on), the 48K-only stop (a CPC is never a 48K Spectrum), and the level a
// recording head would feed back into the read line.
//
// Called by: the PPI (motor, write line, the read level), the machine loop
// (TapeStep, only while the tape moves), the window and the runner (insert,
// play, stop, rewind, record). Bad images never crash the player: problems
// found while parsing become a message when playback reaches them, and the
// tape stops there.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

constexpr int64_t kTapeUnitsPerSecond = 882'000'000;
constexpr int64_t kTapeUnitsPerMicrosecond = 882;
constexpr int64_t kTapeUnitsPerTState = 252;  // one T-state of the 3.5 MHz TZX clock

// A block of a whole sampled recording (a CSW, WAV or VOC file), which has
// no TZX ID of its own.
constexpr uint8_t kTapeSampledBlock = 0x00;

// Pulses of a sampled recording: each entry lasts Samples[i] samples of
// Rate, starting with a level change (the first one sets FirstLevel when it
// is not -1).
struct TapePulseList {
  uint32_t Rate = 44100;
  int FirstLevel = -1;
  std::vector<uint32_t> Samples;
};

struct TapeBlock {
  uint8_t Id = 0;
  uint32_t Offset = 0;  // first byte after the ID in TapeImage::Data
  uint32_t Size = 0;    // bytes after the ID
  int Pulses = -1;      // index into TapeImage::PulseLists (CSW data, recordings)
  std::string Label;    // the block list's text
  std::string Problem;  // non-empty: playing this block stops the tape with it
};

struct TapeImage {
  std::string Name;  // file name without folder
  std::vector<uint8_t> Data;
  std::vector<TapeBlock> Blocks;
  std::vector<TapePulseList> PulseLists;
};

struct TapeLoadResult {
  std::shared_ptr<const TapeImage> Image;  // null when the file is refused
  std::string Error;                       // why it was refused
  std::vector<std::string> Warnings;       // accepted, but with damage
};

// CDT/TZX, CSW, WAV or VOC by content (the extension is not trusted).
TapeLoadResult LoadTapeImage(const std::filesystem::path& file);
TapeLoadResult ParseTapeImage(const std::vector<uint8_t>& bytes, const std::string& name);

// Where playback is inside the image.
struct TapeCursor {
  uint32_t Block = 0;
  uint8_t Phase = 0;  // 0: the leader strip of a rewound tape
  uint32_t Count = 0;  // pulses or symbols left in the phase
  uint64_t Pos = 0;    // bit, sample, byte or pulse position in the phase
  uint32_t Sub = 0;    // pulse within a symbol, repeat counter
  int64_t Remainder = 0;  // sample-rate rounding carried between pulses
  bool PulseOpen = false;  // a pulse is under way that a pause must end with an edge
  // The block's timing, taken when it starts.
  uint32_t PilotLen = 0, PilotCount = 0, Sync1 = 0, Sync2 = 0, Zero = 0, One = 0;
  uint32_t DataOffset = 0;
  uint64_t DataBits = 0;
  uint32_t PauseMs = 0;
  uint32_t SampleLen = 0;  // direct recording: T-states per sample
  struct Loop {
    uint32_t Start;
    uint32_t Left;
  };
  std::vector<Loop> Loops;
  // Call sequence: the block that called, and the next call's number.
  int64_t CallBlock = -1;
  uint32_t CallNext = 0;
};

struct TapeDeck {
  std::shared_ptr<const TapeImage> Image;
  TapeCursor Cursor;

  // Wiring, set by the PPI.
  bool Motor = false;
  bool WriteLine = false;
  // Port B bit 7.
  uint8_t Level = 0;

  // The buttons. PLAY stays pressed until STOP, the tape's end or a stop
  // block; with AutoPlay the deck presses it itself whenever the motor
  // starts (the runner's --tape).
  std::atomic<bool> Playing{false};
  std::atomic<bool> Recording{false};
  bool AutoPlay = false;
  // The machine loop steps the deck only while this is set: motor on and a
  // button pressed. Kept up to date by every change of the three.
  std::atomic<bool> Running{false};

  int64_t Remaining = 0;  // tape units until the next level change
  std::atomic<uint64_t> Microseconds{0};  // tape time moved since insertion or rewind
  std::atomic<uint32_t> CurrentBlock{0};
  uint32_t IdleSteps = 0;  // blocks passed without a pulse (runaway loops)

  // A message for the user (a damaged block, a stop block); MessageSerial
  // counts them so a reader sees each once. Written by the emulation thread
  // before the serial moves.
  std::string Message;
  std::atomic<uint32_t> MessageSerial{0};

  // Recording: the tape time of every write-line change.
  std::vector<uint64_t> Edges;
  bool FirstRecordedLevel = false;
};

// The deck's machine-side entry points.
void TapeSetMotor(TapeDeck& d, bool on);
void TapeSetWriteLine(TapeDeck& d, bool high);
void TapeAdvance(TapeDeck& d);  // the level changes that fall due; use TapeStep

// One microsecond of tape movement. Only called while d.Running.
inline void TapeStep(TapeDeck& d) {
  d.Microseconds.store(d.Microseconds.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  d.Remaining -= kTapeUnitsPerMicrosecond;
  if (d.Remaining <= 0) TapeAdvance(d);
}

// The next level change straight from the stream, for tests and tools: its
// length in tape units (the new level is d.Level); 0 when the tape stopped.
int64_t TapeNextPulse(TapeDeck& d);

// The buttons (main thread, with the emulation parked).
void TapeInsert(TapeDeck& d, std::shared_ptr<const TapeImage> image);
void TapeEject(TapeDeck& d);
void TapePlay(TapeDeck& d);
void TapeStop(TapeDeck& d);
void TapeRewind(TapeDeck& d);
// Starts recording onto a blank tape (the edges are kept in the deck).
void TapeRecord(TapeDeck& d);
bool TapeAtEnd(const TapeDeck& d);
// The motor turns and the tape moves (the lamp, fast loading).
inline bool TapeMoving(const TapeDeck& d) { return d.Running.load(std::memory_order_relaxed); }
// The tape plays into the machine: what fast loading waits for.
inline bool TapeFastLoading(const TapeDeck& d) {
  return d.Running.load(std::memory_order_relaxed) && d.Playing.load(std::memory_order_relaxed);
}

// The recording so far as a CDT file image.
std::vector<uint8_t> RecordedCdt(const std::vector<uint64_t>& edges, bool firstLevel);
// Writes it; returns an error text, empty on success.
std::string WriteRecordedCdt(const TapeDeck& d, const std::filesystem::path& file);
