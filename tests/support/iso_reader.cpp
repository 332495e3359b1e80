#include "support/iso_reader.h"

namespace brennix::test {

ShellRun Extract(const std::string& reader, const std::string& image, const std::string& folder) {
  std::string command;
  if (reader == "xorriso" || reader == "osirrox")
    command = "xorriso -osirrox on -indev " + Quote(image) + " -extract / " + Quote(folder);
  else if (reader == "7z")
    command = "7z x -y -o" + Quote(folder) + " " + Quote(image);
  else
    command = "bsdtar -xf " + Quote(image) + " -C " + Quote(folder);
  return Shell("mkdir -p " + Quote(folder) + " && " + command);
}

std::vector<std::string> InstalledReaders() {
  std::vector<std::string> installed;
  for (const char* reader : {"xorriso", "7z", "bsdtar"})
    if (HaveTool(reader)) installed.push_back(reader);
  return installed;
}

}  // namespace brennix::test
