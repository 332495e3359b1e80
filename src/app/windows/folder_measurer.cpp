#include "app/windows/folder_measurer.h"

#include "image/iso_image.h"
#include "platform/main_thread.h"

namespace brennix {

TFolderMeasurer::TFolderMeasurer(DoneEvent onDone) : onDone_(std::move(onDone)) {}

TFolderMeasurer::~TFolderMeasurer() {
  self_.reset();
  waiting_.clear();
  for (auto& [number, walk] : walks_) walk.cancel->store(true);
  for (auto& [number, walk] : walks_) walk.thread.join();
}

uint64_t TFolderMeasurer::Start(const std::string& path) {
  const uint64_t walk = ++next_;
  waiting_.emplace_back(walk, path);
  Launch();
  return walk;
}

void TFolderMeasurer::Launch() {
  while (walks_.size() < kMaxWalks && !waiting_.empty()) {
    const auto [number, path] = waiting_.front();
    waiting_.pop_front();
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<TFolderMeasurer*> owner = self_;
    std::thread thread([path, number, owner, cancel] {
      const int64_t bytes = MeasureDiskSize(path, cancel.get());
      PostToMainThread([owner, number, bytes] {
        if (const auto self = owner.lock()) (*self)->Deliver(number, bytes);
      });
    });
    walks_.emplace(number, Walk{std::move(thread), std::move(cancel)});
  }
}

void TFolderMeasurer::Cancel(uint64_t walk) {
  std::erase_if(waiting_, [walk](const auto& w) { return w.first == walk; });
  // A running walk is joined when its (now unwanted) result comes back.
  if (const auto found = walks_.find(walk); found != walks_.end()) found->second.cancel->store(true);
}

void TFolderMeasurer::CancelAll() {
  waiting_.clear();
  for (auto& [number, walk] : walks_) walk.cancel->store(true);
}

void TFolderMeasurer::Deliver(uint64_t walk, int64_t bytes) {
  const auto found = walks_.find(walk);
  if (found == walks_.end()) return;
  // The walk has posted its result, so its thread is at its very end.
  found->second.thread.join();
  const bool wanted = !found->second.cancel->load();
  walks_.erase(found);
  Launch();
  if (wanted && onDone_) onDone_(walk, bytes);
}

}  // namespace brennix
