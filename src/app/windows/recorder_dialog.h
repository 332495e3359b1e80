// What the burn and erase dialogs share: a modal window on the host's recorders with a
// component of its own; the yellow header with the disc picture, the dialog's recorder
// control, Eject, Load and its start button; the dialog's options; the progress bar with
// Abort; the status line; and the timer that follows the work every half second.
#pragma once

#include "component/job.h"

#include <QDialog>

#include <memory>

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace brennix {

class TDialogHost;
class TKorbBurner;
enum class TrayMove;

class TRecorderDialog : public QDialog, protected TJobHandler {
  Q_OBJECT

 public:
  ~TRecorderDialog() override;
  // Selects the recorder on the dialog's own component, on a worker.
  virtual void Prepare() = 0;
  void cmdEjectClick();
  void cmdLoadClick();
  virtual void cmdAbortClick() = 0;
  virtual void tmrProgressTimer() = 0;
  // Ends the dialog without a question, as its Abort would: the window closes once the
  // drive is done.
  virtual void CloseWithoutAsking() = 0;

  QPushButton* cmdEject = nullptr;
  QPushButton* cmdLoad = nullptr;
  QProgressBar* prgProgress = nullptr;
  QPushButton* cmdAbort = nullptr;
  QLabel* lblBurnState = nullptr;
  QTimer* tmrProgress = nullptr;

 protected:
  TRecorderDialog(TDialogHost& host, QWidget* owner, const char* name, const char* caption);

  // The header: the recorder control first, then Eject, Load and the start button, which is
  // returned. A control that chooses (a combo box) takes the room left, up to 301 pixels,
  // rather than crowd the buttons; one that shows keeps 301, the room going to the buttons.
  // The dialog's options follow into options_.
  QPushButton* AddHeader(QWidget* control, const char* name, const char* startName,
                         const char* startText);
  // Below the options: the progress bar with Abort, and the status line.
  void AddProgress();
  // Eject or Load as a step of the dialog.
  virtual void StartTray(TrayMove move) = 0;

  TDialogHost& host_;
  // Destroyed after the derived dialogs' jobs and workers, which use it.
  std::unique_ptr<TKorbBurner> korb_;
  QVBoxLayout* options_ = nullptr;  // the dialog's choices, above the progress bar
  QHBoxLayout* status_ = nullptr;   // the row of the status line
  QVBoxLayout* body_ = nullptr;     // everything below the header
};

}  // namespace brennix
