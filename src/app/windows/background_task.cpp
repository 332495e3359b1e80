#include "app/windows/background_task.h"

#include <utility>

#include "platform/main_thread.h"

namespace brennix {

TBackgroundTask::~TBackgroundTask() {
  self_.reset();
  Wait();
}

bool TBackgroundTask::Start(std::function<void()> work, std::function<void()> done) {
  if (running_.exchange(true)) return false;
  Wait();  // the thread of the previous step has posted its end and is leaving
  std::weak_ptr<TBackgroundTask*> owner = self_;
  thread_ = std::thread([owner, work = std::move(work), done = std::move(done)]() mutable {
    if (work) work();
    PostToMainThread([owner, done = std::move(done)] {
      if (const auto self = owner.lock()) (*self)->Finish(done);
    });
  });
  return true;
}

void TBackgroundTask::Wait() {
  if (thread_.joinable()) thread_.join();
}

void TBackgroundTask::Finish(const std::function<void()>& done) {
  Wait();
  running_.store(false);
  if (done) done();
}

}  // namespace brennix
