// The read-ahead cache: a producer thread that turns the image (the prepared head, then the
// data of every file in layout order, or instead the sectors of an image source, then
// optional zero padding) into an ordered queue of blocks, so that the writer can feed a
// drive without pause. The queue is bounded by the
// cache size; the one consumer takes a block at a time with GetBlock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "recording/wake_signal.h"

namespace brennix {

class TMemoryStream;
class TImageSource;
struct TFEntry;

constexpr int32_t kCacheBlockCapacity = 65540;
// A track shorter than this many bytes (300 sectors) is padded with zeros when asked to.
constexpr int64_t kMinimumTrackBytes = 614400;

class TFileStreamEx;

struct TCacheBlock {
  int32_t Size = 0;  // valid bytes at the start of Data
  // A block of a cache that hands files over whole (see DirectCopyFrom): not data but the
  // source itself, open, whose first SourceBytes bytes the consumer copies, followed by
  // zeros to whole sectors (Size stays 0).
  std::unique_ptr<TFileStreamEx> Source;
  int64_t SourceBytes = 0;
  std::string SourcePath;
  uint8_t Data[kCacheBlockCapacity];

  TCacheBlock();
  ~TCacheBlock();
};

// What TakeItem gives: a block of data in the caller's buffer (Size bytes), or a source file
// to copy (Source set: SourceBytes of it, then zeros up to Size). Size is -1 when nothing is
// ready yet, 0 at the end of data or after an abort.
struct TCacheItem {
  int64_t Size = 0;
  std::unique_ptr<TFileStreamEx> Source;
  int64_t SourceBytes = 0;
  std::string SourcePath;

  TCacheItem();
  TCacheItem(TCacheItem&&) noexcept;
  TCacheItem& operator=(TCacheItem&&) noexcept;
  ~TCacheItem();
};

// Called by every read-ahead cache on its own thread just before it opens a source; null
// (the default) calls nothing. Tests hold a reader here where a slow file system would.
using TSourceOpenHook = void (*)(const std::string& path);
void SetSourceOpenHook(TSourceOpenHook hook);

class TCacheThread : public TThread {
 public:
  // Starts reading at once. headerStream is taken (and emptied) by the thread; the image
  // tree must stay unchanged until the thread has finished. With adjustPriority false the
  // thread keeps its priority: for a consumer that is not time-critical (a file image),
  // lowering the reader would only slow the whole job.
  //
  // directCopyFrom > 0 lets a consumer that copies files itself (the image file writer, with
  // TakeItem) take every file of at least that many bytes as an open source instead of as
  // blocks of data; 0 (the default, and what a consumer of GetBlock needs) never does.
  //
  // With a source, what follows the head is read from it (from its offset 0), and the tree
  // is not walked; the cache keeps the source until it is destroyed.
  TCacheThread(int32_t cacheSize, TMemoryStream* headerStream, int64_t imageSize,
               bool padToMinimum, int32_t blockSize, std::recursive_mutex& lock,
               bool adjustPriority = true, int64_t directCopyFrom = 0,
               std::shared_ptr<TImageSource> source = nullptr);
  // Requests an abort and joins: never outlives the object, never hangs.
  ~TCacheThread() override;

  // Copies the oldest block to dest (which must hold 65536 bytes) and returns its size;
  // -1 when nothing is ready yet (ask again), 0 at the end of data or after an abort.
  int32_t GetBlock(uint8_t* dest);
  // As GetBlock, but a file handed over whole comes as an item with its source (only with
  // directCopyFrom > 0). Taken under the lock, as GetBlock.
  TCacheItem TakeItem(uint8_t* dest);
  // As GetBlock, but the oldest block itself moves to `block` instead of being copied out
  // (null unless the size is above 0). The caller may change its data (up to its capacity)
  // and gives it back with ReturnBlock once done with it, both under the lock.
  int32_t TakeBlock(std::unique_ptr<TCacheBlock>& block);
  void ReturnBlock(std::unique_ptr<TCacheBlock> block);
  void Abort();
  // Wakes whoever waits for the next event (a consumer that shares the blocks out has news
  // of its own).
  void Wake() { Notify(); }

