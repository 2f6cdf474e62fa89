#include "host/autotype_pacer.h"

#include <algorithm>
#include <utility>

bool AutoTypePacer::Start(std::string text, uint64_t delayMicroseconds) {
  if (!StartAutoType(state_, std::move(text))) return false;
  if (!active_) next_ = now_ + delayMicroseconds;
  active_ = true;
  return true;
}

void AutoTypePacer::Stop(KeyboardState& k) {
  AutoTypeReleaseKeys(state_, k);
  StopAutoType(state_);
  active_ = false;
}

void AutoTypePacer::Period(uint32_t microseconds, KeyboardState& k) {
  now_ += microseconds;
  if (!active_) return;
  if (now_ >= next_) {
    active_ = AutoTypeStep(state_, k);
    next_ = std::max(next_ + kStepMicroseconds, now_);
  } else if (now_ + microseconds >= next_) {
    AutoTypeShiftAhead(state_, k);
  }
}
