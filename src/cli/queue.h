// The command line's side of the burn queue: the Save Path words, and the report of what
// the tree left out or renamed.
#pragma once

#include <string>
#include <vector>

#include "component/burn_queue.h"

namespace brennix::cli {

bool ParseSavePathMode(const std::string& text, SavePathMode& mode);

// Prints every source left out or renamed, one a line, then their count, to standard error
// after "brennix-cli: <command>: ". Returns how many were left out. With `shown`, what it
// holds is not printed again and what is printed is added to it: a tree that grows after
// the first report (the disc's earlier session joins it) is reported once more for the rest.
int ReportSkippedSources(const TIsoImage& image, const std::string& command,
                         std::vector<TSkippedSource>* shown = nullptr);

// " (N sources left out, listed above)", or empty when none was.
std::string LeftOutNote(int leftOut);

}  // namespace brennix::cli
