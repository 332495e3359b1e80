// Folder listings made ahead, on a second thread, while a tree is walked: the walk's own work
// on each folder (names, records) and the system's work of listing the next ones overlap.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dir_listing.h"

namespace brennix {

// Lists the folders below `root` in the order a depth-first walk takes them: the folder, then
// each subfolder in name order, links followed, a folder that leads back into one of its own
// ancestors (by device and inode) not entered. A walk that asks for its folders in that order
// gets each listing made ahead; the folders it passes over are dropped. Any other order still
// works: a folder the lister has passed, or will never reach, is listed when asked for.
class TTreeListingAhead {
 public:
  // `ancestry` holds the folders above root and root itself, as the walk counts them.
  TTreeListingAhead(std::string root, FolderAncestry ancestry);
  ~TTreeListingAhead();  // stops the lister and waits for it
  TTreeListingAhead(const TTreeListingAhead&) = delete;
  TTreeListingAhead& operator=(const TTreeListingAhead&) = delete;

  // ListDirectory(folder, "*.*", kListAllAttributes, out, &problems), made ahead or now.
  ListResult List(const std::string& folder, std::vector<DirListEntry>& out,
                  std::vector<DirListProblem>& problems);

 private:
  struct Listing {
    std::string Folder;
    ListResult Result = ListResult::Ok;
    std::vector<DirListEntry> Entries;
    std::vector<DirListProblem> Problems;
  };

  void Walk(const std::string& folder, FolderAncestry& ancestry);
  bool Hand(Listing listing);  // false once the lister is to stop

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Listing> ready_;  // made ahead, in walk order
  size_t readyEntries_ = 0;
  bool stop_ = false;
  bool done_ = false;
  std::string root_;
  FolderAncestry rootAncestry_;
  std::thread thread_;
};

}  // namespace brennix
