// The burn dialog: turns the host's burn queue into a session on the disc in the recorder
// chosen there. It owns its component, asks before it writes, follows the recording with a
// 500 ms timer and locks the host's recorder selector while the disc is written.
//
// Closing while a recording runs asks whether to abort it; Yes aborts, waits for the end of
// the recording and then closes, so the component is never freed under its threads.
//
// Everything that waits for the drive or walks the sources (the drive check of Prepare, the
// checks and settings before a start, building the tree, the layout, the disc check and
// Burn's wait for the read-ahead cache) runs as a step on a worker, one at a time; the
// questions and messages come between the steps, on the interface thread, in the same order
// as before. While a step runs the dialog says "Preparing..." and shows a busy cursor, and
// closing it asks as for a running write. The recorder's drive guard is held for Prepare's
// check and from the first check of a start to the end of its recording.
#pragma once

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/background_task.h"
#include "component/drive_guard.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace brennix {

class TDialogHost;
class TKorbBurner;
struct DriveBusy;
struct QueueRow;
enum class SavePathMode;
enum class TrayMove;

inline constexpr const char* kBurnCaption = "Burn CD or DVD";

class TfrmBurn : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmBurn(TDialogHost& host, QWidget* owner = nullptr);
  ~TfrmBurn() override;

  // Selects the host's recorder on the dialog's own component.
  void Prepare();

  QLabel* lblDrive = nullptr;
  QPushButton* cmdEject = nullptr;
  QPushButton* cmdLoad = nullptr;
  QPushButton* cmdStartBurn = nullptr;
  QCheckBox* chkJoliet = nullptr;
  QCheckBox* chkCloseDisc = nullptr;
  QCheckBox* chkVerify = nullptr;  // off at first; the choice is kept in the settings
  QCheckBox* chkImportSession = nullptr;  // on at first; the choice is kept in the settings
  QProgressBar* prgProgress = nullptr;
  QPushButton* cmdAbort = nullptr;
  QLabel* lblBurnState = nullptr;
  QLabel* lblMBWritten = nullptr;
  QTimer* tmrProgress = nullptr;

  void cmdStartBurnClick();
  void cmdAbortClick();
  void cmdEjectClick();
  void cmdLoadClick();
  void tmrProgressTimer();
  void korbBurnWriteDone(TKorbBurner* Sender, const std::string& Error);

  TKorbBurner& korbBurn() { return *korbBurn_; }
  bool Writing() const { return writing_; }
  // A step runs on the worker, or a start is between its steps: the component belongs to the
  // worker or to the start until this is false.
  bool Busy() const { return step_->Running() || starting_; }

 public slots:
  void reject() override;  // the close box and Esc

 private:
  // The tree built from the queue, and what the start says about it.
  struct TreeBuild {
    std::string error;  // empty when the tree may be written, else why not
    std::vector<std::string> notes;  // a line for every source left out or renamed
    int leftOut = 0;
    int renamed = 0;
    bool empty = true;  // neither folders nor files
    int64_t kept = 0;   // files of the disc's last session kept in the new one
  };
  // Fills the tree from the queue rows with the program's one queue builder. On the worker.
  void AddQueueRows(const std::vector<QueueRow>& rows, SavePathMode mode, TreeBuild& build);
  void SetWriting(bool writing);

  // Runs work on the worker and then, back on this thread, next; a start that was cancelled
  // meanwhile ends instead of going on.
  void RunStep(std::function<void()> work, std::function<void()> next);
  void StepDone(const std::function<void()>& next);
  // The steps of a start, in order.
  void CheckRecorderFree();
  void RecorderChecked(const std::string& unmountError, const DriveBusy& busy);
  void BuildTree();
  void LayOut(const std::shared_ptr<TreeBuild>& tree);
  void ConfirmAndBurn(const std::string& refusal, const TreeBuild& tree);
  void BurnStarted(bool started);
  // Eject or Load as a step; the window closes only once the drive has answered.
  void StartTray(TrayMove move);
  // A start ends without a recording (a refusal, No, or a cancel).
  void EndStart();
  // The write-done event, on this thread; held back while Burn's step is still running.
  void WriteDoneArrived(const std::string& error);
  // Buttons, check boxes, cursor and the "Preparing..." look from the state.
  void UpdateControls();

  TDialogHost& host_;
  std::unique_ptr<TKorbBurner> korbBurn_;
  // After the component: it is destroyed first, and its destructor waits for the worker.
  std::unique_ptr<TBackgroundTask> step_ = std::make_unique<TBackgroundTask>();
  TDriveGuard guard_;            // the recorder, from the start's first check to the end
  std::atomic<bool> cancel_{false};  // closing asked the running start to stop
  bool canWrite_ = false;        // the recorder writes (Prepare's check)
  bool starting_ = false;        // between Start Burn and the recording (or giving up)
  bool writing_ = false;         // from the question's Yes until OnWriteDone
  bool aborting_ = false;        // Abort asked, OnWriteDone not yet here
  bool closeWhenDone_ = false;   // the user chose to abort and close
  bool askingClose_ = false;     // the close question is open
  bool trayMoving_ = false;      // Eject or Load is with the drive
  std::function<void()> afterQuestion_;  // a step's next part, held while the question is open
  int sectors_ = 0;              // the image's sectors, for the bar
  bool doneWaiting_ = false;     // a write-done that came while Burn's step still ran
  std::string doneError_;
  // Posted write-done events find the dialog through this; null once it is gone.
  std::shared_ptr<TfrmBurn*> alive_ = std::make_shared<TfrmBurn*>(this);
};

// Creates the dialog owned by owner, prepares and shows it modally; returns when it closed.
void ShowBurnDialog(TDialogHost& host, QWidget* owner);

}  // namespace brennix
