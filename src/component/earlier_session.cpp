// The disc's last session brought into the tree of the next one: where that session lies,
// and its directory tree read back through the recorder.
#include <algorithm>
#include <cstring>

#include "component/burner_drive.h"
#include "component/recorded_sessions.h"
#include "component/korb_burner.h"
#include "device/disc_answers.h"
#include "device/disc_types.h"
#include "image/session_reader.h"
#include "recording/write_preparation.h"
#include "recording/writer_thread.h"

namespace brennix {

namespace {

constexpr uint32_t kReadChunkSectors = 32;

std::string EarlierSessionError(const std::string& why) {
  return std::string(kEarlierSessionErrorPrefix) + why;
}

// The media whose one volume is rewritten in place: its descriptors at sector 16 always
// describe the newest tree.
bool KeepsVolumeInPlace(int16_t t) {
  return t == kDiscDvdRam || t == kDiscDvdPlusRw || t == kDiscDvdRwRestricted;
}

}  // namespace

bool TKorbBurner::ReadDiscSectors(uint32_t lba, uint16_t sectors, uint8_t* out) {
  // A busy or not-ready drive is given time, as the read-back of a recording gives it.
  return ReadWithRetry(*drive_, lba, sectors, out);
}

// The media whose sessions follow one another: those the writer records sequentially, and a
// sequential DVD-RW that holds sessions of its own.
static bool IsWriteOnceType(int16_t t) {
  return IsSequentialRecording(t) || t == kDiscDvdRwSequential;
}

std::optional<TRecordedDisc> TKorbBurner::ReadRecordedDisc() {
  if (!IsWriteOnceType(static_cast<int16_t>(GetDiscType()))) return std::nullopt;
  const auto info = ReadDiscInfo();
  if (!info) return std::nullopt;
  if (info->Status == 0) return TRecordedDisc{};
  // Bounded: a CD has at most 99 tracks, a DVD some hundreds of sessions.
  constexpr uint16_t kMostTracks = 4096;
  const uint16_t last = info->LastTrackInLastSession;
  if (last == 0 || last > kMostTracks) return std::nullopt;
  std::vector<TrackInformation> tracks;
  for (uint16_t n = 1; n <= last; ++n) {
    auto track = ReadTrackInfo(n);
    if (!track) return std::nullopt;
    if (track->Number == 0) track->Number = n;
    tracks.push_back(*track);
  }
  return DescribeRecordedDisc(*info, tracks);
}

bool TKorbBurner::HasUnfinishedRecording(std::string& refusal) {
  refusal.clear();
  const auto disc = ReadRecordedDisc();
  if (!disc || !disc->Unfinished) return false;
  if (disc->Unrepairable) refusal = kUnrepairableText;
  return true;
}

std::string TKorbBurner::CloseUnfinishedRecording() {
  const auto disc = ReadRecordedDisc();
  if (!disc || !disc->Unfinished) return std::string();
  if (disc->Unrepairable) return kUnrepairableText;
  const auto type = static_cast<int16_t>(GetDiscType());
  // The session is closed so that another may follow, whatever the last recording wanted.
  const bool keep = FinalizeDisc;
  FinalizeDisc = false;
  SetWriteParameters(false, true, false, type, false);
  FinalizeDisc = keep;
  const auto failed = [this](const char* what) {
    std::string why = std::string(kCannotRepairPrefix) + what;
    if (!LastErrorText.empty()) why += " (" + LastErrorText + ")";
    return why;
  };
  for (const uint16_t track : disc->OpenTracks) {
    if (!CloseTrackSession(false, 1, 0, static_cast<uint8_t>(track >> 8),
                           static_cast<uint8_t>(track & 0xFF)))
      return failed("ITS TRACK COULD NOT BE CLOSED");
  }
  if (!CloseTrackSession(false, 2, 0, 0, 0)) return failed("ITS SESSION COULD NOT BE CLOSED");
  WaitReady(10000, 500);
  const auto after = ReadRecordedDisc();
  if (after && after->Unfinished) return failed("IT IS STILL OPEN AFTER THE CLOSE");
  return std::string();
}

bool TKorbBurner::FindLastSession(int16_t type, uint32_t& sessionStart, uint32_t& readable,
                                  std::string& error) {
  sessionStart = readable = 0;
  if (type == kDiscUnknown) return true;
  if (DiscStatus() <= 0 || SessionCount() == 0) return true;  // blank
  uint8_t answer[12] = {};
  std::optional<uint32_t> start;
  if (ReadTOC(1, answer, 0, false, 0, sizeof answer))
    start = ParseLastSessionStart(Received(answer, sizeof answer));
  if (!start) {
    error = EarlierSessionError("THE RECORDER DOES NOT SAY WHERE THE LAST SESSION BEGINS");
    return false;
  }
  sessionStart = *start;
  // Nothing of the last session lies at or past where the next one goes; on a disc that
  // takes no more, the recorded end says the same.
  uint32_t next = 0;
  if (ReadStartAddress(type, next) && next > sessionStart) {
    readable = next;
  } else if (uint32_t last = 0, blockLength = 0;
             ReadCapacity(last, blockLength) && last >= sessionStart) {
    readable = last + 1;
  } else {
    error = EarlierSessionError("THE RECORDER DOES NOT SAY WHERE THE LAST SESSION ENDS");
    return false;
  }
  return true;
}

bool TKorbBurner::ReadLastSession(TImportedSession& session, bool& found, std::string& error) {
  error.clear();
  found = false;
  importNotes_.clear();
  const auto type = static_cast<int16_t>(GetDiscType());
  DiscType.store(type);

  const TSectorReader read = [&](uint32_t sector, uint32_t count, uint8_t* out,
                                 std::string& why) {
    for (uint32_t done = 0; done < count;) {
      const auto n = static_cast<uint16_t>(std::min(count - done, kReadChunkSectors));
      if (!ReadDiscSectors(sector + done, n, out + size_t{done} * kSectorSize)) {
        why = "READ ERROR AT SECTOR " + std::to_string(sector + done);
        if (!LastErrorText.empty()) why += " (" + LastErrorText + ")";
        return false;
      }
      done += n;
    }
    return true;
  };

  if (KeepsVolumeInPlace(type)) {
    // One volume, rewritten in place: its descriptors at sector 16 describe the newest tree.
    // The disc counts as blank only when its volume area holds nothing at all.
    const uint32_t size = ReadVolumeSize();
    bool ok = false;
    if (size != 0) {
      TEarlierSessionBounds bounds;
      bounds.DiscSectors = size;
      TEarlierSessionFailure failure;
      ok = ReadEarlierSession(read, 0, bounds, session, error, &failure);
      if (!ok && !failure.NoVolume) return false;
    }
    if (!ok) {
      // A first recording that never ended leaves a lone terminator where its descriptors
      // were to go: none of its files can be trusted, and nothing else is on the disc.
      std::vector<uint8_t> sector(kSectorSize);
      std::string why;
      if (read(kFirstDescriptorSector, 1, sector.data(), why) && sector[0] == 255 &&
          std::memcmp(sector.data() + 1, "CD001", 5) == 0) {
        error.clear();
        importNotes_.push_back(kCutVolumeText);
        return true;
      }
      if (VolumeAreaBlank(read)) {
        error.clear();
        return true;
      }
      if (error.empty()) error = EarlierSessionError("THE DISC HOLDS DATA BUT NO VOLUME THAT CAN BE READ");
      return false;
    }
  } else if (const auto disc = ReadRecordedDisc()) {
    // From the newest session back. One whose recording ended before its tree reached the
    // disc holds nothing to keep; one that holds data but no volume that can be read gives
    // way to the session before it, with a word, or ends the import when there is none.
    bool readOk = false;
    uint16_t number = 0;
    std::string unreadable;
    for (auto s = disc->Sessions.rbegin(); s != disc->Sessions.rend(); ++s) {
      if (s->RecordedEnd == s->Start) continue;  // nothing was recorded
      if (!AllRecorded(*disc, s->Start + kFirstDescriptorSector, 1)) {
        importNotes_.push_back("Session " + std::to_string(s->Number) +
                               " on the disc ended before its files were listed; nothing of "
                               "it can be kept.");
        continue;
      }
      TEarlierSessionBounds bounds;
      bounds.DiscSectors = disc->DiscSectors;
      bounds.Recorded = disc->Recorded;
      TEarlierSessionFailure failure;
      if (ReadEarlierSession(read, s->Start, bounds, session, error, &failure)) {
        readOk = true;
        number = s->Number;
        break;
      }
      if (!failure.NoVolume) return false;
      if (unreadable.empty()) unreadable = error;
      importNotes_.push_back("Session " + std::to_string(s->Number) +
                             " on the disc holds no volume that can be read (" +
                             error.substr(std::string(kEarlierSessionErrorPrefix).size()) +
                             "); its files cannot be kept.");
      error.clear();
    }
    if (!readOk) {
      if (!unreadable.empty()) {
        error = unreadable;
        return false;
      }
      return true;
    }
    if (!unreadable.empty())
      importNotes_.push_back("The files of session " + std::to_string(number) +
                             " are kept instead.");
  } else {
    uint32_t sessionStart = 0, readable = 0;
    if (!FindLastSession(type, sessionStart, readable, error)) return false;
    if (readable == 0) {
      return true;
    }
    if (!ReadEarlierSession(read, sessionStart, readable, session, error)) {
      if (error.rfind(kEarlierSessionErrorPrefix, 0) != 0) error = EarlierSessionError(error);
      return false;
    }
  }
  found = true;
  return true;
}

bool TKorbBurner::ImportLastSession(std::string& error) {
  error.clear();
  if (EarlierSessionAdded()) return true;
  importedFiles_ = replacedFiles_ = 0;
  importLeftOut_.clear();
  TImportedSession session;
  bool found = false;
  if (!ReadLastSession(session, found, error)) return false;
  if (!found) {
    MarkEarlierSessionAdded();
    return true;
  }
  const TEarlierSessionCount count = AddEarlierSession(session);
  importedFiles_ = count.Files;
  replacedFiles_ = count.Replaced;
  importLeftOut_ = session.LeftOut;
  // A session that lists only part of the disc's files would lose the rest from sight.
  if (TreeFull()) {
    error = EarlierSessionError("IT HOLDS MORE FILES AND FOLDERS THAN THE NEW SESSION CAN LIST");
    return false;
  }
  return true;
}

bool TKorbBurner::OverwritesDiscData() {
  if (!KeepsVolumeInPlace(static_cast<int16_t>(GetDiscType())) || ReadVolumeSize() != 0)
    return false;
  TBurnerDrive& drive = *drive_;
  return !VolumeAreaBlank([&drive](uint32_t sector, uint32_t count, uint8_t* out, std::string&) {
    return drive.ReadSectors(sector, static_cast<uint16_t>(count), out, count * kSectorSize);
  });
}

bool TKorbBurner::VolumeAreaBlank(const TSectorReader& read) {
  // The system area and the descriptors: a formatted disc that was never written reads as
  // zeros there. A drive that cannot read them at all is taken at its word, as before.
  constexpr uint32_t kVolumeArea = 32;
  std::vector<uint8_t> bytes(size_t{kVolumeArea} * kSectorSize);
  std::string why;
  if (!read(0, kVolumeArea, bytes.data(), why)) return true;
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

}  // namespace brennix
