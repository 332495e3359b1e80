#include "app/tray_actions.h"

#include "app/background_task.h"
#include "app/message_box.h"
#include "component/drive_guard.h"
#include "device/scsi_device.h"

#include <QApplication>

#include <atomic>
#include <memory>

namespace brennix {

namespace {

constexpr uint32_t kFlushTimeoutMs = 300000;

const char* HolderOf(TrayMove move) {
  return move == TrayMove::Eject ? "ejecting the disc" : "loading the disc";
}

bool MoveTrayGuarded(QWidget* owner, TSCSIDevice& component, TrayMove move) {
  TDriveGuard guard = AcquireDrive(owner, component, HolderOf(move));
  if (!guard.Held()) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool moved = MoveTray(component, move);
  guard.Release();
  QApplication::restoreOverrideCursor();
  if (!moved) ShowMessageBox(owner, QMessageBox::Warning, "Warning", TrayFailureText(move));
  return moved;
}

}  // namespace

bool MoveTray(TSCSIDevice& component, TrayMove move) {
  if (move == TrayMove::Load) return component.StartStopUnit(false);
  // Whatever the drive still holds in its cache goes to the disc before the tray opens.
  component.SynchronizeCache(kFlushTimeoutMs, false);
  component.PreventAllowRemoval(true);
  return component.StartStopUnit(true);
}

QString TrayFailureText(TrayMove move) {
  return move == TrayMove::Eject ? "Unable to eject the device." : "Unable to load the device.";
}

QString DriveHeldText(const std::string& holder) {
  return "The device is busy (" + QString::fromStdString(holder) +
         "). Please try again when it has finished.";
}

TDriveGuard AcquireDrive(QWidget* owner, const TSCSIDevice& component, const std::string& holder) {
  const std::string& drive = component.Device();
  TDriveGuard guard = TDriveGuard::TryAcquire(drive, holder);
  if (!guard.Held() && !drive.empty() && owner != nullptr) {
    std::string other = TDriveGuard::Holder(drive);
    if (other.empty()) other = "busy";  // let go in the meantime; the next press will do
    ShowMessageBox(owner, QMessageBox::Warning, "Warning", DriveHeldText(other));
  }
  return guard;
}

bool StartDriveStep(QWidget* owner, const TSCSIDevice& component, const std::string& holder,
                    TBackgroundTask& task, std::function<void()> work, std::function<void()> done) {
  if (task.Running()) return false;
  // No recorder selected: nothing to guard, and the step's commands are not sent anyway.
  auto guard = std::make_shared<TDriveGuard>(AcquireDrive(owner, component, holder));
  if (!guard->Held() && !component.Device().empty()) return false;
  return task.Start(
      [guard, work = std::move(work)] {
        if (work) work();
        guard->Release();
      },
      std::move(done));
}

bool StartTrayMove(QWidget* owner, TSCSIDevice& component, TrayMove move, TBackgroundTask& task,
                   std::function<void(bool moved)> done, std::function<void()> afterMove) {
  auto moved = std::make_shared<std::atomic<bool>>(false);
  return StartDriveStep(
      owner, component, HolderOf(move), task,
      [&component, move, moved, afterMove = std::move(afterMove)] {
        moved->store(MoveTray(component, move));
        if (afterMove) afterMove();
      },
      [owner, move, moved, done = std::move(done)] {
        if (done) done(moved->load());
        if (!moved->load())
          ShowMessageBox(owner, QMessageBox::Warning, "Warning", TrayFailureText(move));
      });
}

bool EjectDevice(QWidget* owner, TSCSIDevice& component) {
  return MoveTrayGuarded(owner, component, TrayMove::Eject);
}

bool LoadDevice(QWidget* owner, TSCSIDevice& component) {
  return MoveTrayGuarded(owner, component, TrayMove::Load);
}

}  // namespace brennix
