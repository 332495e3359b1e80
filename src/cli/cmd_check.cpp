// brennix-cli check: a disc read back after the fact, against its SHA256SUMS list where it
// has one.
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/job_console.h"
#include "cli/option_table.h"
#include "cli/recorder_setup.h"
#include "component/check_job.h"
#include "component/korb_burner.h"

namespace brennix::cli {

namespace {

const char* const kCheckAbout =
    "Checks the data disc in the recorder D (default: the first). When its last session holds\n"
    "SHA256SUMS at the root (burn --checksums writes it), every file the list names is read\n"
    "through the disc's own tree and compared with its sum; without one, every file of the\n"
    "last session is read. Each file that differs or cannot be read is named, and the command\n"
    "exits 1.\n";

}  // namespace

int RunCheck(const Args& args) {
  std::string device;
  TCommandLine cli{"check", {DeviceOption(device), QuietOption()}, kCheckAbout};
  cli.unknownWord = "unknown word";
  if (const auto status = ReadCommandLine(cli, args)) return *status;
  TKorbBurner burner;
  if (!SelectRecorder(burner, device)) return 1;
  TConsoleJob console("check", true, false);
  console.StartLine = "Checking Disc...";
  console.ProgressText = [](const TJobProgress& p) {
    const int percent = p.BytesTotal > 0 ? static_cast<int>(p.BytesDone * 100 / p.BytesTotal) : 100;
    return "Checking... " + std::to_string(percent) + "%";
  };
  TCheckJob job(burner, console);
  const TJobResult result = console.Run(job);
  if (TConsoleJob::ToldAlready(result)) return kExitFailure;
  for (const std::string& problem : result.Problems) Complain("check: " + problem);
  for (const std::string& line : result.Summary) Summary(line);
  if (result.Outcome == TJobOutcome::Failed) return Failure("check: " + result.Error);
  Summary(result.Text);
  return kExitSuccess;
}

}  // namespace brennix::cli
