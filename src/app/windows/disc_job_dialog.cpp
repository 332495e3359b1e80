#include "app/windows/disc_job_dialog.h"

#include "app/windows/dialog_support.h"
#include "app/windows/tray_actions.h"
#include "component/check_job.h"
#include "component/copy_job.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "component/recorder_rules.h"
#include "device/disc_types.h"
#include "device/speed_text.h"
#include "recording/writer_thread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brennix {

namespace {

constexpr const char* kCopyHolder = "copying a disc";
constexpr const char* kCheckHolder = "checking a disc";

// The entries of the device list, the one the main window's selector text stands for first
// chosen.
void FillRecorders(QComboBox* box, const TKorbBurner& korb, const std::string& recorder) {
  int chosen = -1;
  for (const std::string& entry : korb.Devices) {
    box->addItem(QString::fromStdString(entry));
    if (entry == recorder || (chosen < 0 && !recorder.empty() && entry.find(recorder) != std::string::npos))
      chosen = box->count() - 1;
  }
  box->setCurrentIndex(std::max(chosen, 0));
}

}  // namespace

TfrmDiscJob::TfrmDiscJob(TDiscJobKind kind, const std::string& recorder,
                         const std::vector<std::string>& virtualRecorders, QWidget* owner)
    : QDialog(owner),
      kind_(kind),
      source_(std::make_unique<TKorbBurner>()),
      target_(std::make_unique<TKorbBurner>()) {
  const bool copy = kind_ == TDiscJobKind::Copy;
  setObjectName(copy ? "frmCopyDisc" : "frmCheckDisc");
  setWindowTitle(copy ? kCopyDiscCaption : kCheckDiscCaption);
  SetUpDialogComponent(*source_, virtualRecorders);
  if (copy) SetUpDialogComponent(*target_, {});

  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  cmbSource = new QComboBox(this);
  cmbSource->setObjectName("cmbSource");
  FillRecorders(cmbSource, *source_, recorder);
  form->addRow(copy ? "Copy the disc in:" : "Check the disc in:", cmbSource);
  if (copy) {
    cmbTarget = new QComboBox(this);
    cmbTarget->setObjectName("cmbTarget");
    cmbTarget->setToolTip("The same recorder asks for the blank disc once the disc has been read");
    FillRecorders(cmbTarget, *source_, recorder);
    form->addRow("Write the copy with:", cmbTarget);
    cmbSpeed = new QComboBox(this);
    cmbSpeed->setObjectName("cmbSpeed");
    cmbSpeed->setToolTip("The write speed; a lower one may help a disc of poor quality");
    cmbSpeed->addItem("Fastest", 0);
    form->addRow("Write speed:", cmbSpeed);
  }
  layout->addLayout(form);
  if (copy) {
    chkCloseDisc = new QCheckBox("Close Disc", this);
    chkCloseDisc->setObjectName("chkCloseDisc");
    chkCloseDisc->setToolTip("No further sessions can be added afterwards.");
    layout->addWidget(chkCloseDisc);
    auto* verified = new QLabel("The copy is read back and compared with the disc.", this);
    layout->addWidget(verified);
  } else {
    lstProblems = new QListWidget(this);
    lstProblems->setObjectName("lstProblems");
    lstProblems->setToolTip("The files that differ from their sums or cannot be read");
    lstProblems->setMinimumHeight(100);
    layout->addWidget(lstProblems);
  }
  prgProgress = new QProgressBar(this);
  prgProgress->setObjectName("prgProgress");
  prgProgress->setRange(0, 100);
  prgProgress->setValue(0);
  layout->addWidget(prgProgress);
  lblStatus = new QLabel("Ready", this);
  lblStatus->setObjectName("lblStatus");
  lblStatus->setWordWrap(true);
  layout->addWidget(lblStatus);
  auto* buttons = new QHBoxLayout;
  cmdStart = MakeButton(this, "cmdStart", copy ? "Copy Disc" : "Check Disc", 100, 25);
  cmdAbort = MakeButton(this, "cmdAbort", "Abort", 80, 25);
  cmdClose = MakeButton(this, "cmdClose", "Close", 80, 25);
  buttons->addStretch();
  buttons->addWidget(cmdStart);
  buttons->addWidget(cmdAbort);
  buttons->addWidget(cmdClose);
  layout->addLayout(buttons);
  setMinimumWidth(420);
  cmdAbort->setEnabled(false);
  connect(cmdStart, &QPushButton::clicked, this, &TfrmDiscJob::cmdStartClick);
  connect(cmdAbort, &QPushButton::clicked, this, &TfrmDiscJob::cmdAbortClick);
  connect(cmdClose, &QPushButton::clicked, this, &TfrmDiscJob::reject);
  if (copy) {
    connect(cmbTarget, &QComboBox::currentIndexChanged, this, &TfrmDiscJob::LookAtTarget);
    LookAtTarget();
  }
  SetRunning(false);
}

