// brennix-cli mkiso: builds the image exactly as a burn builds it from its queue, and writes
// it to a file through the read-ahead cache instead of to a drive.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/queue.h"
#include "image/iso_image.h"
#include "platform/temp_file.h"
#include "recording/cache_thread.h"
#include "recording/image_file_writer.h"

namespace brennix::cli {

namespace {

// What the burn dialog uses.
// A file has no buffer to keep from running empty, so the image needs only the smallest
// read-ahead cache the component allows; a burn uses 8392704.
constexpr int32_t kFileImageCacheSize = 2097152;

const char* const kMkisoUsage =
    "usage: brennix-cli mkiso -o OUT.iso [--label TEXT] [--save-path full|last|none]\n"
    "                         [--no-joliet] [--no-rock-ridge] [--cache-size BYTES] [--quiet]\n"
    "                         SOURCE...\n"
    "\n"
    "Writes the files and folders SOURCE... as an ISO 9660 image with Rock Ridge entries and\n"
    "a Joliet tree to OUT.iso. A folder contributes its contents (recursively); --save-path\n"
    "full keeps each source's folder path below the root, last keeps only its last folder,\n"
    "none (default) puts everything in the root. --no-rock-ridge leaves out the full names,\n"
    "modes and times Linux readers take from Rock Ridge. --cache-size sets the read-ahead\n"
    "cache (default and minimum 2097152; a burn uses 8392704).\n";

struct Options {
  std::string output;
  std::string label;
  SavePathMode savePath = SavePathMode::None;
  bool joliet = true;
  bool rockRidge = true;
  int32_t cacheSize = kFileImageCacheSize;
  std::vector<std::string> sources;
};

int MkisoError(const std::string& message) { return UsageError("mkiso: " + message); }

int Fail(const std::string& message) { return Failure("mkiso: " + message); }

// Empty string on success, else the message.
std::string Parse(const Args& args, Options& o, bool& help) {
  bool haveOutput = false;
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
    } else if (a == "-o" || a == "--output") {
      const std::string* v = value();
      if (v == nullptr || v->empty()) return a + " needs a file name";
      if (haveOutput) return "only one -o OUT.iso may be given";
      o.output = *v;
      haveOutput = true;
    } else if (a == "--label") {
      const std::string* v = value();
      if (v == nullptr) return "--label needs a text";
      o.label = Trim(*v);
    } else if (a == "--save-path") {
      const std::string* v = value();
      if (v == nullptr) return "--save-path needs full, last or none";
      if (!ParseSavePathMode(*v, o.savePath))
        return "--save-path must be full, last or none, not '" + *v + "'";
    } else if (a == "--quiet" || a == "-q") {
      SetQuiet(true);
    } else if (a == "--no-joliet") {
      o.joliet = false;
    } else if (a == "--no-rock-ridge") {
      o.rockRidge = false;
    } else if (a == "--cache-size") {
      const std::string* v = value();
      if (v == nullptr) return "--cache-size needs a number of bytes";
      char* end = nullptr;
      errno = 0;
      const long long bytes = std::strtoll(v->c_str(), &end, 10);
      if (v->empty() || *end != '\0' || errno != 0 || bytes <= 0 || bytes > INT32_MAX)
        return "--cache-size must be a number of bytes from 1 to 2147483647, not '" + *v + "'";
      o.cacheSize = static_cast<int32_t>(bytes);
    } else {
      return "unknown option '" + a + "'";
    }
  }
  if (!haveOutput) return "the image file is missing: give -o OUT.iso";
  if (o.sources.empty()) return "nothing to write: give one or more SOURCE files or folders";
  return "";
}

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted.store(true); }

// Ctrl-C ends the run cleanly (the partial file is removed) instead of killing it.
class InterruptGuard {
 public:
  InterruptGuard() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
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

std::string Mb(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1048576.0);
  return text;
}

}  // namespace

