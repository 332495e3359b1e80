#include "device/tray_lock.h"

#include "device/scsi_device.h"

namespace brennix {

TDriveHold::TDriveHold(TSCSIDevice& device) : device_(device), backend_(device.SelectedBackend()) {
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
  const std::shared_ptr<DriveBackend> backend = device.SelectedBackend();
  if (!backend) return {};
  const DriveBusy busy = backend->Hold();
  if (busy.Free()) backend->Release();
  return busy;
}

bool UnmountRecorderDisc(TSCSIDevice& device, std::string& error) {
  const std::shared_ptr<DriveBackend> backend = device.SelectedBackend();
  if (!backend) return true;
  return UnmountDevice(backend->DevicePath(), error);
}

}  // namespace brennix