TfrmDiscJob::~TfrmDiscJob() {
  // The job ends (and joins) before the components it works on.
  job_.reset();
  look_.Wait();
}

// The target's speeds for the disc it holds, asked for off the window's thread.
void TfrmDiscJob::LookAtTarget() {
  if (look_.Running()) {
    lookAgain_ = true;
    return;
  }
  lookAgain_ = false;
  const std::string entry = cmbTarget->currentText().toStdString();
  auto speeds = std::make_shared<std::vector<uint16_t>>();
  auto dvd = std::make_shared<bool>(false);
  look_.Start(
      [this, entry, speeds, dvd] {
        if (entry.empty()) return;
        TDriveGuard guard = TDriveGuard::TryAcquire(entry, "checking the recorder");
        if (!guard.Held()) return;
        target_->SetDevice(entry);
        const auto type = static_cast<int16_t>(target_->GetDiscType());
        *speeds = OfferedWriteSpeeds(*target_, type);
        *dvd = type != kDiscUnknown ? !IsCdMedia(type) : !speeds->empty() && speeds->back() >= 2770;
      },
      [this, speeds, dvd] {
        const int chosen = cmbSpeed->currentData().toInt();
        cmbSpeed->clear();
        cmbSpeed->addItem("Fastest", 0);
        for (const uint16_t kbs : *speeds)
          cmbSpeed->addItem(QString::fromStdString(FormatSpeedText(*dvd, kbs)), int{kbs});
        const int index = cmbSpeed->findData(chosen);
        cmbSpeed->setCurrentIndex(index < 0 ? 0 : index);
        if (lookAgain_) LookAtTarget();
        SetRunning(job_ != nullptr);
      });
  SetRunning(job_ != nullptr);
}

void TfrmDiscJob::SetRunning(bool running) {
  cmdStart->setEnabled(!running && !look_.Running() && cmbSource->count() > 0);
  cmbSource->setEnabled(!running);
  if (cmbTarget != nullptr) cmbTarget->setEnabled(!running);
  if (cmbSpeed != nullptr) cmbSpeed->setEnabled(!running);
  if (chkCloseDisc != nullptr) chkCloseDisc->setEnabled(!running);
  cmdAbort->setEnabled(running);
}

void TfrmDiscJob::cmdStartClick() {
  if (job_ || look_.Running()) return;
  const std::string from = cmbSource->currentText().toStdString();
  if (from.empty()) {
    ShowMessage(this, QMessageBox::Critical, "Error", "No CD or DVD recorder found.");
    return;
  }
  const bool copy = kind_ == TDiscJobKind::Copy;
  const std::string to = copy ? cmbTarget->currentText().toStdString() : from;
  const bool same = to == from;
  // Both recorders are this dialog's until the end, or neither is.
  sourceGuard_ = TDriveGuard::TryAcquire(from, copy ? kCopyHolder : kCheckHolder);
  if (sourceGuard_.Held() && !same) targetGuard_ = TDriveGuard::TryAcquire(to, kCopyHolder);
  if (!sourceGuard_.Held() || (!same && !targetGuard_.Held())) {
    const std::string busy = sourceGuard_.Held() ? to : from;
    sourceGuard_.Release();
    const std::string other = TDriveGuard::Holder(busy);
    ShowMessage(this, QMessageBox::Warning, "Warning", DriveHeldText(other.empty() ? "busy" : other));
    return;
  }
  TKorbBurner& source = *source_;
  source.SetDevice(from);
  if (copy) {
    TKorbBurner& target = same ? source : *target_;
    target.SetDevice(to);
    if (const QString why = WhyNoWriting(target); !why.isEmpty()) {
      sourceGuard_.Release();
      targetGuard_.Release();
      ShowMessage(this, QMessageBox::Warning, "Warning", why);
      return;
    }
    ApplyRecordingPreset(target);
    TCopyOptions options;
    options.CloseDisc = chkCloseDisc->isChecked();
    options.Speed = static_cast<uint16_t>(cmbSpeed->currentData().toInt());
    job_ = std::make_unique<TCopyJob>(source, target, static_cast<TJobHandler&>(*this), options);
  } else {
    lstProblems->clear();
    job_ = std::make_unique<TCheckJob>(source, static_cast<TJobHandler&>(*this));
  }
  prgProgress->setValue(0);
  lblStatus->setText("Preparing...");
  SetRunning(true);
  if (!job_->Start()) {
    job_.reset();
    sourceGuard_.Release();
    targetGuard_.Release();
    SetRunning(false);
    lblStatus->setText("Ready");
  }
}

