#include "component/burn_job.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <utility>

#include "component/checksum_list.h"
#include "component/korb_burner.h"
#include "component/plain_words.h"
#include "component/progress_text.h"
#include "component/recorder_rules.h"
#include "platform/disc_units.h"
#include "recording/write_preparation.h"
#include "recording/writer_thread.h"

namespace brennix {

const char* const kEmptyQueueText = "Please add one or more files to the burn queue and try again.";
const char* const kBurnCompletedText = "Burn process completed.";
const char* const kBurnFailedText = "The burn failed.";
const char* const kBurnStoppedText = "The burn was stopped.";
const char* const kVerifiedText = "Verified: every sector read back identical.";
const char* const kOverwriteText =
    "The disc holds data that is not kept: the new session is written over it.";

std::string SkippedLine(const TSkippedSource& s) {
  if (s.FromDisc) return "NOT KEPT: " + s.Source + " (" + s.Reason + ")";
  if (s.NewName.empty()) return s.Source + ": " + s.Reason;
  return s.Source + " -> " + s.NewName + " (" + s.Reason + ")";
}

namespace {

constexpr uint32_t kProgressTickMs = 500;
constexpr const char* kNothingToWriteText = "Nothing in the burn queue can go on the disc.";
constexpr const char* kLayoutText = "CANNOT LAY OUT THE IMAGE";

std::string Count(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

// The end of the recording of each recorder as its component reports it, on the main
// thread, for the worker that waits for them. Shared with the events: a job that is gone
// leaves it behind.
struct TBurnJob::Recording {
  explicit Recording(size_t recorders)
      : done(recorders, false), error(recorders), finalizing(new std::atomic<bool>[recorders]) {
    for (size_t i = 0; i < recorders; ++i) finalizing[i].store(false);
  }
  bool AllDone() const {
    return std::all_of(done.begin(), done.end(), [](bool d) { return d; });
  }
  std::mutex mutex;
  std::condition_variable ended;
  std::vector<bool> done;
  std::vector<std::string> error;
  std::unique_ptr<std::atomic<bool>[]> finalizing;
};

TBurnJob::TBurnJob(TKorbBurner& burner, TJobHandler& handler, TBurnOptions options,
                   std::vector<TKorbBurner*> more)
    : TJob(handler), burner_(burner), options_(std::move(options)), more_(std::move(more)) {
  // One image for every disc: the files of one disc cannot be kept on the others.
  if (!more_.empty()) options_.Import = false;
}

TBurnJob::~TBurnJob() {
  Finish();
  burner_.OnWriteDone = nullptr;
  burner_.OnFinalizingTrack = nullptr;
  for (TKorbBurner* other : more_) {
    other->OnWriteDone = nullptr;
    other->OnFinalizingTrack = nullptr;
  }
  RemoveChecksumFolder(checksumFolder_);
}

void TBurnJob::OnCancel() { burner_.Abort(); }

TJobResult TBurnJob::Run() {
  TKorbBurner& korb = burner_;
  const TBurnOptions& o = options_;
  const bool image = !o.ImageFile.empty() || o.StreamedImage.Source != nullptr;
  if (o.Sources.empty() && !image) return Refusal(kEmptyQueueText);

  // Another program on the drive, or the disc mounted, stops the burn before anything is
  // built or asked; the recording checks once more when it takes the drive.
  if (const std::string busy = FreeRecorder(korb); !busy.empty()) return Refusal(busy);
  if (Cancelled()) return Refusal(std::string());

  for (TKorbBurner* other : more_) {
    if (const std::string busy = FreeRecorder(*other); !busy.empty())
      return Refusal(other->Device() + ": " + busy);
    if (Cancelled()) return Refusal(std::string());
  }

  for (TKorbBurner* each : Recorders()) {
    each->UnderrunProtection = true;
    each->FinalizeDisc = o.CloseDisc;
    each->TestWrite = o.TestWrite;
    each->Verify = o.Verify;
    each->ImportSession = o.Import;
    uint32_t bufferLength = 0, blankLength = 0;
    each->ReadBufferCapacity(bufferLength, blankLength);
    each->SetWriteSpeed(o.Speed);
  }
  korb.JolietFileSystem = o.Joliet;
  korb.RockRidge = o.RockRidge;
  korb.IdVolume = Trimmed(o.Label);
  korb.ClearImageFile();
  if (image) return RunImage();

  // A virtual recorder's disc (and its state file) inside a source folder is left out: it is
  // being written while the image would read it.
  const std::string disc = SelectedDiscFile(korb);
  const QueueBuild queue = BuildTreeFromQueue(
      korb, o.Sources, o.SavePath,
      disc.empty() ? std::vector<std::string>{} : std::vector<std::string>{disc, disc + ".state"},
      o.Limits);
  emptyFolders_ = queue.EmptyFoldersLeftOut;
  // The list goes into the tree like a source of its own, at the root.
  if (o.Checksums && queue.Error.empty()) {
    if (const std::string why = WriteChecksumList(korb, &cancel_, checksumFolder_); !why.empty())
      return Refusal(why);
    korb.AddFile("\\", checksumFolder_ + "/" + kChecksumListName, false);
  }
  // What is left out or renamed, as the tree stands: once more after the disc's files have
  // joined it, which may give a new name to one of them.
  std::vector<TSkippedSource> skipped;
  int leftOut = 0, renamed = 0;
  std::vector<std::string> skippedLines;
  const auto listSkipped = [&] {
    skipped = korb.SkippedSources();
    for (const std::string& path : queue.BeingWrittenFound)
      skipped.push_back({path, "THE DISC BEING WRITTEN", std::string()});
    // Nothing of the disc is dropped without a word: what the new session cannot list again
    // is named with the sources left out.
    if (korb.EarlierSessionAdded()) {
      for (const std::string& line : korb.ImportLeftOut()) {
        const size_t colon = line.rfind(": ");
        TSkippedSource s{line.substr(0, colon),
                         colon == std::string::npos ? std::string() : line.substr(colon + 2),
                         std::string()};
        s.FromDisc = true;
        skipped.push_back(std::move(s));
      }
    }
    leftOut = renamed = 0;
    skippedLines.clear();
    for (const TSkippedSource& s : skipped) {
      (s.NewName.empty() ? leftOut : renamed) += 1;
      skippedLines.push_back(SkippedLine(s));
    }
  };
  listSkipped();
  if (Cancelled()) return Refusal(std::string());
  if (!queue.Error.empty()) return Refusal(queue.Error, skippedLines);
  if (korb.DirCount() == 0 && korb.FileCount() == 0)
    return Refusal(kNothingToWriteText, skippedLines);

  // A disc that cannot take the image is named now, before the question, not part-way.
  if (!korb.PrepareImage()) return Refusal(kLayoutText);
  std::string refusal = korb.CheckDiscForImage();
  if (!refusal.empty()) return Refusal(refusal);
  // A recording that was cut off left its track or session open: it is closed before the
  // new one, which then is the session readers see last.
  const bool unfinished = korb.HasUnfinishedRecording(refusal);
  if (!refusal.empty()) return Refusal(refusal);
  // The disc's files join the tree before the question, and the image is checked with them.
  if (o.Import) {
    if (!korb.ImportLastSession(refusal)) return Refusal(refusal + o.ImportOffHint);
    listSkipped();
    if (!korb.PrepareImage()) return Refusal(kLayoutText);
    refusal = korb.CheckDiscForImage();
    if (!refusal.empty()) return Refusal(refusal);
  }
  if (refusal = CheckMoreRecorders(); !refusal.empty()) return Refusal(refusal);
  if (Cancelled()) return Refusal(std::string());
  // The disc being written is left out as it must be: named, but not a fault of the burn.
  const int faultyLeftOut = leftOut - static_cast<int>(queue.BeingWrittenFound.size());

  TJobQuestion question;
  question.Kind = TQuestionKind::Write;
  question.Text = "Do you want to write " + QueueSizeText(queue.QueuedBytes) + " to the disc ?";
  question.Skipped = std::move(skipped);
  if (unfinished) question.Notes.push_back(kUnfinishedRecordingText);
  if (o.Import) {
    for (const std::string& note : korb.ImportNotes()) question.Notes.push_back(note);
  } else if (korb.OverwritesDiscData()) {
    question.Notes.push_back(kOverwriteText);
  }
  if (leftOut > 0)
    question.Notes.push_back(
        Count(leftOut, "file or folder cannot", "files or folders cannot") +
        " go on the disc and will be left out.");
  if (renamed > 0)
    question.Notes.push_back(std::to_string(renamed) + " will go on the disc under another name.");
  if (korb.ImportedFiles() > 0 || korb.ReplacedFiles() > 0) {
    std::string kept = "Keeping " + Count(korb.ImportedFiles(), "file", "files") +
                       " of the earlier session";
    if (korb.ReplacedFiles() > 0)
      kept += " (" + std::to_string(korb.ReplacedFiles()) + " replaced by new ones)";
    question.Notes.push_back(kept + ".");
  }
  AddBurnPlanNotes(korb, o, question);
  AddRecordersNote(question);
  if (!Ask(question)) return JobEnd(TJobOutcome::Declined);
  if (unfinished) {
    Report(TJobProgress{});
    const std::string why = korb.CloseUnfinishedRecording();
    if (!why.empty()) {
      Tell(TMessageKind::Error, why);
      return JobEnd(TJobOutcome::Failed, kBurnFailedText, why);
    }
    // The new session goes after the one just closed.
    if (!korb.PrepareImage()) return Refusal(kLayoutText);
    refusal = korb.CheckDiscForImage();
    if (!refusal.empty()) return Refusal(refusal);
  }
  return Record(faultyLeftOut);
}

TJobResult TBurnJob::RunImage() {
  TKorbBurner& korb = burner_;
  const TBurnOptions& o = options_;
  korb.ImportSession = false;
  // A streamed image is already inspected, and the options outlive the job's run.
  TImageFile inspected;
  if (!o.StreamedImage.Source) {
    if (const std::string why = InspectImageFile(o.ImageFile, inspected); !why.empty())
      return Refusal(why);
  }
  const TImageFile& image = o.StreamedImage.Source ? o.StreamedImage : inspected;
  if (!korb.UseImageFile(image)) return Refusal(kTreeInUseText);
  std::string refusal = korb.CheckDiscForImage();
  if (refusal.empty()) refusal = CheckMoreRecorders();
  if (!refusal.empty()) {
    korb.ClearImageFile();
    return Refusal(refusal);
  }
  if (Cancelled()) {
    korb.ClearImageFile();
    return Refusal(std::string());
  }
  TJobQuestion question;
  question.Kind = TQuestionKind::Write;
  std::string what = image.Kind + " image";
  if (!image.Label.empty()) what += " \"" + image.Label + "\"";
  question.Text = "Do you want to write the " + what + " (" +
                  QueueSizeText(image.Sectors * kSectorSize) + ") to the disc ?";
  if (!IsSequentialRecording(static_cast<int16_t>(korb.GetDiscType())) &&
      (korb.ReadVolumeSize() > 0 || korb.OverwritesDiscData()))
    question.Notes.push_back("The disc is written over from its start: what it holds now is lost.");
  if (image.Source)
    question.Notes.push_back("The image is read from the disc being copied as it is written; "
                             "that disc stays locked in its recorder until the end.");
  AddBurnPlanNotes(korb, o, question);
  AddRecordersNote(question);
  if (!Ask(question)) {
    korb.ClearImageFile();
    return JobEnd(TJobOutcome::Declined);
  }
  TJobResult result = Record(0);
  korb.ClearImageFile();
  for (TKorbBurner* other : more_) other->ClearImageFile();
  return result;
}

std::vector<TKorbBurner*> TBurnJob::Recorders() const {
  std::vector<TKorbBurner*> all{&burner_};
  all.insert(all.end(), more_.begin(), more_.end());
  return all;
}

std::string TBurnJob::CheckMoreRecorders() {
  for (TKorbBurner* other : more_) {
    if (const std::string why = other->CheckDiscForImageOf(burner_); !why.empty())
      return other->Device() + ": " + why;
  }
  return std::string();
}

void TBurnJob::AddRecordersNote(TJobQuestion& question) const {
  if (more_.empty()) return;
  std::string names;
  for (const TKorbBurner* each : Recorders()) names += (names.empty() ? "" : ", ") + each->Device();
  question.Notes.push_back("The same image goes to " + std::to_string(more_.size() + 1) +
                           " recorders at once: " + names + ".");
}

TJobResult TBurnJob::Record(int leftOut) {
  TKorbBurner& korb = burner_;
  const std::vector<TKorbBurner*> all = Recorders();
  auto recording = std::make_shared<Recording>(all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    all[i]->OnWriteDone = [recording, i](TKorbBurner*, const std::string& error) {
      {
        std::lock_guard<std::mutex> lock(recording->mutex);
        recording->done[i] = true;
        recording->error[i] = error;
      }
      recording->ended.notify_all();
    };
    all[i]->OnFinalizingTrack = [recording, i](TKorbBurner*) { recording->finalizing[i].store(true); };
  }

  const int64_t total = korb.SectorsToWrite() * kSectorSize;
  TJobProgress progress;
  progress.Phase = TJobPhase::Writing;
  progress.BytesTotal = total;
  const auto phaseOf = [&](size_t i) {
    const int percent = all[i]->VerifyProgress();
    return percent >= 0                                     ? TJobPhase::Verifying
           : Cancelled()                                    ? TJobPhase::Aborting
           : recording->finalizing[i].load() || (total > 0 && all[i]->BytesWritten() == total)
               ? TJobPhase::Finalizing
               : TJobPhase::Writing;
  };
  // With several recorders each has its line; the main figures are those of the slowest
  // one still recording.
  const auto fill = [&](bool ended) {
    size_t slowest = 0;
    progress.Recorders.clear();
    for (size_t i = 0; all.size() > 1 && i < all.size(); ++i) {
      TRecorderProgress line;
      line.Name = all[i]->Device();
      line.BytesDone = all[i]->BytesWritten();
      line.Phase = phaseOf(i);
      line.Percent = all[i]->VerifyProgress();
      {
        std::lock_guard<std::mutex> lock(recording->mutex);
        line.Ended = recording->done[i] && recording->error[i].empty();
        line.Error = recording->error[i];
        if (!recording->error[i].empty()) line.Ended = true;
      }
      if (line.Error.empty() && (slowest >= progress.Recorders.size() ||
                                 line.BytesDone < progress.Recorders[slowest].BytesDone))
        slowest = i;
      progress.Recorders.push_back(std::move(line));
    }
    TKorbBurner& shown = *all[slowest];
    progress.BytesDone = shown.BytesWritten();
    progress.BufferSize = shown.BufferSize();
    progress.FreeBufferSize = shown.FreeBufferSize();
    progress.Percent = shown.VerifyProgress();
    progress.Phase = ended ? (progress.Percent >= 0 ? TJobPhase::Verifying : TJobPhase::Writing)
                           : phaseOf(slowest);
    progress.Ended = ended;
  };
  // Burn waits until the read-ahead cache is full; a cancel ends that wait. Its end, early
  // or late, comes through OnWriteDone on the main thread. Writing is reported once the
  // writer runs.
  if (korb.BurnTogether(more_, &cancel_)) Report(progress);
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(recording->mutex);
      recording->ended.wait_for(lock, std::chrono::milliseconds(kProgressTickMs),
                                [&] { return recording->AllDone(); });
      if (recording->AllDone()) break;
    }
    // The owner is going away: its component aborts the recording and waits for it.
    if (Leaving()) return JobEnd(TJobOutcome::Failed, std::string(), kAbortedByUser);
    fill(false);
    Report(progress);
  }

