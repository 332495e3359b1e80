// The command line's side of the burn queue: the Save Path words, and the report of what
// the tree left out or renamed.
#pragma once

#include <string>
#include <vector>

#include "component/queue_tree.h"

namespace brennix::cli {

bool ParseSavePathMode(const std::string& text, SavePathMode& mode);

// Prints every source left out or renamed, one a line, then their count, to standard error
// after "brennix-cli: <command>: ". Returns how many were left out.
int ReportSkipped(const std::vector<TSkippedSource>& skipped, const std::string& command);

// " (N sources left out, listed above)", or empty when none was.
std::string LeftOutNote(int leftOut);

}  // namespace brennix::cli
