#include "component/queue_tree.h"

#include "device/scsi_device.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "platform/dir_listing.h"

namespace brennix {
namespace {

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// What the sources hold, counted as the tree takes them: every folder below a folder source
// (links followed, a folder that leads back into itself not), and every file.
struct SourceCount {
  int64_t Entries = 0;
  int64_t Folders = 0;
};

void CountFolder(const std::string& path, bool recursive,
                 FolderAncestry& ancestry, SourceCount& count) {
  std::vector<DirListEntry> entries;
  if (ListDirectory(path, "*.*", kListAllAttributes, entries) != ListResult::Ok) return;
  for (const DirListEntry& e : entries) {
    if (!e.IsDirectory) {
      ++count.Entries;
      continue;
    }
    if (!recursive) continue;
    if (InAncestry(ancestry, e.Device, e.Inode)) continue;
    ++count.Entries;
    ++count.Folders;
    ancestry.emplace_back(e.Device, e.Inode);
    CountFolder(path + "/" + e.Name, recursive, ancestry, count);
    ancestry.pop_back();
  }
}

SourceCount CountSources(const std::vector<QueueSource>& sources) {
  SourceCount count;
  for (const QueueSource& row : sources) {
    struct stat info {};
    if (::stat(row.Path.c_str(), &info) != 0) continue;
    if (!S_ISDIR(info.st_mode)) {
      ++count.Entries;
      continue;
    }
    FolderAncestry ancestry{{info.st_dev, info.st_ino}};
    CountFolder(row.Path, row.Recursive, ancestry, count);
  }
  return count;
}

// The refusal of a tree past a limit: which limit, and how many the sources hold.
std::string TooManyText(const std::vector<QueueSource>& sources, QueueLimits limits) {
  const SourceCount count = CountSources(sources);
  if (count.Folders > limits.Folders) {
    return "too many folders: the sources hold " + GroupedCount(count.Folders) +
           ", the image holds at most " + GroupedCount(limits.Folders);
  }
  if (count.Entries > limits.Entries) {
    return "too many files and folders: the sources hold " + GroupedCount(count.Entries) +
           " entries, the image holds at most " + GroupedCount(limits.Entries);
  }
  // The count and the tree disagree (the sources changed, or folders of one name merged).
  return "too many files or folders: the image holds at most " + GroupedCount(limits.Entries) +
         " entries and " + GroupedCount(limits.Folders) + " folders; the sources hold " +
         GroupedCount(count.Entries) + " entries in " + GroupedCount(count.Folders) + " folders";
}

}  // namespace

std::string GroupedCount(int64_t n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<size_t>(at), ",");
  return n < 0 ? "-" + digits : digits;
}

QueueBuild BuildTreeFromQueue(TIsoImage& image, const std::vector<std::string>& sources,
                              SavePathMode mode, const std::vector<std::string>& beingWritten,
                              QueueLimits limits) {
  std::vector<QueueSource> rows;
  for (const std::string& source : sources) rows.push_back({source, true});
  return BuildTreeFromQueue(image, rows, mode, beingWritten, limits);
}

QueueBuild BuildTreeFromQueue(TIsoImage& image, const std::vector<QueueSource>& sources,
                              SavePathMode mode, const std::vector<std::string>& beingWritten,
                              QueueLimits limits) {
  QueueBuild build;
  const bool savePath = mode != SavePathMode::None;
  // The tables count the root among the folders.
  if (!image.ClearAll(limits.Entries, limits.Folders + 1)) {
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
      // The result is that of the folder's last file: a skipped last file is no failure.
      image.AddDir(image.FindDir("\\"), source, "*.*", 63, row.Recursive, savePath, false);
    } else {
      if (image.AddFile("\\", source, savePath) == -1) image.NoteSkipped(source, "NOT FOUND");
    }
    if (image.TreeFull()) {
      build.Error = TooManyText(sources, limits);
      break;
    }
  }
  image.OnAddFile = handler;
  if (build.Error.empty()) image.RemoveEmptyDirs();
  // What the tree will read, as the listings that built it measured it: no second walk.
  for (const TFEntry* f : Tables().Files) {
    if (f->Dir == nullptr) build.QueuedBytes += static_cast<double>(f->FileSize);
  }
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
