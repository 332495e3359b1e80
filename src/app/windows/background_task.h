// Runs one long step (building the tree, laying it out, waiting for a drive) on a worker
// thread and hands its end back to the main thread, so the window keeps painting and
// answering. The owner keeps the object alive while the step runs; its destructor waits for
// the worker, and an end that arrives after the owner is gone is dropped.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace brennix {

// Neither copied nor moved: its worker's end finds it by its address.
class TBackgroundTask {
 public:
  ~TBackgroundTask();

  // Starts work on a worker; done runs on the main thread after work has returned. False
  // (and nothing started) while an earlier step is still running.
  bool Start(std::function<void()> work, std::function<void()> done);
  // A step has started and its done has not run yet.
  bool Running() const { return running_.load(); }
  // Blocks until the running step's work has returned (its done still comes through the
  // main thread's queue). Only for shutdown: the work must be bounded.
  void Wait();

 private:
  void Finish(const std::function<void()>& done);

  std::thread thread_;
  std::atomic<bool> running_{false};
  // Posted ends hold a weak reference: once this object is gone they find nothing.
  std::shared_ptr<TBackgroundTask*> self_ = std::make_shared<TBackgroundTask*>(this);
};

}  // namespace brennix
