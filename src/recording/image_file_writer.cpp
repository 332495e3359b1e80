#include "recording/image_file_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/disc_units.h"
#include "recording/cache_thread.h"
#include "recording/stream_ex.h"

namespace brennix {

namespace {

// Each block is written while it is still in the processor's cache: on the machines we
// measured, one large write of gathered blocks copied several times slower than many writes
// of one block each.
constexpr size_t kBatchBytes = 65536;
constexpr size_t kBlockRoom = 65536;
// A file handed over whole is copied in steps of this size, so that progress and a cancel
// are seen between them.
constexpr int64_t kCopyStep = 16 * 1048576;
// The longest the writer sleeps without news from the cache (it is woken at once when a
// block is queued, the data ends or the cache fails).
constexpr uint32_t kBlockWaitMs = 20;

std::atomic<int> g_kernelCopy{-1};  // -1: not decided yet, 0 no, 1 yes

bool WriteAll(int fd, const uint8_t* data, size_t count, int& error) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    if (n == 0) {
      error = ENOSPC;
      return false;
    }
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// Writes `count` zero bytes.
bool WriteZeros(int fd, int64_t count, int& error) {
  static const std::vector<uint8_t> zeros(kBatchBytes, 0);
  while (count > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(count, kBatchBytes));
    if (!WriteAll(fd, zeros.data(), n, error)) return false;
    count -= static_cast<int64_t>(n);
  }
  return true;
}

enum class CopyEnd { Done, WriteFailed, Cancelled };

// Copies one file handed over whole: the first item.SourceBytes bytes of the source into fd
// at its position, then zeros to the end of the sector. What the source no longer holds is
// zeros too, and a source that shrank or grew is reported as the cache reports it.
// `written` grows by what reached fd.
class SourceCopier {
 public:
  SourceCopier(int fd, uint8_t* buffer, TCacheThread& cache, const std::atomic<bool>* cancel,
               std::function<void(int64_t)> step)
      : fd_(fd), buffer_(buffer), cache_(cache), cancel_(cancel), step_(std::move(step)) {}

  CopyEnd Copy(const TCacheItem& item, int64_t& written, int& error) {
    const int src = item.Source->Handle;
    const int64_t want = item.SourceBytes;
    struct stat info {};
    const bool known = ::fstat(src, &info) == 0;
    bool kernel = KernelCopyAllowed() && known && !Refused(info.st_dev);
    bool shorter = false;
    int64_t done = 0;
    while (done < want) {
      if (cancel_ != nullptr && cancel_->load()) return CopyEnd::Cancelled;
      const int64_t step = std::min(want - done, kCopyStep);
      int64_t moved = 0;
      if (kernel) {
        loff_t in = done;
        const ssize_t n = ::copy_file_range(src, &in, fd_, nullptr, static_cast<size_t>(step), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          // Refused (another file system, one that cannot, an old kernel), failed, or at the
          // source's end: read and write take over for the rest and tell which it was.
          if (n < 0 && known && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP))
            refusedDevices_.push_back(info.st_dev);
          kernel = false;
          continue;
        }
        moved = n;
      } else {
        const size_t chunk = static_cast<size_t>(std::min<int64_t>(step, kBatchBytes));
        ssize_t n;
        do {
          n = ::pread(src, buffer_, chunk, done);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
          shorter = true;
          break;
        }
        if (!WriteAll(fd_, buffer_, static_cast<size_t>(n), error)) return CopyEnd::WriteFailed;
        moved = n;
      }
      done += moved;
      written += moved;
      if (step_) step_(written);
    }
    // What the file did not give, and the tail of its last sector, is zero.
    const int64_t padded = (want + kSectorSize - 1) / kSectorSize * kSectorSize;
    if (!WriteZeros(fd_, padded - done, error)) return CopyEnd::WriteFailed;
    written += padded - done;
    struct stat now {};
    const bool grown = !shorter && ::fstat(src, &now) == 0 && static_cast<int64_t>(now.st_size) > want;
    if (shorter || grown) cache_.AddFileError(TCacheThread::FileErrorLine(item.SourcePath, shorter));
    return CopyEnd::Done;
  }

 private:
  bool Refused(dev_t device) const {
    return std::find(refusedDevices_.begin(), refusedDevices_.end(), device) !=
           refusedDevices_.end();
  }

