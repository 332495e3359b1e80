// brennix-cli read-image: the disc in the recorder saved as an image file.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/job_console.h"
#include "cli/option_table.h"
#include "cli/recorder_setup.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "component/read_image_job.h"
#include "platform/disc_units.h"

namespace brennix::cli {

namespace {

const char* const kReadImageAbout =
    "Saves the data disc in the recorder D (default: the first) as the image file OUT.iso.\n"
    "By default the last session's volume is read whole, with the files of the sessions\n"
    "before it; --session N reads session N's volume, --all every recorded sector. Reads\n"
    "go 32 sectors at a time with a few retries; a sector that stays unreadable is written\n"
    "as zeros and listed in OUT.iso.bad, and the command exits 1. The file is written as\n"
    "OUT.iso.part and renamed when complete; --resume reads only what an earlier run left\n"
    "missing or bad. Ctrl-C stops the read and keeps what was read for --resume.\n";

}  // namespace

int RunReadImage(const Args& args) {
  TReadImageOptions options;
  std::string device;
  const auto session = [&options](const std::string& v) {
    char* endp = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(v.c_str(), &endp, 10);
    if (v.empty() || *endp != '\0' || errno != 0 || n == 0 || n > 0xFFFF)
      return std::string("--session needs a session number from 1");
    options.Session = static_cast<uint16_t>(n);
    return std::string();
  };
  TCommandLine cli{"read-image",
                   {DeviceOption(device), Valued({"--session"}, "N", "needs a number", session),
                    Flag({"--all"}, options.All), Flag({"--resume"}, options.Resume),
                    QuietOption()},
                   kReadImageAbout};
  cli.options[2].orPrevious = true;
  cli.operands = "OUT.iso";
  cli.operandsOnNewLine = true;
  cli.operand = [&options](const std::string& word) {
    if (!options.Out.empty()) return std::string("give one OUT.iso");
    if (word.empty()) return std::string("an empty OUT.iso is not a path");
    options.Out = word;
    return std::string();
  };
  cli.usageWhenEmpty = true;
  if (const auto status = ReadCommandLine(cli, args)) return *status;
  if (options.Out.empty()) return CommandUsageError(cli, "give the OUT.iso to write");
  if (options.All && options.Session != 0)
    return CommandUsageError(cli, "--session and --all exclude each other");

  TKorbBurner burner;
  if (!SelectRecorder(burner, device)) return 1;
  TConsoleJob console("read-image", true, false);
  console.StartLine = "Reading Disc...";
  console.ProgressText = [](const TJobProgress& p) {
    const int64_t sectors = p.BytesTotal / kSectorSize;
    const int percent = p.BytesTotal > 0 ? static_cast<int>(p.BytesDone * 100 / p.BytesTotal) : 0;
    return MBWrittenText(p.BytesDone, sectors) + "  " + std::to_string(percent) + "%";
  };
  TReadImageJob job(burner, console, options);
  const TJobResult result = console.Run(job);
  if (TConsoleJob::ToldAlready(result)) return kExitFailure;
  for (const std::string& line : result.Summary) Summary(line);
  if (!result.Text.empty()) Summary(result.Text);
  if (result.Outcome == TJobOutcome::Failed) return Failure("read-image: " + result.Error);
  return kExitSuccess;
}

}  // namespace brennix::cli
