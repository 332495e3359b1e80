// Reading an image back with an independent reader, as a user's system would.
#pragma once

#include <string>
#include <vector>

#include "support/shell.h"

namespace brennix::test {

// Extracts the whole of image into folder (made when missing) with reader: "xorriso" (or
// "osirrox", its extracting mode), "7z" or "bsdtar". The run's status and log.
ShellRun Extract(const std::string& reader, const std::string& image, const std::string& folder);
// Of the readers "xorriso", "7z" and "bsdtar", those installed here, in that order.
std::vector<std::string> InstalledReaders();

}  // namespace brennix::test
