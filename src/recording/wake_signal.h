// The wake-up between a producer and a consumer thread: a count of events that a waiter may
// care about, and a bounded wait for the next one. Read the count before looking at the shared
// state, then wait for a change: no event between the look and the wait is missed. The mutex
// is its own and guards only the count, so the wait never holds a lock of the caller's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace brennix {

class TWakeSignal {
 public:
  void Notify() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      ++events_;
    }
    changed_.notify_all();
  }
  uint64_t Events() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_;
  }
  // Returns once the count differs from `seen`, or after at most maxMs of real time.
  void WaitForEvent(uint64_t seen, uint32_t maxMs) const {
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait_for(guard, std::chrono::milliseconds(maxMs), [&] { return events_ != seen; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  uint64_t events_ = 0;
};

}  // namespace brennix
