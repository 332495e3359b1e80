// The questions a recording asks before its first command that changes the disc: is there a
// disc, can it be written (and simulated, when asked), is it still open, and does the image
// fit into the room left.
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "platform/clock.h"
#include "device/disc_types.h"
#include "platform/disc_units.h"
#include "recording/write_preparation.h"

namespace brennix {

namespace {

constexpr uint8_t kNoMediumAsc = 0x3A;
constexpr uint8_t kNotReadyAsc = 0x04;

// A drive still at work (a disc just put in, a command of another program) answers BUSY or
// NOT READY, "becoming ready" and its kin, for a while. It gets that while, within budgetMs.
void WaitWhileDriveWorks(TSCSIDevice& drive, uint32_t budgetMs) {
  const uint64_t start = TickCount();
  while (!drive.TestUnitReady(5000)) {
    const bool working = drive.TargetBusy.load() || drive.LastSense[12] == kNotReadyAsc;
    if (!working || TickCount() - start >= budgetMs) return;
    SleepMs(250);
  }
}

}  // namespace

std::string NotEnoughSpaceText(int64_t neededSectors, int64_t freeSectors) {
  return "NOT ENOUGH SPACE ON THE DISC: " + MegabytesText(neededSectors * kSectorSize) +
         " NEEDED, " + MegabytesText(freeSectors * kSectorSize) + " FREE";
}

int64_t SectorsOccupied(int16_t discType, int64_t sectorsToWrite) {
  const int64_t block = WriteBlockBytes(discType) == kDVDBlockBytes ? 32 : 1;
  return (sectorsToWrite + block - 1) / block * block;
}

std::string TKorbBurner::CheckDiscForImage() {
  auto type = static_cast<int16_t>(GetDiscType());
  if (type == kDiscUnknown && !TestUnitReady(5000) &&
      (LastSense[12] == kNotReadyAsc || TargetBusy.load())) {
    WaitWhileDriveWorks(*this, 30000);
    type = static_cast<int16_t>(GetDiscType());
  }
  if (type == kDiscUnknown) {
    return !TestUnitReady(5000) && LastSense[12] == kNoMediumAsc ? kNoDiscText
                                                                : kDiscNotWritableText;
  }
  DiscType.store(type);
  if (!IsWritableDiscType(type)) return kDiscNotWritableText;
  const int status = DiscStatus();
  if (IsSequentialRecording(type) && status == 2) return kDiscClosedText;
  // Its sessions would be lost to the format that makes it writable here.
  if (type == kDiscDvdRwSequential && status > 0) return kSequentialDVDRWText;
  if (TestWrite && (!CanSimulate(type) || (Capabilities & cap::TestWriteCapable) == 0))
    return kCannotSimulateText;

  uint32_t start = 0;
  std::optional<uint32_t> free;
  if (!imageFile_.empty()) {
    // An image goes to sector 0: a write-once disc must be blank, a rewritable one is
    // written over from its start.
    if (IsSequentialRecording(type) && status != 0) return kImageNeedsBlankText;
    free = FreeBlocksFrom(type, 0);
  } else if (ReadStartAddress(type, start)) {
    free = FreeBlocksFrom(type, start);
  }
  if (!free) {
    TSCSIDevice::DebugMessage(">>> FREE SPACE UNKNOWN: THE IMAGE IS NOT CHECKED AGAINST IT", 1);
    return std::string();
  }
  const int64_t needed = SectorsOccupied(type, SectorsToWrite());
  if (needed > static_cast<int64_t>(*free)) return NotEnoughSpaceText(needed, *free);
  return std::string();
}

}  // namespace brennix
