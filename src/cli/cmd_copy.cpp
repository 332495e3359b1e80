// brennix-cli copy: a data disc written to a blank disc in another recorder as it is read,
// or, read whole first and after a change of discs, in the same one; the copy is read back
// and compared.
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/job_console.h"
#include "cli/option_table.h"
#include "cli/recorder_setup.h"
#include "component/burn_job.h"
#include "component/copy_job.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "component/recorder_rules.h"
#include "platform/disc_units.h"

namespace brennix::cli {

namespace {

const char* const kCopyAbout =
    "Copies the data disc in recorder D1: its last session's volume, with the files of the\n"
    "sessions before it, is written to a blank disc in D2 as it is read from D1, both\n"
    "recorders held until the end. Without --to (or with D2 the same as D1) it is read into\n"
    "a temporary image first, D1's tray opens and a blank disc is waited for up to 10\n"
    "minutes. The copy is read back and compared with what was read. A sector of the source\n"
    "that cannot be read ends the copy and is named (with a temporary image, before anything\n"
    "is written); it is never written as zeros.\n";

// The copy job's steps on one terminal: "Reading Disc..." when a read into the temporary
// image begins, "Writing Data..." when the recording does.
class CopyConsole final : public TJobHandler {
 public:
  explicit CopyConsole(TConsoleJob& console) : console_(console) {}
  void Ask(const TJobQuestion& question, std::function<void(bool)> answer) override {
    console_.Ask(question, std::move(answer));
  }
  void Tell(const TJobMessage& message) override { console_.Tell(message); }
  void Progress(const TJobProgress& progress) override {
    if (!reading_ && progress.Phase == TJobPhase::Reading) {
      reading_ = true;
      console_.Tell({TMessageKind::Information, "Reading Disc...", {}, {}});
    }
    if (!writing_ && progress.Phase != TJobPhase::Reading && progress.Phase != TJobPhase::Preparing) {
      writing_ = true;
      console_.Tell({TMessageKind::Information, "Writing Data...", {}, {}});
    }
    console_.Progress(progress);
  }
  void Done(const TJobResult& result) override { console_.Done(result); }
  bool Writing() const { return writing_; }

 private:
  TConsoleJob& console_;
  bool reading_ = false;
  bool writing_ = false;
};

}  // namespace

int RunCopy(const Args& args) {
  std::string from, to;
  TBurnOptions options;
  bool yes = false, unmount = false;
  TOption fromRow = Valued({"--from"}, "D1", "needs a recorder", SetText(from));
  TOption toRow = Valued({"--to"}, "D2", "needs a recorder", SetText(to));
  fromRow.emptyIsMissing = fromRow.required = toRow.emptyIsMissing = true;
  const char* const badSpeed = "needs a write speed in KB/s, at most 65535";
  TOption speed = Valued({"--speed"}, "KBS", badSpeed, [&options, badSpeed](const std::string& v) {
    if (v.empty() || v.size() > 5 || v.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(v) > 0xFFFF)
      return "--speed " + std::string(badSpeed);
    options.Speed = static_cast<uint16_t>(std::stoul(v));
    return std::string();
  });
  TOption yesRow = Flag({"--yes", "-y"}, yes);
  yesRow.newLine = true;
  TCommandLine cli("copy",
                   {fromRow, toRow, Flag({"--close-disc"}, options.CloseDisc), speed,
                    Flag({"--unmount"}, unmount), yesRow, QuietOption()},
                   kCopyAbout);
  cli.usageWhenEmpty = true;
  if (const auto status = ReadCommandLine(cli, args)) return *status;
  if (from.empty())
    return CommandUsageError(cli, "--from names the recorder that holds the disc to copy");
  if (!yes && ::isatty(STDIN_FILENO) != 1)
    return CommandUsageError(cli, "standard input is not a terminal: give --yes to copy without asking");

  // One component when the disc is copied in its own recorder.
  TKorbBurner source, other;
  const bool same = to.empty() || to == from;
  TKorbBurner& target = same ? source : other;
  if (!SelectRecorder(source, from) || (!same && !SelectRecorder(target, to))) return kExitFailure;
  if (!RecorderWrites(target))
    return Failure("copy: the recorder '" + target.Device() + "' cannot write discs");
  ApplyRecordingPreset(target);

  TConsoleJob console("copy", yes, unmount);
  console.ProgressText = [](const TJobProgress& p) -> std::string {
    if (p.Phase == TJobPhase::Verifying) return "Verifying... " + std::to_string(p.Percent) + "%";
    if (p.BytesTotal <= 0) return std::string();
    return MBWrittenText(p.BytesDone, p.BytesTotal / kSectorSize) + "  " +
           std::to_string(p.BytesDone * 100 / p.BytesTotal) + "%";
  };
  CopyConsole steps(console);
  TCopyOptions copy;
  copy.CloseDisc = options.CloseDisc;
  copy.Speed = options.Speed;
  TCopyJob job(source, target, steps, copy);
  const TJobResult result = console.Run(job);
  if (TConsoleJob::ToldAlready(result)) return kExitFailure;
  // Before the recording nothing was written: the reason alone says it.
  if (result.Outcome == TJobOutcome::Failed && !steps.Writing())
    return Failure("copy: " + result.Error);
  for (const std::string& line : result.Summary) Summary(line);
  if (result.Outcome == TJobOutcome::Failed) return console.ReportFailure(result);
  Summary(result.Text);
  return kExitSuccess;
}

}  // namespace brennix::cli
