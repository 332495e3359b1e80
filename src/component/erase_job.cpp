#include "component/erase_job.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "component/plain_words.h"
#include "component/recorder_rules.h"
#include "device/erase_plan.h"
#include "device/scsi_device.h"

namespace brennix {

const char* const kNotErasableText = "This disc is not erasable.";
const char* const kEraseCompletedText = "Erase process completed.";
const char* const kEraseFailedText = "The erase failed.";
const char* const kEraseStoppedText = "The erase was stopped.";
const char* const kNoDiscToEraseText =
    "There is no disc in the drive.\nPut the rewritable disc in the drive and try again.";

namespace {

constexpr uint32_t kProgressTickMs = 500;
// Once the erase thread has cleared Erasing its event is already on its way; this only
// guards against waiting for ever for one that cannot come.
constexpr uint32_t kEventGraceMs = 10000;
constexpr const char* kCannotWriteText = "THIS RECORDER CANNOT WRITE DISCS";
constexpr const char* kOnlyRewritableText =
    "\nOnly a rewritable disc (CD-RW, DVD-RW, DVD+RW, DVD-RAM) can be erased; a CD-R or "
    "DVD\u00b1R is written once.";
constexpr const char* kNotFullyErasableText =
    "\nThis disc takes a quick erase only: check \"Quick Erase\" (--quick) and try again.";
constexpr const char* kNotReadyText =
    "The drive did not become ready.\nNothing was erased; check the disc and try again.";

}  // namespace

// The end as the device reports it: on the worker for an erase that fails to start, on the
// main thread for one that ran.
struct TEraseJob::Erase {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  bool withError = false;
};

TEraseJob::TEraseJob(TSCSIDevice& device, TJobHandler& handler, bool full)
    : TJob(handler), device_(device), full_(full) {}

TEraseJob::~TEraseJob() {
  Finish();
  device_.OnEraseDone = nullptr;
}

void TEraseJob::OnCancel() {
  if (device_.EraseStoppable()) device_.StopErase();
}

TJobResult TEraseJob::Run() {
  TSCSIDevice& device = device_;
  if (!RecorderWrites(device)) return Refusal(kCannotWriteText);
  if (!DiscAcceptsErase(device, full_)) {
    if (NoDiscInDrive(device)) return Refusal(kNoDiscToEraseText);
    // A DVD-RAM that the drive does not call erasable takes a quick erase.
    const bool quickWould = full_ && DiscAcceptsErase(device, false);
    return Refusal(std::string(kNotErasableText) +
                    (quickWould ? kNotFullyErasableText : kOnlyRewritableText));
  }

  if (const std::string busy = FreeRecorder(device); !busy.empty()) return Refusal(busy);

  TJobQuestion question;
  question.Kind = TQuestionKind::Erase;
  question.Text = full_ ? "All data on the disc will be lost\n"
                          "Do you want to completely erase the disc ?\n"
                          "This may take 10-70 minutes."
                        : "All data on the disc will be lost.\n"
                          "Do you want to quick erase the disc ?";
  question.DefaultYes = false;
  if (!Ask(question)) return JobEnd(TJobOutcome::Declined);

  auto erase = std::make_shared<Erase>();
  device.OnEraseDone = [erase](TSCSIDevice*, bool withError) {
    {
      std::lock_guard<std::mutex> lock(erase->mutex);
      erase->done = true;
      erase->withError = withError;
    }
    erase->ended.notify_all();
  };
  device.WriteSpeed = 0;
  TJobProgress progress;
  progress.Phase = TJobPhase::Erasing;
  progress.Percent = 0;
  // The drive may first have to become ready, which can take half a minute. Erasing is
  // reported once the drive has taken the command.
  const bool started = device.StartErase(full_ ? kBlankFull : kBlankQuick);
  if (started) Report(progress);
  TJobResult result;
  if (!started) {
    std::lock_guard<std::mutex> lock(erase->mutex);
    if (!erase->done) {
      // Nothing reached the disc: the drive never became ready.
      result.Outcome = TJobOutcome::Refused;
      result.Error = kNotReadyText;
      if (!device.LastErrorText.empty()) result.Summary.push_back(device.LastErrorText);
      Tell(TMessageKind::Warning, kNotReadyText);
      return result;
    }
  }
  std::chrono::steady_clock::time_point idleSince{};
  bool idle = false;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(erase->mutex);
      erase->ended.wait_for(lock, std::chrono::milliseconds(kProgressTickMs),
                            [&] { return erase->done; });
      if (erase->done) break;
    }
    if (Leaving()) return JobEnd(TJobOutcome::Failed, kEraseFailedText);
    if (!device.Erasing) {
      const auto now = std::chrono::steady_clock::now();
      if (!idle) idleSince = now;
      idle = true;
      if (now - idleSince > std::chrono::milliseconds(kEventGraceMs)) break;
    }
    // The device says 0 once its erase has ended, before the end event is here: the bar
    // must not go back.
    progress.Percent = std::max(progress.Percent, device.EraseProgress());
    progress.Stoppable = device.EraseStoppable();
    Report(progress);
  }
  bool failed = true;
  {
    std::lock_guard<std::mutex> lock(erase->mutex);
    failed = !erase->done || erase->withError;
  }
  result.Outcome = failed ? TJobOutcome::Failed : TJobOutcome::Completed;
  result.Text = failed ? kEraseFailedText : kEraseCompletedText;
  // The drive's own words say why; a stop asked for is not a failure of the drive.
  if (failed) {
    result.Error = Cancelled() ? std::string() : device.EraseErrorText;
    ExplainEraseFailure(device, result, Cancelled(), progress.Percent);
  }
  return result;
}

}  // namespace brennix
