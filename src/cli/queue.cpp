#include "cli/queue.h"

#include <sys/stat.h>

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

QueueBuild BuildTreeFromQueue(TIsoImage& image, const std::vector<std::string>& sources,
                              SavePathMode mode) {
  QueueBuild build;
  const bool savePath = mode != SavePathMode::None;
  image.ClearAll(kQueueMaxFiles, kQueueMaxDirs);
  image.LastFolderOnly = mode == SavePathMode::Last;
  for (const std::string& source : sources) {
    struct stat info {};
    const bool folder = ::stat(source.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (folder) {
      const std::string path = source.back() == '/' ? source : source + "/";
      build.QueuedBytes += static_cast<double>(image.DiskDirSize(path));
      if (image.AddDir(image.FindDir("\\"), source, "*.*", 63, true, savePath, false) == 0) {
        build.Error = "cannot add the folder '" + source + "' (too many files or folders?)";
        return build;
      }
    } else {
      build.QueuedBytes += static_cast<double>(image.DiskDirSize(source));
      const int added = image.AddFile("\\", source, savePath);
      if (added == -1) {
        build.Error = "source '" + source + "' does not exist";
        return build;
      }
      if (added == 0) {
        build.Error = "cannot add the file '" + source + "'";
        return build;
      }
    }
  }
  image.RemoveEmptyDirs();
  return build;
}

}  // namespace brennix::cli
