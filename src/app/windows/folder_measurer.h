// Measures queued folders on worker threads, so that a large tree never freezes the window.
// At most kMaxWalks run at once; the others wait their turn. Each result comes back on the
// main thread. The destructor stops the walks and joins them; a result that arrives after
// that is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace brennix {

class TFolderMeasurer {
 public:
  static constexpr size_t kMaxWalks = 4;
  // Called on the main thread with the walk's number and the byte total.
  using DoneEvent = std::function<void(uint64_t walk, int64_t bytes)>;

  explicit TFolderMeasurer(DoneEvent onDone);
  ~TFolderMeasurer();
  TFolderMeasurer(const TFolderMeasurer&) = delete;
  TFolderMeasurer& operator=(const TFolderMeasurer&) = delete;

  // Queues a walk of path; returns its number (never 0).
  uint64_t Start(const std::string& path);
  // The walk's result is no longer wanted: it stops early and reports nothing.
  void Cancel(uint64_t walk);
  void CancelAll();
  // Walks whose result has not been delivered yet.
  size_t Running() const { return walks_.size() + waiting_.size(); }

 private:
  struct Walk {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> cancel;
  };
  void Launch();
  void Deliver(uint64_t walk, int64_t bytes);

  DoneEvent onDone_;
  std::map<uint64_t, Walk> walks_;
  std::deque<std::pair<uint64_t, std::string>> waiting_;
  uint64_t next_ = 0;
  // Posted results hold a weak reference: once this object is gone they find nothing.
  std::shared_ptr<TFolderMeasurer*> self_ = std::make_shared<TFolderMeasurer*>(this);
};

}  // namespace brennix
