#include "recording/cache_fan_out.h"

#include <algorithm>
#include <cstring>

#include "recording/cache_thread.h"

namespace brennix {

namespace {

constexpr size_t kBlockBytes = 65536;

}  // namespace

TCacheFanOut::TCacheFanOut(TCacheThread& cache, std::recursive_mutex& lock, int taps,
                           int32_t keepBlocks)
    : cache_(cache),
      lock_(lock),
      keepBlocks_(std::max(keepBlocks, 1)),
      next_(static_cast<size_t>(std::max(taps, 1)), 0),
      left_(next_.size(), false),
      remaining_(static_cast<int>(next_.size())) {}

TCacheFanOut::~TCacheFanOut() = default;

void TCacheFanOut::DropTaken() {
  int64_t lowest = first_ + static_cast<int64_t>(blocks_.size());
  for (size_t i = 0; i < next_.size(); ++i) {
    if (!left_[i]) lowest = std::min(lowest, next_[i]);
  }
  while (first_ < lowest && !blocks_.empty()) {
    blocks_.pop_front();
    ++first_;
  }
}

int32_t TCacheFanOut::GetBlock(int tap, uint8_t* dest) {
  const auto t = static_cast<size_t>(tap);
  bool dropped = false;
  int32_t size = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (t >= next_.size() || left_[t]) return 0;
    const int64_t n = next_[t];
    const int64_t end = first_ + static_cast<int64_t>(blocks_.size());
    if (n < end) {
      const Block& block = blocks_[static_cast<size_t>(n - first_)];
      size = block.Size;
      std::memcpy(dest, block.Data.get(), static_cast<size_t>(size));
      ++next_[t];
      const size_t before = blocks_.size();
      DropTaken();
      dropped = blocks_.size() != before;
    } else {
      // This tap is ahead of the others: the next block comes from the cache, unless the
      // slowest tap is too far behind to keep one more.
      if (static_cast<int32_t>(blocks_.size()) >= keepBlocks_) return kHeldBack;
      {
        std::lock_guard<std::recursive_mutex> cacheGuard(lock_);
        size = cache_.GetBlock(dest);
      }
      if (size <= 0) return size;
      Block block;
      block.Size = size;
      block.Data = std::make_unique<uint8_t[]>(kBlockBytes);
      std::memcpy(block.Data.get(), dest, static_cast<size_t>(size));
      blocks_.push_back(std::move(block));
      ++next_[t];
      DropTaken();
    }
  }
  // A tap held back by this one may go on.
  if (dropped) cache_.Wake();
  return size;
}

void TCacheFanOut::Leave(int tap) {
  const auto t = static_cast<size_t>(tap);
  bool last = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (t >= left_.size() || left_[t]) return;
    left_[t] = true;
    last = --remaining_ == 0;
    DropTaken();
  }
  if (!last) {
    cache_.Wake();
    return;
  }
  // The reader may still be opening a source: the end is reported only once it has stopped.
  cache_.Abort();
  cache_.WaitFor();
}

}  // namespace brennix
