#include "platform/main_thread.h"

#include <deque>
#include <mutex>

#include "platform/clock.h"

namespace brennix {

namespace {
std::mutex g_queueMutex;
std::deque<MainThreadTask> g_queue;
std::function<void(MainThreadTask)> g_poster;
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
    if (TickCount() - start >= timeoutMs) return false;
    SleepMs(1);
  }
}

}  // namespace brennix
