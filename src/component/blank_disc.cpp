#include "component/blank_disc.h"

#include "component/korb_burner.h"
#include "component/recorder_rules.h"
#include "platform/clock.h"
#include "recording/write_preparation.h"
#include "recording/writer_thread.h"

namespace brennix {

const char* const kInsertBlankDiscText = "Insert a blank disc into the recorder and close the tray.";

std::string NoBlankDiscText(uint32_t waitedMs) {
  const uint32_t minutes = waitedMs / 60000;
  const uint32_t seconds = (waitedMs + 999) / 1000;
  const std::string span = minutes > 0 && waitedMs % 60000 == 0
                               ? std::to_string(minutes) + (minutes == 1 ? " MINUTE" : " MINUTES")
                               : std::to_string(seconds) + (seconds == 1 ? " SECOND" : " SECONDS");
  return "NO BLANK DISC CAME INTO THE RECORDER WITHIN " + span;
}

namespace {

// The disc is asked about this often while the job waits for it; a cancel is seen sooner.
constexpr uint32_t kDiscPollMs = 1000;
constexpr uint32_t kCancelPollMs = 100;

}  // namespace

bool TakesImage(TKorbBurner& burner) {
  const auto type = static_cast<int16_t>(burner.GetDiscType());
  return IsWritableDiscType(type) && (!IsSequentialRecording(type) || burner.DiscStatus() == 0);
}

TBlankDiscJob::TBlankDiscJob(TKorbBurner& burner, TJobHandler& handler, uint32_t waitMs)
    : TJob(handler), burner_(burner), waitMs_(waitMs) {}

TBlankDiscJob::~TBlankDiscJob() { Finish(); }

TJobResult TBlankDiscJob::Run() {
  MoveTray(burner_, TrayMove::Eject);
  Tell(TMessageKind::Information, kInsertBlankDiscText);
  Report(TJobProgress{});
  TJobResult result;
  result.Outcome = TJobOutcome::Failed;
  const uint64_t start = TickCount();
  for (;;) {
    // The disc just written may still be in the tray: only a disc that can take an image
    // ends the wait.
    if (TakesImage(burner_)) {
      result.Outcome = TJobOutcome::Completed;
      return result;
    }
    for (uint32_t slept = 0; slept < kDiscPollMs; slept += kCancelPollMs) {
      if (Cancelled() || Leaving()) {
        result.Error = kAbortedByUser;
        result.Stopped = true;
        return result;
      }
      if (TickCount() - start >= waitMs_) {
        result.Error = NoBlankDiscText(waitMs_);
        return result;
      }
      SleepMs(kCancelPollMs);
    }
  }
}

}  // namespace brennix
