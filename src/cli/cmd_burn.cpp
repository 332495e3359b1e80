// brennix-cli burn: builds the image from the sources as the burn dialog builds it from its
// queue, asks the dialog's question, and records it with a live progress line.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/job_console.h"
#include "cli/option_table.h"
#include "cli/queue.h"
#include "cli/recorder_setup.h"
#include "component/blank_disc.h"
#include "component/burn_job.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "component/recorder_rules.h"
#include "device/disc_types.h"
#include "platform/disc_units.h"

namespace brennix::cli {

namespace {

const char* const kBurnAbout =
    "Writes the files and folders SOURCE... to the disc in the recorder D (default: the\n"
    "first) as a new session. A folder contributes its contents (recursively); --save-path\n"
    "full keeps each source's folder path below the root, last keeps only its last folder,\n"
    "none (default) puts everything in the root. --close-disc allows no further sessions;\n"
    "--test-write simulates the recording (refused where drive or disc cannot); --verify\n"
    "reads the new session back and compares it with what was sent; --speed sets the write\n"
    "speed in KB/s (0, the default, is the drive's maximum). A disc that is mounted is not\n"
    "written; --unmount unmounts it first. Before it asks, the command checks that the disc\n"
    "can take the image. --no-joliet leaves out the Joliet tree of long names;\n"
    "--no-rock-ridge leaves out the Rock Ridge names, modes and times Linux readers use.\n"
    "The files of the disc's last session stay in the new one (a SOURCE of the same name\n"
    "replaces one); --no-import writes the new files alone. --checksums adds SHA256SUMS at\n"
    "the root: the new files' sums as 'sha256sum -c' reads them ('brennix-cli check' too).\n"
    "Without --yes it asks before it writes. Ctrl-C aborts the recording.\n"
    "--device given more than once writes the same image to every recorder at once (blank\n"
    "discs, all CDs or all DVDs; the earlier files are not kept), each with its own result;\n"
    "--copies N writes N discs in turn in one recorder, ejecting each and waiting up to 10\n"
    "minutes for the next blank disc.\n";

const char* const kBurnImageAbout =
    "Writes the ISO 9660 or UDF image file IMAGE as it is, in one recording from the start\n"
    "of a blank disc (a rewritable disc is written over). The file must be made of whole\n"
    "2048-byte sectors and fit the disc; the question names its label and size. A\n"
    "write-once disc stays open unless --close-disc is given; --verify reads the disc back\n"
    "and compares. Without --yes it asks before it writes. Ctrl-C aborts the recording.\n"
    "--device given more than once writes the image to every recorder at once; --copies N\n"
    "writes N discs in turn in one recorder, waiting up to 10 minutes for each blank disc.\n";

// What burn and burn-image read from their words.
struct TBurnWords {
  std::vector<std::string> devices;
  int copies = 1;
  bool yes = false;
  bool unmount = false;
  TQueueWords queue;
  TBurnOptions options;  // the recording's own choices
};

TOption SpeedOption(uint16_t& speed) {
  return Valued({"--speed"}, "KBS", "needs a write speed in KB/s", [&speed](const std::string& v) {
    if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos)
      return std::string("--speed needs a write speed in KB/s");
    errno = 0;
    const unsigned long kbs = std::strtoul(v.c_str(), nullptr, 10);
    if (errno != 0 || kbs > 0xFFFF) return std::string("--speed must be at most 65535 KB/s");
    speed = static_cast<uint16_t>(kbs);
    return std::string();
  });
}

// burn and burn-image read the same options; burn-image refuses those of the tree.
TCommandLine BurnCommandLine(TBurnWords& w, bool image) {
  TOption device = Valued({"--device"}, "D", "needs a recorder", AddText(w.devices));
  device.emptyIsMissing = true;
  device.inlineValue = true;
  TOption copies = Valued({"--copies"}, "N", "needs a number of discs", [&w](const std::string& v) {
    if (v.empty() || v.size() > 2 || v.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(v) < 1)
      return std::string("--copies needs a number of discs from 1 to 99");
    w.copies = std::stoi(v);
    return std::string();
  });
  TQueueRows tree = QueueRows(w.queue, false);
  TOption noImport = Flag({"--no-import"}, w.options.Import, false);
  TOption closeDisc = Flag({"--close-disc"}, w.options.CloseDisc);
  TOption testWrite = Flag({"--test-write"}, w.options.TestWrite);
  TOption verify = Flag({"--verify"}, w.options.Verify);
  TOption speed = SpeedOption(w.options.Speed);
  TOption unmount = Flag({"--unmount"}, w.unmount);
  TOption yes = Flag({"--yes", "-y"}, w.yes);
  TOption quiet = QuietOption();
  std::vector<TOption> rows;
  if (image) {
    speed.newLine = true;
    for (TOption* row : {&tree.label, &tree.savePath, &tree.noJoliet, &tree.noRockRidge,
                         &noImport, &tree.checksums})
      row->hidden = true;
    rows = {device, copies, closeDisc, testWrite, verify, speed, unmount, yes, quiet,
            tree.label, tree.savePath, tree.noJoliet, tree.noRockRidge, noImport, tree.checksums};
  } else {
    closeDisc.newLine = unmount.newLine = tree.checksums.newLine = yes.newLine = true;
    rows = {device, copies, tree.label, tree.savePath, closeDisc, testWrite, verify, speed, unmount,
            tree.noJoliet, tree.noRockRidge, noImport, tree.checksums, yes, quiet};
  }
  TCommandLine cli(image ? "burn-image" : "burn", std::move(rows),
                   image ? kBurnImageAbout : kBurnAbout);
  cli.operands = image ? "IMAGE" : "SOURCE...";
  cli.operandsOnNewLine = !image;
  cli.operand = SourceOperand(w.queue);
  cli.endOfOptions = true;
  cli.usageWhenEmpty = true;
  return cli;
}

}  // namespace

