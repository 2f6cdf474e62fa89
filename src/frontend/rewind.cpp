#include "frontend/rewind.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/machine.h"
#include "devices/renderer.h"
#include "storage/snapshot.h"

namespace {

constexpr size_t kFrameBytes = size_t{kFrameWidth} * kFrameHeight;
// Deltas are ours, but a size beyond any machine's state means a broken one.
constexpr size_t kMaxStateBytes = size_t{64} << 20;

void PutVarint(std::vector<uint8_t>& out, size_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

bool GetVarint(std::span<const uint8_t> in, size_t& at, size_t& v) {
  v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (at >= in.size()) return false;
    const uint8_t b = in[at++];
    v |= size_t{b & 0x7Fu} << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

// The two strings as one XOR: the shorter is read as zeros past its end.
struct XorView {
  std::span<const uint8_t> a, b;
  size_t common = std::min(a.size(), b.size());
  size_t size = std::max(a.size(), b.size());

  uint8_t At(size_t i) const {
    const uint8_t x = i < a.size() ? a[i] : 0;
    const uint8_t y = i < b.size() ? b[i] : 0;
    return static_cast<uint8_t>(x ^ y);
  }
  // The first position from i on where the XOR is not zero, or size.
  size_t NextDifference(size_t i) const {
    if constexpr (std::endian::native == std::endian::little) {
      // Most of a second's state is unchanged: skip it a word at a time.
      for (; i + 8 <= common; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) return i + static_cast<size_t>(std::countr_zero(x ^ y)) / 8;
      }
    }
    while (i < size && At(i) == 0) ++i;
    return i;
  }
};

}  // namespace

// Layout: the size of `from`, then runs of (equal bytes to skip, count of
// XOR bytes, the XOR bytes). A run of differences ends only after eight
// equal bytes, so scattered changes do not cost a run header each.
std::vector<uint8_t> MakeXorDelta(std::span<const uint8_t> from, std::span<const uint8_t> to) {
  const XorView x{from, to};
  std::vector<uint8_t> out;
  PutVarint(out, from.size());
  size_t i = 0;
  for (;;) {
    const size_t start = x.NextDifference(i);
    if (start >= x.size) break;
    size_t last = start;
    for (size_t k = start + 1; k < x.size && k - last <= 8; ++k)
      if (x.At(k) != 0) last = k;
    PutVarint(out, start - i);
    PutVarint(out, last + 1 - start);
    for (size_t k = start; k <= last; ++k) out.push_back(x.At(k));
    i = last + 1;
  }
  return out;
}

bool ApplyXorDelta(std::vector<uint8_t>& to, std::span<const uint8_t> delta) {
  size_t at = 0, fromSize = 0;
  if (!GetVarint(delta, at, fromSize) || fromSize > kMaxStateBytes) return false;
  std::vector<uint8_t> result = to;
  result.resize(std::max(result.size(), fromSize), 0);
  size_t pos = 0;
  while (at < delta.size()) {
    size_t skip = 0, count = 0;
    if (!GetVarint(delta, at, skip) || !GetVarint(delta, at, count)) return false;
    if (skip > result.size() - pos || count > result.size() - pos - skip || count > delta.size() - at) return false;
    pos += skip;
    for (size_t k = 0; k < count; ++k) result[pos + k] ^= delta[at + k];
    pos += count;
    at += count;
  }
  result.resize(fromSize);
  to.swap(result);
  return true;
}

RewindRing::RewindRing(size_t budgetBytes, int seconds)
    : budget_(budgetBytes), seconds_(static_cast<size_t>(std::max(1, seconds))) {}

void RewindRing::SetEnabled(bool on) {
  enabled_.store(on, std::memory_order_relaxed);
  if (!on) Clear();
}

void RewindRing::SetBudget(size_t bytes) {
  budget_ = bytes;
  Trim();
}

void RewindRing::Capture(const Machine& m) {
  periods_ = 0;
  const std::vector<uint8_t> image = EncodeSnapshot(m, 3, false);
  std::vector<uint8_t> state(kFrameBytes + image.size());
  std::memcpy(state.data(), &m.Video.FrameBitmap[0][0], kFrameBytes);
  std::memcpy(state.data() + kFrameBytes, image.data(), image.size());
  // Another memory size: the machine was reconfigured, and its older
  // states would not fit it.
  if (newest_.size() != state.size()) Clear();
  if (!newest_.empty()) {
    // Built with room to spare; kept at its own size.
    const std::vector<uint8_t> delta = MakeXorDelta(newest_, state);
    deltas_.emplace_back(delta.begin(), delta.end());
    used_ += delta.size();
    used_ -= newest_.size();
  }
  newest_.swap(state);
  used_ += newest_.size();
  Trim();
}

bool RewindRing::StepBack(Machine& m) {
  if (deltas_.empty()) return false;
  std::vector<uint8_t> older = newest_;
  if (!ApplyXorDelta(older, deltas_.back()) || older.size() < kFrameBytes) return false;
  const std::span<const uint8_t> image(older.data() + kFrameBytes, older.size() - kFrameBytes);
  if (!DecodeSnapshot(m, image, "rewind").Ok) return false;
  used_ -= deltas_.back().size() + newest_.size();
  deltas_.pop_back();
  newest_.swap(older);
  used_ += newest_.size();
  periods_ = 0;
  return true;
}

std::span<const uint8_t> RewindRing::Frame() const {
  if (newest_.size() < kFrameBytes) return {};
  return {newest_.data(), kFrameBytes};
}

void RewindRing::Clear() {
  newest_ = {};
  deltas_.clear();
  used_ = 0;
  periods_ = 0;
}

void RewindRing::Trim() {
  // The newest state stays even over budget: every older one needs it.
  while (!deltas_.empty() && (deltas_.size() + 1 > seconds_ || used_ > budget_)) {
    used_ -= deltas_.front().size();
    deltas_.pop_front();
  }
}
