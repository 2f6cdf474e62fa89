// AutoType paced by machine time: the one pacer the window and the runner
// share, run at the end of every period (in the emulation thread when a
// thread drives the machine).
//
// One AutoType step every 50 ms of machine time and at most one a period,
// so a machine running fast still sees each press for a whole period. The
// SHIFT a character needs goes down a period before its key: steps fall on
// period ends, which drift through the firmware's keyboard scan (a period
// is 32 us longer than a frame), and SHIFT pressed at the same instant as
// its key inside a scan can be read as the key alone.
#pragma once

#include <cstdint>
#include <string>

#include "frontend/autotype.h"

struct KeyboardState;

class AutoTypePacer {
 public:
  static constexpr uint64_t kStepMicroseconds = 50000;

  // Types `text` (already in typing form: "\r\n" line ends) starting
  // `delayMicroseconds` of machine time from now. A text given while typing
  // carries on from the current position (see StartAutoType). False when
  // the text is empty.
  bool Start(std::string text, uint64_t delayMicroseconds = 0);
  // Ends the typing and lets go of every key it holds.
  void Stop(KeyboardState& k);
  bool Active() const { return active_; }
  const AutoTypeState& State() const { return state_; }

  // After each period that ran `microseconds` of machine time.
  void Period(uint32_t microseconds, KeyboardState& k);

 private:
  AutoTypeState state_;
  bool active_ = false;
  uint64_t now_ = 0;   // machine time since the pacer was made
  uint64_t next_ = 0;  // when the next step is due
};
