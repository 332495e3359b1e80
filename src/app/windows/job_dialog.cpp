#include "app/windows/job_dialog.h"

#include "app/windows/dialog_support.h"
#include "app/windows/tray_actions.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "platform/disc_units.h"
#include "recording/writer_thread.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brennix {

TJobDialog::TJobDialog(QWidget* owner, const char* name, const char* caption, TPhaseWords words)
    : QDialog(owner), words_(words) {
  setObjectName(name);
  setWindowTitle(caption);
}

// The derived dialogs end the job (which joins its worker) before their components go.
TJobDialog::~TJobDialog() = default;

QHBoxLayout* TJobDialog::AddJobControls(QVBoxLayout* layout, const char* startText) {
  prgProgress = new QProgressBar(this);
  prgProgress->setObjectName("prgProgress");
  prgProgress->setRange(0, 100);
  prgProgress->setValue(0);
  layout->addWidget(prgProgress);
  auto* status = new QHBoxLayout;
  lblStatus = new QLabel("Ready", this);
  lblStatus->setObjectName("lblStatus");
  lblStatus->setWordWrap(true);
  status->addWidget(lblStatus, 1);
  layout->addLayout(status);
  auto* buttons = new QHBoxLayout;
  cmdStart = MakeButton(this, "cmdStart", startText, 100, 25);
  cmdAbort = MakeButton(this, "cmdAbort", "Abort", 80, 25);
  cmdClose = MakeButton(this, "cmdClose", "Close", 80, 25);
  buttons->addStretch();
  for (QPushButton* button : {cmdStart, cmdAbort, cmdClose}) buttons->addWidget(button);
  layout->addLayout(buttons);
  cmdAbort->setEnabled(false);
  connect(cmdStart, &QPushButton::clicked, this, [this] { cmdStartClick(); });
  connect(cmdAbort, &QPushButton::clicked, this, &TJobDialog::cmdAbortClick);
  connect(cmdClose, &QPushButton::clicked, this, &TJobDialog::reject);
  return status;
}

void TJobDialog::AddSettings(std::initializer_list<QWidget*> widgets) {
  for (QWidget* widget : widgets)
    if (widget != nullptr) settings_.push_back(widget);
}

void TJobDialog::SetRunning(bool running) {
  cmdStart->setEnabled(!running && CanStart());
  for (QWidget* widget : settings_) widget->setEnabled(!running);
  cmdAbort->setEnabled(running);
}

std::string TJobDialog::RecorderEntry(const TKorbBurner& korb, const std::string& recorder) {
  for (const std::string& entry : korb.Devices)
    if (entry == recorder) return entry;
  for (const std::string& entry : korb.Devices)
    if (!recorder.empty() && entry.find(recorder) != std::string::npos) return entry;
  return korb.Devices.empty() ? std::string() : korb.Devices.front();
}

void TJobDialog::SayNoRecorder() {
  ShowMessage(this, QMessageBox::Critical, "Error", "No CD or DVD recorder found.");
}

bool TJobDialog::HoldRecorders(const std::vector<std::string>& drives, const std::string& holder) {
  guards_.clear();
  for (const std::string& drive : drives) {
    if (!guards_.empty() && guards_.front().Drive() == drive) continue;
    TDriveGuard guard = AcquireDrive(this, drive, holder);
    if (!guard.Held()) {
      guards_.clear();
      return false;
    }
    guards_.push_back(std::move(guard));
  }
  return true;
}

void TJobDialog::LetRecordersGo() { guards_.clear(); }

bool TJobDialog::ReadyToWrite(TKorbBurner& korb) {
  if (const QString why = WhyNoWriting(korb); !why.isEmpty()) {
    LetRecordersGo();
    ShowMessage(this, QMessageBox::Warning, "Warning", why);
    return false;
  }
  ApplyRecordingPreset(korb);
  return true;
}

