// brennix-cli mkiso: builds the image exactly as a burn builds it from its queue, and writes
// it to a file through the read-ahead cache instead of to a drive.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/job_console.h"
#include "cli/option_table.h"
#include "cli/queue.h"
#include "component/image_job.h"
#include "component/progress_text.h"

namespace brennix::cli {

namespace {

const char* const kMkisoAbout =
    "Writes the files and folders SOURCE... as an ISO 9660 image with Rock Ridge entries and\n"
    "a Joliet tree to OUT.iso. A folder contributes its contents (recursively); --save-path\n"
    "full keeps each source's folder path below the root, last keeps only its last folder,\n"
    "none (default) puts everything in the root. --no-rock-ridge leaves out the full names,\n"
    "modes and times Linux readers take from Rock Ridge. --checksums adds SHA256SUMS at the\n"
    "root, the files' sums as 'sha256sum -c' reads them. --cache-size sets the read-ahead\n"
    "cache (default and minimum 2097152; a burn uses 8392704).\n";

int MkisoError(const std::string& message) { return UsageError("mkiso: " + message); }
int Fail(const std::string& message) { return Failure("mkiso: " + message); }

TOption CacheSizeOption(int32_t& cacheSize) {
  return Valued({"--cache-size"}, "BYTES", "needs a number of bytes", [&cacheSize](const std::string& v) {
    char* end = nullptr;
    errno = 0;
    const long long bytes = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || errno != 0 || bytes <= 0 || bytes > INT32_MAX)
      return "--cache-size must be a number of bytes from 1 to 2147483647, not '" + v + "'";
    cacheSize = static_cast<int32_t>(bytes);
    return std::string();
  });
}

}  // namespace

int RunMkiso(const Args& args) {
  TQueueWords queue;
  TImageOptions options;
  TOption output = Valued({"-o", "--output"}, "OUT.iso", "needs a file name", [&options](const std::string& v) {
    if (!options.Output.empty()) return std::string("only one -o OUT.iso may be given");
    options.Output = v;
    return std::string();
  });
  output.emptyIsMissing = output.required = true;
  TQueueRows tree = QueueRows(queue, true);
  tree.noJoliet.newLine = true;
  TOption cacheSize = CacheSizeOption(options.CacheSize);
  cacheSize.newLine = true;
  TCommandLine cli("mkiso",
                   {output, tree.label, tree.savePath, tree.noJoliet, tree.noRockRidge,
                    tree.checksums, cacheSize, QuietOption()},
                   kMkisoAbout);
  cli.operands = "SOURCE...";
  cli.operandsOnNewLine = true;
  cli.operand = SourceOperand(queue);
  cli.endOfOptions = true;
  cli.usageWhenEmpty = true;
  if (const auto status = ReadCommandLine(cli, args)) return *status;
  if (options.Output.empty()) return CommandUsageError(cli, "the image file is missing: give -o OUT.iso");
  if (queue.Sources.empty()) return CommandUsageError(cli, kNoSources);

  // Every source must exist before anything is built.
  const std::string problem = SourcesProblem(queue);
  if (!problem.empty()) return MkisoError(problem);
  struct stat outInfo {};
  const bool outExists = ::stat(options.Output.c_str(), &outInfo) == 0;
  if (outExists && !S_ISREG(outInfo.st_mode))
    return MkisoError("'" + options.Output + "' exists and is not a regular file");

  options.Sources = queue.Sources;
  queue.ApplyTo(options);
  const std::string out = options.Output;
  TConsoleJob console("mkiso", true, false);
  console.ProgressText = [&out](const TJobProgress& p) {
    const int percent =
        p.BytesTotal > 0 ? static_cast<int>(p.BytesDone * 100 / p.BytesTotal) : 100;
    char line[64];
    std::snprintf(line, sizeof line, ": %3d%% (", percent);
    return "writing " + out + line + MegabytesText(p.BytesDone) + " of " +
           MegabytesText(p.BytesTotal) + ")";
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
