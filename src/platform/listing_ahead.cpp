#include "platform/listing_ahead.h"

#include <exception>

namespace brennix {
namespace {

// How far the lister may run ahead: listings and the entries in them, whichever comes first.
constexpr size_t kAheadListings = 256;
constexpr size_t kAheadEntries = 1 << 16;

}  // namespace

TTreeListingAhead::TTreeListingAhead(std::string root, FolderAncestry ancestry)
    : root_(std::move(root)), rootAncestry_(std::move(ancestry)) {
  try {
    thread_ = std::thread([this] {
      try {
        FolderAncestry above = rootAncestry_;
        Walk(root_, above);
      } catch (const std::exception&) {
        // Out of memory or threads: the walk lists what it asks for itself.
      }
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
      changed_.notify_all();
    });
  } catch (const std::exception&) {
    done_ = true;  // no second thread: every folder is listed when asked for
  }
}

TTreeListingAhead::~TTreeListingAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

bool TTreeListingAhead::Hand(Listing listing) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] {
    return stop_ || ready_.empty() ||
           (ready_.size() < kAheadListings && readyEntries_ < kAheadEntries);
  });
  if (stop_) return false;
  readyEntries_ += listing.Entries.size();
  ready_.push_back(std::move(listing));
  changed_.notify_all();
  return true;
}

void TTreeListingAhead::Walk(const std::string& folder, FolderAncestry& ancestry) {
  Listing listing;
  listing.Folder = folder;
  listing.Result =
      ListDirectory(folder, "*.*", kListAllAttributes, listing.Entries, &listing.Problems);
  std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> subfolders;
  for (const DirListEntry& e : listing.Entries) {
    if (e.IsDirectory) subfolders.push_back({JoinNative(folder, e.Name), {e.Device, e.Inode}});
  }
  if (!Hand(std::move(listing))) return;
  for (const auto& [path, id] : subfolders) {
    if (InAncestry(ancestry, id.first, id.second)) continue;
    ancestry.push_back(id);
    Walk(path, ancestry);
    ancestry.pop_back();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
  }
}

ListResult TTreeListingAhead::List(const std::string& folder, std::vector<DirListEntry>& out,
                                   std::vector<DirListProblem>& problems) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return done_ || !ready_.empty(); });
      if (ready_.empty()) break;  // the lister has ended: list it now
      Listing listing = std::move(ready_.front());
      ready_.pop_front();
      readyEntries_ -= listing.Entries.size();
      changed_.notify_all();
      if (listing.Folder == folder) {
        out = std::move(listing.Entries);
        problems = std::move(listing.Problems);
        return listing.Result;
      }
    }
  }
  return ListDirectory(folder, "*.*", kListAllAttributes, out, &problems);
}

}  // namespace brennix
