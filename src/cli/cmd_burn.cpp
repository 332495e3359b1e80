// brennix-cli burn: builds the image from the sources as the burn dialog builds it from its
// queue, asks the dialog's question, and records it with a live progress line.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/queue.h"
#include "cli/select_recorder.h"
#include "cli/job_console.h"
#include "component/burn_job.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "component/recorder_rules.h"
#include "device/disc_types.h"
#include "platform/disc_units.h"

namespace brennix::cli {

namespace {

const char* const kBurnUsage =
    "usage: brennix-cli burn [--device D] [--label TEXT] [--save-path full|last|none]\n"
    "                        [--close-disc] [--test-write] [--verify] [--speed KBS]\n"
    "                        [--unmount] [--no-joliet] [--no-rock-ridge] [--no-import]\n"
    "                        [--checksums]\n"
    "                        [--yes] [--quiet]\n"
    "                        SOURCE...\n"
    "\n"
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
    "Without --yes it asks before it writes. Ctrl-C aborts the recording.\n";

const char* const kBurnImageUsage =
    "usage: brennix-cli burn-image [--device D] [--close-disc] [--test-write] [--verify]\n"
    "                              [--speed KBS] [--unmount] [--yes] [--quiet] IMAGE\n"
    "\n"
    "Writes the ISO 9660 or UDF image file IMAGE as it is, in one recording from the start\n"
    "of a blank disc (a rewritable disc is written over). The file must be made of whole\n"
    "2048-byte sectors and fit the disc; the question names its label and size. A\n"
    "write-once disc stays open unless --close-disc is given; --verify reads the disc back\n"
    "and compares. Without --yes it asks before it writes. Ctrl-C aborts the recording.\n";

struct Options {
  std::string device;
  std::string label;
  SavePathMode savePath = SavePathMode::None;
  bool closeDisc = false;
  bool testWrite = false;
  bool verify = false;
  uint16_t speed = 0;
  bool yes = false;
  bool unmount = false;
  bool joliet = true;
  bool rockRidge = true;
  bool import = true;
  bool checksums = false;
  std::vector<std::string> sources;
};

int BurnUsageError(const std::string& message) { return UsageError("burn: " + message); }


// Empty on success, else the message.
std::string Parse(const Args& args, Options& o, bool& help) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string* {
      return i + 1 < args.size() ? &args[++i] : nullptr;
    };
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      if (a.empty()) return "an empty SOURCE is not a path";
      o.sources.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
    } else if (a == "-h" || a == "--help") {
      help = true;
      return "";
    } else if (a == "--device" || a.rfind("--device=", 0) == 0) {
      // An empty value would pick the first recorder, which may be a real drive.
      const std::string* v = a == "--device" ? value() : nullptr;
      o.device = v != nullptr ? *v : a.size() > 9 ? a.substr(9) : std::string();
      if (o.device.empty()) return a.substr(0, 9) + " needs a recorder";
    } else if (a == "--label") {
      const std::string* v = value();
      if (v == nullptr) return "--label needs a text";
      o.label = Trim(*v);
    } else if (a == "--save-path") {
      const std::string* v = value();
      if (v == nullptr || !ParseSavePathMode(*v, o.savePath))
        return "--save-path must be full, last or none";
    } else if (a == "--close-disc") {
      o.closeDisc = true;
    } else if (a == "--test-write") {
      o.testWrite = true;
    } else if (a == "--verify") {
      o.verify = true;
    } else if (a == "--speed") {
      const std::string* v = value();
      if (v == nullptr || v->empty() || v->find_first_not_of("0123456789") != std::string::npos)
        return "--speed needs a write speed in KB/s";
      errno = 0;
      const unsigned long kbs = std::strtoul(v->c_str(), nullptr, 10);
      if (errno != 0 || kbs > 0xFFFF) return "--speed must be at most 65535 KB/s";
      o.speed = static_cast<uint16_t>(kbs);
    } else if (a == "--no-joliet") {
      o.joliet = false;
    } else if (a == "--no-rock-ridge") {
      o.rockRidge = false;
    } else if (a == "--no-import") {
      o.import = false;
    } else if (a == "--checksums") {
      o.checksums = true;
    } else if (a == "--yes" || a == "-y") {
      o.yes = true;
    } else if (a == "--quiet" || a == "-q") {
      SetQuiet(true);
    } else if (a == "--unmount") {
      o.unmount = true;
    } else {
      return "unknown option '" + a + "'";
    }
  }
  if (o.sources.empty()) return "nothing to write: give one or more SOURCE files or folders";
  return "";
}

}  // namespace

