#include "component/copy_job.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "component/burn_job.h"
#include "component/korb_burner.h"
#include "component/read_image_job.h"
#include "component/recorder_rules.h"
#include "platform/clock.h"
#include "recording/write_preparation.h"
#include "recording/writer_thread.h"

namespace brennix {

const char* const kInsertBlankDiscText = "Insert a blank disc into the recorder and close the tray.";
const char* const kCopyFailedText = "The copy failed.";
const char* const kCopyStoppedText = "The copy was stopped.";

std::string NoBlankDiscText(uint32_t waitedMs) {
  const uint32_t minutes = waitedMs / 60000;
  const uint32_t seconds = (waitedMs + 999) / 1000;
  const std::string span = minutes > 0 && waitedMs % 60000 == 0
                               ? std::to_string(minutes) + (minutes == 1 ? " MINUTE" : " MINUTES")
                               : std::to_string(seconds) + (seconds == 1 ? " SECOND" : " SECONDS");
  return "NO BLANK DISC CAME INTO THE RECORDER WITHIN " + span;
}

namespace {

// The disc is asked about this often while the copy waits for it; a cancel is seen sooner.
constexpr uint32_t kDiscPollMs = 1000;
constexpr uint32_t kCancelPollMs = 100;

// The steps run through the copy's own channel: what they have to say reaches the copy's
// handler, never this one.
class StepHandler final : public TJobHandler {
 public:
  void Ask(const TJobQuestion&, std::function<void(bool)> answer) override { answer(false); }
  void Tell(const TJobMessage&) override {}
  void Progress(const TJobProgress&) override {}
  void Done(const TJobResult&) override {}
};

// A folder of its own for the image, removed with all it holds whatever happens.
class TempFolder {
 public:
  explicit TempFolder(const std::string& parent) {
    std::error_code ignored;
    std::string pattern =
        (parent.empty() ? std::filesystem::temp_directory_path(ignored).string() : parent) +
        "/brennix-copy-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    else error_ = std::strerror(errno);
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }

 private:
  std::string path_;
  std::string error_;
};

// A disc an image can go to: blank, or one written over from its start.
bool TakesImage(TKorbBurner& korb) {
  const auto type = static_cast<int16_t>(korb.GetDiscType());
  return IsWritableDiscType(type) && (!IsSequentialRecording(type) || korb.DiscStatus() == 0);
}

TJobResult Stopped() {
  TJobResult result;
  result.Outcome = TJobOutcome::Failed;
  result.Text = kCopyStoppedText;
  result.Error = kAbortedByUser;
  result.Stopped = true;
  return result;
}

TJobResult CopyFailed(const std::string& error) {
  TJobResult result;
  result.Outcome = TJobOutcome::Failed;
  result.Text = kCopyFailedText;
  result.Error = error;
  return result;
}

}  // namespace

TCopyJob::TCopyJob(TKorbBurner& source, TKorbBurner& target, TJobHandler& handler,
                   TCopyOptions options)
    : TJob(handler), source_(source), target_(target), options_(std::move(options)) {}

TCopyJob::~TCopyJob() { Finish(); }

bool TCopyJob::SameRecorder() const {
  return &source_ == &target_ || (!source_.Device().empty() && source_.Device() == target_.Device());
}

TJobResult TCopyJob::Run() { return CopyThroughImage(); }

TJobResult TCopyJob::CopyThroughImage() {
  const TempFolder folder(options_.TempFolder);
  if (folder.Path().empty()) return Refusal("CANNOT MAKE A TEMPORARY FOLDER: " + folder.Error());
  const std::string image = folder.Path() + "/disc.iso";
  TJobResult ended;
  if (!ReadSource(image, ended)) return ended;
  if (SameRecorder() && !ChangeDiscs(ended)) return ended;
  return WriteTarget(image);
}

bool TCopyJob::ReadSource(const std::string& image, TJobResult& ended) {
  TReadImageOptions read;
  read.Out = image;
  StepHandler unheard;
  TReadImageJob reading(source_, unheard, read);
  ended = RunStep(reading);
  if (Cancelled() || ended.Error == kAbortedByUser) {
    ended = Stopped();
    return false;
  }
  if (ended.Outcome == TJobOutcome::Refused) return false;
  if (ended.Outcome != TJobOutcome::Completed) {
    // The sectors the read could not get are listed beside the image, which goes now.
    size_t bad = 0;
    std::ifstream list(image + ".bad");
    for (std::string line; std::getline(list, line);) bad += line.empty() ? 0 : 1;
    ended = CopyFailed(bad == 0 ? ended.Error
                                : std::to_string(bad) + (bad == 1 ? " SECTOR" : " SECTORS") +
                                      " OF THE DISC COULD NOT BE READ: NOTHING WAS WRITTEN");
    return false;
  }
  return true;
}

bool TCopyJob::ChangeDiscs(TJobResult& ended) {
  MoveTray(target_, TrayMove::Eject);
  Tell(TMessageKind::Information, kInsertBlankDiscText);
  TJobProgress waiting;
  waiting.Phase = TJobPhase::Preparing;
  Report(waiting);
  const uint64_t start = TickCount();
  for (;;) {
    // The disc just read may still be in the tray: only a disc that can take the image ends
    // the wait.
    if (TakesImage(target_)) return true;
    for (uint32_t slept = 0; slept < kDiscPollMs; slept += kCancelPollMs) {
      if (Cancelled() || Leaving()) {
        ended = Stopped();
        return false;
      }
      if (TickCount() - start >= options_.BlankDiscWaitMs) {
        ended = CopyFailed(NoBlankDiscText(options_.BlankDiscWaitMs));
        return false;
      }
      SleepMs(kCancelPollMs);
    }
  }
}

TJobResult TCopyJob::WriteTarget(const std::string& image) {
  TBurnOptions burn;
  burn.ImageFile = image;
  burn.Verify = true;
  burn.CloseDisc = options_.CloseDisc;
  burn.Speed = options_.Speed;
  StepHandler unheard;
  TBurnJob burning(target_, unheard, std::move(burn));
  TJobResult result = RunStep(burning);
  // Stopped before the recording began: the burn ends without a word, the copy says so.
  if (result.Outcome == TJobOutcome::Refused && Cancelled()) return Stopped();
  return result;
}

}  // namespace brennix
