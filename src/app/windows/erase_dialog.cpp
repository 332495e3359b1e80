#include "app/windows/erase_dialog.h"

#include "app/windows/dialog_host.h"
#include "app/windows/dialog_support.h"
#include "app/windows/tray_actions.h"
#include "component/korb_burner.h"
#include "component/recorder_rules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace brennix {

namespace {

constexpr const char* kCannotStopHint =
    "The drive blanks or formats the disc by itself; this cannot be stopped.";
constexpr const char* kCanStopHint = "Stop writing zeros over the disc.";
constexpr const char* kReadingHolder = "reading the disc";
constexpr const char* kErasingHolder = "erasing";

}  // namespace

TfrmErase::TfrmErase(TDialogHost& host, QWidget* owner)
    : TRecorderDialog(host, owner, "frmErase", "Erase CD or DVD") {
  cmbDrives = new QComboBox(this);
  cmbDrives->setFont(QFont("Courier New"));
  cmdStartErase = AddHeader(cmbDrives, "cmbDrives", "cmdStartErase", "Start Erase");
  chkQuickErase = new QCheckBox("Quick Erase", this);
  chkQuickErase->setObjectName("chkQuickErase");
  chkQuickErase->setChecked(true);
  options_->addWidget(chkQuickErase);
  AddProgress();
  cmdAbort->setToolTip(kCannotStopHint);

  connect(cmbDrives, &QComboBox::currentIndexChanged, this, &TfrmErase::cmbDrivesChange);
  connect(cmdStartErase, &QPushButton::clicked, this, &TfrmErase::cmdStartEraseClick);
  setFixedHeight(sizeHint().height());
}

void TfrmErase::Prepare() {
  TKorbBurner& korb = *korb_;
  const std::vector<std::string> recorders = host_.VirtualRecorders();
  driveTask_.Start(
      [&korb, recorders] {
        SetUpDialogComponent(korb, recorders);
        if (korb.Devices.empty()) return;
        // A recorder that another step holds is selected once the user chooses it.
        const TDriveGuard guard = TDriveGuard::TryAcquire(korb.Devices.front(), kReadingHolder);
        if (guard.Held()) korb.SetDevice(korb.Devices.front());
      },
      [this] {
        {
          const QSignalBlocker quiet(cmbDrives);
          cmbDrives->clear();
          for (const std::string& entry : korb_->Devices)
            cmbDrives->addItem(QString::fromStdString(entry));
          if (cmbDrives->count() > 0) {
            cmbDrives->setCurrentIndex(0);
            cmbDrives->setToolTip(cmbDrives->currentText());
          }
        }
        StepDone();
      });
  SetState(State::Step);
}

bool TfrmErase::StartStep(const std::string& drive, const std::string& holder,
                          std::function<void()> work, std::function<void()> done) {
  if (state_ != State::Idle) return false;
  // The steps of an erase run under the guard the erase holds from its first question on.
  if (!StartDriveStep(this, drive, holder, driveTask_, std::move(work), std::move(done),
                      &eraseGuard_))
    return false;
  SetState(State::Step);
  return true;
}

void TfrmErase::SetState(State state) {
  const bool wasBusy = Busy();
  state_ = state;
  const int value = prgProgress->value();
  if (Busy() && !wasBusy) {
    stateBefore_ = lblBurnState->text();
    lblBurnState->setText("Preparing...");
    prgProgress->setRange(0, 0);  // indeterminate: the drive does not say how long
    setCursor(Qt::BusyCursor);
  } else if (!Busy() && wasBusy) {
    lblBurnState->setText(stateBefore_);
    prgProgress->setRange(0, 100);
    unsetCursor();
  }
  prgProgress->setValue(std::max(0, value));
  const bool idle = state_ == State::Idle;
  const bool recorder = cmbDrives->count() > 0;  // no tray to move without one
  cmdEject->setEnabled(idle && recorder);
  cmdLoad->setEnabled(idle && recorder);
  cmdStartErase->setEnabled(idle && RecorderWrites(*korb_));
  cmbDrives->setEnabled(idle);
  const bool stoppable = state_ == State::Erasing && stoppable_;
  cmdAbort->setEnabled(stoppable);
  cmdAbort->setToolTip(stoppable ? kCanStopHint : kCannotStopHint);
}

bool TfrmErase::StepDone() {
  SetState(State::Idle);
  if (closeWhenIdle_) {
    eraseGuard_.Release();
    QDialog::reject();
    return false;
  }
  if (selectPending_ && !eraseGuard_.Held()) {
    selectPending_ = false;
    cmbDrivesChange();
  }
  return true;
}