  const int fd_;
  uint8_t* const buffer_;
  TCacheThread& cache_;
  const std::atomic<bool>* const cancel_;
  const std::function<void(int64_t)> step_;
  std::vector<dev_t> refusedDevices_;  // where the kernel refused to copy
};

}  // namespace

bool KernelCopyAllowed() {
  int allowed = g_kernelCopy.load();
  if (allowed < 0) {
    allowed = std::getenv("BRENNIX_NO_COPY_FILE_RANGE") == nullptr ? 1 : 0;
    g_kernelCopy.store(allowed);
  }
  return allowed == 1;
}

void SetKernelCopyAllowed(bool allowed) { g_kernelCopy.store(allowed ? 1 : 0); }

ImageFileResult WriteImageToFile(TCacheThread& cache, std::recursive_mutex& lock, int fd,
                                 int64_t expectedBytes,
                                 const std::function<void(int64_t)>& progress,
                                 const std::atomic<bool>* cancel) {
  ImageFileResult result;
  std::unique_ptr<uint8_t[]> batch(new uint8_t[kBatchBytes]);
  std::unique_ptr<uint8_t[]> copyBuffer;
  size_t used = 0;
  uint64_t lastReport = TickCount();
  int error = 0;

  auto flush = [&]() -> bool {
    if (used == 0) return true;
    if (!WriteAll(fd, batch.get(), used, error)) return false;
    used = 0;
    return true;
  };
  auto fail = [&](const std::string& text) {
    cache.Abort();
    result.ErrorText = text;
  };
  auto report = [&](int64_t done) {
    if (progress && TickCount() - lastReport >= 200) {
      lastReport = TickCount();
      progress(done);
    }
  };
  std::unique_ptr<SourceCopier> copier;

  for (;;) {
    if (cancel != nullptr && cancel->load()) {
      cache.SetErrorText("OPERATION ABORTED BY USER");
      fail("OPERATION ABORTED BY USER");
      break;
    }
    // Counted before the look at the queue: a block queued after it wakes the wait below.
    const uint64_t seen = cache.Events();
    TCacheItem item;
    {
      std::lock_guard<std::recursive_mutex> guard(lock);
      item = cache.TakeItem(batch.get() + used);
    }
    const int64_t n = item.Size;
    if (n > 0) {
      if (result.BytesWritten + n > expectedBytes) {
        fail("IMAGE SIZE DOES NOT MATCH ITS LAYOUT");
        break;
      }
      if (item.Source) {
        if (!flush()) {
          fail(std::string("CAN'T WRITE THE IMAGE FILE: ") + std::strerror(error));
          break;
        }
        if (!copyBuffer) copyBuffer.reset(new uint8_t[kBatchBytes]);
        if (!copier) copier = std::make_unique<SourceCopier>(fd, copyBuffer.get(), cache, cancel, report);
        const CopyEnd end = copier->Copy(item, result.BytesWritten, error);
        if (end == CopyEnd::WriteFailed) {
          fail(std::string("CAN'T WRITE THE IMAGE FILE: ") + std::strerror(error));
          break;
        }
        if (end == CopyEnd::Cancelled) continue;  // the check at the top ends it
      } else {
        used += static_cast<size_t>(n);
        result.BytesWritten += n;
        if (kBatchBytes - used < kBlockRoom && !flush()) {
          fail(std::string("CAN'T WRITE THE IMAGE FILE: ") + std::strerror(error));
          break;
        }
      }
    }
    const std::string cacheError = cache.ErrorText();
    if (!cacheError.empty()) {
      fail(cacheError);
      break;
    }
    if (n == 0) break;
    if (n < 0) cache.WaitForEvent(seen, kBlockWaitMs);
    report(result.BytesWritten);
  }
  if (result.ErrorText.empty() && !flush())
    result.ErrorText = std::string("CAN'T WRITE THE IMAGE FILE: ") + std::strerror(error);
  if (result.ErrorText.empty() && result.BytesWritten != expectedBytes)
    result.ErrorText = "IMAGE SIZE DOES NOT MATCH ITS LAYOUT";
  result.FileErrors = cache.FileErrors();
  if (progress) progress(result.BytesWritten);
  return result;
}

}  // namespace brennix
