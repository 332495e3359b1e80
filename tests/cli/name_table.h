// Sources whose names collide on the disc or are too long for it, and the check that every
// one of them came back from an image, under its own name or the one reported for it.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace brennix::test {

struct NameTable {
  std::vector<std::string> Sources;          // to queue with "Save Path" none, in this order
  struct File {
    std::string Content;  // each unique
    std::string Name;     // its path on the disc, unless reported renamed
  };
  std::map<std::string, File> Files;  // by source path
  int Renamed = 0;                           // how many must be reported renamed
};

// Creates the table's files below `root`.
NameTable MakeCollidingNames(const std::filesystem::path& root);

// Empty when every file of the table is in `extracted` exactly once, at its own name or at
// the one `output` reported for it, and nothing is left out; otherwise what is wrong. With
// `rockRidge` a reader may show a renamed source under its own name instead.
std::string CheckEveryFileCameBack(const NameTable& table, const std::filesystem::path& extracted,
                                   const std::string& output, bool rockRidge);

}  // namespace brennix::test
