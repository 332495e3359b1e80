#include "platform/file_io.h"

#include <cerrno>
#include <unistd.h>

namespace brennix {

bool WriteAll(int fd, const void* data, size_t length, int64_t offset) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    const auto at = static_cast<off_t>(offset + static_cast<int64_t>(done));
    const ssize_t n = offset < 0 ? ::write(fd, bytes + done, length - done)
                                 : ::pwrite(fd, bytes + done, length - done, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

ssize_t ReadAll(int fd, void* data, size_t length, int64_t offset) {
  auto* bytes = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    const auto at = static_cast<off_t>(offset + static_cast<int64_t>(done));
    const ssize_t n = ::pread(fd, bytes + done, length - done, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace brennix
