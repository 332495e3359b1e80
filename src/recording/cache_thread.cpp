#include "recording/cache_thread.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "image/image_tables.h"
#include "image/memory_stream.h"
#include "platform/clock.h"
#include "platform/disc_units.h"
#include "recording/image_source.h"
#include "recording/source_opener.h"
#include "recording/stream_ex.h"
#include "recording/write_preparation.h"

namespace brennix {

namespace {

int32_t SaneBlockSize(int32_t blockSize) {
  const int32_t whole = blockSize / kSectorSize * kSectorSize;
  return std::clamp(whole, kSectorSize, kDVDBlockBytes);
}

int64_t RoundUpToSector(int64_t bytes) {
  return (bytes + kSectorSize - 1) / kSectorSize * kSectorSize;
}

// Reads until count bytes arrived or the file yields no more; a single read may return less.
// With grown given, the read asks for one byte beyond count as well: it sets grown when the
// file gives it (the file is longer than count), without a look at the file's size.
int32_t ReadFully(int fd, uint8_t* buffer, int32_t count, bool* grown = nullptr) {
  int32_t done = 0;
  uint8_t spare = 0;
  while (done < count) {
    iovec parts[2] = {{buffer + done, static_cast<size_t>(count - done)}, {&spare, 1}};
    const ssize_t n = ::readv(fd, parts, grown != nullptr ? 2 : 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (n > count - done) {
      *grown = true;
      return count;
    }
    done += static_cast<int32_t>(n);
  }
  return done;
}

std::string CantOpenMessage(const std::string& path) {
  return "CAN'T OPEN FILE \"" + path + "\" OR FILE IS IN USES BY OTHER SOFTWARE";
}

// The longest a side sleeps without news: every wait stays bounded, whatever the other side
// does (it may never notify, as a consumer that only reads the atomics).
constexpr uint32_t kRoomWaitMs = 20;
constexpr uint32_t kEndWaitMs = 50;

}  // namespace

TCacheBlock::TCacheBlock() = default;
TCacheBlock::~TCacheBlock() = default;
TCacheItem::TCacheItem() = default;
TCacheItem::TCacheItem(TCacheItem&&) noexcept = default;
TCacheItem& TCacheItem::operator=(TCacheItem&&) noexcept = default;
TCacheItem::~TCacheItem() = default;

TCacheThread::TCacheThread(int32_t cacheSize, TMemoryStream* headerStream, int64_t imageSize,
                           bool padToMinimum, int32_t blockSize, std::recursive_mutex& lock,
                           bool adjustPriority, int64_t directCopyFrom,
                           std::shared_ptr<TImageSource> source)
    : TThread(true),
      BlockSize(SaneBlockSize(blockSize)),
      CacheBytes(cacheSize),
      MaxBlocks(std::max(cacheSize, 0) / SaneBlockSize(blockSize)),
      PadToMinimum(padToMinimum && imageSize < kMinimumTrackBytes),
      ImageBytes(std::max<int64_t>(imageSize, 0)),
      DirectCopyFrom(std::max<int64_t>(directCopyFrom, 0)),
      Lock(lock),
      HeaderStream(headerStream),
      adjustPriority_(adjustPriority),
      source_(std::move(source)) {
  BytesToDeliver.store(ImageBytes);
  PadBytes.store(ImageBytes);
  if (adjustPriority_) SetPriority(ThreadPriority::Lower);
  // Marked before the thread exists, so no ClearAll can slip in before it starts reading.
  Tables().Readers.fetch_add(1);
  Resume();
}

TCacheThread::~TCacheThread() {
  Abort();
  WaitFor();
}

void TCacheThread::Abort() {
  AbortRequested.store(true);
  Notify();
}

void TCacheThread::Notify() { signal_.Notify(); }

std::string TCacheThread::FileErrorLine(const std::string& path, bool shorter) {
  return "FILE \"" + path +
         (shorter ? "\" WAS SHORTER THAN EXPECTED, PADDED WITH ZEROS\n"
                  : "\" WAS LONGER THAN EXPECTED, CUT TO ITS FORMER SIZE\n");
}

void TCacheThread::AddFileError(const std::string& line) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  fileErrors_ += line;
}

std::string TCacheThread::ErrorText() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return errorText_;
}

void TCacheThread::SetErrorText(const std::string& text) {
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    errorText_ = text;
  }
  Notify();
}

std::string TCacheThread::CurrentFile() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return currentFile_;
}

std::string TCacheThread::FileErrors() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return fileErrors_;
}

int32_t TCacheThread::QueuedBlocks() const {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return static_cast<int32_t>(BlockList.size());
}

int32_t TCacheThread::GetBlock(uint8_t* dest) {
  // Without directCopyFrom every item is a block of at most 65536 bytes.
  return static_cast<int32_t>(TakeItem(dest).Size);
}

