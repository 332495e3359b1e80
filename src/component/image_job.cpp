#include "component/image_job.h"

#include "component/checksum_list.h"
#include "component/progress_text.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "image/iso_image.h"
#include "platform/disc_units.h"
#include "platform/temp_file.h"
#include "recording/cache_thread.h"
#include "recording/write_preparation.h"
#include "recording/image_file_writer.h"

namespace brennix {

TImageJob::TImageJob(TJobHandler& handler, TImageOptions options)
    : TJob(handler), options_(std::move(options)) {}

TImageJob::~TImageJob() { Finish(); }

TJobResult TImageJob::Refuse(const std::string& text) {
  return JobEnd(TJobOutcome::Refused, std::string(), text);
}

TJobResult TImageJob::Run() {
  const TImageOptions& o = options_;
  TIsoImage image;
  image.JolietFileSystem = o.Joliet;
  image.RockRidge = o.RockRidge;
  image.IdVolume = o.Label;
  image.SetCacheSize(o.CacheSize);
  const QueueBuild queue =
      BuildTreeFromQueue(image, o.Sources, o.SavePath, std::vector<std::string>{o.Output}, o.Limits);
  // The output replaces a file that is one of the sources (or lies in a queued folder): the
  // image would destroy what it holds.
  if (!queue.BeingWrittenFound.empty()) {
    TJobResult refused =
        Refuse("'" + o.Output + "' is one of the sources ('" + queue.BeingWrittenFound.front() +
               "'): writing the image there would destroy it; choose an output outside them");
    refused.BadRequest = true;
    return refused;
  }
  std::string checksumFolder;
  struct Remove {
    std::string& folder;
    ~Remove() { RemoveChecksumFolder(folder); }
  } removeAtEnd{checksumFolder};
  if (o.Checksums && queue.Error.empty()) {
    if (const std::string why = WriteChecksumList(image, &cancel_, checksumFolder); !why.empty())
      return Refuse(why);
    image.AddFile("\\", checksumFolder + "/" + kChecksumListName, false);
  }
  TJobMessage skipped;
  skipped.Kind = TMessageKind::Warning;
  skipped.Skipped = image.SkippedSources();
  int leftOut = 0;
  for (const TSkippedSource& s : skipped.Skipped) leftOut += s.NewName.empty() ? 1 : 0;
  if (!skipped.Skipped.empty()) Tell(skipped);
  TJobResult result;
  result.LeftOut = leftOut;
  if (!queue.Error.empty()) return Refuse(queue.Error);
  if (image.DirCount() == 0 && image.FileCount() == 0)
    return Refuse("nothing to write: the sources hold no files");
  // The tree is complete: what only building it needed goes before the layout and the data.
  image.ReleaseLookups();
  if (!image.PrepareImage()) return Refuse("cannot lay out the image");
  if (!image.BuildHeader()) return Refuse("cannot build the image head");
  if (Cancelled()) return Refuse("OPERATION ABORTED BY USER (no image written)");

  // Each run has a file of its own, created new: never another run's, never through a link.
  std::string partial;
  const int fd = CreateFileBeside(o.Output, ".part", 0666, partial);
  if (fd < 0)
    return Refuse("cannot create a file beside '" + o.Output + "': " + std::strerror(errno));

  const int64_t expected = image.SectorsToWrite() * kSectorSize;
  TJobProgress progress;
  progress.Phase = TJobPhase::Writing;
  progress.BytesTotal = expected;
  ImageFileResult written;
  {
    std::recursive_mutex lock;
    // A file image has no time-critical writer to make way for: the reader keeps its priority.
    // The larger files go from their source into the image whole, in the kernel where it
    // can; the cache reads ahead the small ones meanwhile.
    TCacheThread cache(image.CacheSize(), &image.HeaderStream, image.ImageSectors * kSectorSize,
                       image.WritePostGap, kDVDBlockBytes, lock, false, kDirectCopyMinBytes);
    written = WriteImageToFile(
        cache, lock, fd, expected,
        [&](int64_t done) {
          progress.BytesDone = done;
          Report(progress);
        },
        &cancel_);
  }
  bool ok = written.ErrorText.empty();
  if (ok && ::close(fd) != 0) {
    written.ErrorText = std::string("CAN'T WRITE THE IMAGE FILE: ") + std::strerror(errno);
    ok = false;
  } else if (!ok) {
    ::close(fd);
  }
  if (ok && ::rename(partial.c_str(), o.Output.c_str()) != 0) {
    written.ErrorText = "CAN'T RENAME '" + partial + "': " + std::strerror(errno);
    ok = false;
  }
  if (!ok) {
    ::unlink(partial.c_str());
    result.Outcome = TJobOutcome::Failed;
    result.Error = written.ErrorText + " (no image written)";
    return result;
  }
  result.Outcome = TJobOutcome::Completed;
  // FileCount includes the entries that stand for folders; the summary counts files alone.
  const auto counted = [](int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  result.Summary.push_back(counted(image.FileCount() - image.DirCount(), "file", "files") + ", " +
                           counted(image.DirCount(), "folder", "folders") + ", " +
                           counted(expected / kSectorSize, "sector", "sectors") + " (" +
                           MegabytesText(expected) + ") written to " + o.Output);
  if (queue.EmptyFoldersLeftOut > 0) result.Summary.push_back(EmptyFoldersText(queue.EmptyFoldersLeftOut));
  const std::string& lines = written.FileErrors;
  for (size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos;
       start = end + 1)
    result.Problems.push_back(lines.substr(start, end - start));
  return result;
}

}  // namespace brennix
