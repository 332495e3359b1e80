// brennix-cli's side of a job: questions on the terminal (or --yes), messages on standard
// error, a progress line for a person watching, and the run itself, pumping the main thread
// until the job is done. Ctrl-C, SIGTERM and SIGHUP cancel the job as the window's Abort
// does; a second signal while it ends leaves at once.
#pragma once

#include <functional>
#include <string>

#include "component/job.h"

namespace brennix::cli {

class TConsoleJob final : public TJobHandler {
 public:
  // command prefixes every message ("burn"); yes answers the write and erase questions;
  // unmount answers the question about a mounted disc.
  TConsoleJob(std::string command, bool yes, bool unmount);

  void Ask(const TJobQuestion& question, std::function<void(bool)> answer) override;
  void Tell(const TJobMessage& message) override;
  void Progress(const TJobProgress& progress) override;
  void Done(const TJobResult& result) override;

  // Starts the job and returns its result once it has ended.
  TJobResult Run(TJob& job);
  // Prints a failure as the dialogs show it: the job's end, then its plain lines (what
  // happened, the disc's state, what to do next), then the drive's own words; returns the
  // exit status of a failure.
  int ReportFailure(const TJobResult& result) const;
  // Sources left out so far (the count a front end exits 1 for).
  int LeftOut() const { return leftOut_; }
  // A job refused or declined has told why as it happened: the command only fails.
  static bool ToldAlready(const TJobResult& result) {
    return result.Outcome == TJobOutcome::Refused || result.Outcome == TJobOutcome::Declined;
  }
  // Draws the progress line; only called on a terminal without --quiet.
  std::function<std::string(const TJobProgress&)> ProgressText;
  // Printed once when the work itself begins ("Writing Data...").
  std::string StartLine;

 private:
  bool Answered(const TJobQuestion& question);
  void ShowLine(const std::string& line);
  void EndLine();

  std::string command_;
  bool yes_;
  bool unmount_;
  bool done_ = false;
  TJobResult result_;
  int leftOut_ = 0;
  bool lineShown_ = false;
  bool started_ = false;
};

}  // namespace brennix::cli