int32_t TCacheThread::ResumeLevel() const {
  const int32_t limit = std::max(MaxBlocks - 1, 1);
  return limit - std::max(limit / 4, 1);
}

int32_t TCacheThread::TakeBlock(std::unique_ptr<TCacheBlock>& block) {
  block.reset();
  return static_cast<int32_t>(Take(nullptr, &block).Size);
}

void TCacheThread::ReturnBlock(std::unique_ptr<TCacheBlock> block) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  // Past the end (or an abort) the cache keeps no blocks for reuse.
  if (block && !Finished.load() && static_cast<int32_t>(spare_.size()) < MaxBlocks)
    spare_.push_back(std::move(block));
}

TCacheItem TCacheThread::TakeItem(uint8_t* dest) { return Take(dest, nullptr); }

TCacheItem TCacheThread::Take(uint8_t* dest, std::unique_ptr<TCacheBlock>* keep) {
  TCacheItem item;
  bool wake = false;
  if (BytesToDeliver.load() == 0 && Finished.load()) return item;
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    if (BlockList.empty()) {
      item.Size = Finished.load() ? 0 : -1;
      return item;
    }
  }
  while (Discarding.load()) {
    SleepMs(1);
    if (AbortRequested.load()) return item;
  }
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    // The producer may have emptied the queue on an abort since the check above.
    if (BlockList.empty()) {
      item.Size = Finished.load() ? 0 : -1;
      return item;
    }
    ConsumerBusy.store(true);
    std::unique_ptr<TCacheBlock> block = std::move(BlockList.front());
    BlockList.pop_front();
    const int64_t size = block->Source ? RoundUpToSector(block->SourceBytes) : block->Size;
    item.Size = size;
    if (block->Source) {
      item.Source = std::move(block->Source);
      item.SourceBytes = block->SourceBytes;
      item.SourcePath = std::move(block->SourcePath);
      block->SourceBytes = 0;
      block->SourcePath.clear();
    } else if (keep != nullptr && size > 0) {
      *keep = std::move(block);
    } else if (dest != nullptr && size > 0) {
      std::memcpy(dest, block->Data, static_cast<size_t>(size));
    }
    if (block && static_cast<int32_t>(spare_.size()) < MaxBlocks) spare_.push_back(std::move(block));
    BytesToDeliver.fetch_sub(size);
    ConsumerBusy.store(false);
    // The producer waits for the queue to come down to its resume level (or to empty, at
    // the end): a take above that level is no news to it.
    wake = static_cast<int32_t>(BlockList.size()) <= ResumeLevel();
  }
  if (wake) Notify();
  return item;
}

std::unique_ptr<TCacheBlock> TCacheThread::NewBlock() {
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    if (!spare_.empty()) {
      std::unique_ptr<TCacheBlock> block = std::move(spare_.back());
      spare_.pop_back();
      block->Size = 0;
      block->Source.reset();
      block->SourceBytes = 0;
      return block;
    }
  }
  return std::make_unique<TCacheBlock>();
}

void TCacheThread::SetLevel(uint8_t level) {
  if (!adjustPriority_ || PriorityLevel.load() == level) return;
  PriorityLevel.store(level);
  static constexpr ThreadPriority kByLevel[] = {ThreadPriority::Idle, ThreadPriority::Lowest,
                                                ThreadPriority::Lower, ThreadPriority::Normal};
  SetPriority(kByLevel[level]);
}

void TCacheThread::AdjustPriority(int32_t queued) {
  if (queued < MaxBlocks / 4) {
    SetLevel(3);
  } else if (queued < MaxBlocks / 2) {
    SetLevel(2);
  } else {
    SetLevel(1);
  }
}

TCacheThread::Step TCacheThread::WaitForRoom() {
  // At least one block must fit, or a tiny cache would wait for ever.
  const int32_t limit = std::max(MaxBlocks - 1, 1);
  uint64_t seen = Events();
  int32_t queued = QueuedBlocks();
  AdjustPriority(queued);
  // Once full, reading goes on when a quarter has been taken: refilling in runs rather than
  // a block per take keeps the two threads from trading places at every block.
  const int32_t resume = ResumeLevel();
  if (queued >= limit) {
    while (queued > resume) {
      SetLevel(0);
      if (AbortRequested.load()) {
        EndOnAbort();
        return Step::Stop;
      }
      // Whoever waits for the cache to fill is told at once.
      if (!CacheFilled.exchange(true)) Notify();
      // The take that brings the queue down to `resume` wakes this at once; the bound only
      // covers a consumer that never says so.
      WaitForEvent(seen, kRoomWaitMs);
      seen = Events();
      queued = QueuedBlocks();
    }
  }
  if (AbortRequested.load()) {
    EndOnAbort();
    return Step::Stop;
  }
  return Step::Go;
}