// The recorders, the job and its console, shared by burn and burn-image.
namespace {

int RunOneBurn(const std::string& command, TKorbBurner& burner, const std::vector<TKorbBurner*>& more,
               bool yes, bool unmount, const TBurnOptions& options) {
  TConsoleJob console(command, yes, unmount);
  console.StartLine = "Writing Data...";
  int64_t lastBytes = 0;
  auto lastTick = std::chrono::steady_clock::now();
  std::optional<std::chrono::steady_clock::time_point> started;
  double speed = 0;
  console.ProgressText = [&](const TJobProgress& p) -> std::string {
    // Several recorders: a few words for each.
    if (!p.Recorders.empty()) {
      std::string line;
      for (const TRecorderProgress& r : p.Recorders)
        line += (line.empty() ? "" : "  |  ") + RecorderProgressText(r, p.BytesTotal);
      return line;
    }
    if (p.Phase == TJobPhase::Verifying) return "Verifying... " + std::to_string(p.Percent) + "%";
    const auto now = std::chrono::steady_clock::now();
    if (!started) started = now;
    const double seconds = std::chrono::duration<double>(now - lastTick).count();
    if (seconds > 0.2) {
      speed = static_cast<double>(p.BytesDone - lastBytes) / seconds;
      lastBytes = p.BytesDone;
      lastTick = now;
    }
    const int64_t sectors = p.BytesTotal / kSectorSize;
    std::string line = MBWrittenText(p.BytesDone, sectors);
    const int64_t position = ProgressPosition(p.BytesDone, sectors);
    const int percent = p.Ended       ? 100
                        : sectors > 0 ? static_cast<int>(std::lround(static_cast<double>(position) *
                                                                   100.0 / static_cast<double>(sectors)))
                                    : 0;
    line += "  " + std::to_string(percent) + "%";
    const int fill = BufferFillPercent(p.BufferSize, p.FreeBufferSize);
    if (fill >= 0) line += "  buffer " + std::to_string(fill) + "%";
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - *started).count();
    line += "  " + ProgressFiguresText(DiscType.load(), p.Phase == TJobPhase::Writing ? speed : 0,
                                       elapsed, p.BytesDone, p.BytesTotal);
    if (p.Phase == TJobPhase::Finalizing && !p.Ended) line += "  Finalizing...";
    return line;
  };
  TBurnJob job(burner, console, options, more);
  const TJobResult result = console.Run(job);
  if (TConsoleJob::ToldAlready(result)) return kExitFailure;
  for (const std::string& line : result.Summary) Summary(line);
  if (result.Outcome == TJobOutcome::Failed) return console.ReportFailure(result);
  Summary(result.Text);
  if (result.LeftOut > 0)
    return Failure(command + ": " + Counted(result.LeftOut, "source was", "sources were") +
                   " left out of the disc (listed above)");
  return kExitSuccess;
}

}  // namespace

