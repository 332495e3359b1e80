#include "app/windows/image_dialog.h"

#include "app/windows/dialog_support.h"
#include "app/windows/tray_actions.h"
#include "component/burn_job.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "component/read_image_job.h"
#include "component/recorder_rules.h"
#include "platform/disc_units.h"
#include "recording/writer_thread.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace brennix {

namespace {

constexpr const char* kWritingHolder = "writing an image";
constexpr const char* kReadingHolder = "reading the disc";

// The device entry the main window's selector text stands for.
std::string EntryFor(const TKorbBurner& korb, const std::string& recorder) {
  for (const std::string& entry : korb.Devices)
    if (entry == recorder) return entry;
  for (const std::string& entry : korb.Devices)
    if (!recorder.empty() && entry.find(recorder) != std::string::npos) return entry;
  return korb.Devices.empty() ? std::string() : korb.Devices.front();
}

}  // namespace

TfrmImage::TfrmImage(TImageDialogKind kind, std::string recorder,
                     std::vector<std::string> virtualRecorders, QWidget* owner)
    : QDialog(owner),
      kind_(kind),
      recorder_(std::move(recorder)),
      virtualRecorders_(std::move(virtualRecorders)),
      korb_(std::make_unique<TKorbBurner>()) {
  const bool burn = kind_ == TImageDialogKind::Burn;
  setObjectName(burn ? "frmBurnImage" : "frmSaveImage");
  setWindowTitle(burn ? kBurnImageCaption : kSaveImageCaption);
  auto* layout = new QVBoxLayout(this);
  auto* prompt = new QLabel(burn ? "Image file to write to the disc:" : "Save the disc as:", this);
  layout->addWidget(prompt);
  auto* row = new QHBoxLayout;
  edtFile = new QLineEdit(this);
  edtFile->setObjectName("edtFile");
  edtFile->setMinimumWidth(320);
  prompt->setBuddy(edtFile);
  cmdBrowse = MakeButton(this, "cmdBrowse", "Browse...", 80, 25);
  row->addWidget(edtFile);
  row->addWidget(cmdBrowse);
  layout->addLayout(row);
  if (burn) {
    chkVerify = new QCheckBox("Verify the disc after writing", this);
    chkVerify->setObjectName("chkVerify");
    chkCloseDisc = new QCheckBox("Close Disc", this);
    chkCloseDisc->setObjectName("chkCloseDisc");
    chkCloseDisc->setToolTip("No further sessions can be added afterwards.");
    layout->addWidget(chkVerify);
    layout->addWidget(chkCloseDisc);
  }
  prgProgress = new QProgressBar(this);
  prgProgress->setObjectName("prgProgress");
  prgProgress->setRange(0, 100);
  prgProgress->setValue(0);
  layout->addWidget(prgProgress);
  lblStatus = new QLabel("Ready", this);
  lblStatus->setObjectName("lblStatus");
  layout->addWidget(lblStatus);
  auto* buttons = new QHBoxLayout;
  cmdStart = MakeButton(this, "cmdStart", burn ? "Start Burn" : "Save Image", 100, 25);
  cmdAbort = MakeButton(this, "cmdAbort", "Abort", 80, 25);
  cmdClose = MakeButton(this, "cmdClose", "Close", 80, 25);
  buttons->addStretch();
  buttons->addWidget(cmdStart);
  buttons->addWidget(cmdAbort);
  buttons->addWidget(cmdClose);
  layout->addLayout(buttons);
  cmdAbort->setEnabled(false);
  connect(cmdBrowse, &QPushButton::clicked, this, &TfrmImage::cmdBrowseClick);
  connect(cmdStart, &QPushButton::clicked, this, &TfrmImage::cmdStartClick);
  connect(cmdAbort, &QPushButton::clicked, this, &TfrmImage::cmdAbortClick);
  connect(cmdClose, &QPushButton::clicked, this, &TfrmImage::reject);
}

TfrmImage::~TfrmImage() {
  // The job ends (and joins) before the component it works on.
  job_.reset();
}

void TfrmImage::cmdBrowseClick() {
  const QString file =
      kind_ == TImageDialogKind::Burn
          ? QFileDialog::getOpenFileName(this, kBurnImageCaption, edtFile->text(),
                                         "Disc images (*.iso *.img *.udf);;All files (*)")
          : QFileDialog::getSaveFileName(this, kSaveImageCaption, edtFile->text(),
                                         "Disc images (*.iso);;All files (*)");
  if (!file.isEmpty()) edtFile->setText(file);
}

void TfrmImage::SetRunning(bool running) {
  cmdStart->setEnabled(!running);
  cmdBrowse->setEnabled(!running);
  edtFile->setEnabled(!running);
  if (chkVerify != nullptr) chkVerify->setEnabled(!running);
  if (chkCloseDisc != nullptr) chkCloseDisc->setEnabled(!running);
  cmdAbort->setEnabled(running);
}

