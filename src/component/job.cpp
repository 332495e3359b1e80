#include "component/job.h"

#include <condition_variable>
#include <mutex>
#include <utility>

#include "device/tray_lock.h"
#include "platform/main_thread.h"

namespace brennix {

// What the worker and the tasks it posts share with the job. The handler and the job are
// only touched on the main thread, where the owner also lets go of them; the rest is
// guarded by the mutex.
struct TJob::Channel {
  TJobHandler* handler = nullptr;
  TJob* job = nullptr;
  std::mutex mutex;
  std::condition_variable wake;
  std::atomic<bool> leaving{false};
};

TJob::TJob(TJobHandler& handler) : channel_(std::make_shared<Channel>()) {
  channel_->handler = &handler;
  channel_->job = this;
}

TJob::~TJob() { Finish(); }

void TJob::Finish() {
  channel_->handler = nullptr;
  channel_->job = nullptr;
  channel_->leaving.store(true);
  if (running_.load()) Cancel();
  Wake();
  if (worker_.joinable()) worker_.join();
  running_.store(false);
}

bool TJob::Start() {
  if (running_.exchange(true)) return false;
  if (worker_.joinable()) worker_.join();  // the previous run has posted its end
  cancel_.store(false);
  worker_ = std::thread([this, channel = channel_] {
    TJobResult result = Run();
    PostToMainThread([channel, result = std::move(result)] {
      TJob* job = channel->job;
      if (job == nullptr) return;
      if (job->worker_.joinable()) job->worker_.join();
      job->running_.store(false);
      if (channel->handler != nullptr) channel->handler->Done(result);
    });
  });
  return true;
}

void TJob::Cancel() {
  cancel_.store(true);
  cancelling_.fetch_add(1);
  if (TJob* step = step_.load()) step->Cancel();
  cancelling_.fetch_sub(1);
  OnCancel();
  Wake();
}

TJobResult TJob::RunStep(TJob& step) {
  // The step talks through this job's channel while it runs, and gets its own back after.
  std::shared_ptr<Channel> own = std::exchange(step.channel_, channel_);
  step.cancel_.store(false);
  step_.store(&step);
  if (Cancelled()) step.Cancel();
  TJobResult result = step.Run();
  step_.store(nullptr);
  // A Cancel that saw the step before it was let go ends its call to it first (a few
  // instructions: the step's OnCancel only raises flags).
  while (cancelling_.load() > 0) std::this_thread::yield();
  step.channel_ = std::move(own);
  return result;
}

bool TJob::Leaving() const { return channel_->leaving.load(); }

void TJob::Wake() {
  // Taken once, so a waiter between its look at the flags and its wait cannot miss this.
  { const std::lock_guard<std::mutex> lock(channel_->mutex); }
  channel_->wake.notify_all();
}

bool TJob::Ask(const TJobQuestion& question) {
  struct Answer {
    bool given = false;
    bool yes = false;
  };
  auto answer = std::make_shared<Answer>();
  PostToMainThread([channel = channel_, answer, question] {
    auto reply = [channel, answer](bool yes) {
      {
        std::lock_guard<std::mutex> lock(channel->mutex);
        if (answer->given) return;
        answer->given = true;
        answer->yes = yes;
      }
      channel->wake.notify_all();
    };
    if (channel->handler != nullptr)
      channel->handler->Ask(question, reply);
    else
      reply(false);
  });
  // A person answers: no bound but the owner's leaving.
  std::unique_lock<std::mutex> lock(channel_->mutex);
  channel_->wake.wait(lock, [&] { return answer->given || channel_->leaving.load(); });
  return answer->given && answer->yes && !cancel_.load();
}

std::string TJob::FreeRecorder(TSCSIDevice& device) {
  DriveBusy busy = RecorderBusy(device);
  if (busy.Reason == DriveBusyReason::Mounted && !Cancelled()) {
    TJobQuestion unmount;
    unmount.Kind = TQuestionKind::Unmount;
    unmount.Text = "The disc in the recorder is mounted at " + busy.MountPoint +
                   ".\nDo you want to unmount it?";
    if (Ask(unmount)) {
      std::string why;
      if (!UnmountRecorderDisc(device, why)) return why;
      Tell(TMessageKind::Information, "Unmounted the disc from " + busy.MountPoint + ".");
      busy = RecorderBusy(device);
    }
  }
  return DriveBusyText(busy);
}

void TJob::Tell(const TJobMessage& message) {
  PostToMainThread([channel = channel_, message] {
    if (channel->handler != nullptr) channel->handler->Tell(message);
  });
}

void TJob::Tell(TMessageKind kind, const std::string& text, std::vector<std::string> details) {
  TJobMessage message;
  message.Kind = kind;
  message.Text = text;
  message.Details = std::move(details);
  Tell(message);
}

void TJob::Report(const TJobProgress& progress) {
  PostToMainThread([channel = channel_, progress] {
    if (channel->handler != nullptr) channel->handler->Progress(progress);
  });
}

TJobResult TJob::Refusal(const std::string& text, std::vector<std::string> details) {
  if (!text.empty()) Tell(TMessageKind::Warning, text, std::move(details));
  return JobEnd(TJobOutcome::Refused, std::string(), text);
}

}  // namespace brennix
