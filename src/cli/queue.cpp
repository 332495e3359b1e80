#include "cli/queue.h"

#include <algorithm>

#include "cli/console.h"

namespace brennix::cli {

bool ParseSavePathMode(const std::string& text, SavePathMode& mode) {
  if (text == "full") {
    mode = SavePathMode::Full;
  } else if (text == "last") {
    mode = SavePathMode::Last;
  } else if (text == "none") {
    mode = SavePathMode::None;
  } else {
    return false;
  }
  return true;
}

namespace {

std::string Sources(int n) { return std::to_string(n) + (n == 1 ? " source" : " sources"); }

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

std::string LeftOutNote(int leftOut) {
  if (leftOut == 0) return std::string();
  return " (" + Sources(leftOut) + " left out, listed above)";
}

}  // namespace brennix::cli
