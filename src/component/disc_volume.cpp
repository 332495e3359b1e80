#include "component/disc_volume.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "component/korb_burner.h"
#include "device/disc_answers.h"
#include "device/disc_types.h"
#include "platform/disc_units.h"
#include "recording/writer_thread.h"

namespace brennix {

namespace {

// Where the volume whose descriptors begin at start + 16 ends; 0 when none is there. The
// size of a volume in a later session counts from sector 0, as readers take it.
uint32_t VolumeEnd(TKorbBurner& korb, uint32_t start) {
  std::vector<uint8_t> sector(kSectorSize);
  if (!korb.ReadDiscSectors(start + kFirstDescriptorSector, 1, sector.data())) return 0;
  const auto size = ParseVolumeSpaceSize(sector);
  if (!size || *size == 0) return 0;
  return *size > start ? *size : start + *size;
}

// The descriptor set of the volume at start, up to its terminator or the first sector that
// is not a descriptor (or cannot be read).
std::vector<uint8_t> ReadDescriptors(TKorbBurner& korb, uint32_t start) {
  std::vector<uint8_t> head;
  std::vector<uint8_t> d(kSectorSize);
  for (uint32_t k = 0; k < kVolumeChunkSectors - kFirstDescriptorSector; ++k) {
    if (!korb.ReadDiscSectors(start + kFirstDescriptorSector + k, 1, d.data()) ||
        std::memcmp(d.data() + 1, "CD001", 5) != 0)
      break;
    head.insert(head.end(), d.begin(), d.end());
    if (d[0] == 255) break;
  }
  return head;
}

}  // namespace

bool TDiscVolume::IsRecorded(uint32_t sector) const {
  return std::any_of(Recorded.begin(), Recorded.end(),
                     [sector](const TSectorRange& r) { return sector >= r.Start && sector < r.End; });
}

void TDiscVolume::LayDescriptors(uint32_t first, uint32_t count, uint8_t* out) const {
  const auto sectors = static_cast<uint32_t>(Descriptors.size() / kSectorSize);
  const uint32_t from = std::max(first, kFirstDescriptorSector);
  const uint32_t to = std::min(first + count, kFirstDescriptorSector + sectors);
  if (from >= to) return;
  std::memcpy(out + size_t{from - first} * kSectorSize,
              Descriptors.data() + size_t{from - kFirstDescriptorSector} * kSectorSize,
              size_t{to - from} * kSectorSize);
}

std::string FindDiscVolume(TKorbBurner& korb, uint16_t session, bool all, TDiscVolume& out) {
  out = TDiscVolume{};
  const auto type = static_cast<int16_t>(korb.GetDiscType());
  if (type == kDiscUnknown) return kNoDiscText;
  const std::string noSession = "THE DISC HAS NO SESSION " + std::to_string(session);
  uint32_t& end = out.End;
  if (const auto disc = korb.ReadRecordedDisc()) {
    out.Recorded = disc->Recorded;
    if (all) {
      for (const TSectorRange& r : out.Recorded) end = std::max(end, r.End);
    } else {
      for (auto s = disc->Sessions.rbegin(); s != disc->Sessions.rend() && end == 0; ++s) {
        if (session != 0 && s->Number != session) continue;
        if (s->RecordedEnd > s->Start) end = std::min(VolumeEnd(korb, s->Start), s->RecordedEnd);
        if (end != 0) out.SessionStart = s->Start;
        if (session != 0 && end == 0)
          return "SESSION " + std::to_string(session) + " HOLDS NO VOLUME THAT CAN BE READ";
      }
      if (session != 0 && end == 0) return noSession;
    }
  } else {
    if (session > 1) return noSession;
    end = korb.ReadVolumeSize();
    uint32_t last = 0, blockLength = 0;
    if (all && korb.ReadCapacity(last, blockLength) && last > 0 && last < 0x7FFFFFFF)
      end = std::max(end, last + 1);
    out.Recorded = {{0, end}};
  }
  if (end == 0) return "THE DISC HOLDS NO VOLUME TO READ";
  if (out.SessionStart > 0) out.Descriptors = ReadDescriptors(korb, out.SessionStart);
  return std::string();
}

std::string UnreadableSourceText(uint32_t sector) {
  return "SECTOR " + std::to_string(sector) + " OF THE DISC BEING COPIED CANNOT BE READ";
}

TDiscVolumeSource::TDiscVolumeSource(TKorbBurner& korb, TDiscVolume volume)
    : korb_(korb), volume_(std::move(volume)) {}

std::string TDiscVolumeSource::Read(int64_t offset, uint8_t* out, int32_t bytes,
                                    const std::atomic<bool>& stop) {
  const auto first = static_cast<uint32_t>(offset / kSectorSize);
  const auto count = static_cast<uint32_t>(bytes / kSectorSize);
  for (uint32_t at = first; at < first + count;) {
    if (stop.load()) return kAbortedByUser;
    // Runs within one state: recorded (read) or not (the gap between sessions: zeros).
    const bool data = volume_.IsRecorded(at);
    uint32_t run = 1;
    const uint32_t most = std::min(kVolumeChunkSectors, first + count - at);
    while (run < most && volume_.IsRecorded(at + run) == data) ++run;
    uint8_t* into = out + size_t{at - first} * kSectorSize;
    if (!data) {
      std::memset(into, 0, size_t{run} * kSectorSize);
    } else if (!korb_.ReadDiscSectors(at, static_cast<uint16_t>(run), into)) {
      // One sector at a time: the first that stays unread is named.
      for (uint32_t k = 0; k < run; ++k) {
        if (stop.load()) return kAbortedByUser;
        if (!korb_.ReadDiscSectors(at + k, 1, into + size_t{k} * kSectorSize)) {
          failed_.store(true);
          return UnreadableSourceText(at + k);
        }
      }
    }
    at += run;
  }
  volume_.LayDescriptors(first, count, out);
  return std::string();
}

std::string InspectDiscVolume(TKorbBurner& korb, TImageFile& out, const std::atomic<bool>& stop) {
  out = TImageFile{};
  TDiscVolume volume;
  if (const std::string why = FindDiscVolume(korb, 0, false, volume); !why.empty()) return why;
  auto source = std::make_shared<TDiscVolumeSource>(korb, std::move(volume));
  out.Path = korb.Device();
  out.Sectors = source->Sectors();
  out.Head.resize(static_cast<size_t>(std::min<int64_t>(out.Sectors, kImageHeadSectors) * kSectorSize));
  if (const std::string why =
          source->Read(0, out.Head.data(), static_cast<int32_t>(out.Head.size()), stop);
      !why.empty())
    return why;
  out.Source = std::move(source);
  return InspectImageHead(out);
}

}  // namespace brennix
