#include "component/burner_drive.h"

#include "device/disc_types.h"
#include "device/cdb.h"
#include "transport/spti.h"

namespace brennix {

int16_t TBurnerDrive::GetDiscType() {
  const auto type = static_cast<int16_t>(device_.GetDiscType());
  DiscType.store(type);
  return type;
}

bool TBurnerDrive::ReadDiscInformation() { return device_.ReadDiscInfo().has_value(); }

bool TBurnerDrive::WaitReady(uint32_t budgetMs, uint32_t intervalMs) {
  return device_.WaitReady(static_cast<int32_t>(budgetMs), static_cast<int32_t>(intervalMs));
}

bool TBurnerDrive::SetWriteParameters(bool testWrite, bool underrunProtection, bool closeFlag,
                                      int16_t discType, bool finalizeDisc,
                                      bool lastSession) {
  // The page builder reads the device's "Close Disc" choice; this call's value is put in
  // place for it and the user's choice restored after.
  const bool keep = device_.FinalizeDisc;
  device_.FinalizeDisc = finalizeDisc;
  const bool ok = device_.SetWriteParameters(testWrite, underrunProtection, closeFlag, discType,
                                             lastSession);
  device_.FinalizeDisc = keep;
  return ok;
}

bool TBurnerDrive::SendTimestamp() { return device_.SendTimestamp(TimestampDigitsNow()); }

bool TBurnerDrive::ReadBufferCapacity() {
  uint32_t length = 0, blank = 0;
  const bool ok = device_.ReadBufferCapacity(length, blank);
  SetDeviceBufferSizes(length, ok ? blank : 0);
  return ok;
}

void TBurnerDrive::SetDeviceBufferSizes(uint32_t bufferSize, uint32_t freeSize) {
  device_.DeviceBufferSize = bufferSize;
  device_.DeviceFreeBufferSize = freeSize;
  bufferSize_.store(bufferSize);
  freeSize_.store(freeSize);
}

DriveBusy TBurnerDrive::HoldRecorder() {
  hold_.reset();
  auto hold = std::make_unique<TDriveHold>(device_);
  if (!hold->Held()) return hold->Busy();
  hold_ = std::move(hold);
  return {};
}

void TBurnerDrive::RecordingEnded() {
  // Whatever ended the recording, the tray is unlocked and the drive free for others.
  ReleaseRecorder();
  SetSPTICloseAfterCommand(true);
}

}  // namespace brennix
