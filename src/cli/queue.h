// The command line's side of the burn queue: the words burn and mkiso both read (the sources
// and how their tree is built), and the report of what the tree left out or renamed.
#pragma once

#include <string>
#include <vector>

#include "cli/option_table.h"
#include "component/queue_tree.h"

namespace brennix::cli {

// The queue as burn and mkiso read it from their words.
struct TQueueWords {
  std::vector<std::string> Sources;
  std::string Label;
  SavePathMode SavePath = SavePathMode::None;
  bool Joliet = true;
  bool RockRidge = true;
  bool Checksums = false;

  // Sets the tree's fields of a burn's or an image's options (not the sources, which they
  // hold each in their own way).
  template <class TOptions>
  void ApplyTo(TOptions& options) const {
    options.SavePath = SavePath;
    options.Label = Label;
    options.Joliet = Joliet;
    options.RockRidge = RockRidge;
    options.Checksums = Checksums;
  }
};

// Their rows, for each command to place in its synopsis. mkiso's --save-path names the word
// it refuses.
struct TQueueRows {
  TOption label, savePath, noJoliet, noRockRidge, checksums;
};
TQueueRows QueueRows(TQueueWords& queue, bool nameRefusedSavePath);
// Takes a SOURCE.
TakeValue SourceOperand(TQueueWords& queue);

// The usage error when no SOURCE was given.
extern const char* const kNoSources;
// Empty when every source is a file or a folder, else why one is not.
std::string SourcesProblem(const TQueueWords& queue);

// Prints every source left out or renamed, one a line, then their count, to standard error
// after "brennix-cli: <command>: ". Returns how many were left out.
int ReportSkipped(const std::vector<TSkippedSource>& skipped, const std::string& command);

// " (N sources left out, listed above)", or empty when none was.
std::string LeftOutNote(int leftOut);

}  // namespace brennix::cli
