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
#include <span>

#include "component/korb_burner.h"
#include "device/disc_answers.h"
#include "device/disc_types.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "recording/writer_thread.h"

namespace brennix {

const char* const kImageSavedText = "Disc image saved.";
const char* const kImageIncompleteText = "Disc image saved with unreadable sectors.";

namespace {

constexpr uint32_t kChunkSectors = 32;
constexpr uint64_t kProgressEveryMs = 250;

// Where the volume whose descriptors begin at start + 16 ends; 0 when none is there. The
// size of a volume in a later session counts from sector 0, as readers take it.
uint32_t VolumeEnd(TKorbBurner& korb, uint32_t start) {
  std::vector<uint8_t> sector(kSectorSize);
  if (!korb.ReadDiscSectors(start + kFirstDescriptorSector, 1, sector.data())) return 0;
  const auto size = ParseVolumeSpaceSize(sector);
  if (!size || *size == 0) return 0;
  return *size > start ? *size : start + *size;
}

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
  const auto type = static_cast<int16_t>(korb.GetDiscType());
  if (type == kDiscUnknown) return Refusal(kNoDiscText);

  // What to read: [0, end), of which only the recorded ranges hold data.
  uint32_t end = 0;
  uint32_t sessionStart = 0;  // where the chosen volume's descriptors lie, less 16
  std::vector<TSectorRange> recorded;
  if (const auto disc = korb.ReadRecordedDisc()) {
    recorded = disc->Recorded;
    if (o.All) {
      for (const TSectorRange& r : recorded) end = std::max(end, r.End);
    } else {
      for (auto s = disc->Sessions.rbegin(); s != disc->Sessions.rend() && end == 0; ++s) {
        if (o.Session != 0 && s->Number != o.Session) continue;
        if (s->RecordedEnd > s->Start) end = std::min(VolumeEnd(korb, s->Start), s->RecordedEnd);
        if (end != 0) sessionStart = s->Start;
        if (o.Session != 0 && end == 0)
          return Refusal("SESSION " + std::to_string(o.Session) + " HOLDS NO VOLUME THAT CAN BE READ");
      }
      if (o.Session != 0 && end == 0)
        return Refusal("THE DISC HAS NO SESSION " + std::to_string(o.Session));
    }
  } else {
    if (o.Session > 1) return Refusal("THE DISC HAS NO SESSION " + std::to_string(o.Session));
    end = korb.ReadVolumeSize();
    uint32_t last = 0, blockLength = 0;
    if (o.All && korb.ReadCapacity(last, blockLength) && last > 0 && last < 0x7FFFFFFF)
      end = std::max(end, last + 1);
    recorded = {{0, end}};
  }
  if (end == 0) return Refusal("THE DISC HOLDS NO VOLUME TO READ");

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
  std::vector<uint8_t> buffer(size_t{kChunkSectors} * kSectorSize);
  std::string failure;
  uint64_t lastReport = TickCount();
  const auto inRecorded = [&](uint32_t s) {
    return std::any_of(recorded.begin(), recorded.end(),
                       [s](const TSectorRange& r) { return s >= r.Start && s < r.End; });
  };
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
    uint32_t count = std::min(kChunkSectors, end - at);
    // Runs within one state: recorded (read) or not (the gap between sessions: zeros).
    const bool data = inRecorded(at);
    uint32_t run = 1;
    while (run < count && inRecorded(at + run) == data) ++run;
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
  if (failure.empty() && sessionStart > 0 && !Cancelled()) {
    std::vector<uint8_t> head;
    for (uint32_t k = 0; k < kChunkSectors - kFirstDescriptorSector; ++k) {
      std::vector<uint8_t> d(kSectorSize);
      if (!korb.ReadDiscSectors(sessionStart + kFirstDescriptorSector + k, 1, d.data()) ||
          std::memcmp(d.data() + 1, "CD001", 5) != 0)
        break;
      head.insert(head.end(), d.begin(), d.end());
      if (d[0] == 255) break;
    }
    if (!head.empty() &&
        !WriteAll(fd, head.data(), head.size(), int64_t{kFirstDescriptorSector} * kSectorSize))
      failure = "CANNOT WRITE " + part + ": " + std::strerror(errno);
  }
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