TCacheThread::Step TCacheThread::AppendOpenBlock(bool waitForRoom) {
  if (open_ && fill_ > 0) {
    if (queuedBytes_ + fill_ > ImageBytes) {
      // More data than the layout reserved: stop before it runs past the track.
      Fail("IMAGE SIZE DOES NOT MATCH ITS LAYOUT");
      return Step::Stop;
    }
    open_->Size = fill_;
    queuedBytes_ += fill_;
    {
      std::lock_guard<std::recursive_mutex> guard(Lock);
      Discarding.store(false);
      BlockList.push_back(std::move(open_));
    }
    Notify();
  }
  open_.reset();
  fill_ = 0;
  return waitForRoom ? WaitForRoom() : Step::Go;
}

void TCacheThread::EndOnAbort() {
  // The consumer holds the lock while it copies a block; wait until it is out (bounded:
  // it never blocks inside).
  for (int i = 0; i < 1000 && ConsumerBusy.load(); ++i) SleepMs(10);
  Discarding.store(true);
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    BlockList.clear();
    spare_.clear();
    if (errorText_.empty()) errorText_ = "OPERATION ABORTED BY USER";
    Finished.store(true);
  }
  Discarding.store(false);
  open_.reset();
  fill_ = 0;
  Notify();
}

void TCacheThread::Fail(const std::string& text) {
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    errorText_ = text;
    Finished.store(true);
  }
  Notify();
}

TCacheThread::Step TCacheThread::AppendSource(std::unique_ptr<TFileStreamEx> stream,
                                               const TFEntry& entry) {
  // Whatever data is open goes first, as a block of its own: the file starts on a sector
  // boundary, and every block holds whole sectors.
  if (AppendOpenBlock(true) == Step::Stop) return Step::Stop;
  const int64_t padded = RoundUpToSector(entry.FileSize);
  if (queuedBytes_ + padded > ImageBytes) {
    Fail("IMAGE SIZE DOES NOT MATCH ITS LAYOUT");
    return Step::Stop;
  }
  std::unique_ptr<TCacheBlock> block = NewBlock();
  block->Source = std::move(stream);
  block->SourceBytes = entry.FileSize;
  block->SourcePath = entry.FullPath;
  queuedBytes_ += padded;
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    Discarding.store(false);
    BlockList.push_back(std::move(block));
  }
  Notify();
  return WaitForRoom();
}

TCacheThread::Step TCacheThread::ReadHeader() {
  if (HeaderStream == nullptr) return Step::Go;
  const int64_t size = HeaderStream->Size();
  HeaderStream->Seek(0);
  int64_t remaining = size;
  while (remaining > 0) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(remaining, BlockSize));
    open_ = NewBlock();
    const size_t got = HeaderStream->Read(open_->Data, static_cast<size_t>(n));
    if (got < static_cast<size_t>(n))
      std::memset(open_->Data + got, 0, static_cast<size_t>(n) - got);
    fill_ = n;
    remaining -= n;
    if (n == BlockSize && AppendOpenBlock(true) == Step::Stop) return Step::Stop;
  }
  HeaderStream->Clear();
  return Step::Go;
}

