// Measures queued folders on worker threads, so that a large tree never freezes the window.
// Each result comes back on the main thread. The owner's destructor stops the walks and
// joins them; a result that arrives after that is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace brennix {

class TFolderMeasurer {
 public:
  // Called on the main thread with the walk's number and the byte total.
  using DoneEvent = std::function<void(uint64_t walk, int64_t bytes)>;

  explicit TFolderMeasurer(DoneEvent onDone);
  ~TFolderMeasurer();
  TFolderMeasurer(const TFolderMeasurer&) = delete;
  TFolderMeasurer& operator=(const TFolderMeasurer&) = delete;

  // Starts walking path; returns the walk's number (never 0).
  uint64_t Start(const std::string& path);
  // Walks whose result has not been delivered yet.
  size_t Running() const { return walks_.size(); }

 private:
  void Deliver(uint64_t walk, int64_t bytes);

  DoneEvent onDone_;
  std::map<uint64_t, std::thread> walks_;
  uint64_t next_ = 0;
  std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
  // Posted results hold a weak reference: once this object is gone they find nothing.
  std::shared_ptr<TFolderMeasurer*> self_ = std::make_shared<TFolderMeasurer*>(this);
};

}  // namespace brennix
