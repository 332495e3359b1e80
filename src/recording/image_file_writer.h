// The consumer that writes an image to a file instead of a drive: it takes the cache's
// blocks under the lock, in order, as the writer thread takes them for a disc. A cache made
// with directCopyFrom hands the larger files over whole: those are copied from the source
// into the image in the kernel (copy_file_range) where it accepts that, else by read and
// write; either way byte for byte what the blocks would have held.
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
// Files of at least this many bytes are copied whole by the image file writer (the cache's
// directCopyFrom for an image file).
constexpr int64_t kDirectCopyMinBytes = 1048576;

// Whether file data may go through copy_file_range (true unless the environment variable
// BRENNIX_NO_COPY_FILE_RANGE is set, or a test turned it off): false copies it by read and
// write only, as where the kernel refuses the call.
bool KernelCopyAllowed();
void SetKernelCopyAllowed(bool allowed);

ImageFileResult WriteImageToFile(TCacheThread& cache, std::recursive_mutex& lock, int fd,
                                 int64_t expectedBytes,
                                 const std::function<void(int64_t)>& progress = nullptr,
                                 const std::atomic<bool>* cancel = nullptr);

}  // namespace brennix
