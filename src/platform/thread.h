// A worker thread in the manner the recording code expects: created suspended, started
// with Resume, with a best-effort priority. The owner always joins it (WaitFor or the
// destructor); no thread outlives the object whose memory it uses.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace brennix {

enum class ThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

class TThread {
 public:
  explicit TThread(bool createSuspended = true);
  virtual ~TThread();  // joins; a derived class must stop its loop before this runs
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Resume();  // starts the thread the first time; later calls do nothing
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  bool Finished() const { return finished_.load(); }
  bool Started() const { return started_.load(); }
  void WaitFor();  // joins the thread; returns at once when it never started

  // Best effort: nice values for the lower levels, SCHED_RR for time-critical where the
  // system allows it; silently kept otherwise. May be called from any thread.
  void SetPriority(ThreadPriority priority);

  // Runs once, on the thread, after Execute returns.
  std::function<void()> OnTerminate;

 protected:
  virtual void Execute() = 0;

 private:
  void Run();
  void ApplyPriority();

  std::thread thread_;
  std::atomic<bool> started_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<ThreadPriority> priority_{ThreadPriority::Normal};
  std::atomic<int> tid_{0};
};

}  // namespace brennix
