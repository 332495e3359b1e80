#include "component/copy_job.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>

#include "component/burn_job.h"
#include "component/disc_volume.h"
#include "component/korb_burner.h"
#include "component/read_image_job.h"
#include "device/tray_lock.h"
#include "recording/writer_thread.h"

namespace brennix {

const char* const kCopyFailedText = "The copy failed.";
const char* const kCopyStoppedText = "The copy was stopped.";

namespace {

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
    // A system folder that is not there is named, not replaced by the root.
    std::error_code system;
    std::string pattern =
        (parent.empty() ? std::filesystem::temp_directory_path(system).string() : parent) +
        "/brennix-copy-XXXXXX";
    if (system) error_ = system.message();
    else if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
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

TJobResult Stopped() {
  TJobResult result = JobEnd(TJobOutcome::Failed, kCopyStoppedText, kAbortedByUser);
  result.Stopped = true;
  return result;
}

TJobResult CopyFailed(const std::string& error) {
  return JobEnd(TJobOutcome::Failed, kCopyFailedText, error);
}

}  // namespace

TCopyJob::TCopyJob(TKorbBurner& source, TKorbBurner& target, TJobHandler& handler,
                   TCopyOptions options)
    : TJob(handler), source_(source), target_(target), options_(std::move(options)) {}

TCopyJob::~TCopyJob() { Finish(); }

bool TCopyJob::SameRecorder() const {
  return &source_ == &target_ || (!source_.Device().empty() && source_.Device() == target_.Device());
}

TJobResult TCopyJob::Run() { return SameRecorder() ? CopyThroughImage() : CopyStreaming(); }

TJobResult TCopyJob::CopyStreaming() {
  // The source is held as the target is, from the look at its volume to the end of the
  // recording: the disc read is the disc looked at, and no other program comes between.
  if (const std::string busy = FreeRecorder(source_); !busy.empty())
    return Refusal(source_.Device() + ": " + busy);
  const TDriveHold hold(source_);
  if (!hold.Held()) return Refusal(source_.Device() + ": " + DriveBusyText(hold.Busy()));
  if (Cancelled()) return Stopped();
  TBurnOptions burn;
  const std::string why = InspectDiscVolume(source_, burn.StreamedImage, cancel_);
  if (Cancelled()) return Stopped();
  if (!why.empty()) return Refusal(why);
  // Kept here: the burn lets go of its image when it ends. InspectDiscVolume made it.
  const std::shared_ptr<TImageSource> kept = burn.StreamedImage.Source;
  const auto* source = static_cast<const TDiscVolumeSource*>(kept.get());
  TJobResult result = WriteTarget(std::move(burn));
  // The burn names the sector; the copy says whose it was.
  if (result.Outcome == TJobOutcome::Failed && source->Failed()) {
    result.Text = kCopyFailedText;
    result.Plain = "The disc being copied could not be read" +
                   std::string(target_.BytesWritten() > 0 ? " after part of it was written"
                                                          : ": nothing was written") + ".";
    result.Advice = "Clean the disc being copied, or save what can be read with read-image.";
  }
  return result;
}

TJobResult TCopyJob::CopyThroughImage() {
  const TempFolder folder(options_.TempFolder);
  if (folder.Path().empty()) return Refusal("CANNOT MAKE A TEMPORARY FOLDER: " + folder.Error());
  const std::string image = folder.Path() + "/disc.iso";
  TJobResult ended;
  if (!ReadSource(image, ended)) return ended;
  if (!ChangeDiscs(ended)) return ended;
  TBurnOptions burn;
  burn.ImageFile = image;
  return WriteTarget(std::move(burn));
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
  StepHandler unheard;
  TBlankDiscJob waiting(target_, unheard, options_.BlankDiscWaitMs);
  ended = RunStep(waiting);
  if (ended.Outcome == TJobOutcome::Completed) return true;
  ended = ended.Stopped ? Stopped() : CopyFailed(ended.Error);
  return false;
}

TJobResult TCopyJob::WriteTarget(TBurnOptions burn) {
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
