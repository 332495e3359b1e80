// A job runs one whole user task (a burn, an erase, an image file) from its first check to
// its end, in one order of steps and with one set of texts for every front end. The steps
// that talk to a drive or walk folders run on a worker of the job's own; the job talks to
// its front end only through a TJobHandler, and every handler call arrives on the thread
// that started the job (the main thread: the desktop's event loop, or the command line's
// pump), in the order the job made them, and never after the job is gone.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "image/iso_image.h"

namespace brennix {

class TSCSIDevice;

enum class TMessageKind { Information, Warning, Error };

struct TJobMessage {
  TMessageKind Kind = TMessageKind::Information;
  std::string Text;                     // lines separated by '\n'
  std::vector<std::string> Details;     // one line each: what was left out, the drive's words
  std::vector<TSkippedSource> Skipped;  // sources left out or renamed on the way
};

enum class TQuestionKind { Unmount, Write, Erase };

struct TJobQuestion {
  TQuestionKind Kind = TQuestionKind::Write;
  std::string Text;                     // lines separated by '\n'
  std::vector<std::string> Notes;       // what else will happen, a sentence each
  std::vector<TSkippedSource> Skipped;  // sources left out or renamed
  bool DefaultYes = true;
};

// Reading: a disc read into a file (an image saved, the first half of a copy).
enum class TJobPhase { Preparing, Writing, Finalizing, Verifying, Aborting, Erasing, Reading };

// One recorder of a recording to several at once.
struct TRecorderProgress {
  std::string Name;   // the recorder's device
  int64_t BytesDone = 0;
  TJobPhase Phase = TJobPhase::Writing;
  int Percent = -1;  // of the read-back; -1 when none runs
  bool Ended = false;
  std::string Error;  // why this recorder ended early; empty while well
};

struct TJobProgress {
  TJobPhase Phase = TJobPhase::Preparing;
  int64_t BytesDone = 0;   // sent to the disc or the file
  int64_t BytesTotal = 0;  // the whole recording
  int Percent = -1;        // of the read-back or of the erase; -1 when none runs
  uint32_t BufferSize = 0;  // the drive's buffer, as last reported
  uint32_t FreeBufferSize = 0;
  bool Stoppable = false;  // Cancel would end the running work now (an erase that fills)
  bool Ended = false;      // the work has ended well: the last figures, shown whole
  // With several recorders, each one's figures (the fields above are the slowest one's).
  std::vector<TRecorderProgress> Recorders;
};

enum class TJobOutcome {
  Completed,  // the work was done (Problems may still list what went wrong on the way)
  Failed,     // the work started and ended with an error (or was stopped)
  Refused,    // stopped before anything changed: the reason was told
  Declined,   // the user said No
};

struct TJobResult {
  TJobOutcome Outcome = TJobOutcome::Refused;
  std::string Text;                   // "Burn process completed." and the like
  std::string Error;                  // why it failed, in the drive's or the program's words
  std::vector<std::string> Summary;   // what was done, a line each
  std::vector<std::string> Problems;  // what went wrong although the work was done
  int LeftOut = 0;                    // sources left out of the disc or the image
  bool BadRequest = false;            // refused for what was asked, not for what was found
  // A failure in plain words (component/plain_words.h), each empty when not known: what
  // happened ("The disc could not be written at 812 MB: a medium error. ..."), the state the
  // disc is left in, and what to do next. Error keeps the drive's or the program's own words.
  std::string Plain;
  std::string DiscState;
  std::string Advice;
  bool Stopped = false;               // Failed because the user stopped it
};

// A result that says no more than how the job ended, and its text and error.
inline TJobResult JobEnd(TJobOutcome outcome, std::string text = {}, std::string error = {}) {
  TJobResult result;
  result.Outcome = outcome;
  result.Text = std::move(text);
  result.Error = std::move(error);
  return result;
}

class TJobHandler {
 public:
  virtual ~TJobHandler() = default;
  // A question. The job waits until answer is called, once, on the main thread (true for
  // Yes); the handler may call it at once or later, when it is ready to ask.
  virtual void Ask(const TJobQuestion& question, std::function<void(bool yes)> answer) = 0;
  virtual void Tell(const TJobMessage& message) = 0;
  virtual void Progress(const TJobProgress& progress) = 0;
  // The last call of a job; the handler may destroy the job from here.
  virtual void Done(const TJobResult& result) = 0;
};

class TJob {
 public:
  explicit TJob(TJobHandler& handler);
  virtual ~TJob();
  TJob(const TJob&) = delete;
  TJob& operator=(const TJob&) = delete;

  // Starts the job on its worker. False while it still runs.
  bool Start();
  // From Start until Done has been handed to the handler.
  bool Running() const { return running_.load(); }
  // Asks the job to stop: a step not yet begun is not begun, a recording is aborted; the
  // end comes through Done as usual.
  void Cancel();
  bool Cancelled() const { return cancel_.load(); }

 protected:
  // The whole task, on the worker.
  virtual TJobResult Run() = 0;
  // Called on the thread that cancels, while Run may be anywhere.
  virtual void OnCancel() {}

  // A job that ends before its work: the text told as a warning (when not empty, with its
  // detail lines) and the Refused result that carries it.
  TJobResult Refusal(const std::string& text, std::vector<std::string> details = {});
  bool Ask(const TJobQuestion& question);
  void Tell(const TJobMessage& message);
  void Tell(TMessageKind kind, const std::string& text, std::vector<std::string> details = {});
  void Report(const TJobProgress& progress);
  // The recorder is free for this job: no other program holds it, and a mounted disc is
  // unmounted when the user agrees. Empty when free, else why not.
  std::string FreeRecorder(TSCSIDevice& device);
  // Wakes a worker waiting for an answer, so that it sees a cancel or the owner leaving.
  void Wake();
  // The owner is going away: Run must return as soon as it can, whatever it was waiting for.
  bool Leaving() const;
  // For the destructors of derived jobs: ends the worker before their members go.
  void Finish();
  // Runs another job's whole task here, on this job's worker, as one step of this job: its
  // questions, messages and progress go to this job's handler, and a cancel of this job
  // cancels it too. The step is never started on its own.
  TJobResult RunStep(TJob& step);

  std::atomic<bool> cancel_{false};

 private:
  struct Channel;
  std::shared_ptr<Channel> channel_;
  std::thread worker_;
  std::atomic<bool> running_{false};
  std::atomic<TJob*> step_{nullptr};    // the step RunStep runs now
  std::atomic<int> cancelling_{0};      // Cancel calls that may be passing it on
};

}  // namespace brennix
