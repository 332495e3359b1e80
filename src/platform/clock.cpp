#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace brennix {

uint64_t SystemClock::NowMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::SleepMs(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TestClock::SleepMs(uint32_t ms) {
  now_.fetch_add(ms);
  std::this_thread::sleep_for(std::chrono::microseconds(ms == 0 ? 1 : 20));
}

namespace {
SystemClock g_systemClock;
std::atomic<Clock*> g_clock{&g_systemClock};
}  // namespace

Clock& CurrentClock() { return *g_clock.load(std::memory_order_acquire); }

bool UsingSystemClock() { return g_clock.load(std::memory_order_acquire) == &g_systemClock; }

void SetClock(Clock* clock) {
  g_clock.store(clock != nullptr ? clock : &g_systemClock, std::memory_order_release);
}

}  // namespace brennix
