#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace brennix {

namespace {

// True when this process may set a nice value of 0 after raising it.
bool CanReturnToNormalPriority() {
  if (::geteuid() == 0) return true;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NICE, &limit) != 0) return false;
  // The lowest nice value allowed is 20 - limit.
  return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 20;
}

}  // namespace

TThread::TThread(bool createSuspended) {
  if (!createSuspended) Resume();
}

TThread::~TThread() { WaitFor(); }

void TThread::Resume() {
  bool expected = false;
  if (started_.compare_exchange_strong(expected, true)) thread_ = std::thread([this] { Run(); });
}

void TThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::Run() {
  tid_.store(static_cast<int>(::syscall(SYS_gettid)));
  ApplyPriority();
  Execute();
  if (OnTerminate) OnTerminate();
  finished_.store(true);
}

void TThread::SetPriority(ThreadPriority priority) {
  priority_.store(priority);
  if (tid_.load() != 0) ApplyPriority();
}

void TThread::ApplyPriority() {
  const int tid = tid_.load();
  if (tid == 0) return;
  const ThreadPriority p = priority_.load();
  // The lower levels stay mild: the read-ahead cache drops to them while its queue is full,
  // and must still be scheduled promptly on a busy machine once the writer has drained it.
  int niceValue = 0;
  switch (p) {
    case ThreadPriority::Idle: niceValue = 10; break;
    case ThreadPriority::Lowest: niceValue = 5; break;
    case ThreadPriority::Lower: niceValue = 2; break;
    case ThreadPriority::Normal: niceValue = 0; break;
    case ThreadPriority::Higher: niceValue = -5; break;
    case ThreadPriority::Highest: niceValue = -10; break;
    case ThreadPriority::TimeCritical: niceValue = -15; break;
  }
  if (p == ThreadPriority::TimeCritical) {
    sched_param param{};
    param.sched_priority = 10;
    if (::sched_setscheduler(tid, SCHED_RR, &param) == 0) return;
  }
  // Lowering a thread's priority always works, but raising it again needs privileges
  // (RLIMIT_NICE or CAP_SYS_NICE). A thread that is lowered while it waits and raised when it
  // has work (the read-ahead cache) would otherwise stay at the bottom for good, so levels are
  // only applied where the way back up is open; elsewhere the priority is kept.
  if (niceValue > 0 && !CanReturnToNormalPriority()) return;
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceValue);
}

}  // namespace brennix
