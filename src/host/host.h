// The outside world as a session sees it: one small interface the window
// and the headless runner each implement, so the session never includes a
// toolkit and either program can drive it.
//
// Calls marked "emulation thread" arrive from inside a period and must not
// block on the caller's own thread (it may be waiting in a PauseGuard).
#pragma once

#include <cstdint>
#include <string>

struct Machine;

enum class HostMessage {
  Notice,   // passing information: a tape counter, autorun's command
  Warning,  // something was switched off or skipped; the run goes on
};

class Host {
 public:
  virtual ~Host() = default;
  // Emulation thread: the finished picture of a period (kFrameHeight rows
  // of kFrameWidth palette indices).
  virtual void Frame(const uint8_t* /*bitmap*/) {}
  // Emulation thread: the period's sound is in the PSG's ring.
  virtual void Audio(Machine& /*m*/) {}
  // Emulation thread: extra per-period work of the host (still series,
  // rewind ring), after the session's own recordings.
  virtual void PeriodEnd(Machine& /*m*/) {}
  // Driving thread (Session::Poll): drive noises asked for since the last
  // poll (FdcSoundEvent bits).
  virtual void DriveNoises(uint32_t /*events*/) {}
  // Driving thread (Session::Poll): time to redraw the drive and hard disk
  // lamps from the machine.
  virtual void Lamps(const Machine& /*m*/) {}
  virtual void Message(HostMessage /*kind*/, const std::string& /*text*/) {}
};
