#include "recording/source_opener.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <exception>

#include "image/image_tables.h"
#include "recording/cache_thread.h"

namespace brennix {
namespace {

std::atomic<TSourceOpenHook> g_sourceOpenHook{nullptr};

// Files below this size are asked for from a cold disk ahead of their turn.
constexpr int64_t kAheadFileBytes = 1 << 20;

// True when the start of the open file is not in the page cache: a read that may not wait
// for the disk gets nothing. A file system that cannot tell counts as warm.
bool ColdFile(int fd) {
  uint8_t byte = 0;
  iovec one{&byte, 1};
  return ::preadv2(fd, &one, 1, 0, RWF_NOWAIT) < 0 && errno == EAGAIN;
}

// The longest the reader waits without news before it looks at its stop flag again.
constexpr auto kTakeWait = std::chrono::milliseconds(20);

}  // namespace

void SetSourceOpenHook(TSourceOpenHook hook) { g_sourceOpenHook.store(hook); }

TSourceOpener::~TSourceOpener() { CloseFolder(); }

void TSourceOpener::CloseFolder() {
  if (folderFd_ >= 0) ::close(folderFd_);
  folderFd_ = -1;
  folder_.clear();
}

std::unique_ptr<TFileStreamEx> TSourceOpener::Open(const std::string& path) {
  if (const TSourceOpenHook hook = g_sourceOpenHook.load()) hook(path);
  const size_t slash = path.rfind('/');
  int at = AT_FDCWD;
  const char* name = path.c_str();
  if (slash != std::string::npos && slash > 0) {
    if (folderFd_ < 0 || folder_.size() != slash || path.compare(0, slash, folder_) != 0) {
      CloseFolder();
      folder_.assign(path, 0, slash);
      folderFd_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    if (folderFd_ >= 0) {
      at = folderFd_;
      name = path.c_str() + slash + 1;
    }
  }
  // O_NONBLOCK keeps the open itself from waiting (a FIFO without a writer); on a regular
  // file it changes nothing, reads wait for the disk as always.
  int fd = -1;
  do {
    fd = ::openat(at, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  auto stream = std::make_unique<TFileStreamEx>(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  return stream;
}

bool HasSourceData(const TFEntry* entry) {
  return entry != nullptr && (entry->Attr & kAttrDirectory) == 0 && !entry->FullPath.empty() &&
         entry->FileSize > 0;
}

TSourcesOpenedAhead::TSourcesOpenedAhead(const std::vector<TFEntry*>& files) : files_(files) {
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::exception&) {
    done_ = true;  // no second thread: the reader opens every file itself
  }
}

TSourcesOpenedAhead::~TSourcesOpenedAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  taken_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TSourcesOpenedAhead::Run() {
  try {
    TSourceOpener opener;
    bool cold = false;
    uint32_t smallFiles = 0;
    for (size_t index = 0; index < files_.size(); ++index) {
      const TFEntry* entry = files_[index];
      if (!HasSourceData(entry)) continue;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        openerWaiting_ = true;
        taken_.wait(lock, [this] { return stop_ || ready_.size() < kOpenedAhead; });
        openerWaiting_ = false;
        if (stop_) break;
      }
      std::unique_ptr<TFileStreamEx> stream = opener.Open(entry->FullPath);
      if (stream && entry->FileSize < kAheadFileBytes) {
        if (cold || smallFiles++ % 16 == 0) cold = ColdFile(stream->Handle);
        if (cold) (void)::posix_fadvise(stream->Handle, 0, 0, POSIX_FADV_WILLNEED);
      }
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) break;
      ready_.emplace_back(index, std::move(stream));
      if (readerWaiting_) opened_.notify_one();
    }
  } catch (const std::exception&) {
    // Out of memory: the reader opens what is left itself.
  }
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  opened_.notify_one();
}

std::unique_ptr<TFileStreamEx> TSourcesOpenedAhead::Take(size_t index,
                                                          const std::atomic<bool>& stop) {
  std::unique_ptr<TFileStreamEx> passed;  // closed outside the lock
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    while (!ready_.empty() && ready_.front().first < index) {
      passed = std::move(ready_.front().second);
      ready_.pop_front();
    }
    if (!ready_.empty() && ready_.front().first == index) {
      std::unique_ptr<TFileStreamEx> stream = std::move(ready_.front().second);
      ready_.pop_front();
      // The opener is woken when half the room is free again, not for every file.
      if (openerWaiting_ && ready_.size() <= kOpenedAhead / 2) taken_.notify_one();
      return stream;
    }
    if (done_ || !ready_.empty() || stop.load()) return nullptr;
    readerWaiting_ = true;
    opened_.wait_for(lock, kTakeWait);
    readerWaiting_ = false;
  }
}

}  // namespace brennix
