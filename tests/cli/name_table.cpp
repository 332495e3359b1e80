#include "name_table.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include "support/files.h"

namespace fs = std::filesystem;

namespace brennix::test {
namespace {

bool Ascii(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80 || c < 0x20) return false;
  return true;
}

// Undoes the program's "\xNN" and "\\".
std::string Unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
      out += text[++i];
    } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The quoted words of every line holding `marker`: left out: "SOURCE": REASON, renamed:
// "SOURCE" is "NEW" on the disc: REASON.
std::map<std::string, std::string> Reported(const std::string& output, const std::string& marker,
                                            const std::string& between) {
  std::map<std::string, std::string> found;
  for (size_t at = output.find(marker); at != std::string::npos; at = output.find(marker, at + 1)) {
    const size_t from = at + marker.size(), mid = output.find(between, from);
    const size_t next = mid == std::string::npos ? mid : mid + between.size();
    const size_t end = output.find(between == "\" is \"" ? "\" on the disc: " : "\n", next);
    if (end == std::string::npos) break;
    found[Unescaped(output.substr(from, mid - from))] = Unescaped(output.substr(next, end - next));
  }
  return found;
}

// A Joliet reader may show a dotless name with the "." its record holds.
std::string WithoutTrailingDot(std::string path) {
  if (!path.empty() && path.back() == '.' && path.find('.') == path.size() - 1) path.pop_back();
  return path;
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
      "a/title\x1b]0;pwned\x07.txt", "a/clear\x1b[2J\x9b.txt",  // terminal escapes
      "a/same.txt",             "b/same.txt",             // two sources
      "a/sub/x.txt",            "b/sub/x.txt",            // in merged folders
      "a/dir.txt/inner.txt",    "b/dir.txt",              // a file beside a folder
      "a/" + longStem + "1.txt", "a/" + longStem + "2.txt",  // too long, alike when cut
      "a/" + longFolder + "1/f.txt", "a/" + longFolder + "2/f.txt",
      "a/cyc/in.txt",           "b/x",                    // beside a loop; a dotless name
  };
  NameTable table;
  int n = 0;
  for (const std::string& name : names) {
    const fs::path path = root / name;
    fs::create_directories(path.parent_path());
    const std::string content = "file " + std::to_string(n++) + "\n";
    std::ofstream(path, std::ios::binary) << content;
    table.Files[path.string()] = {content, name.substr(2)};
  }
  // Links that lead back into their own folder, and a chain of links that never ends.
  fs::create_directory_symlink(".", root / "a/self");
  fs::create_directory_symlink("..", root / "a/cyc/up");
  fs::create_symlink("l2", root / "b/l1");
  fs::create_symlink("l1", root / "b/l2");
  for (const char* loop : {"a/self", "a/cyc/up", "b/l1", "b/l2"})
    table.LeftOut[(root / loop).string()] = "LINK LOOP";
  // Permissions do not bind root: then it is one more file.
  const fs::path locked = root / "b/locked.txt";
  std::ofstream(locked) << "locked\n";
  table.Files[locked.string()] = {"locked\n", "locked.txt"};
  if (::geteuid() != 0) {
    ::chmod(locked.c_str(), 0);
    table.Files.erase(locked.string());
    table.LeftOut[locked.string()] = "CAN'T READ FILE";
  }
  // "a" twice: the same source again adds nothing and is not reported.
  table.Sources = {(root / "a").string(), (root / "b").string(), (root / "a").string()};
  return table;
}

std::string CheckEveryFileCameBack(const NameTable& table, const fs::path& extracted,
                                   const std::string& output) {
  std::string problems;
  // The progress line's carriage return is the program's own.
  for (const char c : output)
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\r') || c == 0x7F)
      problems += "control character " + std::to_string(c) + " reached the terminal; ";
  const std::map<std::string, std::string> renamed =
      Reported(output, "renamed: \"", "\" is \"");
  if (Reported(output, "left out: \"", "\": ") != table.LeftOut)
    problems += "not exactly the table's sources were left out; ";

  std::map<std::string, std::vector<std::string>> found;  // content -> paths
  for (const auto& entry : fs::recursive_directory_iterator(extracted))
    if (entry.is_regular_file())
      found[FileContent(entry.path())].push_back(fs::relative(entry.path(), extracted).string());
  for (const auto& [source, file] : table.Files) {
    const std::vector<std::string>& at = found[file.Content];
    if (at.size() != 1) {
      problems += source + " is there " + std::to_string(at.size()) + " times; ";
      continue;
    }
    // Its reported name, or its own below a folder that may have been renamed.
    std::string name = file.Name;
    const std::string folder = source.substr(0, source.size() - file.Name.size());
    for (const auto& [from, to] : renamed) {
      if (from == source) name = to;
      const std::string below = from.size() > folder.size() ? from.substr(folder.size()) : from;
      if (file.Name.rfind(below + "/", 0) == 0 && from.rfind(folder, 0) == 0)
        name = to + file.Name.substr(below.size());
    }
    // Bytes that are not ASCII depend on how the reader converts names.
    if (Ascii(name) && WithoutTrailingDot(at.front()) != WithoutTrailingDot(name))
      problems += source + " is at " + at.front() + ", reported at " + name + "; ";
  }
  return problems;
}

}  // namespace brennix::test
