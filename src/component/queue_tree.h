// The burn queue turned into the image tree, one policy for every front end: the burn
// dialog, `burn` and `mkiso` of the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/iso_image.h"

namespace brennix {

class TSCSIDevice;

// The file behind the device's selected drive when it is a virtual recorder (empty for a real
// drive): the disc being written, which must never be read into its own image.
std::string SelectedDiscFile(TSCSIDevice& device);

// "Save Path": full keeps each source's folder path below the root, last only its last
// folder, none puts everything in the root.
enum class SavePathMode { Full, Last, None };

// What the dialog uses when it clears the tree (entries, and folders with the root).
constexpr int kQueueMaxFiles = 600000;
constexpr int kQueueMaxDirs = 20000;

// How large a tree may grow: entries (files and folders alike) and folders (the root not
// counted).
struct QueueLimits {
  int Entries = kQueueMaxFiles;
  int Folders = kQueueMaxDirs - 1;
};
// The desktop dialog's limits.
constexpr QueueLimits kDialogLimits{};
// What the format holds, for `mkiso` and `burn` of the command line: the path tables number
// folders in 16 bits (65,535 besides the root); entries have no limit of the format's, so
// the limit only keeps a count in reach of memory (about 500 bytes each).
constexpr int kFormatMaxFolders = 65535;
constexpr int kFormatMaxEntries = 20000000;
constexpr QueueLimits kFormatLimits{kFormatMaxEntries, kFormatMaxFolders};

// "70,000": a count as the refusals print it.
std::string GroupedCount(int64_t n);

// The tree cannot be built anew while a recording still reads the one before.
constexpr const char* kTreeInUseText = "THE IMAGE TREE IS STILL BEING READ BY A RECORDING";

struct QueueBuild {
  // Empty when the tree was built. Set only when a table ran full: what came after it is
  // missing, so the tree must not be written.
  std::string Error;
  double QueuedBytes = 0;  // the bytes of the files the tree takes from the sources
  // Files of `beingWritten` that were found among the sources and left out of the tree.
  std::vector<std::string> BeingWrittenFound;
  // Folders that held nothing to write: a disc has no use for them, and they are not written.
  int EmptyFoldersLeftOut = 0;
};

// "2 empty folders not written" (empty when there were none): the summary's word about them.
std::string EmptyFoldersText(int count);

// One queued source; a folder's subfolders go along unless `recursive` is off (the burn
// dialog's folder rows carry that choice).
struct QueueSource {
  std::string Path;
  bool Recursive = true;
};

// Empties the tree and adds every source in order: a path that names a folder now is a
// folder row (added recursively, "*.*", all attributes), anything else a file row. A row that
// cannot be added whole does not stop the others: what it left out or renamed is in
// image.SkippedSources(), whatever the order of the folders. Empty folders are removed at
// the end. `beingWritten` names files this run writes (a virtual disc, an image file): they
// are never read into the tree. Past one of `limits` the build stops with an Error that
// names the limit and how many the sources hold.
QueueBuild BuildTreeFromQueue(TIsoImage& image, const std::vector<QueueSource>& sources,
                              SavePathMode mode,
                              const std::vector<std::string>& beingWritten = {},
                              QueueLimits limits = kDialogLimits);
QueueBuild BuildTreeFromQueue(TIsoImage& image, const std::vector<std::string>& sources,
                              SavePathMode mode,
                              const std::vector<std::string>& beingWritten = {},
                              QueueLimits limits = kDialogLimits);

}  // namespace brennix
