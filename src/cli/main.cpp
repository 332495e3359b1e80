// brennix-cli: the burner's work from a terminal.
#include <csignal>
#include <cstdio>
#include <map>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "brennix_version.h"
#include "virtual_recorder/attach.h"

namespace brennix::cli {

namespace {

const char* const kUsage =
    "usage: brennix-cli [--quiet] [--virtual-recorder PATH[:PROFILE]]... COMMAND [OPTIONS]\n"
    "       brennix-cli --help | --version\n"
    "\n"
    "commands:\n"
    "  devices [--json]             list the recorders\n"
    "  info [--device D] [--json]   show a recorder and the disc in it\n"
    "  burn [options] SOURCE...     write files and folders to a disc\n"
    "  burn-image [options] IMAGE   write an ISO 9660 or UDF image file to a disc\n"
    "  erase [--device D] [--full] [--yes]   blank a rewritable disc\n"
    "  eject [--device D]           open the tray\n"
    "  load [--device D]            close the tray\n"
    "  mkiso -o OUT.iso [options] SOURCE...  write the image to a file\n"
    "  read-image [options] OUT.iso save the disc as an image file\n"
    "  copy --from D1 [--to D2]     copy a data disc to a blank disc\n"
    "  check [--device D]           read a disc back against its SHA256SUMS\n"
    "\n"
    "'brennix-cli COMMAND --help' describes a command. --quiet (also after the command)\n"
    "shows no progress and no summary; errors go to standard error in any case.\n"
    "\n"
    "A virtual recorder is a software drive whose disc is the file PATH. PROFILE is one of\n"
    "none, cd-rom, cd-r, cd-rw, dvd-rom, dvd-r, dvd-rw-ro, dvd-rw-seq, dvd+rw, dvd+r,\n"
    "dvd+r-dl, dvd-ram. The variable BRENNIX_VIRTUAL_RECORDERS may list more, separated\n"
    "by ';'.\n";

}  // namespace
}  // namespace brennix::cli

int main(int argc, char** argv) {
  using namespace brennix::cli;
  const std::map<std::string, int (*)(const Args&)> commands = {
      {"devices", RunDevices}, {"info", RunInfo},   {"burn", RunBurn},
      {"burn-image", RunBurnImage}, {"erase", RunErase}, {"eject", RunEject},
      {"load", RunLoad},       {"mkiso", RunMkiso}, {"read-image", RunReadImage},
      {"copy", RunCopy}, {"check", RunCheck}};
  // Output piped into a reader that goes away (| head) must not end a recording half-way:
  // the write fails instead, and the burn goes on to its end.
  std::signal(SIGPIPE, SIG_IGN);

  // Words that are wrong are a usage error; a disc file that cannot be used (another program
  // has it) is a failure like a busy drive.
  std::string error;
  bool unusable = false;
  const auto attachError = [&error, &unusable] {
    return unusable ? Failure(error) : UsageError(error);
  };
  if (!brennix::AttachVirtualRecordersFromEnvironment(error, &unusable)) return attachError();

  const Args words(argv, argv + argc);
  size_t i = 1;
  while (i < words.size()) {
    const std::string& word = words[i];
    if (word == "--help" || word == "-h") return ShowHelp(kUsage);
    if (word == "--version" || word == "-V") {
      std::puts("brennix-cli " BRENNIX_VERSION);
      return kExitSuccess;
    }
    if (word == "--quiet" || word == "-q") {
      SetQuiet(true);
      ++i;
      continue;
    }
    const int used = brennix::AttachVirtualRecorderOption(words, i, error, &unusable);
    if (used < 0) return attachError();
    if (used == 0) break;
    i += static_cast<size_t>(used);
  }
  if (i >= words.size())
    return UsageError("a command is missing: devices, info, burn, burn-image, read-image, copy, check, erase, eject, load or mkiso "
                      "(see 'brennix-cli --help')");
  const auto found = commands.find(words[i]);
  if (found == commands.end()) {
    const std::string& word = words[i];
    return UsageError((word.rfind('-', 0) == 0 ? "unknown option '" : "unknown command '") + word +
                      "' (see 'brennix-cli --help')");
  }
  return found->second(Args(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words.end()));
}
