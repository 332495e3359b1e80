#include "recording/stream_ex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace brennix {

int64_t TStreamEx::GetSize() {
  const int64_t saved = Seek(0, kSoFromCurrent);
  const int64_t size = Seek(0, kSoFromEnd);
  Seek(saved, kSoFromBeginning);
  return size;
}

int32_t THandleStreamEx::Read(void* buffer, int32_t count) {
  if (Handle < 0 || count <= 0 || buffer == nullptr) return 0;
  for (;;) {
    const ssize_t n = ::read(Handle, buffer, static_cast<size_t>(count));
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno != EINTR) return 0;
  }
}

int32_t THandleStreamEx::Write(const void* buffer, int32_t count) {
  if (Handle < 0 || count <= 0 || buffer == nullptr) return 0;
  for (;;) {
    const ssize_t n = ::write(Handle, buffer, static_cast<size_t>(count));
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno != EINTR) return 0;
  }
}

int64_t THandleStreamEx::Seek(int64_t offset, uint16_t origin) {
  if (Handle < 0) return -1;
  int whence = SEEK_SET;
  switch (origin) {
    case kSoFromBeginning: whence = SEEK_SET; break;
    case kSoFromCurrent: whence = SEEK_CUR; break;
    case kSoFromEnd: whence = SEEK_END; break;
    default: return -1;
  }
  static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");
  return static_cast<int64_t>(::lseek(Handle, static_cast<off_t>(offset), whence));
}

void THandleStreamEx::SetSize(int64_t newSize) {
  if (newSize < 0) throw std::system_error(EINVAL, std::generic_category(), "SetSize");
  Seek(newSize, kSoFromBeginning);
  if (Handle < 0 || ::ftruncate(Handle, static_cast<off_t>(newSize)) != 0)
    throw std::system_error(Handle < 0 ? EBADF : errno, std::generic_category(), "SetSize");
}

namespace {

int OpenFlags(uint16_t mode) {
  if (mode == kFmCreate) return O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC;
  switch (mode & 0x3) {
    case kFmOpenRead: return O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    case kFmOpenWrite: return O_WRONLY | O_CLOEXEC | O_NONBLOCK;
    case kFmOpenReadWrite: return O_RDWR | O_CLOEXEC | O_NONBLOCK;
    default: return -1;
  }
}

}  // namespace

TFileStreamEx::TFileStreamEx(const std::string& fileName, uint16_t mode) : THandleStreamEx(-1) {
  const int flags = OpenFlags(mode);
  if (flags < 0) throw std::system_error(EINVAL, std::generic_category(), fileName);
  int fd = -1;
  do {
    fd = ::open(fileName.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), fileName);
  // O_NONBLOCK only kept the open itself from waiting (a FIFO without a writer); reads of
  // what was opened are ordinary blocking reads.
  // (F_SETFL changes only the status flags: those of `flags` but O_NONBLOCK stay as they are.)
  if ((flags & O_NONBLOCK) != 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  Handle = fd;
}

TFileStreamEx::~TFileStreamEx() {
  if (Handle >= 0) ::close(Handle);
}

}  // namespace brennix
