// brennix-cli mkiso: builds the image exactly as a burn builds it from its queue, and writes
// it to a file through the read-ahead cache instead of to a drive.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/job_console.h"
#include "cli/queue.h"
#include "component/image_job.h"

namespace brennix::cli {

namespace {

const char* const kMkisoUsage =
    "usage: brennix-cli mkiso -o OUT.iso [--label TEXT] [--save-path full|last|none]\n"
    "                         [--no-joliet] [--no-rock-ridge] [--checksums]\n"
    "                         [--cache-size BYTES] [--quiet]\n"
    "                         SOURCE...\n"
    "\n"
    "Writes the files and folders SOURCE... as an ISO 9660 image with Rock Ridge entries and\n"
    "a Joliet tree to OUT.iso. A folder contributes its contents (recursively); --save-path\n"
    "full keeps each source's folder path below the root, last keeps only its last folder,\n"
    "none (default) puts everything in the root. --no-rock-ridge leaves out the full names,\n"
    "modes and times Linux readers take from Rock Ridge. --checksums adds SHA256SUMS at the\n"
    "root, the files' sums as 'sha256sum -c' reads them. --cache-size sets the read-ahead\n"
    "cache (default and minimum 2097152; a burn uses 8392704).\n";

struct Options {
  std::string output;
  std::string label;
  SavePathMode savePath = SavePathMode::None;
  bool joliet = true;
  bool rockRidge = true;
  bool checksums = false;
  int32_t cacheSize = kImageFileCacheSize;
  std::vector<std::string> sources;
};

int MkisoError(const std::string& message) { return UsageError("mkiso: " + message); }

std::string Mb(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1048576.0);
  return text;
}

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
    } else if (a == "--checksums") {
      o.checksums = true;
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

  TImageOptions options;
  options.Sources = o.sources;
  options.Output = o.output;
  options.SavePath = o.savePath;
  options.Label = o.label;
  options.Joliet = o.joliet;
  options.RockRidge = o.rockRidge;
  options.Checksums = o.checksums;
  options.CacheSize = o.cacheSize;
  TConsoleJob console("mkiso", true, false);
  console.ProgressText = [&o](const TJobProgress& p) {
    const int percent =
        p.BytesTotal > 0 ? static_cast<int>(p.BytesDone * 100 / p.BytesTotal) : 100;
    char line[64];
    std::snprintf(line, sizeof line, ": %3d%% (", percent);
    return "writing " + o.output + line + Mb(p.BytesDone) + " of " + Mb(p.BytesTotal) + ")";
  };
  TImageJob job(console, std::move(options));
  const TJobResult result = console.Run(job);
  if (result.BadRequest) return MkisoError(result.Error);
  if (result.Outcome != TJobOutcome::Completed) return Fail(result.Error);
  for (const std::string& line : result.Summary) Summary(line);
  if (!result.Problems.empty()) {
    for (const std::string& line : result.Problems) Complain("mkiso: " + line);
    return Fail("the image is complete, but some files were not read whole (see above)");
  }
  if (console.LeftOut() > 0)
    return Fail("the image is complete, but " + Counted(console.LeftOut(), "problem", "problems") +
                " left sources out of it (see above)");
  return 0;
}

}  // namespace brennix::cli