void TfrmErase::cmbDrivesChange() {
  if (state_ != State::Idle) {
    if (state_ == State::Step) selectPending_ = true;
    return;
  }
  const QString entry = cmbDrives->currentText();
  cmbDrives->setToolTip(entry);
  TKorbBurner& korb = *korb_;
  const std::string drive = entry.toStdString();
  // Refused (the recorder is busy elsewhere): nothing may be erased on it until chosen again.
  if (!StartStep(drive, kReadingHolder, [&korb, drive] { korb.SetDevice(drive); },
                 [this] { StepDone(); }))
    cmdStartErase->setEnabled(false);
}

void TfrmErase::cmdStartEraseClick() {
  if (state_ != State::Idle) return;
  const QString entry = cmbDrives->currentText();
  cmbDrives->setToolTip(entry);
  const std::string drive = entry.toStdString();
  eraseGuard_ = AcquireDrive(this, drive, kErasingHolder);
  if (!eraseGuard_.Held() && !drive.empty()) return;
  TKorbBurner& korb = *korb_;
  const bool full = !chkQuickErase->isChecked();
  // The recorder shown is the one erased: select it again, then the job takes it.
  const bool started = StartStep(drive, kErasingHolder, [&korb, drive] { korb.SetDevice(drive); },
                                 [this, full] {
                                   if (!StepDone()) return;
                                   job_.reset();
                                   job_ = std::make_unique<TEraseJob>(*korb_, static_cast<TJobHandler&>(*this), full);
                                   stoppable_ = false;
                                   lastPercent_ = 0;
                                   SetState(State::Starting);
                                   job_->Start();
                                 });
  if (!started) eraseGuard_.Release();
}

void TfrmErase::Ask(const TJobQuestion& question, std::function<void(bool)> answer) {
  if (closeWhenIdle_) {
    answer(false);
    return;
  }
  const bool erase = question.Kind == TQuestionKind::Erase;
  const bool yes = AskYesNo(this, erase ? QMessageBox::Warning : QMessageBox::Question,
                            DialogText(question.Text), erase ? QMessageBox::No : QMessageBox::Yes);
  if (yes && erase) {
    prgProgress->setValue(0);
    SetState(State::Launching);
  }
  answer(yes);
}

void TfrmErase::Tell(const TJobMessage& message) {
  if (message.Text.empty() || message.Kind == TMessageKind::Information) return;
  ShowMessage(this, QMessageBox::Warning, "Warning", DialogText(message.Text),
              LinesText(message.Details));
}

void TfrmErase::Progress(const TJobProgress& progress) {
  stoppable_ = progress.Stoppable;
  if (state_ == State::Launching) {
    SetState(State::Erasing);
    lblBurnState->setText("Erasing Data...");
    prgProgress->setValue(0);
    tmrProgress->start();
  }
  lastPercent_ = std::max(lastPercent_, progress.Percent);
  // The estimate may fall back when the drive reports less; the bar does not.
  if (progress.Percent >= prgProgress->value()) prgProgress->setValue(progress.Percent);
  if (state_ == State::Erasing) SetState(State::Erasing);
}

void TfrmErase::tmrProgressTimer() {
  // The job reports every half second; the bar and the Abort button follow its last word.
  if (state_ == State::Erasing) SetState(State::Erasing);
}

void TfrmErase::Done(const TJobResult& result) {
  eraseGuard_.Release();
  tmrProgress->stop();
  const bool failed = result.Outcome == TJobOutcome::Failed;
  const bool erased = failed || result.Outcome == TJobOutcome::Completed;
  if (erased) {
    lblBurnState->setText(QString::fromStdString(result.Text));
    stateBefore_ = lblBurnState->text();
    // The bar says "done" only of an erase that ended well.
    prgProgress->setValue(failed ? std::max(0, std::min(lastPercent_, 99))
                                 : prgProgress->maximum());
  }
  stoppable_ = false;
  if (StepDone() && erased) TellJobEnd(this, "Erase", result, "The drive said: ", {});
}

void TfrmErase::cmdAbortClick() {
  if (state_ != State::Erasing || !stoppable_) return;
  SetState(State::Stopping);
  lblBurnState->setText("Stopping the erase...");
  job_->Cancel();
}

void TfrmErase::CloseWithoutAsking() {
  if (state_ == State::Idle) {
    QDialog::reject();
    return;
  }
  closeWhenIdle_ = true;
  if (state_ == State::Erasing && stoppable_) cmdAbortClick();
}

void TfrmErase::StartTray(TrayMove move) {
  if (state_ != State::Idle) return;
  if (StartTrayMove(this, *korb_, move, driveTask_, [this](bool) { StepDone(); }))
    SetState(State::Step);
}


void TfrmErase::reject() {
  if (Erasing()) {
    lblBurnState->setText("Erasing Data... The erase must finish before this window can close.");
    return;
  }
  if (state_ == State::Idle) {
    QDialog::reject();
    return;
  }
  // A command half sent leaves the drive in a state nobody knows: the step ends first.
  closeWhenIdle_ = true;
  stateBefore_ = "Preparing... The window closes once the drive has answered.";
  lblBurnState->setText(stateBefore_);
}

}  // namespace brennix
