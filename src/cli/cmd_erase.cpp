// brennix-cli erase: the erase dialog on the command line. Asks the dialog's question (unless
// --yes), refuses what the dialog refuses, follows the progress and reports the outcome.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/job_console.h"
#include "cli/option_table.h"
#include "cli/recorder_setup.h"
#include "component/erase_job.h"
#include "device/scsi_device.h"

namespace brennix::cli {

namespace {

const char* const kEraseAbout =
    "Blanks the rewritable disc in the recorder D (default: the first): a CD-RW or DVD-RW is\n"
    "blanked, a DVD+RW or DVD-RAM formatted. --full erases the whole disc instead of the\n"
    "minimum (this may take 10-70 minutes). Without --yes the command asks first, and it\n"
    "refuses when no one can answer.\n";

}  // namespace

int RunErase(const Args& args) {
  std::string wanted;
  bool full = false, yes = false;
  TCommandLine cli{"erase",
                    {RecorderOption(wanted),
                     Flag({"--full"}, full),
                     Flag({"--yes", "-y"}, yes),
                     QuietOption()},
                    kEraseAbout};
  cli.guided = false;
  if (const auto status = ReadCommandLine(cli, args)) return *status;

  // Refuse before touching the drive rather than wait for an answer nobody can give.
  if (!yes && !isatty(STDIN_FILENO))
    return UsageError("erase: standard input is not a terminal: give --yes to erase without asking");
  TSCSIDevice device;
  if (!SelectRecorder(device, wanted)) return kExitFailure;

  TConsoleJob console("erase", yes, false);
  console.StartLine = "Erasing Data...";
  console.ProgressText = [](const TJobProgress& p) {
    return "Progress: " + std::to_string(std::max(p.Percent, 0)) + "%";
  };
  TEraseJob job(device, console, full);
  const TJobResult result = console.Run(job);
  if (TConsoleJob::ToldAlready(result)) return kExitFailure;
  if (result.Outcome == TJobOutcome::Failed) return console.ReportFailure(result);
  if (ShowProgress()) std::puts("\rProgress: 100%");
  Summary(result.Text);
  return kExitSuccess;
}

}  // namespace brennix::cli
