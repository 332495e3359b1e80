#include "cli/queue.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "cli/console.h"

namespace brennix::cli {

namespace {

bool ParseSavePathMode(const std::string& text, SavePathMode& mode) {
  static const std::pair<const char*, SavePathMode> kModes[] = {
      {"full", SavePathMode::Full}, {"last", SavePathMode::Last}, {"none", SavePathMode::None}};
  for (const auto& [word, value] : kModes) {
    if (text == word) {
      mode = value;
      return true;
    }
  }
  return false;
}

std::string Sources(int n) { return Counted(n, "source", "sources"); }

}  // namespace

int ReportSkipped(const std::vector<TSkippedSource>& skipped, const std::string& command) {
  int leftOut = 0, renamed = 0;
  for (const TSkippedSource& s : skipped) {
    if (s.FromDisc) {
      ++leftOut;
      Complain(command + ": NOT KEPT: \"" + Printable(s.Source) + "\" (" + s.Reason + ")");
    } else if (s.NewName.empty()) {
      ++leftOut;
      Complain(command + ": left out: \"" + Printable(s.Source) + "\": " + s.Reason);
    } else {
      ++renamed;
      Complain(command + ": renamed: \"" + Printable(s.Source) + "\" is \"" + Printable(s.NewName) +
               "\" on the disc: " + s.Reason);
    }
  }
  if (leftOut + renamed > 0)
    Complain(command + ": " + Sources(leftOut) + " left out, " + Sources(renamed) + " renamed");
  return leftOut;
}

const char* const kNoSources = "nothing to write: give one or more SOURCE files or folders";

TQueueRows QueueRows(TQueueWords& queue, bool nameRefusedSavePath) {
  TQueueRows rows{
      Valued({"--label"}, "TEXT", "needs a text",
             [&queue](const std::string& text) {
               queue.Label = Trim(text);
               return std::string();
             }),
      Valued({"--save-path"}, "full|last|none",
             nameRefusedSavePath ? "needs full, last or none" : "must be full, last or none",
             [&queue, nameRefusedSavePath](const std::string& word) {
               if (ParseSavePathMode(word, queue.SavePath)) return std::string();
               return "--save-path must be full, last or none" +
                      (nameRefusedSavePath ? ", not '" + word + "'" : std::string());
             }),
      Flag({"--no-joliet"}, queue.Joliet, false),
      Flag({"--no-rock-ridge"}, queue.RockRidge, false),
      Flag({"--checksums"}, queue.Checksums),
  };
  return rows;
}

TakeValue SourceOperand(TQueueWords& queue) {
  return [&queue](const std::string& word) {
    if (word.empty()) return std::string("an empty SOURCE is not a path");
    queue.Sources.push_back(word);
    return std::string();
  };
}

std::string SourcesProblem(const TQueueWords& queue) {
  for (const std::string& source : queue.Sources) {
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0)
      return "cannot use source '" + source + "': " + std::strerror(errno);
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
      return "source '" + source + "' is neither a file nor a folder";
  }
  return "";
}

std::string LeftOutNote(int leftOut) {
  if (leftOut == 0) return std::string();
  return " (" + Sources(leftOut) + " left out, listed above)";
}

}  // namespace brennix::cli
