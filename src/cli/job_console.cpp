#include "cli/job_console.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>

#include "cli/console.h"
#include "cli/queue.h"
#include "component/plain_words.h"
#include "platform/main_thread.h"

namespace brennix::cli {

namespace {

constexpr uint32_t kPumpMs = 100;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> g_signals{0};

extern "C" void OnJobSignal(int number) {
  if (g_signals.fetch_add(1) > 0) {
    // Asked twice: the user will not wait for the ending.
    ::signal(number, SIG_DFL);
    ::raise(number);
  }
}

// The signals ask the job to stop instead of killing the process mid-write.
class SignalGuard {
 public:
  SignalGuard() {
    g_signals.store(0);
    struct sigaction action {};
    action.sa_handler = OnJobSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &old_[i]);
  }
  ~SignalGuard() {
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &old_[i], nullptr);
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  struct sigaction old_[std::size(kSignals)] {};
};

}  // namespace

TConsoleJob::TConsoleJob(std::string command, bool yes, bool unmount)
    : command_(std::move(command)), yes_(yes), unmount_(unmount) {}

void TConsoleJob::Ask(const TJobQuestion& question, std::function<void(bool)> answer) {
  answer(Answered(question));
}

bool TConsoleJob::Answered(const TJobQuestion& question) {
  if (question.Kind == TQuestionKind::Unmount) return unmount_;
  leftOut_ += ReportSkipped(question.Skipped, command_);
  for (const std::string& note : question.Notes) Summary(note);
  std::string text = question.Text;
  if (question.Kind == TQuestionKind::Write) text += LeftOutNote(leftOut_);
  if (yes_) {
    Summary(text + " yes");
    return true;
  }
  if (!Confirm(text)) {
    std::printf(question.Kind == TQuestionKind::Erase ? "Nothing was erased.\n"
                                                      : "Nothing written.\n");
    return false;
  }
  return true;
}

void TConsoleJob::Tell(const TJobMessage& message) {
  leftOut_ += ReportSkipped(message.Skipped, command_);
  if (message.Text.empty()) return;
  EndLine();
  if (message.Kind == TMessageKind::Information) {
    Summary(message.Text);
    return;
  }
  Complain(command_ + ": " + message.Text);
  for (const std::string& line : message.Details) Complain(command_ + ": " + line);
}

void TConsoleJob::Progress(const TJobProgress& progress) {
  if (!started_) {
    started_ = true;
    if (!StartLine.empty()) Summary(StartLine);
  }
  if (!ShowProgress() || !ProgressText) return;
  ShowLine(ProgressText(progress));
}

void TConsoleJob::ShowLine(const std::string& line) {
  if (line.empty()) return;
  std::printf("\r%-78s", line.c_str());
  lineShown_ = true;
  std::fflush(stdout);
}

void TConsoleJob::EndLine() {
  if (lineShown_) std::printf("\n");
  lineShown_ = false;
  std::fflush(stdout);
}

void TConsoleJob::Done(const TJobResult& result) {
  EndLine();
  result_ = result;
  done_ = true;
}

int TConsoleJob::ReportFailure(const TJobResult& result) const {
  std::string lines = FailureLines(result);
  Complain(command_ + ": " + (result.Text.empty() ? std::string("failed.") : result.Text));
  for (size_t start = 0; !lines.empty() && start <= lines.size();) {
    const size_t end = std::min(lines.find('\n', start), lines.size());
    Complain(command_ + ": " + lines.substr(start, end - start));
    start = end + 1;
  }
  if (!result.Error.empty()) Complain(command_ + ": details: " + result.Error);
  return kExitFailure;
}

TJobResult TConsoleJob::Run(TJob& job) {
  SignalGuard signals;
  done_ = false;
  started_ = false;
  if (!job.Start()) {
    TJobResult busy;
    busy.Error = "ANOTHER RUN IS STILL GOING";
    return busy;
  }
  bool cancelled = false;
  while (!done_) {
    PumpMainThreadUntil([this] { return done_; }, kPumpMs);
    if (!cancelled && g_signals.load() > 0) {
      cancelled = true;
      job.Cancel();
      EndLine();
      Summary("Aborting...");
    }
  }
  return result_;
}

}  // namespace brennix::cli
