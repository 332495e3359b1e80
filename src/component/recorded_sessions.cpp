#include "component/recorded_sessions.h"

#include <algorithm>

namespace brennix {

namespace {

uint32_t RecordedEndOf(const TrackInformation& t) {
  if (t.Blank) return t.TrackStart;
  if (t.LastRecordedValid && t.LastRecordedAddress >= t.TrackStart &&
      t.LastRecordedAddress - t.TrackStart < t.TrackSize)
    return t.LastRecordedAddress + 1;
  if (t.NextWritableValid && t.NextWritableAddress >= t.TrackStart &&
      t.NextWritableAddress - t.TrackStart <= t.TrackSize)
    return t.NextWritableAddress;
  const uint64_t end = uint64_t{t.TrackStart} + t.TrackSize;
  return end > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(end);
}

}  // namespace

TRecordedDisc DescribeRecordedDisc(const DiscInformation& disc,
                                   const std::vector<TrackInformation>& tracks) {
  TRecordedDisc out;
  for (const TrackInformation& t : tracks) {
    const uint64_t end = uint64_t{t.TrackStart} + t.TrackSize;
    out.DiscSectors = std::max(out.DiscSectors, end > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(end));
    const uint32_t recordedEnd = RecordedEndOf(t);
    if (recordedEnd > t.TrackStart) {
      if (!out.Recorded.empty() && out.Recorded.back().End == t.TrackStart) {
        out.Recorded.back().End = recordedEnd;
      } else {
        out.Recorded.push_back({t.TrackStart, recordedEnd});
      }
    }
    // The free track of an appendable disc is no session yet.
    if (t.Blank && !t.Reserved && t.NextWritableValid) continue;
    if (out.Sessions.empty() || out.Sessions.back().Number != t.Session) {
      out.Sessions.push_back({t.Session, t.TrackStart, t.TrackStart});
    }
    out.Sessions.back().RecordedEnd = std::max(out.Sessions.back().RecordedEnd, recordedEnd);
    if (t.Damaged) {
      out.Unfinished = true;
      if (!t.NextWritableValid) out.Unrepairable = true;
    }
  }
  // An open last session on a disc that still takes data: its tracks that are not the free
  // one still take writes, and its session was never closed.
  if (disc.Status == 1 && disc.LastSessionState == 1 && !out.Sessions.empty()) {
    out.Unfinished = true;
  }
  if (out.Unfinished && !out.Sessions.empty()) {
    const uint16_t last = out.Sessions.back().Number;
    for (const TrackInformation& t : tracks) {
      if (t.Session == last && t.NextWritableValid && (!t.Blank || t.Reserved))
        out.OpenTracks.push_back(t.Number);
    }
  }
  return out;
}

bool AllRecorded(const TRecordedDisc& disc, uint32_t start, uint32_t count) {
  const uint64_t end = uint64_t{start} + count;
  return std::any_of(disc.Recorded.begin(), disc.Recorded.end(),
                     [&](const TSectorRange& r) { return start >= r.Start && end <= r.End; });
}

}  // namespace brennix
