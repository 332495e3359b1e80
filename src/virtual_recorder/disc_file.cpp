#include "virtual_recorder/disc_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_io.h"

namespace brennix {

bool AllZero(const uint8_t* data, size_t length) {
  // The first byte zero and every byte equal to the one before it: the library's compare,
  // many bytes at a time, instead of a loop over single bytes.
  return length == 0 || (data[0] == 0 && std::memcmp(data, data + 1, length - 1) == 0);
}

DiscFile::~DiscFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool DiscFile::Open(const std::string& path, std::string& error) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A disc the user may not write can still be read: writing it then fails.
  if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd_ < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = path + " is not a regular file";
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool DiscFile::LockExclusive() { return fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }

uint64_t DiscFile::SizeSectors() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0 || info.st_size <= 0) return 0;
  return (static_cast<uint64_t>(info.st_size) + kSectorSize - 1) / kSectorSize;
}

bool DiscFile::Read(uint32_t lba, uint32_t count, uint8_t* out) {
  if (fd_ < 0) return false;
  const size_t length = static_cast<size_t>(count) * kSectorSize;
  const off_t offset = static_cast<off_t>(lba) * kSectorSize;
  const ssize_t done = ReadAll(fd_, out, length, offset);
  if (done < 0) return false;
  std::memset(out + done, 0, length - static_cast<size_t>(done));
  return true;
}

bool DiscFile::Write(uint32_t lba, uint32_t count, const uint8_t* data) {
  if (fd_ < 0) return false;
  const size_t length = static_cast<size_t>(count) * kSectorSize;
  const off_t offset = static_cast<off_t>(lba) * kSectorSize;
  if (AllZero(data, length)) {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return false;
    const off_t end = offset + static_cast<off_t>(length);
    bool punched = offset >= info.st_size;
#ifdef FALLOC_FL_PUNCH_HOLE
    if (!punched) {
      const off_t inside = std::min<off_t>(end, info.st_size) - offset;
      punched = ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, inside) == 0;
    }
#endif
    // The file keeps the full length of what was written, as a hole where it is new.
    if (punched) return end <= info.st_size || ::ftruncate(fd_, end) == 0;
  }
  return WriteAll(fd_, data, length, offset);
}

bool DiscFile::Clear() { return fd_ >= 0 && ::ftruncate(fd_, 0) == 0; }

}  // namespace brennix
