#include "recording/image_file_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "recording/cache_thread.h"

namespace brennix {

namespace {

// Each block is written while it is still in the processor's cache: on the machines we
// measured, one large write of gathered blocks copied several times slower than many writes
// of one block each.
constexpr size_t kBatchBytes = 65536;
constexpr size_t kBlockRoom = 65536;

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

}  // namespace

ImageFileResult WriteImageToFile(TCacheThread& cache, std::recursive_mutex& lock, int fd,
                                 int64_t expectedBytes,
                                 const std::function<void(int64_t)>& progress,
                                 const std::atomic<bool>* cancel) {
  ImageFileResult result;
  std::unique_ptr<uint8_t[]> batch(new uint8_t[kBatchBytes]);
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

  for (;;) {
    if (cancel != nullptr && cancel->load()) {
      cache.SetErrorText("OPERATION ABORTED BY USER");
      fail("OPERATION ABORTED BY USER");
      break;
    }
    int32_t n = 0;
    {
      std::lock_guard<std::recursive_mutex> guard(lock);
      n = cache.GetBlock(batch.get() + used);
    }
    if (n > 0) {
      if (result.BytesWritten + n > expectedBytes) {
        fail("IMAGE SIZE DOES NOT MATCH ITS LAYOUT");
        break;
      }
      used += static_cast<size_t>(n);
      result.BytesWritten += n;
      if (kBatchBytes - used < kBlockRoom && !flush()) {
        fail(std::string("CAN'T WRITE THE IMAGE FILE: ") + std::strerror(error));
        break;
      }
    }
    const std::string cacheError = cache.ErrorText();
    if (!cacheError.empty()) {
      fail(cacheError);
      break;
    }
    if (n == 0) break;
    if (n < 0) SleepMs(1);
    if (progress && TickCount() - lastReport >= 200) {
      lastReport = TickCount();
      progress(result.BytesWritten);
    }
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
