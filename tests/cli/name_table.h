// Sources whose names collide on the disc, are too long for it or hold what a disc or a
// terminal cannot take, beside sources that cannot go on the disc at all; and the check that
// every file came back under its own name or the one reported for it, and that exactly the
// rest was reported left out.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace brennix::test {

struct NameTable {
  std::vector<std::string> Sources;  // to queue with "Save Path" none, in this order
  struct File {
    std::string Content;  // each unique
    std::string Name;     // its own path below the queued folders
  };
  std::map<std::string, File> Files;          // by source path (or path on an earlier disc)
  std::map<std::string, std::string> LeftOut;  // source path -> reason
};

// Creates the table's files below `root`.
NameTable MakeCollidingNames(const std::filesystem::path& root);

// Empty when every file of the table is in `extracted` exactly once, at its own path unless
// `output` reported it (or a folder above it) renamed, then at the reported one; when exactly
// the table's LeftOut was reported left out; and when `output` holds no control character
// but line ends and carriage returns. Otherwise what is wrong.
std::string CheckEveryFileCameBack(const NameTable& table, const std::filesystem::path& extracted,
                                   const std::string& output);

}  // namespace brennix::test
