// Opening the source files of an image for the read-ahead cache: by name within a descriptor
// of their folder, and on a thread of their own, ahead of the reader.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "recording/stream_ex.h"

namespace brennix {

struct TFEntry;

// Opens source files for reading, each by its name in a descriptor of its folder kept while
// the files of one folder follow each other (the path is not walked again for every file).
// Only regular files are opened: a FIFO or a device put in place of a file would block the
// cache or never end. Calls the source-open hook (cache_thread.h) first.
class TSourceOpener {
 public:
  TSourceOpener() = default;
  TSourceOpener(const TSourceOpener&) = delete;
  TSourceOpener& operator=(const TSourceOpener&) = delete;
  ~TSourceOpener();

  // The open file, or null.
  std::unique_ptr<TFileStreamEx> Open(const std::string& path);

 private:
  void CloseFolder();

  std::string folder_;
  int folderFd_ = -1;
};

// True for an entry of the file table whose data the image holds (a file with a source
// path and at least one byte).
bool HasSourceData(const TFEntry* entry);

// Opens the files of the file table that hold data, in table order, on a thread of its own,
// at most kOpenedAhead ahead of the reader that takes them (also in table order): the
// reader's time goes to reading. A file below 1 MiB whose start is not in the page cache
// (the opener looks at one file in 16, and at every file while they are cold) is asked for
// from the disk at once, so a cold disk has many small files to fetch rather than one.
class TSourcesOpenedAhead {
 public:
  static constexpr size_t kOpenedAhead = 128;

  // files stays unchanged while this object lives.
  explicit TSourcesOpenedAhead(const std::vector<TFEntry*>& files);
  ~TSourcesOpenedAhead();  // stops the opener and waits for it (it may be inside an open)
  TSourcesOpenedAhead(const TSourcesOpenedAhead&) = delete;
  TSourcesOpenedAhead& operator=(const TSourcesOpenedAhead&) = delete;

  // The opened files[index]. Null when the opener could not open it (or has no thread, or
  // was passed), and when stop became true while waiting for it: the caller then opens it
  // itself, or stops.
  std::unique_ptr<TFileStreamEx> Take(size_t index, const std::atomic<bool>& stop);

 private:
  void Run();

  const std::vector<TFEntry*>& files_;
  std::mutex mutex_;
  std::condition_variable opened_;  // the reader waits for a file
  std::condition_variable taken_;   // the opener waits for room
  std::deque<std::pair<size_t, std::unique_ptr<TFileStreamEx>>> ready_;
  bool readerWaiting_ = false;
  bool openerWaiting_ = false;
  bool stop_ = false;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace brennix
