#include "virtual_recorder/disc_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/file_io.h"
#include "platform/temp_file.h"

namespace brennix {

namespace {

// DVD tracks and sessions start on ECC block boundaries.
uint32_t AlignForMedia(const DiscState& disc, uint32_t lba) {
  if (IsCdMedia(disc.profile)) return lba;
  const uint64_t aligned = (static_cast<uint64_t>(lba) + 15u) / 16u * 16u;
  return aligned > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(aligned);
}

uint32_t TrackExtent(const RecordedTrack& track) {
  return track.reserved != 0 ? track.reserved : track.recorded;
}

// Says why a state cannot be read or written, and answers false.
bool Refuse(std::string& error, const std::string& why) {
  error = why;
  return false;
}

bool SessionOpen(const DiscState& disc) {
  return !disc.tracks.empty() && disc.tracks.back().session > disc.closedSessions;
}

}  // namespace

DiscState BlankDisc(MediaProfile profile, CdSize cdSize) {
  DiscState disc;
  disc.profile = profile;
  disc.cdSize = cdSize;
  // DVD-RAM and restricted-overwrite DVD-RW are usable as they come; a DVD+RW needs its
  // first format.
  disc.formatted = profile == MediaProfile::DvdRam || profile == MediaProfile::DvdRwRestricted;
  return disc;
}

DiscState DiscHoldingImage(MediaProfile profile, CdSize cdSize, uint32_t sectors) {
  DiscState disc = BlankDisc(profile, cdSize);
  if (IsSequentialMedia(profile)) {
    if (sectors == 0) return disc;
    disc.tracks.push_back(RecordedTrack{1, 0, 0, sectors, true});
    disc.closedSessions = 1;
    if (!Appendable(disc)) disc.finalized = true;
  } else {
    disc.formatted = true;
    disc.highWater = sectors;
    if (IsReadOnlyMedia(profile)) disc.finalized = true;
  }
  return disc;
}

uint32_t DiscCapacity(const DiscState& disc) {
  if (IsReadOnlyMedia(disc.profile)) return disc.highWater;
  return MediaCapacitySectors(disc.profile, disc.cdSize);
}

bool HoldsData(const DiscState& disc) {
  if (IsSequentialMedia(disc.profile)) {
    for (const auto& track : disc.tracks) {
      if (track.recorded != 0 || track.reserved != 0) return true;
    }
    return false;
  }
  return disc.highWater != 0;
}

uint8_t DiscStatusCode(const DiscState& disc) {
  if (IsReadOnlyMedia(disc.profile)) return 2;
  if (IsOverwritableMedia(disc.profile)) {
    if (!disc.formatted) return 0;
    return disc.profile == MediaProfile::DvdRam ? 3 : 2;
  }
  if (disc.tracks.empty()) return 0;
  return disc.finalized ? 2 : 1;
}

uint8_t LastSessionStateCode(const DiscState& disc) {
  if (IsReadOnlyMedia(disc.profile)) return 3;
  if (IsOverwritableMedia(disc.profile)) return disc.formatted ? 3 : 0;
  if (disc.finalized) return 3;
  return SessionOpen(disc) ? 1 : 0;
}

uint32_t SessionsOnDisc(const DiscState& disc) {
  if (!IsSequentialMedia(disc.profile)) return 1;
  return disc.finalized ? disc.closedSessions : disc.closedSessions + 1;
}

uint32_t OpenSessionNumber(const DiscState& disc) { return disc.closedSessions + 1; }

uint32_t NextTrackStart(const DiscState& disc) {
  if (disc.tracks.empty()) return 0;
  const RecordedTrack& last = disc.tracks.back();
  const uint64_t end = static_cast<uint64_t>(last.start) + TrackExtent(last);
  uint64_t next = end;
  if (!SessionOpen(disc)) next += SessionGapSectors(disc.profile, disc.closedSessions);
  if (next > UINT32_MAX) return UINT32_MAX;
  return AlignForMedia(disc, static_cast<uint32_t>(next));
}

bool Appendable(const DiscState& disc) {
  if (!IsSequentialMedia(disc.profile) || disc.finalized) return false;
  return NextTrackStart(disc) < DiscCapacity(disc);
}

bool TrackWritable(const DiscState& disc, const RecordedTrack& track) {
  if (track.closed || disc.finalized || track.session <= disc.closedSessions) return false;
  return track.reserved == 0 || track.recorded < track.reserved;
}

std::optional<size_t> OpenTrackIndex(const DiscState& disc) {
  if (disc.tracks.empty() || disc.finalized) return std::nullopt;
  const RecordedTrack& last = disc.tracks.back();
  if (last.closed || last.session <= disc.closedSessions) return std::nullopt;
  if (last.reserved != 0 && last.recorded >= last.reserved) return std::nullopt;
  return disc.tracks.size() - 1;
}

std::optional<uint32_t> NextWritableAddress(const DiscState& disc) {
  if (IsReadOnlyMedia(disc.profile) || disc.profile == MediaProfile::None) return std::nullopt;
  if (IsOverwritableMedia(disc.profile)) {
    if (!disc.formatted) return std::nullopt;
    return disc.highWater;
  }
  if (const auto open = OpenTrackIndex(disc)) {
    const RecordedTrack& track = disc.tracks[*open];
    return track.start + track.recorded;
  }
  if (!Appendable(disc)) return std::nullopt;
  return NextTrackStart(disc);
}

namespace {

bool HasInvisibleTrack(const DiscState& disc) {
  if (!Appendable(disc)) return false;
  if (disc.tracks.empty()) return true;
  const RecordedTrack& last = disc.tracks.back();
  // A growing, unclosed track of the open session is itself the invisible track.
  return last.closed || last.reserved != 0 || last.session <= disc.closedSessions;
}

}  // namespace

uint32_t TrackCount(const DiscState& disc) {
  if (disc.profile == MediaProfile::None) return 0;
  if (IsOverwritableMedia(disc.profile)) return 1;
  if (IsReadOnlyMedia(disc.profile)) return disc.highWater != 0 ? 1 : 0;
  return static_cast<uint32_t>(disc.tracks.size()) + (HasInvisibleTrack(disc) ? 1u : 0u);
}

std::optional<TrackView> ViewTrack(const DiscState& disc, uint32_t number) {
  const uint32_t count = TrackCount(disc);
  if (number == 0 || number > count) return std::nullopt;
  const uint32_t capacity = DiscCapacity(disc);
  TrackView view;
  view.number = number;
  if (!IsSequentialMedia(disc.profile)) {
    view.session = 1;
    view.start = 0;
    view.size = capacity;
    view.recorded = disc.highWater;
    view.blank = disc.highWater == 0;
    if (IsOverwritableMedia(disc.profile) && disc.formatted) {
      view.nwaValid = true;
      view.nextWritable = disc.highWater;
      view.freeBlocks = capacity > disc.highWater ? capacity - disc.highWater : 0;
    }
    return view;
  }
  view.incremental = true;
  if (number <= disc.tracks.size()) {
    const RecordedTrack& track = disc.tracks[number - 1];
    view.session = track.session;
    view.start = track.start;
    view.recorded = track.recorded;
    view.blank = track.recorded == 0;
    view.reserved = track.reserved != 0;
    const bool growing = TrackWritable(disc, track) && track.reserved == 0;
    if (track.reserved != 0) {
      view.size = track.reserved;
    } else if (growing) {
      view.size = capacity > track.start ? capacity - track.start : 0;
    } else {
      view.size = track.recorded;
    }
    if (TrackWritable(disc, track)) {
      view.nwaValid = true;
      view.nextWritable = track.start + track.recorded;
      view.freeBlocks = view.size > track.recorded ? view.size - track.recorded : 0;
    }
    return view;
  }
  view.session = OpenSessionNumber(disc);
  view.start = NextTrackStart(disc);
  view.size = capacity > view.start ? capacity - view.start : 0;
  view.freeBlocks = view.size;
  view.nwaValid = true;
  view.nextWritable = view.start;
  view.blank = true;
  return view;
}

std::optional<uint32_t> TrackContaining(const DiscState& disc, uint32_t lba) {
  const uint32_t count = TrackCount(disc);
  for (uint32_t number = 1; number <= count; ++number) {
    const auto view = ViewTrack(disc, number);
    if (view && lba >= view->start && lba - view->start < view->size) return number;
  }
  return std::nullopt;
}

bool Readable(const DiscState& disc, uint32_t lba, uint32_t count) {
  const uint64_t end = static_cast<uint64_t>(lba) + count;
  if (IsReadOnlyMedia(disc.profile)) return end <= disc.highWater;
  if (IsOverwritableMedia(disc.profile)) return disc.formatted && end <= DiscCapacity(disc);
  for (const auto& track : disc.tracks) {
    if (lba >= track.start && end <= static_cast<uint64_t>(track.start) + track.recorded) return true;
  }
  return false;
}

bool SessionExtent(const DiscState& disc, uint32_t session, uint32_t& first, uint32_t& end) {
  if (!IsSequentialMedia(disc.profile)) {
    if (disc.highWater == 0 || session > 1) return false;
    first = 0;
    end = disc.highWater;
    return true;
  }
  if (session == 0) {
    for (auto it = disc.tracks.rbegin(); it != disc.tracks.rend(); ++it) {
      if (it->recorded != 0) {
        session = it->session;
        break;
      }
    }
    if (session == 0) return false;
  }
  bool found = false;
  for (const auto& track : disc.tracks) {
    if (track.session != session || track.recorded == 0) continue;
    if (!found) first = track.start;
    end = track.start + track.recorded;
    found = true;
  }
  return found;
}

std::string FormatDiscState(const DiscState& disc) {
  std::ostringstream out;
  out << "brennix-virtual-disc 1\n";
  out << "profile " << ProfileName(disc.profile) << "\n";
  out << "cd-minutes " << (disc.cdSize == CdSize::Minutes74 ? 74 : 80) << "\n";
  out << "formatted " << (disc.formatted ? 1 : 0) << "\n";
  out << "finalized " << (disc.finalized ? 1 : 0) << "\n";
  out << "closed-sessions " << disc.closedSessions << "\n";
  out << "high-water " << disc.highWater << "\n";
  if (disc.trayOpen) out << "tray open\n";
  for (const auto& track : disc.tracks) {
    out << "track " << track.session << ' ' << track.start << ' ' << track.reserved << ' '
        << track.recorded << ' ' << (track.closed ? 1 : 0) << "\n";
  }
  return out.str();
}

namespace {

bool ReadNumber(std::istringstream& in, uint64_t limit, uint64_t& value) {
  std::string word;
  if (!(in >> word) || word.empty() || word.size() > 10) return false;
  value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value <= limit;
}

bool ReadFlag(std::istringstream& in, bool& on) {
  uint64_t value = 0;
  if (!ReadNumber(in, 1, value)) return false;
  on = value == 1;
  return true;
}

}  // namespace

bool ParseDiscState(const std::string& text, DiscState& disc, std::string& error) {
  DiscState parsed;
  std::istringstream lines(text);
  std::string line;
  bool header = false;
  bool haveProfile = false;
  int lineNumber = 0;
  while (std::getline(lines, line)) {
    ++lineNumber;
    if (line.empty()) continue;
    std::istringstream in(line);
    std::string key;
    in >> key;
    uint64_t value = 0;
    bool ok = true;
    if (!header) {
      ok = key == "brennix-virtual-disc" && ReadNumber(in, 1, value) && value == 1;
      header = ok;
    } else if (key == "profile") {
      std::string name;
      in >> name;
      const auto profile = ProfileFromName(name);
      ok = profile.has_value();
      if (ok) parsed.profile = *profile;
      haveProfile = ok;
    } else if (key == "cd-minutes") {
      ok = ReadNumber(in, 80, value) && (value == 74 || value == 80);
      parsed.cdSize = value == 74 ? CdSize::Minutes74 : CdSize::Minutes80;
    } else if (key == "formatted") {
      ok = ReadFlag(in, parsed.formatted);
    } else if (key == "finalized") {
      ok = ReadFlag(in, parsed.finalized);
    } else if (key == "closed-sessions") {
      ok = ReadNumber(in, 100000, value);
      parsed.closedSessions = static_cast<uint32_t>(value);
    } else if (key == "high-water") {
      ok = ReadNumber(in, UINT32_MAX, value);
      parsed.highWater = static_cast<uint32_t>(value);
    } else if (key == "tray") {
      std::string state;
      ok = static_cast<bool>(in >> state) && (state == "open" || state == "closed");
      parsed.trayOpen = state == "open";
    } else if (key == "track") {
      uint64_t session = 0, start = 0, reserved = 0, recorded = 0;
      bool closed = false;
      ok = ReadNumber(in, 100000, session) && session >= 1 && ReadNumber(in, UINT32_MAX, start) &&
           ReadNumber(in, UINT32_MAX, reserved) && ReadNumber(in, UINT32_MAX, recorded) &&
           ReadFlag(in, closed);
      if (ok) {
        parsed.tracks.push_back(RecordedTrack{static_cast<uint32_t>(session),
                                              static_cast<uint32_t>(start),
                                              static_cast<uint32_t>(reserved),
                                              static_cast<uint32_t>(recorded), closed});
      }
    } else {
      ok = false;
    }
    std::string rest;
    if (ok && (in >> rest)) ok = false;
    if (!ok)
      return Refuse(error, "line " + std::to_string(lineNumber) + " is not understood: " + line);
  }
  if (!header || !haveProfile) return Refuse(error, "not a virtual disc state");
  // The layout must make sense, or every later answer would be nonsense.
  const uint64_t capacity = MediaCapacitySectors(parsed.profile, parsed.cdSize);
  uint64_t previousEnd = 0;
  uint32_t previousSession = 1;
  for (const auto& track : parsed.tracks) {
    const uint64_t end = static_cast<uint64_t>(track.start) + track.recorded;
    const uint64_t extentEnd = static_cast<uint64_t>(track.start) + TrackExtent(track);
    if (!IsSequentialMedia(parsed.profile) || track.start < previousEnd ||
        track.session < previousSession || track.session > previousSession + 1 ||
        (track.reserved != 0 && track.recorded > track.reserved) || end > capacity ||
        extentEnd > capacity)
      return Refuse(error, "the track list is inconsistent");
    previousEnd = extentEnd;
    previousSession = track.session;
  }
  // The last track is in the last closed session or in the one open after it.
  const uint32_t lastSession = parsed.tracks.empty() ? 0 : parsed.tracks.back().session;
  if (parsed.closedSessions + 1 < lastSession || parsed.closedSessions > lastSession)
    return Refuse(error, "the session count does not match the tracks");
  if (!IsReadOnlyMedia(parsed.profile) && parsed.highWater > capacity)
    return Refuse(error, "the recorded size exceeds the disc");
  disc = parsed;
  return true;
}

bool LoadDiscState(const std::string& statePath, DiscState& disc, std::string& error) {
  std::ifstream in(statePath, std::ios::binary);
  if (!in) return Refuse(error, "cannot read " + statePath);
  std::string text;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > (16u << 20))
      return Refuse(error, statePath + " is too large to be a disc state");
  }
  if (!ParseDiscState(text, disc, error)) return Refuse(error, statePath + ": " + error);
  return true;
}

bool SaveDiscState(const std::string& statePath, const DiscState& disc, std::string& error,
                   bool durable) {
  const std::string text = FormatDiscState(disc);
  // A file of its own, created new: a link planted beside the state is never followed.
  std::string temporary;
  const int fd = CreateFileBeside(statePath, ".tmp", 0644, temporary);
  if (fd < 0)
    return Refuse(error, "cannot write beside " + statePath + ": " + std::strerror(errno));
  if (!WriteAll(fd, text.data(), text.size())) {
    error = "cannot write " + temporary + ": " + std::strerror(errno);
    ::close(fd);
    ::unlink(temporary.c_str());
    return false;
  }
  // For a change of the layout the data must be on disk before the rename makes it the
  // state, or a power loss could leave an empty state file in place of the old one. Growth
  // of a track is saved without waiting for the disk: the sectors themselves are not
  // synced either, and the rename alone keeps the file whole when the process dies.
  if ((durable && ::fsync(fd) != 0) || ::close(fd) != 0) {
    error = "cannot write " + temporary + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  if (::rename(temporary.c_str(), statePath.c_str()) != 0) {
    error = "cannot replace " + statePath + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace brennix