void TfrmDiscJob::cmdAbortClick() {
  if (!job_) return;
  job_->Cancel();
  lblStatus->setText("Aborting...");
}

void TfrmDiscJob::reject() {
  if (!job_) {
    QDialog::reject();
    return;
  }
  // A job that runs is stopped first; the window closes at its end.
  closeWhenDone_ = true;
  cmdAbortClick();
}

void TfrmDiscJob::Ask(const TJobQuestion& question, std::function<void(bool)> answer) {
  if (closeWhenDone_) {
    answer(false);
    return;
  }
  QStringList notes;
  for (const std::string& note : question.Notes) notes << QString::fromStdString(note);
  answer(AskYesNo(this, QMessageBox::Question, DialogText(question.Text), QMessageBox::Yes,
                  notes.join(' ')));
}

void TfrmDiscJob::Tell(const TJobMessage& message) {
  if (closeWhenDone_) return;
  // What the copy asks the person to do is shown in the window, while it waits.
  if (message.Kind == TMessageKind::Information) {
    lblStatus->setText(QString::fromStdString(message.Text));
    return;
  }
  const QMessageBox::Icon icon =
      message.Kind == TMessageKind::Error ? QMessageBox::Critical : QMessageBox::Warning;
  ShowMessage(this, icon, icon == QMessageBox::Critical ? "Error" : "Warning",
              DialogText(message.Text), LinesText(message.Details));
}

void TfrmDiscJob::Progress(const TJobProgress& p) {
  if (p.Phase == TJobPhase::Preparing) return;  // the status says what is waited for
  if (p.Phase == TJobPhase::Verifying && p.Percent >= 0) {
    lblStatus->setText(kind_ == TDiscJobKind::Check ? "Checking... " + QString::number(p.Percent) + " %"
                                                     : "Verifying... " + QString::number(p.Percent) + " %");
    prgProgress->setValue(p.Percent);
    return;
  }
  if (p.BytesTotal > 0) {
    prgProgress->setValue(static_cast<int>(p.BytesDone * 100 / p.BytesTotal));
    const std::string what = p.Phase == TJobPhase::Reading   ? "Reading the disc... "
                             : kind_ == TDiscJobKind::Check ? "Checking... "
                                                             : "Writing the copy... ";
    lblStatus->setText(QString::fromStdString(what + MBWrittenText(p.BytesDone, p.BytesTotal / 2048)));
  }
  if (p.Phase == TJobPhase::Finalizing) lblStatus->setText("Finalizing...");
  if (p.Phase == TJobPhase::Aborting) lblStatus->setText("Aborting...");
}

void TfrmDiscJob::Done(const TJobResult& result) {
  job_.reset();
  sourceGuard_.Release();
  targetGuard_.Release();
  SetRunning(false);
  const bool ok = result.Outcome == TJobOutcome::Completed;
  const bool copy = kind_ == TDiscJobKind::Copy;
  if (lstProblems != nullptr)
    for (const std::string& line : result.Problems) lstProblems->addItem(QString::fromStdString(line));
  if (!ok) prgProgress->setValue(0);
  lblStatus->setText(ok                                      ? "Done"
                     : result.Error == kAbortedByUser        ? "Stopped"
                     : result.Outcome == TJobOutcome::Failed ? "Failed"
                                                             : "Ready");
  if (closeWhenDone_) {
    QDialog::reject();
    return;
  }
  QStringList lines;
  for (const std::string& line : result.Summary) lines << QString::fromStdString(line);
  if (ok) {
    ShowMessage(this, QMessageBox::Information, "Ready",
                copy ? QString(kDiscCopiedText) : QString::fromStdString(result.Text),
                lines.join('\n'));
  } else if (result.Outcome == TJobOutcome::Failed) {
    QStringList problems;
    for (const std::string& line : result.Problems) problems << QString::fromStdString(line);
    ShowMessage(this, QMessageBox::Critical, "Error",
                QString::fromStdString(result.Text.empty() ? result.Error : result.Text),
                (problems + lines).join('\n'),
                result.Text.empty() ? QString() : QString::fromStdString(result.Error));
  }
}

void ShowDiscJobDialog(TDiscJobKind kind, const std::string& recorder,
                       const std::vector<std::string>& virtualRecorders, QWidget* owner) {
  TfrmDiscJob dialog(kind, recorder, virtualRecorders, owner);
  dialog.exec();
}

}  // namespace brennix
