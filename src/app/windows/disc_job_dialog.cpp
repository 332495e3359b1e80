#include "app/windows/disc_job_dialog.h"

#include "app/windows/dialog_support.h"
#include "app/windows/tray_actions.h"
#include "component/check_job.h"
#include "component/copy_job.h"
#include "component/korb_burner.h"
#include "device/disc_types.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brennix {

namespace {

// The entries of the device list, the one the main window's selector text stands for first
// chosen.
void FillRecorders(QComboBox* box, const std::vector<std::string>& entries, const std::string& chosen) {
  for (const std::string& entry : entries) box->addItem(QString::fromStdString(entry));
  box->setCurrentIndex(std::max(box->findText(QString::fromStdString(chosen)), 0));
}

}  // namespace

TfrmDiscJob::TfrmDiscJob(TDiscJobKind kind, const std::string& recorder,
                         const std::vector<std::string>& virtualRecorders, QWidget* owner)
    : TJobDialog(owner, kind == TDiscJobKind::Copy ? "frmCopyDisc" : "frmCheckDisc",
                 kind == TDiscJobKind::Copy ? "Copy Disc" : "Check Disc",
                 kind == TDiscJobKind::Copy
                     ? TPhaseWords{"Reading the disc...", "Writing the copy...", "Verifying..."}
                     : TPhaseWords{"Reading the disc...", "Checking...", "Checking..."}),
      kind_(kind),
      source_(std::make_unique<TKorbBurner>()),
      target_(std::make_unique<TKorbBurner>()) {
  const bool copy = kind_ == TDiscJobKind::Copy;
  SetUpDialogComponent(*source_, virtualRecorders);
  if (copy) SetUpDialogComponent(*target_, {});
  const std::string chosen = RecorderEntry(*source_, recorder);

  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  cmbSource = new QComboBox(this);
  cmbSource->setObjectName("cmbSource");
  FillRecorders(cmbSource, source_->Devices, chosen);
  form->addRow(copy ? "Copy the disc in:" : "Check the disc in:", cmbSource);
  if (copy) {
    cmbTarget = new QComboBox(this);
    cmbTarget->setObjectName("cmbTarget");
    cmbTarget->setToolTip("The same recorder asks for the blank disc once the disc has been read");
    FillRecorders(cmbTarget, source_->Devices, chosen);
    form->addRow("Write the copy with:", cmbTarget);
    cmbSpeed = MakeSpeedBox(this);
    form->addRow("Write speed:", cmbSpeed);
  }
  layout->addLayout(form);
  if (copy) {
    chkCloseDisc = new QCheckBox("Close Disc", this);
    chkCloseDisc->setObjectName("chkCloseDisc");
    chkCloseDisc->setToolTip("No further sessions can be added afterwards.");
    layout->addWidget(chkCloseDisc);
    layout->addWidget(new QLabel("The copy is read back and compared with the disc.", this));
    doneText_ = "The disc has been copied.";
  } else {
    lstProblems = new QListWidget(this);
    lstProblems->setObjectName("lstProblems");
    lstProblems->setToolTip("The files that differ from their sums or cannot be read");
    lstProblems->setMinimumHeight(100);
    layout->addWidget(lstProblems);
  }
  QHBoxLayout* status = AddJobControls(layout, copy ? "Copy Disc" : "Check Disc");
  if (copy) {
    cmdLoad = MakeButton(this, "cmdLoad", "Load", 80, 25);
    cmdLoad->setToolTip("Close the tray once the blank disc is in");
    cmdLoad->setVisible(false);
    status->addWidget(cmdLoad);
    connect(cmdLoad, &QPushButton::clicked, this, &TfrmDiscJob::cmdLoadClick);
  }
  AddSettings({cmbSource, cmbTarget, cmbSpeed, chkCloseDisc});
  setMinimumWidth(420);
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

bool TfrmDiscJob::CanStart() const { return !look_.Running() && cmbSource->count() > 0; }

// The target's speeds for the disc it holds, asked for off the window's thread.
void TfrmDiscJob::LookAtTarget() {
  if (look_.Running()) {
    lookAgain_ = true;
    return;
  }
  lookAgain_ = false;
  const std::string entry = cmbTarget->currentText().toStdString();
  auto speeds = std::make_shared<std::vector<uint16_t>>();
  auto type = std::make_shared<int16_t>(kDiscUnknown);
  look_.Start(
      [this, entry, speeds, type] {
        if (entry.empty()) return;
        TDriveGuard guard = TDriveGuard::TryAcquire(entry, "checking the recorder");
        if (!guard.Held()) return;
        target_->SetDevice(entry);
        *type = static_cast<int16_t>(target_->GetDiscType());
        *speeds = OfferedWriteSpeeds(*target_, *type);
      },
      [this, speeds, type] {
        OfferSpeeds(cmbSpeed, *type, *speeds);
        StepEnded();
      });
  SetRunning(job_ != nullptr);
}

void TfrmDiscJob::StepEnded() {
  if (!job_) LetRecordersGo();
  if (lookAgain_) LookAtTarget();
  if (cmdLoad != nullptr) cmdLoad->setEnabled(!look_.Running());
  SetRunning(job_ != nullptr);
}

void TfrmDiscJob::cmdStartClick() {
  if (job_ || look_.Running()) return;
  const std::string from = cmbSource->currentText().toStdString();
  if (from.empty()) return SayNoRecorder();
  const bool copy = kind_ == TDiscJobKind::Copy;
  const std::string to = copy ? cmbTarget->currentText().toStdString() : from;
  const bool same = to == from;
  // Both recorders are this dialog's until the end, or neither is.
  if (!HoldRecorders({from, to}, copy ? "copying a disc" : "checking a disc")) return;
  TKorbBurner& source = *source_;
  source.SetDevice(from);
  if (!copy) {
    lstProblems->clear();
    return StartJob(std::make_unique<TCheckJob>(source, Handler()));
  }
  // With one recorder the job works on the source alone; the target's component is then
  // free to close the tray when the person has put the blank disc in.
  TKorbBurner& target = same ? source : *target_;
  if (same) {
    if (target_->Device() != to) target_->SetDevice(to);
  } else {
    target.SetDevice(to);
  }
  if (!ReadyToWrite(target)) return;
  TCopyOptions options;
  options.CloseDisc = chkCloseDisc->isChecked();
  options.Speed = static_cast<uint16_t>(cmbSpeed->currentData().toInt());
  StartJob(std::make_unique<TCopyJob>(source, target, Handler(), options));
}

void TfrmDiscJob::cmdLoadClick() {
  if (!job_ || look_.Running() || HeldRecorder() == nullptr) return;
  // The copy holds the recorder already: the tray moves under its hold.
  if (StartTrayMove(this, *target_, TrayMove::Load, look_, [this](bool) { StepEnded(); }, {},
                    HeldRecorder()))
    cmdLoad->setEnabled(false);
}

void TfrmDiscJob::Tell(const TJobMessage& message) {
  TJobDialog::Tell(message);
  if (cmdLoad != nullptr && message.Text == kInsertBlankDiscText && !closeWhenDone_) {
    cmdLoad->setEnabled(!look_.Running());
    cmdLoad->setVisible(true);
  }
}

void TfrmDiscJob::Progress(const TJobProgress& progress) {
  if (cmdLoad != nullptr && progress.Phase != TJobPhase::Preparing) cmdLoad->setVisible(false);
  TJobDialog::Progress(progress);
}

void TfrmDiscJob::Done(const TJobResult& result) {
  if (cmdLoad != nullptr) cmdLoad->setVisible(false);
  if (lstProblems != nullptr)
    for (const std::string& line : result.Problems) lstProblems->addItem(QString::fromStdString(line));
  TJobDialog::Done(result);
}

void ShowDiscJobDialog(TDiscJobKind kind, const std::string& recorder,
                       const std::vector<std::string>& virtualRecorders, QWidget* owner) {
  TfrmDiscJob dialog(kind, recorder, virtualRecorders, owner);
  dialog.exec();
}

}  // namespace brennix
