// The emulation thread: one period every 20 ms of real time.
//
// Each period runs EmulateTick and then the per-period hooks in their fixed
// order. The thread never waits for the GUI: it publishes the finished frame
// through a hook and goes on. SuspendEmulation returns only once the thread
// is parked between periods, so the caller may then change machine state.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct Machine;

// What happens after each EmulateTick, in this order. Every hook runs in the
// emulation thread and touches only machine state or its own buffers.
class PeriodHooks {
 public:
  virtual ~PeriodHooks() = default;
  virtual void PublishFrame(Machine&) {}
  virtual void FloppyTick(Machine&);        // FdcFrameTick
  virtual void Stills(Machine&) {}
  virtual void Capture(Machine&) {}
  virtual void SerialPoll(Machine&);
  virtual void SubmitSound(Machine&) {}
  virtual void SubmitDigiblaster(Machine&);  // DigiblasterSubmit
  virtual void Rewind(Machine&) {}           // last: keeps the state the period ended with
};

// One period's work without the sleep: EmulateTick then the hooks.
void RunPeriod(Machine& m, PeriodHooks& hooks);

class EmulationThread {
 public:
  EmulationThread(Machine& m, PeriodHooks& hooks);
  ~EmulationThread();
  EmulationThread(const EmulationThread&) = delete;
  EmulationThread& operator=(const EmulationThread&) = delete;

  void Start();
  void Stop();  // tells the loop to end after the current period, then joins
  void SuspendEmulation();
  void ResumeEmulation();
  bool Running() const { return thread_.joinable(); }

  // Off: run periods back to back (benchmarks, tests).
  void SetThrottle(bool on);
  // On: periods also run back to back while a tape plays with its motor
  // running (fast loading); the set speed returns when the motor stops.
  void SetFastTape(bool on);
  uint64_t Periods() const;

 private:
  void Body();

  Machine& machine_;
  PeriodHooks& hooks_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;    // to the thread: resume or stop
  std::condition_variable parked_;  // from the thread: it is parked
  int suspendCount_ = 0;
  bool parked_flag_ = false;
  bool stop_ = false;
  bool throttle_ = true;
  bool fastTape_ = false;
  uint64_t periods_ = 0;
};
