// What a write-once disc really holds, as its tracks tell it: which sectors were recorded,
// where each session begins, and whether a recording that never ended left a track or a
// session open. A pure reading of the drive's answers, so every case can be tried without a
// drive.
#pragma once

#include <cstdint>
#include <vector>

#include "device/disc_answers.h"
#include "image/session_reader.h"

namespace brennix {

constexpr const char* kUnfinishedRecordingText =
    "The disc holds an unfinished recording; it will be closed first.";
constexpr const char* kUnrepairableText =
    "THE DISC HOLDS AN UNFINISHED RECORDING THAT THE RECORDER CANNOT CLOSE";
constexpr const char* kCutVolumeText =
    "The disc holds a first recording that never ended; none of its files can be kept, and "
    "the new session is written over it.";
constexpr const char* kCannotRepairPrefix = "THE UNFINISHED RECORDING ON THE DISC CANNOT BE CLOSED: ";

struct TRecordedSession {
  uint16_t Number = 0;
  uint32_t Start = 0;        // first sector of its first track
  uint32_t RecordedEnd = 0;  // one past its last recorded sector (Start when it holds none)
};

struct TRecordedDisc {
  std::vector<TRecordedSession> Sessions;  // in disc order; sessions with no track are absent
  std::vector<TSectorRange> Recorded;      // what a read may return
  uint32_t DiscSectors = 0;                // the end of the last track, the free one included
  // A recording that never ended: the last session is still open, or a track is damaged.
  bool Unfinished = false;
  // Tracks of that session that are still open for writing (to be closed first).
  std::vector<uint16_t> OpenTracks;
  // A damaged track the drive no longer offers to write: the disc cannot be repaired.
  bool Unrepairable = false;
};

// tracks: the answers for tracks 1..n in order (the free track last, where the disc has
// one). The last recorded address is taken where the drive vouches for it, else the next
// writable address of a track still open, else the track's size.
TRecordedDisc DescribeRecordedDisc(const DiscInformation& disc,
                                   const std::vector<TrackInformation>& tracks);

// Whether sectors [start, start + count) were all recorded.
bool AllRecorded(const TRecordedDisc& disc, uint32_t start, uint32_t count);

}  // namespace brennix
