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

  if (t == kDiscDvdRam || t == kDiscDvdPlusRw) {
    startSector = ReadVolumeSize();
    return true;
  }

  ReadDiscInfo();
  bool read = false;
  if (t == kDiscDvdRwRestricted || t == kDiscDvdRwSequential) {
    if (const auto track = ReadTrackInfo(1)) {
      read = true;
      if (track->NextWritableAddress != 0) startSector = track->NextWritableAddress;
    }
  } else if (const auto track = ReadTrackInfo(SessionCount() + 1u)) {
    read = true;
    startSector = track->NextWritableAddress;
  }
  if (startSector > kHighestAddress) startSector = 0;
  return read;
}

uint32_t TSCSIDevice::ReadVolumeSize() {
  // The primary and the Joliet descriptor carry the same size; whichever is found first.
  for (uint32_t sector = 32; sector >= 16; --sector) {
    if (const auto size = ReadVolumeDescriptorSize(sector)) return *size;
  }
  return 0;
}

}  // namespace brennix
