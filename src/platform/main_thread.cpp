#include "platform/main_thread.h"

#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <deque>
#include <mutex>

#include "platform/clock.h"

namespace brennix {

namespace {
std::mutex g_queueMutex;
std::deque<MainThreadTask> g_queue;
std::function<void(MainThreadTask)> g_poster;
std::condition_variable g_posted;  // a task joined the built-in queue

// The longest the pump sleeps without a task: what done() waits for may come otherwise too.
constexpr uint32_t kPumpWaitMs = 10;
}  // namespace

void PostToMainThread(MainThreadTask task) {
  std::unique_lock lock(g_queueMutex);
  if (g_poster) {
    auto poster = g_poster;
    lock.unlock();
    poster(std::move(task));
    return;
  }
  g_queue.push_back(std::move(task));
  lock.unlock();
  g_posted.notify_all();
}

void SetMainThreadPoster(std::function<void(MainThreadTask)> poster) {
  std::lock_guard lock(g_queueMutex);
  g_poster = std::move(poster);
}

size_t PumpMainThread() {
  size_t ran = 0;
  for (;;) {
    MainThreadTask task;
    {
      std::lock_guard lock(g_queueMutex);
      if (g_queue.empty()) break;
      task = std::move(g_queue.front());
      g_queue.pop_front();
    }
    task();
    ++ran;
  }
  return ran;
}

bool PumpMainThreadUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const uint64_t start = TickCount();
  for (;;) {
    PumpMainThread();
    if (done()) return true;
    const uint64_t waited = TickCount() - start;
    if (waited >= timeoutMs) return false;
    if (!UsingSystemClock()) {
      // A test's clock: its sleep moves the time on, which the time-out counts on.
      SleepMs(1);
      continue;
    }
    // Woken by the next task rather than looking every millisecond.
    std::unique_lock lock(g_queueMutex);
    const auto wait = std::chrono::milliseconds(
        std::min<uint64_t>(kPumpWaitMs, timeoutMs - waited));
    g_posted.wait_for(lock, wait, [] { return !g_queue.empty(); });
  }
}

}  // namespace brennix
