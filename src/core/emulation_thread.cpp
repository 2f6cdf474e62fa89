#include "core/emulation_thread.h"

#include "core/machine.h"

void PeriodHooks::FloppyTick(Machine& m) { FdcFrameTick(m); }
void PeriodHooks::SerialPoll(Machine& m) {
  if (m.Serial.SerialEnabled) ::SerialPoll(m.Serial);
}
void PeriodHooks::SubmitDigiblaster(Machine& m) { DigiblasterSubmit(m); }

void RunPeriod(Machine& m, PeriodHooks& hooks) {
  EmulateTick(m);
  hooks.PublishFrame(m);
  m.FrameCounter.fetch_add(1, std::memory_order_relaxed);
  hooks.FloppyTick(m);
  hooks.Stills(m);
  hooks.Capture(m);
  hooks.SerialPoll(m);
  hooks.SubmitSound(m);
  hooks.SubmitDigiblaster(m);
  PrinterPeriodTick(m);
  hooks.Rewind(m);
}

EmulationThread::EmulationThread(Machine& m, PeriodHooks& hooks) : machine_(m), hooks_(hooks) {}

EmulationThread::~EmulationThread() { Stop(); }

void EmulationThread::Start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
  }
  thread_ = std::thread([this] { Body(); });
}

void EmulationThread::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    suspendCount_ = 0;  // a suspended thread must wake to see the stop
  }
  wake_.notify_all();
  thread_.join();
}

void EmulationThread::SuspendEmulation() {
  std::unique_lock lock(mutex_);
  ++suspendCount_;
  if (!thread_.joinable() || std::this_thread::get_id() == thread_.get_id()) return;
  parked_.wait(lock, [this] { return parked_flag_ || stop_; });
}

void EmulationThread::ResumeEmulation() {
  {
    std::lock_guard lock(mutex_);
    if (suspendCount_ > 0) --suspendCount_;
  }
  wake_.notify_all();
}

void EmulationThread::SetThrottle(bool on) {
  std::lock_guard lock(mutex_);
  throttle_ = on;
}

void EmulationThread::SetFastTape(bool on) {
  std::lock_guard lock(mutex_);
  fastTape_ = on;
}

uint64_t EmulationThread::Periods() const {
  std::lock_guard lock(mutex_);
  return periods_;
}

void EmulationThread::Body() {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPeriod = std::chrono::milliseconds(20);
  auto next = Clock::now();
  for (;;) {
    bool throttle;
    {
      std::unique_lock lock(mutex_);
      if (suspendCount_ > 0 && !stop_) {
        // Parked between periods: the safe point for the main thread.
        parked_flag_ = true;
        parked_.notify_all();
        wake_.wait(lock, [this] { return suspendCount_ == 0 || stop_; });
        parked_flag_ = false;
        next = Clock::now();
      }
      if (stop_) return;
      throttle = throttle_ && !(fastTape_ && TapeFastLoading(machine_.Tape));
    }

    RunPeriod(machine_, hooks_);

    {
      std::lock_guard lock(mutex_);
      ++periods_;
    }
    if (throttle) {
      // Sleep for the rest of the period; a late period does not try to
      // catch up, as the speed is the amount of machine time per period.
      next += kPeriod;
      auto now = Clock::now();
      if (next > now) {
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, next, [this] { return stop_ || suspendCount_ > 0; });
      } else {
        next = now;
      }
    }
  }
}
