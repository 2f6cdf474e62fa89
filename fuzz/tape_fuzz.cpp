// libFuzzer target for the tape loader and player: any input is refused
// with a reason or accepted; an accepted tape plays (a bounded number of
// pulses) with every pulse lasting some time and the level 0 or 1, stops
// with a message only when it says why, and what it played, recorded as a
// CDT, loads back without damage.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/tape.h"

namespace tapefuzz {

constexpr int kMaxPulses = 20000;

bool TapeFuzzInput(const uint8_t* data, size_t size) {
  const TapeLoadResult r = ParseTapeImage(std::vector<uint8_t>(data, data + size), "fuzz.cdt");
  if (!r.Image) return !r.Error.empty();
  if (r.Image->Blocks.empty() && r.Image->Data.size() > 10) return false;

  TapeDeck deck;
  TapeInsert(deck, r.Image);
  TapePlay(deck);
  std::vector<uint64_t> edges;
  uint64_t now = 0;
  for (int i = 0; i < kMaxPulses; ++i) {
    const int64_t t = TapeNextPulse(deck);
    if (t < 0) return false;
    if (t == 0) break;
    if (deck.Level > 1) return false;
    edges.push_back(now / kTapeUnitsPerMicrosecond);
    now += static_cast<uint64_t>(t);
  }
  if (deck.MessageSerial.load() > 0 && deck.Message.empty()) return false;

  const TapeLoadResult again = ParseTapeImage(RecordedCdt(edges, deck.Level), "again.cdt");
  return again.Image && again.Warnings.empty();
}

}  // namespace tapefuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!tapefuzz::TapeFuzzInput(data, size)) __builtin_trap();
  return 0;
}