// The recorder, the job and its console, shared by burn, burn-image and copy.
int RunBurnJob(const std::string& command, const std::string& device, bool yes, bool unmount,
           TBurnOptions options) {
  TKorbBurner burner;
  if (std::getenv("BRENNIX_DEBUG") != nullptr) {
    burner.OnDebugMessage = [](TSCSIDevice*, const std::string& text, uint8_t) {
      Complain(text);
    };
  }
  if (!SelectRecorder(burner, device)) return 1;
  if (!RecorderWrites(burner))
    return Failure(command + ": the recorder '" + burner.Device() + "' cannot write discs");
  ApplyRecordingPreset(burner);

  TConsoleJob console(command, yes, unmount);
  console.StartLine = "Writing Data...";
  int64_t lastBytes = 0;
  auto lastTick = std::chrono::steady_clock::now();
  std::optional<std::chrono::steady_clock::time_point> started;
  double speed = 0;
  console.ProgressText = [&](const TJobProgress& p) -> std::string {
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
  TBurnJob job(burner, console, std::move(options));
  const TJobResult result = console.Run(job);
  switch (result.Outcome) {
    case TJobOutcome::Declined:
      return kExitFailure;
    case TJobOutcome::Refused:
      return kExitFailure;
    case TJobOutcome::Failed:
    case TJobOutcome::Completed:
      break;
  }
  for (const std::string& line : result.Summary) Summary(line);
  if (result.Outcome == TJobOutcome::Failed) return console.ReportFailure(result);
  Summary(result.Text);
  if (result.LeftOut > 0)
    return Failure(command + ": " + Counted(result.LeftOut, "source was", "sources were") +
                   " left out of the disc (listed above)");
  return kExitSuccess;
}

int RunBurn(const Args& args) {
  Options o;
  bool help = false;
  const std::string parseError = Parse(args, o, help);
  if (help) return ShowHelp(kBurnUsage);
  if (args.empty()) {
    std::fputs(kBurnUsage, stderr);
    return 2;
  }
  if (!parseError.empty()) return BurnUsageError(parseError + " (see 'brennix-cli burn --help')");
  for (const std::string& source : o.sources) {
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0)
      return BurnUsageError("cannot use source '" + source + "': " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
      return BurnUsageError("source '" + source + "' is neither a file nor a folder");
  }
  // Refuse before touching the drive rather than wait for an answer nobody can give.
  if (!o.yes && ::isatty(STDIN_FILENO) != 1)
    return BurnUsageError("standard input is not a terminal: give --yes to burn without asking");

  TBurnOptions options;
  for (const std::string& source : o.sources) options.Sources.push_back({source, true});
  options.SavePath = o.savePath;
  options.Label = o.label;
  options.Joliet = o.joliet;
  options.RockRidge = o.rockRidge;
  options.CloseDisc = o.closeDisc;
  options.TestWrite = o.testWrite;
  options.Verify = o.verify;
  options.Import = o.import;
  options.Checksums = o.checksums;
  options.Speed = o.speed;
  options.ImportOffHint = " (--no-import writes the new files without those on the disc)";
  options.Limits = kFormatLimits;
  return RunBurnJob("burn", o.device, o.yes, o.unmount, std::move(options));
}

int RunBurnImage(const Args& args) {
  Options o;
  bool help = false;
  std::string parseError = Parse(args, o, help);
  if (help) return ShowHelp(kBurnImageUsage);
  if (args.empty()) {
    std::fputs(kBurnImageUsage, stderr);
    return 2;
  }
  const auto usage = [](const std::string& message) {
    return UsageError("burn-image: " + message + " (see 'brennix-cli burn-image --help')");
  };
  if (o.sources.size() != 1 && (parseError.empty() || parseError.rfind("nothing to write", 0) == 0))
    parseError = "give one IMAGE file";
  if (parseError.empty() && (!o.label.empty() || o.savePath != SavePathMode::None ||
                             !o.joliet || !o.rockRidge || !o.import || o.checksums))
    parseError = "--label, --save-path, --no-joliet, --no-rock-ridge, --no-import and --checksums apply to burn";
  if (!parseError.empty()) return usage(parseError);
  if (!o.yes && ::isatty(STDIN_FILENO) != 1)
    return usage("standard input is not a terminal: give --yes to burn without asking");
  TBurnOptions options;
  options.ImageFile = o.sources[0];
  options.CloseDisc = o.closeDisc;
  options.TestWrite = o.testWrite;
  options.Verify = o.verify;
  options.Speed = o.speed;
  return RunBurnJob("burn-image", o.device, o.yes, o.unmount, std::move(options));
}

}  // namespace brennix::cli
