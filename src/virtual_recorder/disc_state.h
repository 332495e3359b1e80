// What a virtual disc holds: its kind, its tracks and sessions, and whether it is closed.
// The layout rules (where the next track may start, what READ TRACK INFORMATION reports)
// are pure functions of this state, and the state is kept in a small text file beside the
// sector file, so that a later process finds the same disc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "virtual_recorder/media_profile.h"

namespace brennix {

struct RecordedTrack {
  uint32_t session = 1;   // 1-based
  uint32_t start = 0;     // first sector
  uint32_t reserved = 0;  // fixed size given by RESERVE TRACK; 0 when it grows as written
  uint32_t recorded = 0;  // sectors written from start
  bool closed = false;
};

struct DiscState {
  MediaProfile profile = MediaProfile::None;
  CdSize cdSize = CdSize::Minutes80;
  bool formatted = false;       // overwritable media: usable for writing
  bool finalized = false;       // sequential media: no further session may be added
  uint32_t closedSessions = 0;  // sequential media
  uint32_t highWater = 0;       // overwritable and pressed media: sectors in use from 0
  // The drive's tray, kept with the disc so that a tray opened by one process is still
  // open for the next.
  bool trayOpen = false;
  std::vector<RecordedTrack> tracks;
};

// A fresh disc of the given kind, as it comes out of the box.
DiscState BlankDisc(MediaProfile profile, CdSize cdSize);
// A pressed disc, or a closed first session, holding `sectors` sectors from 0.
DiscState DiscHoldingImage(MediaProfile profile, CdSize cdSize, uint32_t sectors);

uint32_t DiscCapacity(const DiscState& disc);
bool HoldsData(const DiscState& disc);

// READ DISC INFORMATION fields.
uint8_t DiscStatusCode(const DiscState& disc);        // 0 empty, 1 incomplete, 2 complete, 3 other
uint8_t LastSessionStateCode(const DiscState& disc);  // 0 empty, 1 incomplete, 3 complete
uint32_t SessionsOnDisc(const DiscState& disc);       // includes an open or empty last session
uint32_t OpenSessionNumber(const DiscState& disc);

// Sequential media: where a new track would start, whether one may be added.
uint32_t NextTrackStart(const DiscState& disc);
bool Appendable(const DiscState& disc);
// An unclosed track of the open session with room left.
bool TrackWritable(const DiscState& disc, const RecordedTrack& track);
// The track that takes the next write (index into tracks), if any is open.
std::optional<size_t> OpenTrackIndex(const DiscState& disc);
// Next writable address of the disc, or nullopt when nothing may be written.
std::optional<uint32_t> NextWritableAddress(const DiscState& disc);

// One answer of READ TRACK INFORMATION.
struct TrackView {
  uint32_t number = 0;
  uint32_t session = 0;
  uint32_t start = 0;
  uint32_t size = 0;
  uint32_t freeBlocks = 0;
  uint32_t recorded = 0;
  bool nwaValid = false;
  uint32_t nextWritable = 0;
  bool blank = false;
  bool reserved = false;
  bool incremental = false;
};
// Track count as the disc reports it: the recorded tracks plus the invisible one where the
// disc can take another.
uint32_t TrackCount(const DiscState& disc);
std::optional<TrackView> ViewTrack(const DiscState& disc, uint32_t number);
std::optional<uint32_t> TrackContaining(const DiscState& disc, uint32_t lba);

// Whether sector lba holds data that READ may return.
bool Readable(const DiscState& disc, uint32_t lba, uint32_t count);
// Sectors [first, end) of a session's data; session 0 means the last one with data.
bool SessionExtent(const DiscState& disc, uint32_t session, uint32_t& first, uint32_t& end);

// The text kept in PATH.state, and its parser (which rejects anything inconsistent).
std::string FormatDiscState(const DiscState& disc);
bool ParseDiscState(const std::string& text, DiscState& disc, std::string& error);

// Reads and writes the state file; the write goes to a temporary file renamed into place.
bool LoadDiscState(const std::string& statePath, DiscState& disc, std::string& error);
// A durable save waits until the state is on the disk before it replaces the old one.
bool SaveDiscState(const std::string& statePath, const DiscState& disc, std::string& error,
                   bool durable = true);

}  // namespace brennix
