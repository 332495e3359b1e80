#include "device/drive_hold.h"

#include "device/scsi_device.h"
#include "transport/aspi.h"
#include "transport/spti.h"

namespace brennix {

namespace {

// A manager library gives no way to the drive's node: there is nothing to hold then.
std::shared_ptr<DriveBackend> SelectedBackend(const TSCSIDevice& device) {
  if (!ASPIUsesEmulation()) return nullptr;
  return SPTIBackend(device.HaId, device.Target, device.Lun);
}

}  // namespace

TDriveHold::TDriveHold(TSCSIDevice& device) : device_(device), backend_(SelectedBackend(device)) {
  if (backend_) busy_ = backend_->Hold();
  if (!busy_.Free()) {
    backend_.reset();
    return;
  }
  device_.PreventAllowRemoval(false);
}

TDriveHold::~TDriveHold() {
  if (!busy_.Free()) return;
  if (allowOnRelease_) device_.PreventAllowRemoval(true);
  if (backend_) backend_->Release();
}

DriveBusy RecorderBusy(TSCSIDevice& device) {
  const std::shared_ptr<DriveBackend> backend = SelectedBackend(device);
  if (!backend) return {};
  const DriveBusy busy = backend->Hold();
  if (busy.Free()) backend->Release();
  return busy;
}

bool UnmountRecorderDisc(TSCSIDevice& device, std::string& error) {
  const std::shared_ptr<DriveBackend> backend = SelectedBackend(device);
  if (!backend) return true;
  return UnmountDevice(backend->DevicePath(), error);
}

}  // namespace brennix
