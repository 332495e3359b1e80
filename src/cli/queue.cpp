#include "cli/queue.h"

#include <cstdio>

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

int ReportSkippedSources(const TIsoImage& image, const std::string& command) {
  const char* prefix = "brennix-cli: ";
  int leftOut = 0, renamed = 0;
  for (const TSkippedSource& s : image.SkippedSources()) {
    if (s.NewName.empty()) {
      ++leftOut;
      std::fprintf(stderr, "%s%s: left out: \"%s\": %s\n", prefix, command.c_str(),
                   s.Source.c_str(), s.Reason.c_str());
    } else {
      ++renamed;
      std::fprintf(stderr, "%s%s: renamed: \"%s\" is \"%s\" on the disc: %s\n", prefix,
                   command.c_str(), s.Source.c_str(), s.NewName.c_str(), s.Reason.c_str());
    }
  }
  if (leftOut + renamed > 0) {
    std::fprintf(stderr, "%s%s: %s left out, %s renamed\n", prefix, command.c_str(),
                 Sources(leftOut).c_str(), Sources(renamed).c_str());
  }
  std::fflush(stderr);
  return leftOut;
}

std::string LeftOutNote(int leftOut) {
  if (leftOut == 0) return std::string();
  return " (" + Sources(leftOut) + " left out, listed above)";
}

}  // namespace brennix::cli