  TJobResult result;
  size_t failed = all.size();
  {
    std::lock_guard<std::mutex> lock(recording->mutex);
    for (size_t i = 0; i < all.size() && failed == all.size(); ++i) {
      if (!recording->error[i].empty()) failed = i;
    }
    if (failed < all.size()) result.Error = recording->error[failed];
    // Every recorder's outcome, a line each.
    for (size_t i = 0; all.size() > 1 && i < all.size(); ++i) {
      result.Summary.push_back(all[i]->Device() + ": " +
                               (recording->error[i].empty()
                                    ? std::string(kBurnCompletedText)
                                    : std::string(kBurnFailedText) + " " + recording->error[i]));
    }
  }
  if (result.Error.empty()) {
    fill(true);
    Report(progress);
  }
  result.LeftOut = leftOut;
  result.Outcome = result.Error.empty() ? TJobOutcome::Completed : TJobOutcome::Failed;
  result.Text = result.Error.empty() ? kBurnCompletedText : kBurnFailedText;
  if (const uint64_t ms = korb.DataWriteMs(); ms > 0 && all.size() == 1) {
    const double mb = static_cast<double>(korb.BytesWritten()) / 1048576.0;
    char line[96];
    std::snprintf(line, sizeof line, "Data: %.2f MB in %.2f s (%.2f MB/s)", mb,
                  static_cast<double>(ms) / 1000.0, mb * 1000.0 / static_cast<double>(ms));
    result.Summary.push_back(line);
  }
  if (korb.LowestBufferFill() >= 0 && all.size() == 1)
    result.Summary.push_back("Drive buffer: lowest fill " + std::to_string(korb.LowestBufferFill()) +
                             "%");
  if (result.Error.empty() && korb.Verify) result.Summary.push_back(kVerifiedText);
  if (result.Error.empty() && emptyFolders_ > 0)
    result.Summary.push_back(EmptyFoldersText(emptyFolders_));
  if (!result.Error.empty()) {
    ExplainBurnFailure(*all[failed], result);
    if (all.size() > 1) result.Error = all[failed]->Device() + ": " + result.Error;
  }
  // The writers and the read-ahead cache have all ended: the tree may go.
  korb.ClearAll(kQueueMaxFiles, kQueueMaxDirs);
  return result;
}

}  // namespace brennix
