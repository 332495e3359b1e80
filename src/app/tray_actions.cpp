#include "app/tray_actions.h"

#include "app/message_box.h"
#include "device/scsi_device.h"

#include <QApplication>

namespace brennix {

namespace {
constexpr uint32_t kFlushTimeoutMs = 300000;
}

bool EjectDevice(QWidget* owner, TSCSIDevice& component) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Whatever the drive still holds in its cache goes to the disc before the tray opens.
  component.SynchronizeCache(kFlushTimeoutMs, false);
  component.PreventAllowRemoval(true);
  const bool ejected = component.StartStopUnit(true);
  QApplication::restoreOverrideCursor();
  if (!ejected)
    ShowMessageBox(owner, QMessageBox::Warning, "Warning", "Unable to eject the device.");
  return ejected;
}

bool LoadDevice(QWidget* owner, TSCSIDevice& component) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool loaded = component.StartStopUnit(false);
  QApplication::restoreOverrideCursor();
  if (!loaded) ShowMessageBox(owner, QMessageBox::Warning, "Warning", "Unable to load the device.");
  return loaded;
}

}  // namespace brennix