void TJobDialog::StartJob(std::unique_ptr<TJob> job) {
  job_ = std::move(job);
  prgProgress->setValue(0);
  lblStatus->setText("Preparing...");
  SetRunning(true);
  if (!job_->Start()) {
    job_.reset();
    LetRecordersGo();
    SetRunning(false);
    lblStatus->setText("Ready");
  }
}

void TJobDialog::cmdAbortClick() {
  if (!job_) return;
  job_->Cancel();
  lblStatus->setText("Aborting...");
}

void TJobDialog::reject() {
  if (!job_) {
    QDialog::reject();
    return;
  }
  // A job that runs is stopped first; the window closes at its end.
  closeWhenDone_ = true;
  cmdAbortClick();
}

void TJobDialog::Ask(const TJobQuestion& question, std::function<void(bool)> answer) {
  if (closeWhenDone_) {
    answer(false);
    return;
  }
  QStringList notes;
  for (const std::string& note : question.Notes) notes << QString::fromStdString(note);
  answer(AskYesNo(this, QMessageBox::Question, DialogText(question.Text), QMessageBox::Yes,
                  notes.join(' ')));
}

void TJobDialog::Tell(const TJobMessage& message) {
  if (closeWhenDone_) return;
  // What the job asks the person to do, or has done on the way, is shown in the window.
  if (message.Kind == TMessageKind::Information) {
    lblStatus->setText(QString::fromStdString(message.Text));
    return;
  }
  const bool error = message.Kind == TMessageKind::Error;
  ShowMessage(this, error ? QMessageBox::Critical : QMessageBox::Warning, error ? "Error" : "Warning",
              DialogText(message.Text), LinesText(message.Details));
}

void TJobDialog::Progress(const TJobProgress& p) {
  if (p.Phase == TJobPhase::Preparing) return;  // the status says what is waited for
  if (p.Phase == TJobPhase::Verifying) {
    lblStatus->setText(QString(words_.Verifying) +
                       (p.Percent >= 0 ? " " + QString::number(p.Percent) + " %" : QString()));
    prgProgress->setValue(std::max(0, p.Percent));
    return;
  }
  if (p.BytesTotal > 0) {
    prgProgress->setValue(static_cast<int>(p.BytesDone * 100 / p.BytesTotal));
    const char* what = p.Phase == TJobPhase::Reading ? words_.Reading : words_.Writing;
    lblStatus->setText(QString(what) + " " +
                       QString::fromStdString(MBWrittenText(p.BytesDone, p.BytesTotal / kSectorSize)));
  }
  if (p.Phase == TJobPhase::Finalizing) lblStatus->setText("Finalizing...");
  if (p.Phase == TJobPhase::Aborting) lblStatus->setText("Aborting...");
}

void TJobDialog::Done(const TJobResult& result) {
  job_.reset();
  if (!StepRunning()) LetRecordersGo();
  SetRunning(false);
  const bool ok = result.Outcome == TJobOutcome::Completed;
  const bool failed = result.Outcome == TJobOutcome::Failed;
  if (!ok) prgProgress->setValue(0);
  lblStatus->setText(ok                                 ? "Done"
                     : result.Error == kAbortedByUser ? "Stopped"
                     : failed                         ? "Failed"
                                                      : "Ready");
  if (closeWhenDone_) {
    QDialog::reject();
    return;
  }
  QStringList lines;
  for (const std::string& line : result.Summary) lines << QString::fromStdString(line);
  if (ok) {
    ShowMessage(this, QMessageBox::Information, "Ready",
                doneText_.isEmpty() ? QString::fromStdString(result.Text) : doneText_,
                lines.join('\n'));
  } else if (failed) {
    QStringList problems;
    for (const std::string& line : result.Problems) problems << QString::fromStdString(line);
    ShowMessage(this, QMessageBox::Critical, "Error",
                QString::fromStdString(result.Text.empty() ? result.Error : result.Text),
                (problems + lines).join('\n'),
                result.Text.empty() ? QString() : QString::fromStdString(result.Error));
  }
}

}  // namespace brennix