  // The wake-up between the two sides. Events() counts every change a waiter may care
  // about (a block queued or taken, the end, an error, an abort); WaitForEvent(seen, ms)
  // returns once the count differs from `seen` or after at most ms milliseconds of real
  // time. Read the count before looking at the queue, and no change is missed. Takes no
  // lock of the caller's: it may be called with or without it.
  uint64_t Events() const { return signal_.Events(); }
  void WaitForEvent(uint64_t seen, uint32_t maxMs) const { signal_.WaitForEvent(seen, maxMs); }

  // Adds a line to FileErrors (the consumer of a file handed over whole found it shorter or
  // longer than the layout recorded).
  void AddFileError(const std::string& line);
  // The line FileErrors holds for a file that yielded fewer (shorter) or more bytes.
  static std::string FileErrorLine(const std::string& path, bool shorter);

  // The message that ends the recording; empty while all is well. Taken under the lock.
  std::string ErrorText() const;
  void SetErrorText(const std::string& text);
  // The source file being read (empty before the first).
  std::string CurrentFile() const;
  // Files that yielded fewer bytes than the layout recorded; their sectors were filled
  // with zeros and the image stayed whole. One message per line; empty when none.
  // Not part of ErrorText, which would stop the writer: the consumer reports it at the end.
  std::string FileErrors() const;
  int32_t QueuedBlocks() const;

  const int32_t BlockSize;
  const int32_t CacheBytes;
  const int32_t MaxBlocks;
  const bool PadToMinimum;
  const int64_t ImageBytes;
  const int64_t DirectCopyFrom;

  std::atomic<uint8_t> PriorityLevel{2};  // 0 idle, 1 lowest, 2 lower, 3 normal
  std::atomic<bool> Discarding{false};
  std::atomic<bool> ConsumerBusy{false};
  std::atomic<bool> AbortRequested{false};
  std::atomic<bool> Finished{false};  // hides TThread::Finished(): this is the data's end
  std::atomic<bool> CacheFilled{false};
  std::atomic<int64_t> PadBytes{0};
  std::atomic<int64_t> BytesToDeliver{0};

 protected:
  void Execute() override;

 private:
  enum class Step { Go, Stop };

  // TakeItem and TakeBlock: the block is copied to dest, or moved to *keep when given.
  TCacheItem Take(uint8_t* dest, std::unique_ptr<TCacheBlock>* keep);
  std::unique_ptr<TCacheBlock> NewBlock();
  // Appends the open block (under the lock) and waits for room; Stop after an abort.
  Step AppendOpenBlock(bool waitForRoom);
  Step WaitForRoom();
  void AdjustPriority(int32_t queued);
  void SetLevel(uint8_t level);
  void EndOnAbort();
  void Fail(const std::string& text);
  Step ReadHeader();
  Step ReadFiles();
  Step ReadSource();
  void AppendPadding();
  void WaitForConsumer();
  void Notify();
  // The queue length at which a producer that found the queue full reads on.
  int32_t ResumeLevel() const;
  // Queues a file of at least DirectCopyFrom bytes as its open source.
  Step AppendSource(std::unique_ptr<TFileStreamEx> stream, const TFEntry& entry);

  std::recursive_mutex& Lock;
  TMemoryStream* HeaderStream;
  const bool adjustPriority_;
  const std::shared_ptr<TImageSource> source_;

  // Guarded by Lock.
  std::deque<std::unique_ptr<TCacheBlock>> BlockList;
  std::vector<std::unique_ptr<TCacheBlock>> spare_;  // taken blocks kept for reuse
  std::string errorText_;
  std::string currentFile_;
  std::string fileErrors_;

  TWakeSignal signal_;  // see Events

  // Producer only.
  std::unique_ptr<TCacheBlock> open_;  // the block being filled
  int32_t fill_ = 0;
  int64_t queuedBytes_ = 0;
};

}  // namespace brennix
