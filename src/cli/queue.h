// The burn queue of the command line: the SOURCE arguments become the image tree exactly as
// the burn dialog turns its queue rows into one.
#pragma once

#include <string>
#include <vector>

#include "image/iso_image.h"

namespace brennix::cli {

// "Save Path": full keeps each source's folder path below the root, last only its last
// folder, none puts everything in the root.
enum class SavePathMode { Full, Last, None };
bool ParseSavePathMode(const std::string& text, SavePathMode& mode);

// What the dialog uses when it clears the tree.
constexpr int kQueueMaxFiles = 600000;
constexpr int kQueueMaxDirs = 20000;

struct QueueBuild {
  std::string Error;        // empty when the tree was built
  double QueuedBytes = 0;   // the sources' sizes as the queue measures them
};

// Empties the tree and adds every source in order: a path that names a folder now is a
// folder row (added recursively, "*.*", all attributes), anything else a file row. Empty
// folders are removed at the end.
QueueBuild BuildTreeFromQueue(TIsoImage& image, const std::vector<std::string>& sources,
                              SavePathMode mode);

}  // namespace brennix::cli
