#include "app/folder_measurer.h"

#include "image/iso_image.h"
#include "platform/main_thread.h"

namespace brennix {

TFolderMeasurer::TFolderMeasurer(DoneEvent onDone) : onDone_(std::move(onDone)) {}

TFolderMeasurer::~TFolderMeasurer() {
  self_.reset();
  cancel_->store(true);
  for (auto& [walk, thread] : walks_) thread.join();
}

uint64_t TFolderMeasurer::Start(const std::string& path) {
  const uint64_t walk = ++next_;
  std::weak_ptr<TFolderMeasurer*> owner = self_;
  walks_.emplace(walk, std::thread([path, walk, owner, cancel = cancel_] {
                   const int64_t bytes = MeasureDiskSize(path, cancel.get());
                   PostToMainThread([owner, walk, bytes] {
                     if (const auto self = owner.lock()) (*self)->Deliver(walk, bytes);
                   });
                 }));
  return walk;
}

void TFolderMeasurer::Deliver(uint64_t walk, int64_t bytes) {
  const auto found = walks_.find(walk);
  if (found == walks_.end()) return;
  // The walk has posted its result, so its thread is at its very end.
  found->second.join();
  walks_.erase(found);
  if (onDone_) onDone_(walk, bytes);
}

}  // namespace brennix
