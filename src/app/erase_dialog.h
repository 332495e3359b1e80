// The erase dialog: blanks the rewritable disc in a recorder of its own choosing. It owns
// its component, asks before it erases, follows the erase with a 500 ms timer and reports
// the end.
//
// Everything that asks the drive (listing and selecting recorders, the disc questions before
// an erase, starting it, the tray) runs on a worker while the dialog shows "Preparing..." and
// holds the recorder's guard. While an erase runs the recorder selector is locked and the
// window refuses to close: a blank or format that the drive runs cannot be stopped. "Abort" is enabled only while the
// program itself writes zeros over the disc (DVD+RW, DVD-RAM), which it can stop.
#pragma once

#include "app/background_task.h"
#include "component/drive_guard.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace brennix {

class TDialogHost;
class TKorbBurner;
class TSCSIDevice;
enum class TrayMove;

inline constexpr const char* kEraseCaption = "Erase CD or DVD";

class TfrmErase : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmErase(TDialogHost& host, QWidget* owner = nullptr);
  ~TfrmErase() override;

  // Lists the recorders and selects the first, on a worker.
  void Prepare();

  QComboBox* cmbDrives = nullptr;
  QPushButton* cmdEject = nullptr;
  QPushButton* cmdLoad = nullptr;
  QPushButton* cmdStartErase = nullptr;
  QCheckBox* chkQuickErase = nullptr;
  QProgressBar* prgProgress = nullptr;
  QPushButton* cmdAbort = nullptr;
  QLabel* lblBurnState = nullptr;
  QTimer* tmrProgress = nullptr;

  void cmbDrivesChange();
  void cmdStartEraseClick();
  void cmdAbortClick();
  void cmdEjectClick();
  void cmdLoadClick();
  void tmrProgressTimer();
  void korbEraseEraseDone(TSCSIDevice* Sender, bool WithError);

  TKorbBurner& korbErase() { return *korbErase_; }
  bool Erasing() const { return erasing_; }
  // A step talks to the drive: the buttons wait and the dialog shows "Preparing...".
  bool Busy() const { return driveTask_.Running(); }

 public slots:
  void reject() override;  // the close box and Esc

 private:
  void SetErasing(bool erasing);
  void SetBusy(bool busy);
  // The end of a step: the busy state goes. False when the dialog closed on it.
  bool StepDone();
  void StartTray(TrayMove move);
  // Runs work as a step holding the recorder's guard (refused with a message when another
  // step has it); done follows on this thread.
  bool StartStep(const std::string& drive, const std::string& holder, std::function<void()> work,
                 std::function<void()> done);
  void ConfirmErase(bool erasable);
  void StartErase(uint8_t blankType);

  TDialogHost& host_;
  std::unique_ptr<TKorbBurner> korbErase_;
  // After korbErase_: a step still running is waited for before the component goes.
  TBackgroundTask driveTask_;
  // Held from the disc questions before an erase until its end.
  TDriveGuard eraseGuard_;
  bool selectPending_ = false;  // the selector changed while a step ran
  bool closeWhenIdle_ = false;
  QString stateBefore_;  // the status line that "Preparing..." stands in for
  // The end of an erase reported before the step that starts it has ended; shown then.
  std::atomic<bool> startReported_{false};
  std::atomic<bool> startWithError_{false};
  bool erasing_ = false;
  bool stopping_ = false;
};

// Creates the dialog owned by owner, prepares and shows it modally; returns when it closed.
void ShowEraseDialog(TDialogHost& host, QWidget* owner);

}  // namespace brennix
