// One replaceable clock for every wait in the program. Drive delays, retry sleeps and
// time-outs all go through it, so a test can swap in a TestClock and run a 30-second wait
// in microseconds.
#pragma once

#include <atomic>
#include <cstdint>

namespace brennix {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary fixed point; never goes backwards.
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// Steady wall clock with real sleeps.
class SystemClock final : public Clock {
 public:
  uint64_t NowMs() override;
  void SleepMs(uint32_t ms) override;
};

// Virtual time: a sleep advances the time by its length at once (and yields the processor
// briefly, so a thread that polls in a loop does not starve the others).
class TestClock final : public Clock {
 public:
  explicit TestClock(uint64_t startMs = 1000) : now_(startMs) {}
  uint64_t NowMs() override { return now_.load(); }
  void SleepMs(uint32_t ms) override;

 private:
  std::atomic<uint64_t> now_;
};

// The clock in force. Null restores the system clock. Swap clocks only while no worker
// thread is running.
Clock& CurrentClock();
void SetClock(Clock* clock);

// Whether the clock in force is the system's (no test clock installed).
bool UsingSystemClock();

inline uint64_t TickCount() { return CurrentClock().NowMs(); }
inline void SleepMs(uint32_t ms) { CurrentClock().SleepMs(ms); }

// Installs a TestClock for the lifetime of the object (tests).
class ScopedTestClock {
 public:
  ScopedTestClock() { SetClock(&clock_); }
  ~ScopedTestClock() { SetClock(nullptr); }
  ScopedTestClock(const ScopedTestClock&) = delete;
  ScopedTestClock& operator=(const ScopedTestClock&) = delete;
  TestClock& clock() { return clock_; }

 private:
  TestClock clock_;
};

}  // namespace brennix
