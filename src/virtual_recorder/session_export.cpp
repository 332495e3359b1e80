#include "virtual_recorder/session_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/file_io.h"
#include "virtual_recorder/disc_file.h"
#include "virtual_recorder/disc_state.h"

namespace brennix {

namespace {

class OutputFile {
 public:
  ~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0;
  }
  bool Write(uint64_t sector, const uint8_t* data, size_t length) {
    return WriteAll(fd_, data, length, static_cast<int64_t>(sector * kSectorSize));
  }
  bool Finish(uint64_t sectors) {
    const bool ok = ::ftruncate(fd_, static_cast<off_t>(sectors * kSectorSize)) == 0 && ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_ = -1;
};

bool IsVolumeDescriptor(const uint8_t* sector) { return std::memcmp(sector + 1, "CD001", 5) == 0; }

}  // namespace

bool ExportSessionIso(const std::string& discPath, uint32_t session, const std::string& outPath,
                      std::string& error, bool earlierData) {
  DiscState disc;
  if (!LoadDiscState(discPath + ".state", disc, error)) return false;
  uint32_t first = 0;
  uint32_t end = 0;
  if (!SessionExtent(disc, session, first, end)) {
    error = session == 0 ? "the disc holds no recorded session"
                         : "the disc holds no session " + std::to_string(session);
    return false;
  }
  const auto cannotRead = [&] {
    error = "cannot read " + discPath;
    return false;
  };
  const auto cannotWrite = [&] {
    error = "cannot write " + outPath + ": " + std::strerror(errno);
    return false;
  };
  DiscFile in;
  if (!in.Open(discPath, error)) return false;
  OutputFile out;
  if (!out.Open(outPath)) return cannotWrite();
  constexpr uint32_t kChunk = 64;
  std::vector<uint8_t> buffer(static_cast<size_t>(kChunk) * kSectorSize);
  const auto copy = [&](uint32_t from, uint32_t to) {
    for (uint32_t lba = from; lba < to; lba += kChunk) {
      const uint32_t count = std::min(kChunk, to - lba);
      buffer.resize(static_cast<size_t>(count) * kSectorSize);
      if (!in.Read(lba, count, buffer.data())) return cannotRead();
      if (!AllZero(buffer.data(), buffer.size()) && !out.Write(lba, buffer.data(), buffer.size()))
        return cannotWrite();
    }
    return true;
  };
  if (earlierData && !copy(0, first)) return false;
  if (first != 0) {
    // System area and descriptor set, up to and including the set terminator.
    std::vector<uint8_t> sector(kSectorSize);
    for (uint32_t i = 0; i < 16 + 64 && first + i < end && 16 + 64 <= first; ++i) {
      if (!in.Read(first + i, 1, sector.data())) return cannotRead();
      if (i >= 16 && !IsVolumeDescriptor(sector.data())) break;
      if (!AllZero(sector.data(), sector.size()) && !out.Write(i, sector.data(), sector.size()))
        return cannotWrite();
      if (i >= 16 && sector[0] == 0xFF) break;
    }
  }
  if (!copy(first, end)) return false;
  if (!out.Finish(end)) return cannotWrite();
  return true;
}

}  // namespace brennix
