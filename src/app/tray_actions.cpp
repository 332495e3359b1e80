#include "app/tray_actions.h"

#include "app/dialog_support.h"
#include "device/scsi_device.h"

#include <QMessageBox>

namespace brennix {

namespace {
constexpr uint32_t kFlushTimeoutMs = 300000;
}

bool EjectDevice(QWidget* owner, TSCSIDevice& component) {
  // Whatever the drive still holds in its cache goes to the disc before the tray opens.
  component.SynchronizeCache(kFlushTimeoutMs, false);
  component.PreventAllowRemoval(true);
  if (component.StartStopUnit(true)) return true;
  ShowMessage(owner, QMessageBox::Warning, "Warning", "Unable to eject the device.");
  return false;
}

bool LoadDevice(QWidget* owner, TSCSIDevice& component) {
  if (component.StartStopUnit(false)) return true;
  ShowMessage(owner, QMessageBox::Warning, "Warning", "Unable to load the device.");
  return false;
}

}  // namespace brennix