void TfrmImage::cmdStartClick() {
  if (job_) return;
  const std::string file = edtFile->text().trimmed().toStdString();
  if (file.empty()) {
    ShowMessage(this, QMessageBox::Warning, "Warning",
                kind_ == TImageDialogKind::Burn ? "Please choose the image file to write."
                                                : "Please choose where to save the image.");
    return;
  }
  TKorbBurner& korb = *korb_;
  if (korb.Devices.empty() && !SetUpDialogComponent(korb, virtualRecorders_)) {
    ShowMessage(this, QMessageBox::Critical, "Error", "No CD or DVD recorder found.");
    return;
  }
  const std::string entry = EntryFor(korb, recorder_);
  if (entry.empty()) {
    ShowMessage(this, QMessageBox::Critical, "Error", "No CD or DVD recorder found.");
    return;
  }
  const bool burn = kind_ == TImageDialogKind::Burn;
  guard_ = TDriveGuard::TryAcquire(entry, burn ? kWritingHolder : kReadingHolder);
  if (!guard_.Held()) {
    const std::string other = TDriveGuard::Holder(entry);
    ShowMessage(this, QMessageBox::Warning, "Warning", DriveHeldText(other.empty() ? "busy" : other));
    return;
  }
  korb.SetDevice(entry);
  if (burn) {
    if (const QString why = WhyNoWriting(korb); !why.isEmpty()) {
      guard_.Release();
      ShowMessage(this, QMessageBox::Warning, "Warning", why);
      return;
    }
    ApplyRecordingPreset(korb);
    TBurnOptions options;
    options.ImageFile = file;
    options.Verify = chkVerify->isChecked();
    options.CloseDisc = chkCloseDisc->isChecked();
    job_ = std::make_unique<TBurnJob>(korb, static_cast<TJobHandler&>(*this), std::move(options));
  } else {
    TReadImageOptions options;
    options.Out = file;
    job_ = std::make_unique<TReadImageJob>(korb, static_cast<TJobHandler&>(*this), std::move(options));
  }
  prgProgress->setValue(0);
  lblStatus->setText("Preparing...");
  SetRunning(true);
  if (!job_->Start()) {
    job_.reset();
    guard_.Release();
    SetRunning(false);
    lblStatus->setText("Ready");
  }
}

void TfrmImage::cmdAbortClick() {
  if (!job_) return;
  job_->Cancel();
  lblStatus->setText("Aborting...");
}

void TfrmImage::reject() {
  if (!job_) {
    QDialog::reject();
    return;
  }
  // A recording or a read that runs is stopped first; the window closes at its end.
  closeWhenDone_ = true;
  cmdAbortClick();
}

void TfrmImage::Ask(const TJobQuestion& question, std::function<void(bool)> answer) {
  if (closeWhenDone_) {
    answer(false);
    return;
  }
  QStringList notes;
  for (const std::string& note : question.Notes) notes << QString::fromStdString(note);
  answer(AskYesNo(this, QMessageBox::Question, DialogText(question.Text), QMessageBox::Yes,
                  notes.join(' ')));
}

void TfrmImage::Tell(const TJobMessage& message) {
  if (closeWhenDone_) return;
  const QMessageBox::Icon icon = message.Kind == TMessageKind::Error     ? QMessageBox::Critical
                                 : message.Kind == TMessageKind::Warning ? QMessageBox::Warning
                                                                         : QMessageBox::Information;
  ShowMessage(this, icon, icon == QMessageBox::Critical ? "Error" : "Warning",
              DialogText(message.Text), LinesText(message.Details));
}

void TfrmImage::Progress(const TJobProgress& p) {
  if (p.Phase == TJobPhase::Verifying) {
    lblStatus->setText("Verifying...");
    prgProgress->setValue(std::max(0, p.Percent));
    return;
  }
  if (p.BytesTotal > 0) {
    prgProgress->setValue(static_cast<int>(p.BytesDone * 100 / p.BytesTotal));
    const std::string what = kind_ == TImageDialogKind::Burn ? "Writing" : "Reading";
    lblStatus->setText(QString::fromStdString(what + "... " +
                                              MBWrittenText(p.BytesDone, p.BytesTotal / kSectorSize)));
  }
  if (p.Phase == TJobPhase::Finalizing) lblStatus->setText("Finalizing...");
  if (p.Phase == TJobPhase::Aborting) lblStatus->setText("Aborting...");
}

void TfrmImage::Done(const TJobResult& result) {
  job_.reset();
  guard_.Release();
  SetRunning(false);
  const bool ok = result.Outcome == TJobOutcome::Completed;
  if (!ok) prgProgress->setValue(0);
  lblStatus->setText(ok                                             ? "Done"
                     : result.Error == kAbortedByUser               ? "Stopped"
                     : result.Outcome == TJobOutcome::Failed        ? "Failed"
                                                                    : "Ready");
  if (closeWhenDone_) {
    QDialog::reject();
    return;
  }
  QStringList lines;
  for (const std::string& line : result.Summary) lines << QString::fromStdString(line);
  if (ok) {
    ShowMessage(this, QMessageBox::Information, "Ready", QString::fromStdString(result.Text),
                lines.join('\n'));
  } else if (result.Outcome == TJobOutcome::Failed) {
    ShowMessage(this, QMessageBox::Critical, "Error",
                QString::fromStdString(result.Text.empty() ? result.Error : result.Text),
                QString::fromStdString(result.Error));
  }
}

void ShowImageDialog(TImageDialogKind kind, const std::string& recorder,
                     const std::vector<std::string>& virtualRecorders, QWidget* owner,
                     const QString& file) {
  TfrmImage dialog(kind, recorder, virtualRecorders, owner);
  if (!file.isEmpty()) dialog.edtFile->setText(file);
  dialog.exec();
}

}  // namespace brennix
