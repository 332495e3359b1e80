// brennix-cli: the burner's work from a terminal.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "cli/commands.h"
#include "virtual_recorder/attach.h"

namespace brennix::cli {

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "brennix-cli: %s\n", message.c_str());
  return 2;
}

namespace {

const char* const kUsage =
    "usage: brennix-cli [--virtual-recorder PATH[:PROFILE]]... COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  devices                      list the recorders\n"
    "  info [--device D]            show a recorder and the disc in it\n"
    "  burn [options] SOURCE...     write files and folders to a disc\n"
    "  erase [--device D] [--full] [--yes]   blank a rewritable disc\n"
    "  eject [--device D]           open the tray\n"
    "  load [--device D]            close the tray\n"
    "  mkiso -o OUT.iso [options] SOURCE...  write the image to a file\n"
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
      {"devices", RunDevices}, {"info", RunInfo}, {"burn", RunBurn}, {"erase", RunErase},
      {"eject", RunEject},     {"load", RunLoad}, {"mkiso", RunMkiso}};

  std::string error;
  if (!brennix::AttachVirtualRecordersFromEnvironment(error)) return UsageError(error);

  int i = 1;
  for (; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--help" || word == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (word == "--virtual-recorder") {
      if (i + 1 >= argc) return UsageError("--virtual-recorder needs PATH[:PROFILE]");
      if (!brennix::AttachVirtualRecorder(argv[++i], error)) return UsageError(error);
      continue;
    }
    if (word.rfind("--virtual-recorder=", 0) == 0) {
      if (!brennix::AttachVirtualRecorder(word.substr(std::strlen("--virtual-recorder=")), error))
        return UsageError(error);
      continue;
    }
    break;
  }
  if (i >= argc) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const auto found = commands.find(argv[i]);
  if (found == commands.end()) return UsageError(std::string("unknown command '") + argv[i] + "'");
  return found->second(Args(argv + i + 1, argv + argc));
}
