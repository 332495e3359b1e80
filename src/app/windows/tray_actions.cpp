#include "app/windows/tray_actions.h"

#include "app/windows/background_task.h"
#include "app/windows/message_box.h"
#include "component/sequence_guard.h"
#include "device/scsi_device.h"

#include <atomic>
#include <memory>

namespace brennix {

namespace {

const char* HolderOf(TrayMove move) {
  return move == TrayMove::Eject ? "ejecting the disc" : "loading the disc";
}

}  // namespace

QString DriveHeldText(const std::string& holder) {
  return "The device is busy (" + QString::fromStdString(holder) +
         "). Please try again when it has finished.";
}

TDriveGuard AcquireDrive(QWidget* owner, const std::string& drive, const std::string& holder) {
  TDriveGuard guard = TDriveGuard::TryAcquire(drive, holder);
  if (!guard.Held() && !drive.empty() && owner != nullptr) {
    std::string other = TDriveGuard::Holder(drive);
    if (other.empty()) other = "busy";  // let go in the meantime; the next press will do
    ShowMessageBox(owner, QMessageBox::Warning, "Warning", DriveHeldText(other));
  }
  return guard;
}

TDriveGuard AcquireDrive(QWidget* owner, const TSCSIDevice& component, const std::string& holder) {
  return AcquireDrive(owner, component.Device(), holder);
}

bool StartDriveStep(QWidget* owner, const std::string& drive, const std::string& holder,
                    TBackgroundTask& task, std::function<void()> work, std::function<void()> done,
                    const TDriveGuard* held) {
  if (task.Running()) return false;
  auto guard = std::make_shared<TDriveGuard>();
  if (held == nullptr || !held->Held() || held->Drive() != drive) {
    *guard = AcquireDrive(owner, drive, holder);
    // No recorder selected: nothing to guard, and the step's commands are not sent anyway.
    if (!guard->Held() && !drive.empty()) return false;
  }
  return task.Start(
      [guard, work = std::move(work)] {
        if (work) work();
        guard->Release();
      },
      std::move(done));
}

bool StartDriveStep(QWidget* owner, const TSCSIDevice& component, const std::string& holder,
                    TBackgroundTask& task, std::function<void()> work, std::function<void()> done,
                    const TDriveGuard* held) {
  return StartDriveStep(owner, component.Device(), holder, task, std::move(work), std::move(done),
                        held);
}

bool StartTrayMove(QWidget* owner, TSCSIDevice& component, TrayMove move, TBackgroundTask& task,
                   std::function<void(bool moved)> done, std::function<void()> afterMove,
                   const TDriveGuard* held) {
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
          ShowMessageBox(owner, QMessageBox::Warning, "Warning", QString::fromStdString(TrayFailureText(move)));
      },
      held);
}

}  // namespace brennix