TCacheThread::Step TCacheThread::ReadFiles() {
  const std::vector<TFEntry*>& files = Tables().Files;
  std::unique_ptr<TFileStreamEx> stream;
  // The files are opened on a thread of their own, ahead of this one (and asked for from a
  // cold disk ahead of their turn); one it could not open is tried again here, named as it
  // fails.
  TSourcesOpenedAhead ahead(files);
  TSourceOpener opener;
  for (size_t index = 0; index < files.size(); ++index) {
    const TFEntry* entry = files[index];
    if (!HasSourceData(entry)) continue;
    {
      std::lock_guard<std::recursive_mutex> guard(Lock);
      currentFile_ = entry->FullPath;
    }
    stream = ahead.Take(index, AbortRequested);
    if (!stream && AbortRequested.load()) {
      EndOnAbort();
      return Step::Stop;
    }
    if (!stream) stream = opener.Open(entry->FullPath);
    if (!stream) {
      Fail(CantOpenMessage(entry->FullPath));
      return Step::Stop;
    }
    if (entry->FileSize > 4 * int64_t{BlockSize})
      (void)::posix_fadvise(stream->Handle, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (DirectCopyFrom > 0 && entry->FileSize >= DirectCopyFrom) {
      // The consumer copies it itself, in the kernel where it can.
      if (AppendSource(std::move(stream), *entry) == Step::Stop) return Step::Stop;
      continue;
    }

    int64_t remaining = entry->FileSize;
    bool shortFile = false;
    bool grown = false;
    while (remaining > 0) {
      if (!open_) {
        open_ = NewBlock();
        fill_ = 0;
      }
      const int32_t room = BlockSize - fill_;
      const int32_t t = static_cast<int32_t>(std::min<int64_t>(remaining, room));
      uint8_t* at = open_->Data + fill_;
      // The file's last part asks for one byte more: a file that grew since it was added is
      // cut at the size the layout gave it, and is named, as one that shrank.
      const int32_t got =
          shortFile ? 0 : ReadFully(stream->Handle, at, t, t == remaining ? &grown : nullptr);
      // What the file did not give, and the tail of its last sector, is zero: nothing of an
      // earlier block may reach the image.
      const int32_t used = static_cast<int32_t>(RoundUpToSector(t));
      if (got < used) std::memset(at + got, 0, static_cast<size_t>(used - got));
      if (got < t) shortFile = true;
      fill_ += used;
      remaining -= t;
      if (AbortRequested.load()) {
        EndOnAbort();
        return Step::Stop;
      }
      if (fill_ >= BlockSize && AppendOpenBlock(true) == Step::Stop) return Step::Stop;
    }
    if (shortFile || grown) AddFileError(FileErrorLine(entry->FullPath, shortFile));
  }
  // The open block stays open: the padding, if any, continues it.
  return Step::Go;
}

TCacheThread::Step TCacheThread::ReadSource() {
  // Block by block, as the files are read, after whatever the head left open; the last
  // block stays open for the padding.
  const int64_t total = ImageBytes - queuedBytes_ - fill_;
  for (int64_t offset = 0; offset < total;) {
    if (!open_) {
      open_ = NewBlock();
      fill_ = 0;
    }
    const auto n = static_cast<int32_t>(std::min<int64_t>(total - offset, BlockSize - fill_));
    const std::string why = source_->Read(offset, open_->Data + fill_, n, AbortRequested);
    if (AbortRequested.load()) {
      EndOnAbort();
      return Step::Stop;
    }
    if (!why.empty()) {
      Fail(why);
      return Step::Stop;
    }
    fill_ += n;
    offset += n;
    if (fill_ >= BlockSize && AppendOpenBlock(true) == Step::Stop) return Step::Stop;
  }
  return Step::Go;
}

void TCacheThread::AppendPadding() {
  int64_t pad = PadToMinimum ? kMinimumTrackBytes - ImageBytes : 0;
  if (pad > 0) {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    PadBytes.store(pad);
    BytesToDeliver.fetch_add(pad);
  }
  // The zeros continue the last data block rather than starting blocks of their own: every
  // block but the last stays full, so a drive that writes whole blocks (32 sectors on DVD)
  // never writes past the sectors reserved for the track.
  while (pad > 0) {
    if (!open_) {
      open_ = NewBlock();
      fill_ = 0;
    }
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(pad, BlockSize - fill_));
    std::memset(open_->Data + fill_, 0, static_cast<size_t>(n));
    fill_ += n;
    pad -= n;
    if (fill_ == BlockSize || pad == 0) {
      open_->Size = fill_;
      {
        std::lock_guard<std::recursive_mutex> guard(Lock);
        BlockList.push_back(std::move(open_));
        PadBytes.store(pad);
        open_.reset();
        fill_ = 0;
      }
      Notify();
    }
  }
}

void TCacheThread::WaitForConsumer() {
  uint64_t seen = Events();
  while (BytesToDeliver.load() > 0) {
    if (AbortRequested.load()) {
      for (int i = 0; i < 1000 && ConsumerBusy.load(); ++i) SleepMs(10);
      Discarding.store(true);
      Finished.store(true);
      Notify();
      return;
    }
    // The consumer's last take wakes this at once.
    WaitForEvent(seen, kEndWaitMs);
    seen = Events();
  }
  // No pause after the end: the owner may join at once. The object may be kept until the
  // next recording; the blocks kept for reuse are not needed any more.
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    spare_.clear();
    Finished.store(true);
  }
  Notify();
}

void TCacheThread::Execute() {
  // The tree may be freed again once this returns, whichever way it ends.
  struct TreeReleased {
    ~TreeReleased() { Tables().Readers.fetch_sub(1); }
  } released;
  // The flags start cleared in the constructor; clearing them here could lose an abort
  // requested before the thread got going.
  if (ReadHeader() == Step::Stop || (source_ ? ReadSource() : ReadFiles()) == Step::Stop) return;
  if (queuedBytes_ + fill_ != ImageBytes) {
    // Delivering more or less than the layout reserved would shift or cut the track.
    Fail("IMAGE SIZE DOES NOT MATCH ITS LAYOUT");
    return;
  }
  if (PadToMinimum) {
    AppendPadding();
  } else if (AppendOpenBlock(false) == Step::Stop) {
    return;
  }
  if (!CacheFilled.exchange(true)) Notify();
  WaitForConsumer();
}

}  // namespace brennix
