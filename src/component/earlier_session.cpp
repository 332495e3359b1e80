// The disc's last session brought into the tree of the next one: where that session lies,
// and its directory tree read back through the recorder.
#include <algorithm>
#include <span>

#include "component/burner_drive.h"
#include "component/korb_burner.h"
#include "device/disc_answers.h"
#include "device/disc_types.h"
#include "image/session_reader.h"
#include "platform/clock.h"
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

bool TKorbBurner::FindLastSession(int16_t type, uint32_t& sessionStart, uint32_t& readable,
                                  std::string& error) {
  sessionStart = readable = 0;
  if (type == kDiscUnknown) return true;
  // Drives differ in the status they give a formatted rewritable disc: its descriptors
  // alone tell whether it holds a volume.
  if (KeepsVolumeInPlace(type)) {
    readable = ReadVolumeSize();
    return true;
  }
  if (DiscStatus() <= 0 || SessionCount() == 0) return true;  // blank
  uint8_t answer[12] = {};
  std::optional<uint32_t> start;
  if (ReadTOC(1, answer, 0, false, 0, sizeof answer)) {
    start = ParseLastSessionStart(std::span<const uint8_t>(
        answer, std::min<uint32_t>(LastDataTransferred(), sizeof answer)));
  }
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

bool TKorbBurner::ImportLastSession(std::string& error) {
  error.clear();
  if (EarlierSessionAdded()) return true;
  importedFiles_ = replacedFiles_ = 0;
  importLeftOut_.clear();
  const auto type = static_cast<int16_t>(GetDiscType());
  DiscType.store(type);
  uint32_t sessionStart = 0, readable = 0;
  if (!FindLastSession(type, sessionStart, readable, error)) return false;
  if (readable == 0) {
    MarkEarlierSessionAdded();
    return true;
  }
  // A busy or not-ready drive is given time, as the read-back of a recording gives it.
  TBurnerDrive& drive = *drive_;
  const auto readChunk = [&drive](uint32_t lba, uint16_t sectors, uint8_t* out) {
    for (int busy = 0, failed = 0;;) {
      if (drive.ReadSectors(lba, sectors, out, uint32_t{sectors} * kDiscSectorBytes)) return true;
      if (IsTransientWriteFailure(drive)) {
        if (++busy >= kMaxVerifyBusyAttempts) return false;
      } else if (++failed >= kMaxVerifyReadAttempts) {
        return false;
      }
      SleepMs(kBusyRetryMs);
    }
  };
  const TSectorReader read = [&](uint32_t sector, uint32_t count, uint8_t* out,
                                 std::string& why) {
    for (uint32_t done = 0; done < count;) {
      const auto n = static_cast<uint16_t>(std::min(count - done, kReadChunkSectors));
      if (!readChunk(sector + done, n, out + size_t{done} * kDiscSectorBytes)) {
        why = "READ ERROR AT SECTOR " + std::to_string(sector + done);
        if (!LastErrorText.empty()) why += " (" + LastErrorText + ")";
        return false;
      }
      done += n;
    }
    return true;
  };
  TImportedSession session;
  if (!ReadEarlierSession(read, sessionStart, readable, session, error)) {
    if (error.rfind(kEarlierSessionErrorPrefix, 0) != 0) error = EarlierSessionError(error);
    return false;
  }
  const TEarlierSessionCount count = AddEarlierSession(session);
  importedFiles_ = count.Files;
  replacedFiles_ = count.Replaced;
  for (std::string line : session.LeftOut) {
    // The tree's own paths use "\"; people read "/".
    for (size_t at = 0; at < line.size() && line.compare(at, 2, ": ") != 0; ++at)
      if (line[at] == '\\') line[at] = '/';
    importLeftOut_.push_back(line);
  }
  // A session that lists only part of the disc's files would lose the rest from sight.
  if (TreeFull()) {
    error = EarlierSessionError("IT HOLDS MORE FILES AND FOLDERS THAN THE NEW SESSION CAN LIST");
    return false;
  }
  return true;
}

}  // namespace brennix
