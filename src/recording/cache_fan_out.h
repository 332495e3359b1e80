// One read-ahead cache feeding several writers: every writer takes every block in order, at
// its own pace, through a tap of its own. A block taken from the cache stays here until the
// last writer still taking has had it, so the sources are read once however many discs are
// written. A writer that ends early leaves, and no longer holds the others back; the cache
// is stopped and joined when the last one leaves.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace brennix {

class TCacheThread;

class TCacheFanOut {
 public:
  // What GetBlock gives besides a block's size: nothing yet from the cache (as its own
  // GetBlock), or nothing until a slower writer has caught up.
  static constexpr int32_t kNotReady = -1;
  static constexpr int32_t kHeldBack = -2;

  // taps writers; the fan-out keeps at most keepBlocks blocks that a slower writer still
  // needs. Takes the cache under its lock, as a single consumer does.
  TCacheFanOut(TCacheThread& cache, std::recursive_mutex& lock, int taps, int32_t keepBlocks);
  ~TCacheFanOut();

  // The next block for this tap into dest (65536 bytes): its size; 0 at the end of data or
  // after an abort; kNotReady or kHeldBack when the tap should wait for the cache's next
  // event (a take by a slower tap is one).
  int32_t GetBlock(int tap, uint8_t* dest);
  // The tap takes no more. The last one to leave aborts the cache and waits for its thread.
  void Leave(int tap);

 private:
  void DropTaken();  // under mutex_

  TCacheThread& cache_;
  std::recursive_mutex& lock_;
  const int32_t keepBlocks_;
  std::mutex mutex_;
  struct Block {
    int32_t Size = 0;
    std::unique_ptr<uint8_t[]> Data;
  };
  std::deque<Block> blocks_;  // blocks first_ onward
  int64_t first_ = 0;         // the number of blocks_.front() in the image
  std::vector<int64_t> next_;  // each tap's next block
  std::vector<bool> left_;
  int remaining_;
};

}  // namespace brennix
