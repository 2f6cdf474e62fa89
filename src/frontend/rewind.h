// Rewind: the machine state of the last seconds, one state per emulated
// second, for stepping back in time.
//
// Each state is the picture of that moment, so a step back can show it at
// once, followed by the machine's snapshot image (version 3 with our own
// chunk, memory stored uncompressed so unchanged bytes keep their offsets). Only the newest state is kept whole; each older one
// is the XOR of itself with the next newer one, run-length coded: memory and
// picture change little in a second, so a state costs a few kilobytes.
// Walking back applies the deltas newest first; the oldest state is dropped
// when the ring holds more seconds than asked or outgrows its memory budget.
//
// Not in the snapshot, and so not undone by a step back: the inserted disks
// and what was written to them, the disk controller's command in progress,
// the sound already played, the printer's output and the SymbiFace II card.
//
// Threads: PeriodEnd runs on the emulation thread; everything else only
// while that thread is parked (or from the thread itself).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

struct Machine;

constexpr int kRewindSeconds = 30;
constexpr int kRewindPeriodsPerSecond = 50;  // periods of 20 ms
constexpr int kRewindDefaultMemoryMb = 64;

// Run-length coded XOR of two byte strings (the shorter taken as padded with
// zeros), and its inverse: ApplyXorDelta turns `to` into `from` given
// MakeXorDelta(from, to), or returns false for a malformed delta.
std::vector<uint8_t> MakeXorDelta(std::span<const uint8_t> from, std::span<const uint8_t> to);
bool ApplyXorDelta(std::vector<uint8_t>& to, std::span<const uint8_t> delta);

class RewindRing {
 public:
  explicit RewindRing(size_t budgetBytes = size_t{kRewindDefaultMemoryMb} << 20, int seconds = kRewindSeconds);

  // Off: PeriodEnd does nothing and the states kept are freed.
  void SetEnabled(bool on);
  bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
  // Oldest states are dropped at once if the ring no longer fits.
  void SetBudget(size_t bytes);
  size_t Budget() const { return budget_; }

  // After each period: every kRewindPeriodsPerSecond-th period keeps a state.
  void PeriodEnd(const Machine& m) {
    if (!Enabled()) return;
    if (++periods_ >= kRewindPeriodsPerSecond) Capture(m);
  }
  void Capture(const Machine& m);

  // Puts the machine back to the state kept before the newest one (so at
  // least one emulated second back) and forgets the newer ones; false, and
  // the machine untouched, when fewer than two states are kept. The keyboard
  // and joysticks stay as the user holds them now.
  bool StepBack(Machine& m);
  // The picture of the newest state (after StepBack: the one restored);
  // empty when nothing is kept. kFrameWidth x kFrameHeight palette indices.
  std::span<const uint8_t> Frame() const;

  void Clear();
  size_t Count() const { return newest_.empty() ? 0 : deltas_.size() + 1; }
  size_t MemoryUsed() const { return used_; }

 private:
  void Trim();

  std::atomic<bool> enabled_{true};
  size_t budget_;
  size_t seconds_;
  int periods_ = 0;
  std::vector<uint8_t> newest_;               // frame, then snapshot image
  std::deque<std::vector<uint8_t>> deltas_;  // back(): newest_ to the state before it
  size_t used_ = 0;
};
