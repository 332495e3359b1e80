// The volume of a disc as read-image saves it and a copy writes it: sectors [0, End) of the
// disc, of which only the recorded ranges are read (the gap between two sessions is zeros),
// with a later session's descriptors at sector 16, where readers of the image look for them.
// A copy to another recorder reads it as the recording goes, through an image source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/image_file.h"
#include "image/session_reader.h"
#include "recording/image_source.h"

namespace brennix {

class TKorbBurner;

// Sectors read at once, and again one at a time where such a read fails.
constexpr uint32_t kVolumeChunkSectors = 32;

struct TDiscVolume {
  uint32_t End = 0;
  uint32_t SessionStart = 0;  // where the chosen volume's descriptors lie, less 16
  std::vector<TSectorRange> Recorded;
  // The descriptors of a later session's volume, for sector 16 on; empty for the first's.
  std::vector<uint8_t> Descriptors;

  bool IsRecorded(uint32_t sector) const;
  // Puts the descriptors over the image's sectors [first, first + count) in out.
  void LayDescriptors(uint32_t first, uint32_t count, uint8_t* out) const;
};

// Finds the volume of the disc in the recorder: the last session's that holds one (session
// 0), that of session, or with all every recorded sector. Empty when found, else why not.
std::string FindDiscVolume(TKorbBurner& korb, uint16_t session, bool all, TDiscVolume& out);

// "SECTOR 40 OF THE DISC BEING COPIED CANNOT BE READ"
std::string UnreadableSourceText(uint32_t sector);

// The volume read from the disc as a recording takes it: in chunks of kVolumeChunkSectors
// with the read-back's bounded retries, a chunk that fails again a sector at a time. A
// sector that stays unreadable ends the recording with its number (UnreadableSourceText):
// nothing is written in its place. The component is read only from the cache's thread
// while the recording runs; it must outlive the recording.
class TDiscVolumeSource final : public TImageSource {
 public:
  TDiscVolumeSource(TKorbBurner& korb, TDiscVolume volume);
  std::string Read(int64_t offset, uint8_t* out, int32_t bytes,
                   const std::atomic<bool>& stop) override;
  int64_t Sectors() const { return volume_.End; }
  // Whether a sector that could not be read ended a read.
  bool Failed() const { return failed_.load(); }

 private:
  TKorbBurner& korb_;
  const TDiscVolume volume_;
  std::atomic<bool> failed_{false};
};

// The last session's volume of the disc in the recorder as an image to write as it is: its
// head read and inspected as an image file's, its Source a TDiscVolumeSource, its Path the
// recorder. Empty when it can be written, else why not; the head's read gives up when stop
// becomes true.
std::string InspectDiscVolume(TKorbBurner& korb, TImageFile& out, const std::atomic<bool>& stop);

}  // namespace brennix
