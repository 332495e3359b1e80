// Where a new recording starts: after what a sequential disc already holds, or after the
// volume already on an overwritable DVD.
#include "device/disc_answers.h"
#include "device/disc_types.h"
#include "device/scsi_device.h"

namespace brennix {

namespace {
// Drives report "no address" as FFFFFFFFh; anything that high is no address either.
constexpr uint32_t kHighestAddress = 0xFF000000u;
}  // namespace

bool TSCSIDevice::GetNextWritableAddress(uint32_t& startSector) {
  startSector = 0;
  WaitReady(10000, 500);
  const int16_t t = static_cast<int16_t>(GetDiscType());
  const bool keep = FinalizeDisc;
  FinalizeDisc = true;
  SetWriteParameters(TestWrite, UnderrunProtection, true, t);
  FinalizeDisc = keep;
  WaitReady(10000, 500);
  return ReadStartAddress(t, startSector);
}

bool TSCSIDevice::ReadStartAddress(int16_t t, uint32_t& startSector) {
  startSector = 0;
  if (t == kDiscDvdRam || t == kDiscDvdPlusRw) {
    startSector = ReadVolumeSize();
    return true;
  }

  ReadDiscInfo();
  bool read = false;
  // A sequential DVD-RW is written track after track like a DVD-R: its first track says
  // nothing about where the next one goes.
  if (t == kDiscDvdRwRestricted) {
    if (const auto track = ReadTrackInfo(1)) {
      read = true;
      if (track->NextWritableAddress != 0) startSector = track->NextWritableAddress;
    }
  } else if (const auto track = ReadNextTrackInfo()) {
    // Not "sessions + 1": after a recording that ended early that track does not exist,
    // while the drive still names the track that takes the next data. A track without a
    // next address and no room (a pressed or closed disc) takes none.
    read = track->NextWritableValid || track->NextWritableAddress != 0 || track->FreeBlocks != 0;
    if (read) startSector = track->NextWritableAddress;
  }
  if (startSector > kHighestAddress) startSector = 0;
  return read;
}

std::optional<TrackInformation> TSCSIDevice::ReadNextTrackInfo(uint16_t* number) {
  if (const auto info = ReadDiscInfo(); info && info->LastTrackInLastSession != 0) {
    if (auto track = ReadTrackInfo(info->LastTrackInLastSession)) {
      if (number != nullptr) *number = info->LastTrackInLastSession;
      return track;
    }
  }
  const uint16_t n = static_cast<uint16_t>(SessionCount() + 1u);
  auto track = ReadTrackInfo(n);
  if (track && number != nullptr) *number = n;
  return track;
}

std::optional<uint32_t> TSCSIDevice::FreeBlocksFrom(int16_t t, uint32_t startSector) {
  const bool overwritable = t == kDiscDvdRam || t == kDiscDvdPlusRw ||
                            t == kDiscDvdRwRestricted || t == kDiscDvdRwSequential;
  if (!overwritable) {
    const auto track = ReadNextTrackInfo();
    if (!track) return std::nullopt;
    return track->FreeBlocks;
  }
  // A DVD-RW is formatted by the recording, so its formatted size counts.
  uint32_t capacity = 0, blockLength = 0;
  if (!ReadFormatCapacities(capacity, blockLength) || capacity == 0) {
    const auto track = ReadTrackInfo(1);
    if (!track) return std::nullopt;
    const uint64_t end = uint64_t{track->NextWritableAddress} + track->FreeBlocks;
    capacity = end > 0xFFFFFFFEull ? 0xFFFFFFFEu : static_cast<uint32_t>(end);
  }
  return capacity > startSector ? capacity - startSector : 0;
}

uint32_t TSCSIDevice::ReadVolumeSize() {
  // The primary and the Joliet descriptor carry the same size; whichever is found first.
  for (uint32_t sector = 32; sector >= 16; --sector) {
    if (const auto size = ReadVolumeDescriptorSize(sector)) return *size;
  }
  return 0;
}

}  // namespace brennix
