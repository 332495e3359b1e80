// The burn dialog: turns the host's burn queue into a session on the disc in the recorder
// chosen there. It owns its component and runs the burn job on it: the job checks, builds,
// asks and records; the dialog shows its questions and messages, follows the recording and
// locks the host's recorder selector while the disc is written.
//
// Closing while a start or a recording runs asks whether to abort it; Yes aborts, waits for
// the end and then closes, so the component is never freed under its threads. While the
// job works before its writer runs the dialog says "Preparing..." with a busy cursor. The
// recorder's drive guard is held for Prepare's check and from a start to its end.
//
// A failure says so first: its box has the error icon, the plain line of what happened, the
// disc's state and what to do next, and the drive's words under Details; the status line
// and the bar stay where the burn ended. After a success "Start Burn" waits until an option
// or the disc changes, so that one more click does not write it all again. The end raises a
// desktop notice when the window is not the active one.
#pragma once

#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <vector>

#include "app/windows/background_task.h"
#include "app/windows/recorder_dialog.h"
#include "component/burn_job.h"
#include "component/sequence_guard.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace brennix {

class TfrmBurn : public TRecorderDialog {
  Q_OBJECT

 public:
  explicit TfrmBurn(TDialogHost& host, QWidget* owner = nullptr);
  ~TfrmBurn() override;

  void Prepare() override;

  QLabel* lblDrive = nullptr;
  QPushButton* cmdStartBurn = nullptr;
  QCheckBox* chkJoliet = nullptr;
  QCheckBox* chkCloseDisc = nullptr;
  QCheckBox* chkVerify = nullptr;  // off at first; the choice is kept in the settings
  QCheckBox* chkImportSession = nullptr;  // on at first; the choice is kept in the settings
  QCheckBox* chkTestWrite = nullptr;  // enabled where the drive and the disc can simulate
  QCheckBox* chkEjectWhenDone = nullptr;  // off at first; the choice is kept in the settings
  QCheckBox* chkChecksums = nullptr;  // off at first; the choice is kept in the settings
  QComboBox* cmbSpeed = nullptr;  // "Fastest", then the drive's write speeds (data: KB/s)
  // The other recorders, each with a check box: the checked ones write the same disc at the
  // same time. Shown only where there are others; while they write, each line says how far.
  QListWidget* lstRecorders = nullptr;
  QLabel* lblMBWritten = nullptr;
  QLabel* lblFigures = nullptr;  // speed, elapsed time, time left, the drive buffer's fill
  QPushButton* cmdClose = nullptr;

  void cmdStartBurnClick();

  TKorbBurner& korbBurn() { return *korb_; }
  // From the question's Yes until the end of the recording.
  bool Writing() const {
    return state_ == State::Sending || state_ == State::Writing || state_ == State::Aborting;
  }
  // A burn has just succeeded: "Start Burn" waits until an option or the disc changes.
  bool Finished() const { return finished_; }
  // The component belongs to a worker (a check, the tray, a start before its writer runs).
  bool Busy() const {
    return state_ == State::Checking || state_ == State::Tray || state_ == State::Starting ||
           state_ == State::Sending;
  }

 public slots:
  void reject() override;  // the close box and Esc

 private:
  void cmdAbortClick() override;
  void tmrProgressTimer() override;
  // A start or a recording is aborted as Abort does.
  void CloseWithoutAsking() override;

  enum class State {
    Idle,
    Checking,  // Prepare's look at the recorder
    Tray,      // Eject or Load is with the drive
    Starting,  // the burn job, before its question is answered
    Sending,   // Yes was said; the recording fills its cache
    Writing,   // the writer runs
    Aborting,  // Abort was asked; the end has not come yet
  };

  // The burn job's events, on this thread.
  void Ask(const TJobQuestion& question, std::function<void(bool)> answer) override;
  void Tell(const TJobMessage& message) override;
  void Progress(const TJobProgress& progress) override;
  void Done(const TJobResult& result) override;

  void SetState(State state);
  // Buttons, check boxes, cursor and the "Preparing..." look from the state.
  void UpdateControls();
  // Eject or Load as a step; the window closes only once the drive has answered.
  // discChanged: a move the user asked for, after which a finished burn may start again.
  void StartTray(TrayMove move) override { TrayStep(move, true); }
  void TrayStep(TrayMove move, bool discChanged);
  // The window closes once the work has ended: a start or a recording is aborted first.
  void CloseWhenDone();
  // Back to idle after a start or a step; closes the window when that was asked.
  void BackToIdle();
  // What the check on the worker found of the disc: its write speeds and whether it can be
  // simulated; fills the speed choice and the test write box.
  struct DiscLook {
    int16_t type = 0;
    std::vector<uint16_t> speeds;
    bool simulate = false;
  };
  static DiscLook LookAtDisc(TKorbBurner& burner);
  void ApplyDiscLook(const DiscLook& look);
  // An option or the disc changed: a finished burn may be started again.
  void OptionsChanged();
  // The progress figures line from the last report.
  void ShowFigures();

  // The recorders checked in lstRecorders when the burn started, each with its own
  // component and hold, kept until the next start.
  struct MoreRecorder {
    std::unique_ptr<TKorbBurner> burner;
    TDriveGuard guard;
    QListWidgetItem* item = nullptr;
    QString entry;
  };
  // Fills lstRecorders with every recorder but this dialog's.
  void ListMoreRecorders(const QString& own);
  // Components for the checked recorders; false (after telling why) when one is held.
  bool TakeMoreRecorders();
  void ShowRecorderLines();

  std::vector<MoreRecorder> more_;
  // After the component: they are destroyed first, and wait for their workers.
  std::unique_ptr<TBackgroundTask> step_ = std::make_unique<TBackgroundTask>();
  std::unique_ptr<TBurnJob> job_;
  TDriveGuard guard_;  // the recorder, from the start's first check to the end
  State state_ = State::Checking;
  bool canWrite_ = false;       // the recorder writes (Prepare's check)
  bool closeWhenDone_ = false;  // the user chose to close (and abort)
  bool askingClose_ = false;    // the close question is open: the job's events wait
  std::vector<std::function<void()>> held_;  // those events, in order
  TJobProgress progress_;       // the recording as last reported
  bool finished_ = false;       // a burn succeeded and nothing changed since
  bool simulate_ = false;       // the drive and the disc can simulate
  QElapsedTimer clock_;         // from the start of the writing
  std::vector<std::pair<qint64, int64_t>> samples_;  // (ms, bytes) of the last seconds
};

}  // namespace brennix
