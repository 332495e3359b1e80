#include "component/queue_tree.h"

#include "device/scsi_device.h"

#include <sys/stat.h>

#include <cstdlib>

namespace brennix {
namespace {

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string result = resolved;
  std::free(resolved);
  return result;
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

}  // namespace

QueueBuild BuildTreeFromQueue(TIsoImage& image, const std::vector<std::string>& sources,
                              SavePathMode mode, const std::vector<std::string>& beingWritten) {
  std::vector<QueueSource> rows;
  for (const std::string& source : sources) rows.push_back({source, true});
  return BuildTreeFromQueue(image, rows, mode, beingWritten);
}

QueueBuild BuildTreeFromQueue(TIsoImage& image, const std::vector<QueueSource>& sources,
                              SavePathMode mode, const std::vector<std::string>& beingWritten) {
  QueueBuild build;
  const bool savePath = mode != SavePathMode::None;
  if (!image.ClearAll(kQueueMaxFiles, kQueueMaxDirs)) {
    build.Error = kTreeInUseText;
    return build;
  }
  image.LastFolderOnly = mode == SavePathMode::Last;

  // A file being written must not be read while it is written (nor, for an image, be
  // replaced while it is a source). Names are compared first, so only a file of the same
  // name costs a look at its real path.
  std::vector<std::string> written;
  for (const std::string& path : beingWritten) {
    const std::string real = RealPath(path);
    if (!real.empty()) written.push_back(real);
  }
  const TAddFileEvent handler = image.OnAddFile;
  if (!written.empty()) {
    image.OnAddFile = [&handler, &written, &build](
                          TIsoImage* sender, const std::string& fullPath, std::string& longName,
                          std::string& shortName, double& dateTime, int32_t attr, int64_t size,
                          bool& skip) {
      const std::string name = BaseName(fullPath);
      for (const std::string& w : written) {
        if (BaseName(w) != name || RealPath(fullPath) != w) continue;
        skip = true;
        build.BeingWrittenFound.push_back(fullPath);
        return;
      }
      if (handler) handler(sender, fullPath, longName, shortName, dateTime, attr, size, skip);
    };
  }

  for (const QueueSource& row : sources) {
    const std::string& source = row.Path;
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0) {
      image.NoteSkipped(source, "NOT FOUND");
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      const std::string path = source.back() == '/' ? source : source + "/";
      build.QueuedBytes += static_cast<double>(image.DiskDirSize(path));
      // The result is that of the folder's last file: a skipped last file is no failure.
      image.AddDir(image.FindDir("\\"), source, "*.*", 63, row.Recursive, savePath, false);
    } else {
      build.QueuedBytes += static_cast<double>(image.DiskDirSize(source));
      if (image.AddFile("\\", source, savePath) == -1) image.NoteSkipped(source, "NOT FOUND");
    }
    if (image.TreeFull()) {
      build.Error = "too many files or folders: the image holds at most " +
                    std::to_string(kQueueMaxFiles) + " entries and " +
                    std::to_string(kQueueMaxDirs) + " folders";
      break;
    }
  }
  image.OnAddFile = handler;
  if (build.Error.empty()) image.RemoveEmptyDirs();
  build.EmptyFoldersLeftOut = image.EmptyDirsLeftOut();
  return build;
}

std::string EmptyFoldersText(int count) {
  if (count <= 0) return std::string();
  return std::to_string(count) + (count == 1 ? " empty folder" : " empty folders") + " not written";
}

std::string SelectedDiscFile(TSCSIDevice& device) {
  const std::shared_ptr<DriveBackend> backend = device.SelectedBackend();
  if (!backend) return std::string();
  struct stat info {};
  const std::string path = backend->DevicePath();
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? path : std::string();
}

}  // namespace brennix
