// The tape deck: the pulse stream of each TZX block kind from small
// hand-made images, the sampled formats, damaged images, the motor and
// write line through the PPI, and recording back to CDT.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/machine.h"
#include "storage/tape.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t T = kTapeUnitsPerTState;
constexpr int64_t kLeadIn = 3 * kTapeUnitsPerSecond;  // the silence before a rewound tape's first block

void Put16(Bytes& b, uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void Put24(Bytes& b, uint32_t v) {
  Put16(b, v);
  b.push_back((v >> 16) & 0xFF);
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// A TZX file: header, then the blocks as given (ID included).
Bytes Tzx(std::initializer_list<Bytes> blocks) {
  size_t size = 10;
  for (const Bytes& block : blocks) size += block.size();
  Bytes b;
  b.reserve(size);
  for (uint8_t c : {'Z', 'X', 'T', 'a', 'p', 'e', '!', '\x1A', '\x01', '\x14'}) b.push_back(c);
  for (const Bytes& block : blocks)
    for (uint8_t c : block) b.push_back(c);
  return b;
}

Bytes PureTone(uint32_t len, uint32_t count) {
  Bytes b = {0x12};
  Put16(b, len);
  Put16(b, count);
  return b;
}

Bytes PulseSequence(std::initializer_list<uint32_t> lens) {
  Bytes b = {0x13, static_cast<uint8_t>(lens.size())};
  for (uint32_t l : lens) Put16(b, l);
  return b;
}

Bytes Turbo(uint32_t pilot, uint32_t s1, uint32_t s2, uint32_t zero, uint32_t one, uint32_t pilots, uint8_t used,
            uint32_t pause, const Bytes& data) {
  Bytes b = {0x11};
  for (uint32_t v : {pilot, s1, s2, zero, one, pilots}) Put16(b, v);
  b.push_back(used);
  Put16(b, pause);
  Put24(b, static_cast<uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes Pause(uint32_t ms) {
  Bytes b = {0x20};
  Put16(b, ms);
  return b;
}

Bytes Word(uint8_t id, uint32_t v) {
  Bytes b = {id};
  Put16(b, v);
  return b;
}

struct Pulse {
  int64_t Units;
  int Level;
  bool operator==(const Pulse&) const = default;
};

std::ostream& operator<<(std::ostream& o, const Pulse& p) { return o << "{" << p.Units / T << "T," << p.Level << "}"; }

struct Played {
  std::vector<Pulse> Pulses;
  std::string Message;  // the message the tape stopped with, if any
};

std::shared_ptr<const TapeImage> Parse(const Bytes& bytes) {
  TapeLoadResult r = ParseTapeImage(bytes, "test.cdt");
  EXPECT_TRUE(r.Image) << r.Error;
  return r.Image;
}

// Plays a whole image, pulse by pulse, until the tape stops; the lead-in
// is checked and left out.
Played Play(const Bytes& bytes, size_t limit = 100000) {
  TapeDeck deck;
  Played out;
  TapeInsert(deck, Parse(bytes));
  if (!deck.Image) return out;
  TapePlay(deck);
  EXPECT_EQ(TapeNextPulse(deck), kLeadIn);
  EXPECT_EQ(deck.Level, 0);
  for (size_t i = 0; i < limit; ++i) {
    const int64_t t = TapeNextPulse(deck);
    if (t == 0) break;
    out.Pulses.push_back({t, deck.Level});
  }
  if (deck.MessageSerial.load() > 0) out.Message = deck.Message;
  return out;
}

// Pulses alternating from level 1.
std::vector<Pulse> Toggles(std::initializer_list<int64_t> tstates, int first = 1) {
  std::vector<Pulse> v;
  for (int64_t t : tstates) {
    v.push_back({t * T, first});
    first ^= 1;
  }
  return v;
}

TEST(TapeStream, PureTonePulseSequenceAndPureData) {
  Bytes pure = {0x14};
  Put16(pure, 100);  // zero
  Put16(pure, 200);  // one
  pure.push_back(3); // bits used in the last byte
  Put16(pure, 0);    // no pause
  Put24(pure, 2);
  pure.push_back(0x80);  // 1000 0000
  pure.push_back(0x40);  // 010 of the last byte
  const Played p = Play(Tzx({PureTone(500, 3), PulseSequence({10, 20, 30}), pure}));
  std::vector<Pulse> want = Toggles({500, 500, 500, 10, 20, 30});
  const std::vector<Pulse> data = Toggles({200, 200, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                                           100, 100, 100, 100, 200, 200, 100, 100},
                                          want.back().Level ^ 1);
  want.insert(want.end(), data.begin(), data.end());
  EXPECT_EQ(p.Pulses, want);
  EXPECT_EQ(p.Message, "");
}

TEST(TapeStream, StandardDataUsesRomTimingAndPilotByFlag) {
  for (const uint8_t flag : {0x00, 0xFF}) {
    Bytes block = {0x10};
    Put16(block, 0);  // no pause
    Put16(block, 1);
    block.push_back(flag);
    const Played p = Play(Tzx({block}));
    const size_t pilots = flag < 128 ? 8063 : 3223;
    ASSERT_EQ(p.Pulses.size(), pilots + 2 + 16) << int(flag);
    EXPECT_EQ(p.Pulses[0], (Pulse{2168 * T, 1}));
    EXPECT_EQ(p.Pulses[pilots - 1].Units, 2168 * T);
    EXPECT_EQ(p.Pulses[pilots].Units, 667 * T);
    EXPECT_EQ(p.Pulses[pilots + 1].Units, 735 * T);
    EXPECT_EQ(p.Pulses[pilots + 2].Units, (flag ? 1710 : 855) * T);
  }
}

TEST(TapeStream, TurboDataThenPauseEndsTheLastPulse) {
  // One pilot, syncs, the bits 1 and 0 (2 bits used), pause 5 ms.
  const Played p = Play(Tzx({Turbo(1000, 300, 400, 500, 900, 1, 2, 5, {0x80}), PureTone(100, 1)}));
  std::vector<Pulse> want = Toggles({1000, 300, 400, 900, 900, 500, 500});
  // The last pulse was high: the pause's edge ends it and the level stays
  // low for the 5 ms; the tone's pulse then starts high again.
  want.push_back({5 * kTapeUnitsPerSecond / 1000, 0});
  want.push_back({100 * T, 1});
  EXPECT_EQ(p.Pulses, want);
}

TEST(TapeStream, PauseAfterAHighPulseIsOneLowStretch) {
  // The tone's last pulse is low: the pause's edge goes high for 1 ms.
  const Played p = Play(Tzx({PureTone(100, 2), Pause(3), Pause(2)}));
  // The tone's last pulse is high: the pause's edge ends it and stays low.
  const Played q = Play(Tzx({PureTone(100, 1), Pause(3), Pause(2)}));
  ASSERT_EQ(q.Pulses.size(), 3u);
  EXPECT_EQ(q.Pulses[1], (Pulse{3 * kTapeUnitsPerSecond / 1000, 0}));  // high pulse ended: low for all 3 ms
  EXPECT_EQ(q.Pulses[2], (Pulse{2 * kTapeUnitsPerSecond / 1000, 0}));  // a pause after a pause: no edge
  ASSERT_EQ(p.Pulses.size(), 5u);
  EXPECT_EQ(p.Pulses[2], (Pulse{kTapeUnitsPerSecond / 1000, 1}));
  EXPECT_EQ(p.Pulses[3], (Pulse{2 * kTapeUnitsPerSecond / 1000, 0}));
}

TEST(TapeStream, DirectRecordingSetsLevelsAndMergesRuns) {
  Bytes b = {0x15};
  Put16(b, 79);  // T-states per sample
  Put16(b, 0);
  b.push_back(4);  // 8 + 4 samples
  Put24(b, 2);
  b.push_back(0b11100011);
  b.push_back(0b00010000);
  const Played p = Play(Tzx({b}));
  EXPECT_EQ(p.Pulses, (std::vector<Pulse>{{3 * 79 * T, 1}, {3 * 79 * T, 0}, {2 * 79 * T, 1}, {3 * 79 * T, 0},
                                           {1 * 79 * T, 1}}));
}

TEST(TapeStream, CswBlockScalesSamplesExactly) {
  // 44100 Hz: one sample is 20000 tape units; a 0 byte is followed by a
  // 32-bit count.
  Bytes b = {0x18};
  Bytes body;
  Put16(body, 0);  // pause
  Put24(body, 44100);
  body.push_back(1);  // RLE
  Put32(body, 3);
  body.insert(body.end(), {5, 0});
  Put32(body, 300);
  body.push_back(7);
  Put32(b, static_cast<uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  const Played p = Play(Tzx({b}));
  EXPECT_EQ(p.Pulses, (std::vector<Pulse>{{5 * 20000, 1}, {300 * 20000, 0}, {7 * 20000, 1}}));
  // 48000 Hz does not divide the unit: the remainder carries, so the sum
  // stays exact.
  Bytes c = b;
  c[7] = 48000 & 0xFF;
  c[8] = (48000 >> 8) & 0xFF;
  c[9] = 48000 >> 16;
  const Played q = Play(Tzx({c}));
  ASSERT_EQ(q.Pulses.size(), 3u);
  EXPECT_EQ(q.Pulses[0].Units + q.Pulses[1].Units + q.Pulses[2].Units, 312 * kTapeUnitsPerSecond / 48000);
}

TEST(TapeStream, GeneralisedDataPilotRepeatsAndDataSymbols) {
  Bytes body;
  Put16(body, 0);    // pause
  Put32(body, 2);    // TOTP: two pilot stream entries
  body.push_back(2); // NPP
  body.push_back(2); // ASP
  Put32(body, 3);    // TOTD: three data symbols
  body.push_back(2); // NPD
  body.push_back(4); // ASD: 2 bits a symbol
  // Pilot symbols: 0 = toggle, 100 then 200; 1 = force high, 300 alone.
  body.push_back(0);
  Put16(body, 100);
  Put16(body, 200);
  body.push_back(3);
  Put16(body, 300);
  Put16(body, 0);
  // Pilot stream: symbol 0 twice, symbol 1 once.
  body.push_back(0);
  Put16(body, 2);
  body.push_back(1);
  Put16(body, 1);
  // Data symbols 0..3: force low 10; toggle 20,20; keep 30; force high 40.
  for (auto [flags, first, second] :
       {std::tuple{2, 10, 0}, std::tuple{0, 20, 20}, std::tuple{1, 30, 0}, std::tuple{3, 40, 0}}) {
    body.push_back(static_cast<uint8_t>(flags));
    Put16(body, first);
    Put16(body, second);
  }
  body.push_back(0b01111000);  // symbols 1, 3, 2
  Bytes b = {0x19};
  Put32(b, static_cast<uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  const Played p = Play(Tzx({b}));
  EXPECT_EQ(p.Pulses, (std::vector<Pulse>{{100 * T, 1},
                                           {200 * T, 0},
                                           {100 * T, 1},
                                           {200 * T, 0},
                                           {300 * T, 1},
                                           {20 * T, 0},
                                           {20 * T, 1},
                                           {40 * T, 1},
                                           {30 * T, 1}}));
  EXPECT_EQ(p.Message, "");
}

TEST(TapeStream, LoopsJumpsAndCallsRepeatTheirBlocks) {
  Bytes loopEnd = {0x25};
  // Loop of 3 around one pulse.
  EXPECT_EQ(Play(Tzx({Word(0x24, 3), PureTone(10, 1), loopEnd, PureTone(99, 1)})).Pulses,
            Toggles({10, 10, 10, 99}));
  // A jump over the next block.
  EXPECT_EQ(Play(Tzx({Word(0x23, 2), PureTone(10, 1), PureTone(20, 1)})).Pulses, Toggles({20}));
  // A call sequence of blocks 4 and 3 (relative +3, +2), each run ending
  // at a return; then the blocks after the call, whose jump reaches the
  // last return, which now has no call to go back to.
  Bytes call = {0x26};
  Put16(call, 2);
  Put16(call, 3);
  Put16(call, 2);
  Bytes back = {0x27};
  const Played p = Play(Tzx({call, PureTone(50, 1), Word(0x23, 3), PureTone(30, 1), back, PureTone(40, 1), back}));
  EXPECT_EQ(p.Pulses, Toggles({30, 40, 50, 40}));
  EXPECT_EQ(p.Message, "");
}

TEST(TapeStream, InformationAndUnknownBlocksPlayNothing) {
  Bytes text = {0x30, 3, 'a', 'b', 'c'};
  Bytes unknown = {0x4B};
  Put32(unknown, 2);
  unknown.insert(unknown.end(), {1, 2});
  Bytes glue = {0x5A, 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20};
  Bytes level = {0x2B};
  Put32(level, 1);
  level.push_back(1);
  const Bytes file = Tzx({text, unknown, glue, level, Bytes{0x2A, 0, 0, 0, 0}, PureTone(10, 1)});
  const auto image = Parse(file);
  ASSERT_EQ(image->Blocks.size(), 6u);
  EXPECT_EQ(image->Blocks[0].Label, "Text: abc");
  EXPECT_EQ(image->Blocks[1].Label, "Unknown block &4B, skipped");
  const Played p = Play(file);
  // The level block set the level high, so the tone's edge goes low.
  EXPECT_EQ(p.Pulses, (std::vector<Pulse>{{10 * T, 0}}));
}

TEST(TapeStream, StopBlockReleasesPlayAndPlayGoesOn) {
  TapeDeck deck;
  TapeInsert(deck, Parse(Tzx({PureTone(10, 1), Pause(0), PureTone(20, 1)})));
  TapePlay(deck);
  EXPECT_EQ(TapeNextPulse(deck), kLeadIn);
  EXPECT_EQ(TapeNextPulse(deck), 10 * T);
  EXPECT_EQ(TapeNextPulse(deck), 0);
  EXPECT_FALSE(deck.Playing.load());
  EXPECT_EQ(deck.MessageSerial.load(), 0u);  // a stop block is no fault
  TapePlay(deck);
  EXPECT_EQ(TapeNextPulse(deck), 20 * T);
  EXPECT_EQ(TapeNextPulse(deck), 0);
  EXPECT_TRUE(TapeAtEnd(deck));
}

TEST(TapeStream, DamagedImagesStopWithAMessage) {
  Bytes cut = Turbo(100, 100, 100, 100, 200, 1, 8, 0, {1, 2, 3, 4});
  cut.resize(cut.size() - 2);
  Bytes zeroSeq = PulseSequence({10, 0, 10});
  Bytes loop = Word(0x24, 2);
  struct Case {
    const char* Name;
    Bytes File;
    size_t PulsesBefore;
    const char* Message;
  } cases[] = {
      {"length past the end", Tzx({PureTone(10, 1), cut}), 1, "Block 2 (&11) runs past the end of the file"},
      {"header cut short", Tzx({PureTone(10, 1), Bytes{0x11, 1, 2}}), 1, "runs past the end"},
      {"jump out of range", Tzx({PureTone(10, 1), Word(0x23, 0xFFF0)}), 1, "jumps to a block the tape does not have"},
      {"jump to itself", Tzx({Word(0x23, 0)}), 0, "jumps to a block"},
      {"loop around a jump back", Tzx({PureTone(10, 1), loop, Word(0x23, 0xFFFF)}), 1, "loops inside loops"},
      {"zero-length pulse", Tzx({zeroSeq}), 1, "pulse of zero length"},
      {"zero-length tone", Tzx({PureTone(0, 5)}), 0, "pulse of zero length"},
      {"unknown old block", Tzx({PureTone(10, 1), Bytes{0x05, 1, 2, 3}}), 1, "unknown kind"},
  };
  for (const Case& c : cases) {
    const Played p = Play(c.File);
    EXPECT_EQ(p.Pulses.size(), c.PulsesBefore) << c.Name;
    EXPECT_NE(p.Message.find(c.Message), std::string::npos) << c.Name << ": " << p.Message;
  }
  // Jumps back and forth with nothing between: the tape gives up, it does
  // not hang.
  const Played runaway = Play(Tzx({Word(0x23, 1), Word(0x23, 0xFFFF)}));
  EXPECT_NE(runaway.Message.find("without end"), std::string::npos) << runaway.Message;
  // Generalised symbols without pulses, repeated beyond a million times.
  Bytes empty = {0x19};
  Bytes body;
  Put16(body, 0);
  Put32(body, 20);   // TOTP
  body.push_back(1); // NPP
  body.push_back(1); // ASP
  Put32(body, 0);    // TOTD
  body.push_back(1);
  body.push_back(1);
  body.push_back(0);  // the symbol: no flags, a zero length
  Put16(body, 0);
  for (int i = 0; i < 20; ++i) {
    body.push_back(0);
    Put16(body, 0xFFFF);
  }
  Put32(empty, static_cast<uint32_t>(body.size()));
  empty.insert(empty.end(), body.begin(), body.end());
  const Played silent = Play(Tzx({empty}));
  EXPECT_NE(silent.Message.find("symbols without pulses"), std::string::npos) << silent.Message;
  // A loop that never ends plays what it holds once and runs off the tape.
  EXPECT_EQ(Play(Tzx({loop, PureTone(10, 1)})).Pulses, Toggles({10}));
  // Not a tape at all.
  EXPECT_FALSE(ParseTapeImage({1, 2, 3}, "x").Image);
}

TEST(TapeStream, SampledFilesBecomeOnePulseBlock) {
  // WAV: 8-bit unsigned, 4 high, 3 low, 5 high samples.
  Bytes wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  Put32(wav, 16);
  Put16(wav, 1);
  Put16(wav, 1);
  Put32(wav, 22050);
  Put32(wav, 22050);
  Put16(wav, 1);
  Put16(wav, 8);
  wav.insert(wav.end(), {'d', 'a', 't', 'a'});
  const Bytes samples = {200, 210, 190, 200, 60, 50, 55, 200, 200, 200, 200, 200};
  Put32(wav, static_cast<uint32_t>(samples.size()));
  wav.insert(wav.end(), samples.begin(), samples.end());
  const int64_t s = kTapeUnitsPerSecond / 22050;
  EXPECT_EQ(Play(wav).Pulses, (std::vector<Pulse>{{4 * s, 1}, {3 * s, 0}, {5 * s, 1}}));

  // CSW 2, RLE, starting low.
  const char sig[] = "Compressed Square Wave\x1A";
  Bytes csw(sig, sig + 23);
  csw.push_back(2);
  csw.push_back(0);
  Put32(csw, 44100);
  Put32(csw, 2);
  csw.push_back(1);  // RLE
  csw.push_back(0);  // flags: starts low
  csw.push_back(0);  // no extension
  csw.insert(csw.end(), 16, ' ');
  csw.insert(csw.end(), {9, 4});
  EXPECT_EQ(Play(csw).Pulses, (std::vector<Pulse>{{9 * 20000, 0}, {4 * 20000, 1}}));

  // VOC: an 8-bit block at 1000000 / (256 - 156) = 10000 Hz, then 5 samples
  // of silence, which end the last pulse.
  const char vocSig[] = "Creative Voice File\x1A";
  Bytes voc(vocSig, vocSig + 20);
  Put16(voc, 26);
  Put16(voc, 0x10A);
  Put16(voc, 0x1129);
  const Bytes vocSamples = {220, 220, 220, 30, 30, 220};
  voc.push_back(1);
  Put24(voc, static_cast<uint32_t>(2 + vocSamples.size()));
  voc.insert(voc.end(), {156, 0});
  voc.insert(voc.end(), vocSamples.begin(), vocSamples.end());
  voc.push_back(3);
  Put24(voc, 3);
  Put16(voc, 4);
  voc.push_back(156);
  voc.push_back(0);
  const int64_t v = kTapeUnitsPerSecond / 10000;
  EXPECT_EQ(Play(voc).Pulses, (std::vector<Pulse>{{3 * v, 1}, {2 * v, 0}, {1 * v, 1}, {5 * v, 0}}));
}

// The machine: the motor relay and the read line through the PPI.
struct TapeMachine : ::testing::Test {
  std::unique_ptr<Machine> m = CreateMachine({.RomDir = "/nonexistent-rom-dir"});
  void Control(uint8_t v) { PpiWrite(*m, 0xF700, v); }
  void PortC(uint8_t v) { PpiWrite(*m, 0xF600, v); }
  bool ReadBit7() { return PpiRead(*m, 0xF500) & 0x80; }
  // Runs machine microseconds with the Z80 kept busy doing nothing.
  void Microseconds(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
      if (m->Tape.Running.load()) TapeStep(m->Tape);
  }
};

TEST_F(TapeMachine, MotorGatesTheTapeAndTimeIsScaledFromTStates) {
  // 3500 T-states of 3.5 MHz are 1000 microseconds.
  TapeInsert(m->Tape, Parse(Tzx({PureTone(3500, 4)})));
  TapePlay(m->Tape);
  Control(0x82);  // port C an output
  EXPECT_FALSE(m->Tape.Running.load());
  Microseconds(5000);
  EXPECT_FALSE(ReadBit7()) << "the motor is off: PLAY alone does not move the tape";
  PortC(0x10);  // motor on
  EXPECT_TRUE(m->Tape.Running.load());
  // After the lead-in the first edge comes; the second 1000 microseconds
  // after it.
  Microseconds(2999999);
  EXPECT_FALSE(ReadBit7());
  Microseconds(1);
  EXPECT_TRUE(ReadBit7());
  Microseconds(999);
  EXPECT_TRUE(ReadBit7());
  Microseconds(1);
  EXPECT_FALSE(ReadBit7());
  PortC(0x00);  // motor off: the level holds
  Microseconds(5000);
  EXPECT_FALSE(ReadBit7());
  Control(0x09);  // bit set: motor on again
  Microseconds(1000);
  EXPECT_TRUE(ReadBit7());
  // With port C an input the relay is open.
  Control(0x8A);
  EXPECT_FALSE(m->Tape.Running.load());
}

TEST_F(TapeMachine, EmulateTickStepsOnlyAMovingTape) {
  TapeInsert(m->Tape, Parse(Tzx({PureTone(3500, 100)})));
  m->Tape.AutoPlay = true;
  EmulateTick(*m);
  EXPECT_EQ(m->Tape.Microseconds.load(), 0u);
  Control(0x82);
  PortC(0x10);  // the motor starts: AutoPlay presses PLAY
  EXPECT_TRUE(m->Tape.Playing.load());
  EmulateTick(*m);
  EXPECT_EQ(m->Tape.Microseconds.load(), m->MicrosecondsPerTick);
}

TEST_F(TapeMachine, RecordingNotesWriteLineEdgesWhileTheMotorRuns) {
  TapeRecord(m->Tape);
  Control(0x82);
  Control(0x0B);  // write line high, motor still off: not recorded
  Control(0x0A);
  PortC(0x10);
  Microseconds(100);
  Control(0x0B);
  Microseconds(250);
  Control(0x0A);
  Microseconds(10);
  PortC(0x30);  // port C write with bit 5
  EXPECT_EQ(m->Tape.Edges, (std::vector<uint64_t>{100, 350, 360}));
  EXPECT_TRUE(m->Tape.FirstRecordedLevel);
}

// Edges of a firmware record: leader, sync bit, bytes, at 1000 baud.
std::vector<uint64_t> FirmwareEdges(const Bytes& data, uint64_t start, uint64_t zeroUs = 333) {
  std::vector<uint64_t> edges;
  uint64_t t = start;
  auto half = [&](uint64_t len) {
    edges.push_back(t);
    t += len;
  };
  for (int i = 0; i < 4096; ++i) half(2 * zeroUs);
  half(zeroUs);
  half(zeroUs);
  for (uint8_t byte : data)
    for (int bit = 7; bit >= 0; --bit) {
      const uint64_t len = (byte >> bit) & 1 ? 2 * zeroUs : zeroUs;
      half(len);
      half(len);
    }
  return edges;
}

TEST(TapeRecording, FirmwareRecordsBecomeTurboBlocksThatPlayBack) {
  const Bytes data = {0x2C, 'H', 'I', 0, 0xFF, 0x55};
  std::vector<uint64_t> edges = FirmwareEdges(data, 2000000);
  const uint64_t end = edges.back();
  // A second burst of something else: irregular pulses.
  for (uint64_t t : {500u, 900u, 2000u, 2100u}) edges.push_back(end + 1500000 + t);
  const Bytes cdt = RecordedCdt(edges, true);
  const auto image = Parse(cdt);
  ASSERT_TRUE(image);
  std::vector<uint8_t> ids;
  for (const TapeBlock& b : image->Blocks) ids.push_back(b.Id);
  EXPECT_EQ(ids, (std::vector<uint8_t>{0x30, 0x20, 0x11, 0x15}));
  const TapeBlock& turbo = image->Blocks[2];
  const uint8_t* p = &image->Data[turbo.Offset];
  EXPECT_EQ(p[10] | (p[11] << 8), 4096);                      // pilot pulses
  EXPECT_NEAR(p[0] | (p[1] << 8), 2331, 1);                   // pilot length in T-states
  EXPECT_NEAR(p[6] | (p[7] << 8), 1166, 1);                   // zero
  EXPECT_EQ(Bytes(p + 18, p + 18 + data.size()), data);       // the bytes themselves
  // Played back, the turbo block's pulses match the recorded ones within
  // a T-state's rounding.
  TapeDeck deck;
  TapeInsert(deck, image);
  TapePlay(deck);
  EXPECT_EQ(TapeNextPulse(deck), kLeadIn);
  TapeNextPulse(deck);  // the recording's leading pause
  for (size_t i = 0; i + 1 < 4096 + 2 + 8 * data.size() * 2; ++i) {
    const double us = double(TapeNextPulse(deck)) / kTapeUnitsPerMicrosecond;
    ASSERT_NEAR(us, double(edges[i + 1] - edges[i]), 1.0) << i;
  }
}

}  // namespace