int RunMkiso(const Args& args) {
  Options o;
  bool help = false;
  const std::string parseError = Parse(args, o, help);
  if (help) return ShowHelp(kMkisoUsage);
  if (args.empty()) {
    std::fputs(kMkisoUsage, stderr);
    return 2;
  }
  if (!parseError.empty()) return MkisoError(parseError + " (see 'brennix-cli mkiso --help')");

  // Every source must exist before anything is built.
  for (const std::string& source : o.sources) {
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0)
      return MkisoError("cannot use source '" + source + "': " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
      return MkisoError("source '" + source + "' is neither a file nor a folder");
  }
  struct stat outInfo {};
  const bool outExists = ::stat(o.output.c_str(), &outInfo) == 0;
  if (outExists && !S_ISREG(outInfo.st_mode))
    return MkisoError("'" + o.output + "' exists and is not a regular file");

  TIsoImage image;
  image.JolietFileSystem = o.joliet;
  image.RockRidge = o.rockRidge;
  image.IdVolume = o.label;
  image.SetCacheSize(o.cacheSize);
  if (std::getenv("BRENNIX_DEBUG") != nullptr) {
    image.OnDebugMessage = [](const std::string& text, uint8_t) {
      std::fprintf(stderr, "%s\n", Printable(text).c_str());
    };
  }
  const QueueBuild queue =
      BuildTreeFromQueue(image, o.sources, o.savePath, std::vector<std::string>{o.output});
  // The output replaces a file that is one of the sources (or lies in a queued folder): the
  // image would destroy what it holds.
  if (!queue.BeingWrittenFound.empty())
    return MkisoError("'" + o.output + "' is one of the sources ('" +
                      queue.BeingWrittenFound.front() +
                      "'): writing the image there would destroy it; choose an output outside them");
  const int leftOut = ReportSkippedSources(image, "mkiso");
  if (!queue.Error.empty()) return Fail(queue.Error);
  if (image.DirCount() == 0 && image.FileCount() == 0)
    return Fail("nothing to write: the sources hold no files");
  if (!image.PrepareImage()) return Fail("cannot lay out the image");
  if (!image.BuildHeader()) return Fail("cannot build the image head");

  // Written under a temporary name and renamed at the end, so a failed run never leaves a
  // partial image under the name asked for (nor destroys an earlier image of that name).
  // Each run has a file of its own, created new: never another run's, never through a link.
  std::string partial;
  const int fd = CreateFileBeside(o.output, ".part", 0666, partial);
  if (fd < 0) return Fail("cannot create a file beside '" + o.output + "': " + std::strerror(errno));

  const int64_t expected = image.SectorsToWrite() * 2048;
  const bool terminal = ShowProgress();
  auto progress = [&](int64_t done) {
    if (!terminal) return;
    const int percent = expected > 0 ? static_cast<int>(done * 100 / expected) : 100;
    std::printf("\rwriting %s: %3d%% (%s of %s)", o.output.c_str(), percent, Mb(done).c_str(),
                Mb(expected).c_str());
    std::fflush(stdout);
  };

  ImageFileResult result;
  {
    InterruptGuard interrupts;
    g_interrupted.store(false);
    std::recursive_mutex lock;
    // A file image has no time-critical writer to make way for: the reader keeps its priority.
    TCacheThread cache(image.CacheSize(), &image.HeaderStream, image.ImageSectors * 2048,
                       image.WritePostGap, kDvdBlockSize, lock, false);
    result = WriteImageToFile(cache, lock, fd, expected, progress, &g_interrupted);
  }
  if (terminal) std::printf("\n");

  bool ok = result.ErrorText.empty();
  if (ok && ::close(fd) != 0) {
    result.ErrorText = std::string("CAN'T WRITE THE IMAGE FILE: ") + std::strerror(errno);
    ok = false;
  } else if (!ok) {
    ::close(fd);
  }
  if (ok && ::rename(partial.c_str(), o.output.c_str()) != 0) {
    result.ErrorText = "CAN'T RENAME '" + partial + "': " + std::strerror(errno);
    ok = false;
  }
  if (!ok) {
    ::unlink(partial.c_str());
    return Fail(result.ErrorText + " (no image written)");
  }

  // FileCount includes the entries that stand for folders; the summary counts files alone.
  Summary(std::to_string(image.FileCount() - image.DirCount()) + " files, " +
          std::to_string(image.DirCount()) + " folders, " + std::to_string(expected / 2048) +
          " sectors (" + Mb(expected) + ") written to " + o.output);
  if (!result.FileErrors.empty()) {
    const std::string& lines = result.FileErrors;
    for (size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
      Complain("mkiso: " + lines.substr(start, end - start));
    return Fail("the image is complete, but some files were not read whole (see above)");
  }
  if (leftOut > 0)
    return Fail("the image is complete, but " + std::to_string(leftOut) +
                " problem(s) left sources out of it (see above)");
  return 0;
}

}  // namespace brennix::cli
