// brennix-cli burn: builds the image from the sources as the burn dialog builds it from its
// queue, asks the dialog's question, and records it with a live progress line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/queue.h"
#include "cli/select_recorder.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "device/disc_types.h"
#include "device/drive_hold.h"
#include "platform/main_thread.h"
#include "transport/spti.h"

namespace brennix::cli {

namespace {

// What the burn dialog sets on its component.
constexpr int32_t kDialogCacheSize = 8392704;
constexpr uint32_t kProgressTickMs = 500;

const char* const kBurnUsage =
    "usage: brennix-cli burn [--device D] [--label TEXT] [--save-path full|last|none]\n"
    "                        [--close-disc] [--test-write] [--verify] [--speed KBS]\n"
    "                        [--unmount] [--no-rock-ridge] [--no-import] [--yes] [--quiet]\n"
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
    "can take the image. --no-rock-ridge leaves out the Rock Ridge names, modes and times\n"
    "Linux readers use. The files of the disc's last session stay in the new one (a\n"
    "SOURCE of the same name replaces one); --no-import writes the new files alone.\n"
    "Without --yes it asks before it writes. Ctrl-C aborts the recording.\n";

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
  bool rockRidge = true;
  bool import = true;
  std::vector<std::string> sources;
};

int BurnUsageError(const std::string& message) { return UsageError("burn: " + message); }

int Fail(const std::string& message) { return Failure("burn: " + message); }

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
    } else if (a == "--no-rock-ridge") {
      o.rockRidge = false;
    } else if (a == "--no-import") {
      o.import = false;
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

std::atomic<bool> g_interrupted{false};

// Also asks a recording that is still starting (Burn is filling the cache) to stop.
extern "C" void OnBurnInterrupt(int) {
  g_interrupted.store(true);
  AbortFlag.store(true);
}

// Ctrl-C asks the recording to stop instead of killing the process mid-write.
class InterruptGuard {
 public:
  InterruptGuard() {
    struct sigaction action {};
    action.sa_handler = OnBurnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~InterruptGuard() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

// The progress line: what the dialog shows, plus buffer fill and speed. Only a person at a
// terminal sees it; a pipe or a file gets the summary alone.
class ProgressLine {
 public:
  ProgressLine(TKorbBurner& burner, int64_t sectorsToWrite)
      : burner_(burner), sectors_(sectorsToWrite), terminal_(ShowProgress()),
        lastTick_(std::chrono::steady_clock::now()) {}

  // `completed`: the recording ended well, so the line shows its end rather than the
  // dialog's bar, which stops at 90 % while the drive still closes the disc.
  void Update(bool finalizing, bool completed = false) {
    if (!terminal_) return;
    const int verified = burner_.VerifyProgress();
    if (verified >= 0) {
      Show("Verifying... " + std::to_string(verified) + "%");
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    const int64_t written = burner_.BytesWritten();
    const double seconds = std::chrono::duration<double>(now - lastTick_).count();
    if (seconds > 0.2) {
      speed_ = static_cast<double>(written - lastBytes_) / seconds;
      lastBytes_ = written;
      lastTick_ = now;
    }
    std::string line = MBWrittenText(written, sectors_);
    const int64_t position = ProgressPosition(written, sectors_);
    const int percent =
        completed     ? 100
        : sectors_ > 0 ? static_cast<int>(std::lround(static_cast<double>(position) * 100.0 /
                                                      static_cast<double>(sectors_)))
                       : 0;
    line += "  " + std::to_string(percent) + "%";
    const int fill = BufferFillPercent(burner_.BufferSize(), burner_.FreeBufferSize());
    if (fill >= 0) line += "  buffer " + std::to_string(fill) + "%";
    line += "  " + XSpeedText(DiscType.load(), speed_);
    if (!completed && (finalizing || (sectors_ > 0 && written == sectors_ * 2048)))
      line += "  Finalizing...";
    Show(line);
  }

  void Finish() {
    if (terminal_ && shown_) std::printf("\n");
    std::fflush(stdout);
  }

 private:
  void Show(const std::string& line) {
    std::printf("\r%-78s", line.c_str());
    shown_ = true;
    std::fflush(stdout);
  }

  TKorbBurner& burner_;
  const int64_t sectors_;
  const bool terminal_;
  std::chrono::steady_clock::time_point lastTick_;
  int64_t lastBytes_ = 0;
  double speed_ = 0;
  bool shown_ = false;
};


}  // namespace

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

  TKorbBurner burner;
  if (std::getenv("BRENNIX_DEBUG") != nullptr) {
    burner.OnDebugMessage = [](TSCSIDevice*, const std::string& text, uint8_t) {
      Complain(text);
    };
  }
  if (!SelectRecorder(burner, o.device)) return 1;
  if ((burner.Capabilities & (cap::WriteCDR | cap::WriteDVDR | cap::WriteDVDRAM)) == 0)
    return Fail("the recorder '" + burner.Device() + "' cannot write discs");

  // Another program on the drive, or the disc mounted, stops the burn before anything is
  // built or asked; the recording itself checks once more when it takes the drive.
  DriveBusy busy = RecorderBusy(burner);
  if (busy.Reason == DriveBusyReason::Mounted && o.unmount) {
    std::string why;
    if (!UnmountRecorderDisc(burner, why)) return Fail(why);
    Summary("Unmounted the disc from " + busy.MountPoint + ".");
    busy = RecorderBusy(burner);
  }
  if (!busy.Free()) return Fail(DriveBusyText(busy));

  burner.UnderrunProtection = true;
  burner.DoDebug = true;
  burner.ReadSpeed = 0;
  burner.TestWrite = o.testWrite;
  burner.ReplaceFile = false;
  burner.PerformOPC = true;
  burner.SetCacheSize(kDialogCacheSize);
  burner.WritePostGap = true;
  burner.JolietFileSystem = true;
  burner.RockRidge = o.rockRidge;
  burner.IdVolume = o.label;
  burner.FinalizeDisc = o.closeDisc;
  burner.Verify = o.verify;
  uint32_t bufferLength = 0, blankLength = 0;
  burner.ReadBufferCapacity(bufferLength, blankLength);
  burner.SetWriteSpeed(o.speed);

  // A virtual recorder's disc (and its state file) inside a source folder is left out: it is
  // being written while the image would read it.
  const std::string disc = SelectedDiscFile(burner);
  const QueueBuild queue = BuildTreeFromQueue(
      burner, o.sources, o.savePath,
      disc.empty() ? std::vector<std::string>{} : std::vector<std::string>{disc, disc + ".state"});
  for (const std::string& path : queue.BeingWrittenFound)
    Complain("burn: left out: \"" + path + "\": the disc being written");
  std::vector<TSkippedSource> listed;
  int leftOut = ReportSkippedSources(burner, "burn", &listed);
  if (!queue.Error.empty()) return Fail(queue.Error);
  if (burner.DirCount() == 0 && burner.FileCount() == 0)
    return Fail("nothing to write: the sources hold no files");
  if (!burner.PrepareImage()) return Fail("cannot lay out the image");
  // Asking about a disc that cannot take the image would only lead to a spoiled one.
  std::string refused = burner.CheckDiscForImage();
  if (!refused.empty()) return Fail(refused);
  // The disc's files join the tree before the question, and the image is checked with them.
  burner.ImportSession = o.import;
  if (o.import) {
    if (!burner.ImportLastSession(refused))
      return Fail(refused + " (--no-import writes the new files without those on the disc)");
    if (burner.ImportedFiles() > 0 || burner.ReplacedFiles() > 0) {
      const auto files = [](int64_t n) {
        return std::to_string(n) + (n == 1 ? " file" : " files");
      };
      std::string kept = "Keeping " + files(burner.ImportedFiles()) + " of the earlier session";
      if (burner.ReplacedFiles() > 0)
        kept += " (" + std::to_string(burner.ReplacedFiles()) + " replaced by new ones)";
      Summary(kept + ".");
    }
    leftOut += ReportSkippedSources(burner, "burn", &listed);  // names the disc's files took
    if (!burner.PrepareImage()) return Fail("cannot lay out the image");
    refused = burner.CheckDiscForImage();
    if (!refused.empty()) return Fail(refused);
  }

  const std::string question = "Do you want to write " + QueueSizeText(queue.QueuedBytes) +
                               " to the disc ?" + LeftOutNote(leftOut);
  if (o.yes) {
    Summary(question + " yes");
  } else if (!Confirm(question)) {
    std::printf("Nothing written.\n");
    return 1;
  }

  std::atomic<bool> done{false};
  std::atomic<bool> finalizing{false};
  std::string error;
  burner.OnWriteDone = [&](TKorbBurner*, const std::string& text) {
    error = text;
    done.store(true);
  };
  burner.OnFinalizingTrack = [&](TKorbBurner*) { finalizing.store(true); };

  InterruptGuard interrupts;
  g_interrupted.store(false);
  Summary("Writing Data...");
  ProgressLine progress(burner, burner.SectorsToWrite());
  bool aborting = false;
  // Burn lays out, fills the cache and starts the writer; a failure before that arrives as
  // OnWriteDone right away.
  burner.Burn();
  while (!done.load()) {
    PumpMainThreadUntil([&] { return done.load(); }, kProgressTickMs);
    if (done.load()) break;
    if (g_interrupted.load() && !aborting) {
      aborting = true;
      burner.Abort();
      progress.Finish();
      Summary("Aborting...");
    }
    progress.Update(finalizing.load());
  }
  if (error.empty()) progress.Update(true, true);
  progress.Finish();
  const uint64_t dataMs = burner.DataWriteMs();
  if (dataMs > 0) {
    const double mb = static_cast<double>(burner.BytesWritten()) / 1048576.0;
    char line[96];
    std::snprintf(line, sizeof line, "Data: %.2f MB in %.2f s (%.2f MB/s)", mb,
                  static_cast<double>(dataMs) / 1000.0, mb * 1000.0 / static_cast<double>(dataMs));
    Summary(line);
  }
  if (burner.LowestBufferFill() >= 0)
    Summary("Drive buffer: lowest fill " + std::to_string(burner.LowestBufferFill()) + "%");
  burner.ClearAll(kQueueMaxFiles, kQueueMaxDirs);

  if (!error.empty()) {
    Summary("Burn process completed with errors.");
    return Fail(error);
  }
  Summary("Burn process completed.");
  if (leftOut > 0)
    return Fail(std::to_string(leftOut) + " source(s) were left out of the disc (listed above)");
  return kExitSuccess;
}

}  // namespace brennix::cli
