// brennix-cli copy: a data disc read whole and written to a blank disc, in another recorder
// or, after a change of discs, in the same one; the copy is read back and compared.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/job_console.h"
#include "cli/option_table.h"
#include "cli/select_recorder.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "component/read_image_job.h"
#include "component/recorder_rules.h"
#include "device/disc_types.h"
#include "platform/clock.h"
#include "platform/disc_units.h"
#include "recording/write_preparation.h"

namespace brennix::cli {

namespace {

const char* const kCopyAbout =
    "Copies the data disc in recorder D1: its last session's volume, with the files of the\n"
    "sessions before it, is read into a temporary image and written to a blank disc in D2\n"
    "(default: D1 again, after D1's tray has opened for the blank disc, which is waited for\n"
    "up to 10 minutes). The copy is read back and compared with what was read. A sector of\n"
    "the source that cannot be read ends the copy before anything is written.\n";

constexpr uint32_t kBlankDiscWaitMs = 10 * 60 * 1000;

// Waits until the recorder holds a disc an image can go to; false when none came in time.
bool WaitForBlankDisc(const std::string& device) {
  TKorbBurner burner;
  if (!SelectRecorder(burner, device)) return false;
  const uint64_t start = TickCount();
  for (;;) {
    const auto type = static_cast<int16_t>(burner.GetDiscType());
    if (IsWritableDiscType(type) && (!IsSequentialRecording(type) || burner.DiscStatus() == 0))
      return true;
    if (TickCount() - start >= kBlankDiscWaitMs) return false;
    SleepMs(2000);
  }
}

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

  // The image goes to a folder of its own, removed whatever happens.
  const std::string base = std::filesystem::temp_directory_path().string() + "/brennix-copy-XXXXXX";
  std::string folder = base;
  if (::mkdtemp(folder.data()) == nullptr) return Failure("copy: cannot make a temporary folder");
  struct Cleanup {
    std::string folder;
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    }
  } cleanup{folder};
  const std::string image = folder + "/disc.iso";
  {
    TKorbBurner source;
    if (!SelectRecorder(source, from)) return 1;
    TConsoleJob console("copy", true, false);
    console.StartLine = "Reading Disc...";
    console.ProgressText = [](const TJobProgress& p) {
      const int percent = p.BytesTotal > 0 ? static_cast<int>(p.BytesDone * 100 / p.BytesTotal) : 0;
      return MBWrittenText(p.BytesDone, p.BytesTotal / kSectorSize) + "  " + std::to_string(percent) + "%";
    };
    TReadImageOptions read;
    read.Out = image;
    TReadImageJob job(source, console, read);
    const TJobResult result = console.Run(job);
    if (result.Outcome != TJobOutcome::Completed)
      return result.Error.empty() ? kExitFailure : Failure("copy: " + result.Error);
    if (to.empty() || to == from) {
      MoveTray(source, TrayMove::Eject);
      Summary("Insert a blank disc into the recorder and close the tray.");
    }
  }
  if ((to.empty() || to == from) && !WaitForBlankDisc(from))
    return Failure("copy: no blank disc came into the recorder within 10 minutes");
  options.ImageFile = image;
  options.Verify = true;
  return RunBurnJob("copy", to.empty() ? from : to, yes, unmount, std::move(options));
}

}  // namespace brennix::cli
