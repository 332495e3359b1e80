#include "name_table.h"

#include <fstream>
#include <cstdio>

namespace fs = std::filesystem;

namespace brennix::test {
namespace {

std::string Read(const fs::path& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string content;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
  std::fclose(f);
  return content;
}

bool Ascii(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80 || c < 0x20) return false;
  return true;
}

}  // namespace

NameTable MakeCollidingNames(const fs::path& root) {
  const std::string longStem(200, 'L');  // 255 bytes is the longest Linux name
  const std::string longFolder(110, 'F');
  // Two folders merged into the root: names clash within a folder and across the two.
  const std::vector<std::string> names = {
      "a/readme.txt",           "a/README.TXT",           // ASCII case
      "a/tab\tname.txt",        "a/tab\nname.txt",        // control characters
      "a/back\\slash.txt",      "a/back_slash.txt",       // "\" becomes "_"
      "a/bad\xFF.txt",          "a/bad\xFE.txt",          // invalid UTF-8
      "a/same.txt",             "b/same.txt",             // two sources
      "a/sub/x.txt",            "b/sub/x.txt",            // in merged folders
      "a/dir.txt/inner.txt",    "b/dir.txt",              // a file beside a folder
      "a/" + longStem + "1.txt", "a/" + longStem + "2.txt",  // too long, alike when cut
      "a/" + longFolder + "1/f.txt", "a/" + longFolder + "2/f.txt",
  };
  NameTable table;
  table.Renamed = 11;
  int n = 0;
  for (const std::string& name : names) {
    const fs::path path = root / name;
    fs::create_directories(path.parent_path());
    const std::string content = "file " + std::to_string(n++) + "\n";
    std::ofstream(path, std::ios::binary) << content;
    std::string onDisc = name.substr(2);  // what a Joliet name can hold
    for (char& c : onDisc)
      if (static_cast<unsigned char>(c) < 0x20 || c == '\\') c = '_';
    table.Files[path.string()] = {content, onDisc};
  }
  // "a" twice: the same source again adds nothing and is not reported.
  table.Sources = {(root / "a").string(), (root / "b").string(), (root / "a").string()};
  return table;
}

std::string CheckEveryFileCameBack(const NameTable& table, const fs::path& extracted,
                                   const std::string& output, bool rockRidge) {
  std::string problems;
  // renamed: "SOURCE" is "NEW" on the disc: REASON
  std::map<std::string, std::string> renamed;
  for (size_t at = output.find("renamed: \""); at != std::string::npos;
       at = output.find("renamed: \"", at + 1)) {
    const size_t from = at + 10, is = output.find("\" is \"", from);
    const size_t end = is == std::string::npos ? is : output.find("\" on the disc", is + 6);
    if (end == std::string::npos) break;
    renamed[output.substr(from, is - from)] = output.substr(is + 6, end - is - 6);
  }
  if (static_cast<int>(renamed.size()) != table.Renamed)
    problems += std::to_string(renamed.size()) + " renames reported; ";
  if (output.find("left out: ") != std::string::npos) problems += "something was left out; ";

  std::map<std::string, int> found;  // content -> times
  for (const auto& entry : fs::recursive_directory_iterator(extracted))
    if (entry.is_regular_file()) ++found[Read(entry.path())];
  for (const auto& [source, file] : table.Files) {
    if (found[file.Content] != 1)
      problems += source + " is there " + std::to_string(found[file.Content]) + " times; ";
    // Its reported name, or its own below a folder that may have been renamed.
    std::string name = file.Name;
    for (const auto& [from, to] : renamed) {
      if (source == from) name = to;
      if (source.rfind(from + "/", 0) == 0) name = to + source.substr(from.size());
    }
    // With Rock Ridge a renamed source keeps its own name where no sibling has exactly that
    // one; it is there exactly once all the same (counted above).
    if (Ascii(name) && Read(extracted / name) != file.Content &&
        !(rockRidge && Read(extracted / file.Name) == file.Content))
      problems += name + " does not hold " + source + "; ";
  }
  return problems;
}

}  // namespace brennix::test
