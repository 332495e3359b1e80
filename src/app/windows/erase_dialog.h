// The erase dialog: blanks the rewritable disc in a recorder of its own choosing. It owns
// its component and runs the erase job on it: the job checks, asks, erases and reports the
// end; the dialog shows its questions and follows the erase with a 500 ms timer.
//
// Everything that asks the drive (listing and selecting recorders, the disc questions before
// an erase, starting it, the tray) runs on a worker while the dialog shows "Preparing..." and
// holds the recorder's guard. While an erase runs the recorder selector is locked and the
// window refuses to close: a blank or format that the drive runs cannot be stopped. "Abort" is enabled only while the
// program itself writes zeros over the disc (DVD+RW, DVD-RAM), which it can stop.
#pragma once

#include "app/windows/background_task.h"
#include "app/windows/recorder_dialog.h"
#include "component/erase_job.h"
#include "component/sequence_guard.h"

#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;

namespace brennix {

class TfrmErase : public TRecorderDialog {
  Q_OBJECT

 public:
  explicit TfrmErase(TDialogHost& host, QWidget* owner = nullptr);

  // Lists the recorders and selects the first.
  void Prepare() override;

  QComboBox* cmbDrives = nullptr;
  QPushButton* cmdStartErase = nullptr;
  QCheckBox* chkQuickErase = nullptr;

  void cmbDrivesChange();
  void cmdStartEraseClick();

  TKorbBurner& korbErase() { return *korb_; }
  // The drive blanks, formats or is filled with zeros.
  bool Erasing() const {
    return state_ == State::Launching || state_ == State::Erasing || state_ == State::Stopping;
  }
  // A step or the erase job talks to the drive before the erase itself has begun.
  bool Busy() const {
    return state_ == State::Step || state_ == State::Starting || state_ == State::Launching;
  }

 public slots:
  void reject() override;  // the close box and Esc

 private:
  void cmdAbortClick() override;
  void tmrProgressTimer() override;
  // An erase that writes zeros is stopped, one the drive runs is let finish.
  void CloseWithoutAsking() override;

  enum class State {
    Idle,
    Step,      // listing, selecting, the tray
    Starting,   // the erase job's checks and question
    Launching,  // Yes was said; the drive is getting ready to erase
    Erasing,
    Stopping,  // Abort was asked of an erase that writes zeros
  };

  // The erase job's events, on this thread.
  void Ask(const TJobQuestion& question, std::function<void(bool)> answer) override;
  void Tell(const TJobMessage& message) override;
  void Progress(const TJobProgress& progress) override;
  void Done(const TJobResult& result) override;

  void SetState(State state);
  // Runs work as a step holding the recorder's guard (refused with a message when another
  // step has it); done follows on this thread.
  bool StartStep(const std::string& drive, const std::string& holder, std::function<void()> work,
                 std::function<void()> done);
  // The end of a step or of the job: idle again. False when the dialog closed on it.
  bool StepDone();
  void StartTray(TrayMove move) override;

  // Held from the disc questions before an erase until its end.
  TDriveGuard eraseGuard_;
  // Destroyed in reverse: a job still running here (the program is going away) ends first,
  // then a step is waited for, then the guard they ran under goes, and the component last.
  // An erase the drive runs is stopped and joined by the component's destructor, which then
  // reports nothing.
  TBackgroundTask driveTask_;
  std::unique_ptr<TEraseJob> job_;
  State state_ = State::Idle;
  bool selectPending_ = false;  // the selector changed while a step ran
  bool closeWhenIdle_ = false;
  QString stateBefore_;  // the status line that "Preparing..." stands in for
  bool stoppable_ = false;
  int lastPercent_ = 0;  // the erase's progress as last reported
};

}  // namespace brennix
