#include "component/read_image_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include "component/disc_volume.h"
#include "component/korb_burner.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "recording/writer_thread.h"

namespace brennix {

const char* const kImageSavedText = "Disc image saved.";
const char* const kImageIncompleteText = "Disc image saved with unreadable sectors.";

namespace {

constexpr uint64_t kProgressEveryMs = 250;

std::set<uint32_t> LoadBadList(const std::string& path) {
  std::set<uint32_t> bad;
  std::ifstream in(path);
  unsigned long sector = 0;
  while (in >> sector) bad.insert(static_cast<uint32_t>(sector));
  return bad;
}

}  // namespace

TReadImageJob::TReadImageJob(TKorbBurner& burner, TJobHandler& handler, TReadImageOptions options)
    : TJob(handler), burner_(burner), options_(std::move(options)) {}

TReadImageJob::~TReadImageJob() { Finish(); }

TJobResult TReadImageJob::Run() {
  TKorbBurner& korb = burner_;
  const TReadImageOptions& o = options_;
  if (o.Out.empty()) return Refusal("NO IMAGE FILE NAMED");
  TDiscVolume volume;
  if (const std::string why = FindDiscVolume(korb, o.Session, o.All, volume); !why.empty())
    return Refusal(why);
  const uint32_t end = volume.End;

  const std::string part = o.Out + ".part";
  const std::string badPath = o.Out + ".bad";
  struct stat st {};
  if (o.Resume && ::stat(part.c_str(), &st) != 0 && ::stat(o.Out.c_str(), &st) == 0 &&
      ::rename(o.Out.c_str(), part.c_str()) != 0)
    return Refusal("CANNOT RESUME " + o.Out + ": " + std::strerror(errno));
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (o.Resume ? 0 : O_TRUNC), 0644);
  if (fd < 0) return Refusal("CANNOT WRITE " + part + ": " + std::strerror(errno));
  uint32_t first = 0;
  std::set<uint32_t> bad;
  if (o.Resume && ::fstat(fd, &st) == 0) {
    first = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(st.st_size) / kSectorSize, end));
    for (const uint32_t s : LoadBadList(badPath))
      if (s < first) bad.insert(s);
  }

  TJobProgress progress;
  progress.Phase = TJobPhase::Reading;
  progress.BytesTotal = int64_t{end} * kSectorSize;
  Report(progress);
  std::vector<uint8_t> buffer(size_t{kVolumeChunkSectors} * kSectorSize);
  std::string failure;
  uint64_t lastReport = TickCount();
  // One sector at a time where a chunk failed: what stays unread is zeros and listed.
  const auto readSectors = [&](uint32_t at, uint32_t count) {
    if (korb.ReadDiscSectors(at, static_cast<uint16_t>(count), buffer.data())) {
      for (uint32_t k = 0; k < count; ++k) bad.erase(at + k);
      return WriteAll(fd, buffer.data(), size_t{count} * kSectorSize, int64_t{at} * kSectorSize);
    }
    for (uint32_t k = 0; k < count && !Cancelled(); ++k) {
      uint8_t* one = buffer.data();
      if (korb.ReadDiscSectors(at + k, 1, one)) {
        bad.erase(at + k);
      } else {
        std::memset(one, 0, kSectorSize);
        bad.insert(at + k);
      }
      if (!WriteAll(fd, one, kSectorSize, int64_t{at + k} * kSectorSize)) return false;
    }
    return true;
  };
  // Sectors a run before could not read are tried once more.
  const std::set<uint32_t> before = bad;
  for (const uint32_t s : before) {
    if (Cancelled() || failure.size()) break;
    if (!readSectors(s, 1)) failure = "CANNOT WRITE " + part + ": " + std::strerror(errno);
  }
  for (uint32_t at = first; at < end && failure.empty();) {
    if (Cancelled()) {
      failure = kAbortedByUser;
      break;
    }
    uint32_t count = std::min(kVolumeChunkSectors, end - at);
    // Runs within one state: recorded (read) or not (the gap between sessions: zeros).
    const bool data = volume.IsRecorded(at);
    uint32_t run = 1;
    while (run < count && volume.IsRecorded(at + run) == data) ++run;
    count = run;
    if (data) {
      if (!readSectors(at, count)) failure = "CANNOT WRITE " + part + ": " + std::strerror(errno);
    } else {
      std::memset(buffer.data(), 0, size_t{count} * kSectorSize);
      if (!WriteAll(fd, buffer.data(), size_t{count} * kSectorSize, int64_t{at} * kSectorSize))
        failure = "CANNOT WRITE " + part + ": " + std::strerror(errno);
    }
    at += count;
    if (TickCount() - lastReport >= kProgressEveryMs || at == end) {
      lastReport = TickCount();
      progress.BytesDone = int64_t{at} * kSectorSize;
      Report(progress);
    }
  }
  // A later session's volume is found by readers at sector 16 of the file: its descriptors
  // go there, over those of the first session, as a rewritable disc keeps them.
  const std::vector<uint8_t>& head = volume.Descriptors;
  if (failure.empty() && !head.empty() && !Cancelled() &&
      !WriteAll(fd, head.data(), head.size(), int64_t{kFirstDescriptorSector} * kSectorSize))
    failure = "CANNOT WRITE " + part + ": " + std::strerror(errno);
  if (failure.empty() && ::ftruncate(fd, static_cast<off_t>(uint64_t{end} * kSectorSize)) != 0)
    failure = "CANNOT WRITE " + part + ": " + std::strerror(errno);
  if (failure.empty() && ::fsync(fd) != 0)
    failure = "CANNOT WRITE " + part + ": " + std::strerror(errno);
  ::close(fd);

  // The list of bad sectors goes with the image, finished or not, so that a resume finds it.
  if (bad.empty()) {
    ::unlink(badPath.c_str());
  } else {
    std::ofstream list(badPath, std::ios::trunc);
    for (const uint32_t s : bad) list << s << '\n';
  }
  TJobResult result;
  if (failure.empty() && ::rename(part.c_str(), o.Out.c_str()) != 0)
    failure = "CANNOT RENAME " + part + ": " + std::strerror(errno);
  if (!failure.empty()) {
    result.Outcome = TJobOutcome::Failed;
    result.Error = failure;
    return result;
  }
  char line[128];
  std::snprintf(line, sizeof line, "%u sectors (%.2f MB) read", end,
                static_cast<double>(end) * kSectorSize / 1048576.0);
  result.Summary.push_back(line);
  progress.Ended = true;
  Report(progress);
  if (bad.empty()) {
    result.Outcome = TJobOutcome::Completed;
    result.Text = kImageSavedText;
    return result;
  }
  result.Outcome = TJobOutcome::Failed;
  result.Text = kImageIncompleteText;
  result.Error = std::to_string(bad.size()) + (bad.size() == 1 ? " SECTOR" : " SECTORS") +
                 " COULD NOT BE READ: WRITTEN AS ZEROS AND LISTED IN " + badPath;
  return result;
}

}  // namespace brennix
