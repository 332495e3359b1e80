// The consumer that writes an image to a file instead of a drive: it takes the cache's
// blocks with GetBlock, under the lock, exactly as the writer thread takes them for a disc.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace brennix {

class TCacheThread;

struct ImageFileResult {
  std::string ErrorText;   // fatal: the image is incomplete; empty on success
  std::string FileErrors;  // files padded with zeros; the image is whole but not faithful
  int64_t BytesWritten = 0;
};

// Writes every block of the cache to fd until the end of data, the cache's error, a write
// failure or cancel (which aborts the cache). expectedBytes is what the layout promised
// (SectorsToWrite x 2048); delivering anything else is an error. progress, when set, gets
// the bytes written so far, at most every 200 ms and once at the end.
ImageFileResult WriteImageToFile(TCacheThread& cache, std::recursive_mutex& lock, int fd,
                                 int64_t expectedBytes,
                                 const std::function<void(int64_t)>& progress = nullptr,
                                 const std::atomic<bool>* cancel = nullptr);

}  // namespace brennix