int RunBurnJob(const std::string& command, const std::vector<std::string>& devices, bool yes,
               bool unmount, TBurnOptions options, int copies) {
  std::vector<std::unique_ptr<TKorbBurner>> burners;
  for (size_t i = 0; i < std::max<size_t>(devices.size(), 1); ++i) {
    auto burner = std::make_unique<TKorbBurner>();
    if (std::getenv("BRENNIX_DEBUG") != nullptr) {
      burner->OnDebugMessage = [](TSCSIDevice*, const std::string& text, uint8_t) {
        Complain(text);
      };
    }
    if (!SelectRecorder(*burner, devices.empty() ? std::string() : devices[i])) return 1;
    if (!RecorderWrites(*burner))
      return Failure(command + ": the recorder '" + burner->Device() + "' cannot write discs");
    for (const auto& earlier : burners) {
      if (earlier->Device() == burner->Device())
        return UsageError(command + ": the recorder '" + burner->Device() + "' is named twice");
    }
    ApplyRecordingPreset(*burner);
    burners.push_back(std::move(burner));
  }
  if (burners.size() > 1 && copies > 1)
    return UsageError(command + ": --copies writes its discs in one recorder: give one --device");
  std::vector<TKorbBurner*> more;
  for (size_t i = 1; i < burners.size(); ++i) more.push_back(burners[i].get());

  for (int disc = 1;; ++disc) {
    if (copies > 1) Summary("Disc " + std::to_string(disc) + " of " + std::to_string(copies));
    const int status = RunOneBurn(command, *burners[0], more, yes, unmount, options);
    if (status != kExitSuccess || disc >= copies) return status;
    // The next disc: the written one comes out, and a blank one is waited for (Ctrl-C
    // ends the wait).
    TConsoleJob console(command, yes, unmount);
    TBlankDiscJob wait(*burners[0], console);
    const TJobResult waited = console.Run(wait);
    if (waited.Outcome != TJobOutcome::Completed) return Failure(command + ": " + waited.Error);
  }
}

int RunBurn(const Args& args) {
  TBurnWords w;
  const TCommandLine cli = BurnCommandLine(w, false);
  if (const auto status = ReadCommandLine(cli, args)) return *status;
  if (w.queue.Sources.empty()) return CommandUsageError(cli, kNoSources);
  const std::string problem = SourcesProblem(w.queue);
  if (!problem.empty()) return UsageError("burn: " + problem);
  // Refuse before touching the drive rather than wait for an answer nobody can give.
  if (!w.yes && ::isatty(STDIN_FILENO) != 1)
    return UsageError("burn: standard input is not a terminal: give --yes to burn without asking");

  TBurnOptions options = std::move(w.options);
  for (const std::string& source : w.queue.Sources) options.Sources.push_back({source, true});
  w.queue.ApplyTo(options);
  options.ImportOffHint = " (--no-import writes the new files without those on the disc)";
  options.Limits = kFormatLimits;
  return RunBurnJob("burn", w.devices, w.yes, w.unmount, std::move(options), w.copies);
}

int RunBurnImage(const Args& args) {
  TBurnWords w;
  const TCommandLine cli = BurnCommandLine(w, true);
  if (const auto status = ReadCommandLine(cli, args)) return *status;
  if (w.queue.Sources.size() != 1) return CommandUsageError(cli, "give one IMAGE file");
  const TQueueWords tree;
  if (w.queue.Label != tree.Label || w.queue.SavePath != tree.SavePath ||
      w.queue.Joliet != tree.Joliet || w.queue.RockRidge != tree.RockRidge ||
      w.queue.Checksums != tree.Checksums || !w.options.Import)
    return CommandUsageError(
        cli, "--label, --save-path, --no-joliet, --no-rock-ridge, --no-import and --checksums apply to burn");
  if (!w.yes && ::isatty(STDIN_FILENO) != 1)
    return CommandUsageError(cli, "standard input is not a terminal: give --yes to burn without asking");
  TBurnOptions options = std::move(w.options);
  options.ImageFile = w.queue.Sources[0];
  return RunBurnJob("burn-image", w.devices, w.yes, w.unmount, std::move(options), w.copies);
}

}  // namespace brennix::cli
