#include "app/burn_dialog.h"

#include "app/dialog_host.h"
#include "app/dialog_support.h"
#include "app/options.h"
#include "app/size_text.h"
#include "app/tray_actions.h"
#include "component/burn_queue.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"
#include "device/drive_hold.h"
#include "platform/clock.h"
#include "platform/main_thread.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace brennix {

namespace {

constexpr int kProgressTickMs = 500;
// How long Prepare waits for another part of the program to let the recorder go.
constexpr uint32_t kGuardWaitMs = 20000;
constexpr uint32_t kGuardPollMs = 50;

// The dialog's remembered choices ("Burn/VerifyWrittenData", "Burn/KeepFilesOnDisc").
QString BoxSettingName(const char* name) {
  return QString(kSettingsKey).replace('\\', '/') + "/Burn/" + name;
}

bool BoxSetting(const char* name, bool byDefault) {
  const QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  return settings.value(BoxSettingName(name), byDefault).toBool();
}

void SaveBoxSetting(const char* name, bool checked) {
  QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  if (!settings.isWritable()) return;
  settings.setValue(BoxSettingName(name), checked);
  settings.sync();
}

constexpr const char* kVerifySetting = "VerifyWrittenData";
constexpr const char* kKeepFilesSetting = "KeepFilesOnDisc";

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int width,
                        int height) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setFixedSize(width, height);
  return button;
}

}  // namespace

TfrmBurn::TfrmBurn(TDialogHost& host, QWidget* owner)
    : QDialog(owner), host_(host), korbBurn_(std::make_unique<TKorbBurner>()) {
  setObjectName("frmBurn");
  setWindowTitle(kBurnCaption);
  setModal(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 6);
  outer->setSpacing(4);

  QHBoxLayout* top = nullptr;
  outer->addWidget(MakeRecorderHeader(this, top));
  lblDrive = new QLabel(this);
  lblDrive->setObjectName("lblDrive");
  lblDrive->setFixedWidth(301);
  top->addWidget(lblDrive);
  top->addStretch(1);
  cmdEject = MakeButton(this, "cmdEject", "Eject", 45, 22);
  cmdLoad = MakeButton(this, "cmdLoad", "Load", 45, 22);
  cmdStartBurn = MakeButton(this, "cmdStartBurn", "Start Burn", 93, 22);
  top->addWidget(cmdEject);
  top->addWidget(cmdLoad);
  top->addWidget(cmdStartBurn);

  auto* body = new QVBoxLayout();
  body->setContentsMargins(8, 0, 8, 0);
  body->setSpacing(4);
  outer->addLayout(body);
  chkJoliet = new QCheckBox("Joliet File System", this);
  chkJoliet->setObjectName("chkJoliet");
  chkJoliet->setChecked(true);
  chkCloseDisc = new QCheckBox("Close Disc", this);
  chkCloseDisc->setObjectName("chkCloseDisc");
  chkCloseDisc->setChecked(true);
  chkVerify = new QCheckBox("Verify written data", this);
  chkVerify->setObjectName("chkVerify");
  chkVerify->setToolTip("Read the new session back and compare it with what was written");
  chkVerify->setChecked(BoxSetting(kVerifySetting, false));
  connect(chkVerify, &QCheckBox::toggled, this,
          [](bool checked) { SaveBoxSetting(kVerifySetting, checked); });
  chkImportSession = new QCheckBox("Keep the files already on the disc", this);
  chkImportSession->setObjectName("chkImportSession");
  chkImportSession->setToolTip(
      "List the files of the disc's last session in the new one too, without writing them again");
  chkImportSession->setChecked(BoxSetting(kKeepFilesSetting, true));
  connect(chkImportSession, &QCheckBox::toggled, this,
          [](bool checked) { SaveBoxSetting(kKeepFilesSetting, checked); });
  auto* options = new QHBoxLayout();
  auto* left = new QVBoxLayout();
  left->addWidget(chkJoliet);
  left->addWidget(chkCloseDisc);
  left->addWidget(chkImportSession);
  options->addLayout(left);
  options->addStretch(1);
  options->addWidget(chkVerify, 0, Qt::AlignBottom);
  body->addLayout(options);

  body->addWidget(new QLabel("Progress: ", this));
  auto* bar = new QHBoxLayout();
  prgProgress = new QProgressBar(this);
  prgProgress->setObjectName("prgProgress");
  prgProgress->setFixedSize(433, 25);
  prgProgress->setTextVisible(false);
  prgProgress->setRange(0, 100);
  prgProgress->setValue(0);
  cmdAbort = MakeButton(this, "cmdAbort", "Abort", 93, 26);
  cmdAbort->setEnabled(false);
  bar->addWidget(prgProgress);
  bar->addStretch(1);
  bar->addWidget(cmdAbort);
  body->addLayout(bar);

  auto* status = new QHBoxLayout();
  lblBurnState = new QLabel("Ready", this);
  lblBurnState->setObjectName("lblBurnState");
  lblMBWritten = new QLabel(this);
  lblMBWritten->setObjectName("lblMBWritten");
  lblMBWritten->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  status->addWidget(lblBurnState, 1);
  status->addWidget(lblMBWritten);
  body->addLayout(status);

  tmrProgress = new QTimer(this);
  tmrProgress->setObjectName("tmrProgress");
  tmrProgress->setInterval(kProgressTickMs);

  connect(cmdStartBurn, &QPushButton::clicked, this, &TfrmBurn::cmdStartBurnClick);
  connect(cmdAbort, &QPushButton::clicked, this, &TfrmBurn::cmdAbortClick);
  connect(cmdEject, &QPushButton::clicked, this, &TfrmBurn::cmdEjectClick);
  connect(cmdLoad, &QPushButton::clicked, this, &TfrmBurn::cmdLoadClick);
  connect(tmrProgress, &QTimer::timeout, this, &TfrmBurn::tmrProgressTimer);
  // Burn may fail on the worker, which then raises the event there: the dialog always takes
  // it on its own thread, and not at all once it is gone.
  korbBurn_->OnWriteDone = [alive = alive_](TKorbBurner*, const std::string& error) {
    PostToMainThread([alive, error] {
      if (TfrmBurn* dialog = *alive) dialog->WriteDoneArrived(error);
    });
  };

  setFixedWidth(537);
  setFixedHeight(sizeHint().height());
  UpdateControls();  // Start Burn waits for Prepare's check
}

// A recording still running here (the program is going away) is aborted and waited for by
// the component's destructor; a step on the worker is stopped and waited for first, so the
// component is never freed, nor its event cleared, under the worker.
TfrmBurn::~TfrmBurn() {
  *alive_ = nullptr;
  cancel_.store(true);
  if (writing_ && step_->Running()) korbBurn_->Abort();
  step_.reset();
  korbBurn_->OnWriteDone = nullptr;
}

void TfrmBurn::Prepare() {
  const QString recorder = host_.RecorderText();
  lblDrive->setText(recorder);
  lblDrive->setToolTip(recorder);
  SetUpDialogComponent(*korbBurn_, host_.VirtualRecorders());
  lblBurnState->setText("Preparing...");
  auto holder = std::make_shared<std::string>();
  auto canWrite = std::make_shared<bool>(false);
  RunStep(
      [this, drive = recorder.toStdString(), holder, canWrite] {
        // The main window may still be reading the disc it has just selected: wait a while.
        TDriveGuard guard;
        for (uint32_t waited = 0; !drive.empty(); waited += kGuardPollMs) {
          guard = TDriveGuard::TryAcquire(drive, "checking the recorder");
          if (guard.Held() || cancel_.load() || waited >= kGuardWaitMs) break;
          SleepMs(kGuardPollMs);
        }
        if (!drive.empty() && !guard.Held()) {
          *holder = TDriveGuard::Holder(drive);
          if (holder->empty()) *holder = "busy";  // let go in the meantime
          return;
        }
        korbBurn_->SetDevice(drive);
        *canWrite = CanWrite(*korbBurn_);
      },
      [this, holder, canWrite] {
        canWrite_ = *canWrite;
        lblBurnState->setText(canWrite_ || !holder->empty() ? "Ready" : WhyNoWriting(*korbBurn_));
        UpdateControls();
        if (!holder->empty())
          ShowMessage(this, QMessageBox::Warning, "Warning", DriveHeldText(*holder));
      });
}

void TfrmBurn::RunStep(std::function<void()> work, std::function<void()> next) {
  const bool started = step_->Start(std::move(work), [this, next] {
    // The close question is open: its answer decides whether the start goes on.
    if (askingClose_) {
      afterQuestion_ = next;
      return;
    }
    StepDone(next);
  });
  UpdateControls();
  if (!started) EndStart();  // not expected: each step starts after the previous one ended
}

void TfrmBurn::StepDone(const std::function<void()>& next) {
  UpdateControls();
  if (cancel_.load() && !writing_) {
    EndStart();
    return;
  }
  next();
}

void TfrmBurn::UpdateControls() {
  const bool stepRunning = step_->Running();
  const bool busy = stepRunning || starting_ || writing_;
  const bool recorder = !lblDrive->text().isEmpty();  // no tray to move without one
  cmdEject->setEnabled(!busy && recorder);
  cmdLoad->setEnabled(!busy && recorder);
  cmdStartBurn->setEnabled(!busy && canWrite_);
  cmdAbort->setEnabled(writing_ && !aborting_);
  for (QCheckBox* box : findChildren<QCheckBox*>()) box->setEnabled(!busy);
  if (stepRunning || starting_) {
    prgProgress->setRange(0, 0);  // moves to and fro: how long this takes is unknown
  } else if (prgProgress->maximum() == 0) {
    prgProgress->setRange(0, sectors_ > 0 ? sectors_ : 100);
    prgProgress->setValue(0);
  }
  if (stepRunning)
    setCursor(Qt::BusyCursor);
  else
    unsetCursor();
}

void TfrmBurn::AddQueueRows(const std::vector<QueueRow>& rows, SavePathMode mode,
                            TreeBuild& tree) {
  std::vector<QueueSource> sources;
  for (const QueueRow& row : rows) sources.push_back({row.path, row.recursive});
  std::vector<std::string> beingWritten;
  const std::string disc = SelectedDiscFile(*korbBurn_);
  if (!disc.empty()) beingWritten.push_back(disc);
  const QueueBuild build = BuildTreeFromQueue(*korbBurn_, sources, mode, beingWritten);
  for (const TSkippedSource& s : korbBurn_->SkippedSources()) {
    if (s.NewName.empty()) {
      ++tree.leftOut;
      tree.notes.push_back(s.Source + ": " + s.Reason);
    } else {
      ++tree.renamed;
      tree.notes.push_back(s.Source + " -> " + s.NewName + " (" + s.Reason + ")");
    }
  }
  for (const std::string& file : build.BeingWrittenFound) {
    ++tree.leftOut;
    tree.notes.push_back(file + ": THE DISC BEING WRITTEN");
  }
  tree.error = build.Error;
}

void TfrmBurn::cmdStartBurnClick() {
  if (Busy() || writing_) return;
  guard_ = AcquireDrive(this, *korbBurn_, "burning");
  if (!guard_.Held() && !korbBurn_->Device().empty()) return;
  starting_ = true;
  cancel_.store(false);
  lblBurnState->setText("Preparing...");
  host_.SetRecorderSelectorEnabled(false);
  UpdateControls();
  CheckRecorderFree();
}

void TfrmBurn::CheckRecorderFree() {
  auto busy = std::make_shared<DriveBusy>();
  RunStep([this, busy] { *busy = RecorderBusy(*korbBurn_); },
          [this, busy] {
            if (busy->Reason != DriveBusyReason::Mounted ||
                !AskYesNo(this, QMessageBox::Question, UnmountQuestion(busy->MountPoint))) {
              RecorderChecked(std::string(), *busy);
              return;
            }
            auto why = std::make_shared<std::string>();
            RunStep(
                [this, busy, why] {
                  if (UnmountRecorderDisc(*korbBurn_, *why)) *busy = RecorderBusy(*korbBurn_);
                },
                [this, busy, why] { RecorderChecked(*why, *busy); });
          });
}

void TfrmBurn::RecorderChecked(const std::string& unmountError, const DriveBusy& busy) {
  const std::string refusal = unmountError.empty() ? DriveBusyText(busy) : unmountError;
  if (!refusal.empty()) {
    ShowMessage(this, QMessageBox::Warning, "Warning", QString::fromStdString(refusal));
    EndStart();
    return;
  }
  TKorbBurner& korb = *korbBurn_;
  korb.JolietFileSystem = chkJoliet->isChecked();
  // Linux readers take full names, modes and times from Rock Ridge.
  korb.RockRidge = true;
  korb.IdVolume = host_.VolumeLabel().trimmed().toStdString();
  korb.FinalizeDisc = chkCloseDisc->isChecked();
  korb.Verify = chkVerify->isChecked();
  korb.ImportSession = chkImportSession->isChecked();
  korb.UnderrunProtection = true;
  BuildTree();
}

void TfrmBurn::BuildTree() {
  const std::vector<QueueRow> rows = host_.QueueRows();
  const Qt::CheckState state = host_.SavePathState();
  const SavePathMode mode = state == Qt::Checked            ? SavePathMode::Full
                            : state == Qt::PartiallyChecked ? SavePathMode::Last
                                                            : SavePathMode::None;
  auto tree = std::make_shared<TreeBuild>();
  RunStep(
      [this, rows, mode, tree] {
        TKorbBurner& korb = *korbBurn_;
        uint32_t bufferLength = 0, blankLength = 0;
        korb.ReadBufferCapacity(bufferLength, blankLength);
        korb.SetWriteSpeed(0);
        korb.ClearAll(kQueueMaxFiles, kQueueMaxDirs);
        if (!rows.empty()) AddQueueRows(rows, mode, *tree);
        tree->empty = korb.DirCount() == 0 && korb.FileCount() == 0;
      },
      [this, queued = !rows.empty(), tree] {
        if (!queued)
          ShowMessage(this, QMessageBox::Warning, "Warning",
                      "Please add one or more files to the burn queue and try again.");
        if (!tree->error.empty()) {
          ShowMessage(this, QMessageBox::Warning, "Warning", QString::fromStdString(tree->error));
          EndStart();
          return;
        }
        if (tree->empty) {
          if (!tree->notes.empty())
            ShowMessage(this, QMessageBox::Warning, "Warning",
                        "Nothing in the burn queue can go on the disc.", LinesText(tree->notes));
          EndStart();
          return;
        }
        LayOut(tree);
      });
}

void TfrmBurn::LayOut(const std::shared_ptr<TreeBuild>& tree) {
  auto sectors = std::make_shared<int64_t>(0);
  auto refusal = std::make_shared<std::string>();
  RunStep(
      [this, sectors, refusal, tree] {
        TKorbBurner& korb = *korbBurn_;
        korb.PrepareImage();
        // A disc that cannot take the image is named now, before the question, not part-way.
        *refusal = korb.CheckDiscForImage();
        // The files kept from the disc are read now too, so that a disc whose tree cannot be
        // read is named before the question and the bar's scale holds what is really sent.
        std::string unreadable;
        if (refusal->empty() && korb.ImportSession && !korb.ImportLastSession(unreadable)) {
          *refusal = unreadable + "\n\nUncheck \"Keep the files already on the disc\" to "
                                  "write the new files without those on the disc.";
        } else if (refusal->empty() && korb.ImportSession) {
          tree->kept = korb.ImportedFiles();
          korb.PrepareImage();
          *refusal = korb.CheckDiscForImage();
        }
        *sectors = korb.SectorsToWrite();
      },
      [this, tree, sectors, refusal] {
        sectors_ = static_cast<int>(*sectors);
        ConfirmAndBurn(*refusal, *tree);
      });
}

void TfrmBurn::ConfirmAndBurn(const std::string& refusal, const TreeBuild& tree) {
  if (!refusal.empty()) {
    ShowMessage(this, QMessageBox::Warning, "Warning", QString::fromStdString(refusal));
    EndStart();
    return;
  }
  QStringList changes;
  if (tree.leftOut > 0)
    changes << QString("%1 files or folders cannot go on the disc and will be left out.")
                   .arg(tree.leftOut);
  if (tree.renamed > 0)
    changes << QString("%1 will go on the disc under another name.").arg(tree.renamed);
  if (tree.kept > 0)
    changes << QString("%1 %2 already on the disc will be kept.")
                   .arg(tree.kept)
                   .arg(tree.kept == 1 ? "file" : "files");
  const QString question = "Do you want to write " +
                           SizeToText(static_cast<double>(host_.QueuedBytes())) +
                           " to the disc ?";
  if (!AskYesNo(this, QMessageBox::Question, question, QMessageBox::Yes, changes.join(' '),
                LinesText(tree.notes))) {
    tmrProgress->stop();
    EndStart();
    return;
  }

  SetWriting(true);
  lblMBWritten->clear();
  // Burn waits on the worker until the read-ahead cache is full; an abort ends that wait. A
  // failure before the writer starts comes back through OnWriteDone before the step ends.
  auto started = std::make_shared<bool>(false);
  RunStep([this, started] { *started = korbBurn_->Burn(&cancel_); },
          [this, started] { BurnStarted(*started); });
}

void TfrmBurn::BurnStarted(bool started) {
  starting_ = false;
  if (doneWaiting_) {
    doneWaiting_ = false;
    korbBurnWriteDone(korbBurn_.get(), doneError_);
    return;
  }
  UpdateControls();
  if (!started || !writing_) return;  // the end has been reported already
  if (!aborting_) lblBurnState->setText("Writing Data...");
  prgProgress->setRange(0, sectors_);
  prgProgress->setValue(0);
  tmrProgress->start();
}

void TfrmBurn::EndStart() {
  const bool started = starting_;
  starting_ = false;
  guard_.Release();
  cancel_.store(false);
  lblBurnState->setText("Ready");
  UpdateControls();
  if (started) host_.SetRecorderSelectorEnabled(true);
  if (closeWhenDone_) {
    closeWhenDone_ = false;
    QDialog::reject();
  }
}

void TfrmBurn::SetWriting(bool writing) {
  writing_ = writing;
  aborting_ = false;
  UpdateControls();
}

void TfrmBurn::tmrProgressTimer() {
  const int64_t written = korbBurn_->BytesWritten();
  const int64_t sectors = korbBurn_->SectorsToWrite();
  lblMBWritten->setText(QString::fromStdString(MBWrittenText(written, sectors)));
  // Once the session is closed, the bar follows the read-back.
  const int verified = korbBurn_->VerifyProgress();
  if (verified >= 0 && !aborting_) {
    lblBurnState->setText("Verifying...");
    prgProgress->setMaximum(100);
    prgProgress->setValue(verified);
    return;
  }
  prgProgress->setMaximum(static_cast<int>(sectors));
  if (writing_ && !aborting_ && written == sectors * 2048) lblBurnState->setText("Finalizing...");
  // The bar waits at 90 % while the drive closes the track and session.
  prgProgress->setValue(static_cast<int>(ProgressPosition(written, sectors)));
}

void TfrmBurn::WriteDoneArrived(const std::string& error) {
  // Burn failed before its writer started: the step's end, which follows, finishes the run.
  if (step_->Running()) {
    doneWaiting_ = true;
    doneError_ = error;
    return;
  }
  korbBurnWriteDone(korbBurn_.get(), error);
}

void TfrmBurn::korbBurnWriteDone(TKorbBurner*, const std::string& Error) {
  tmrProgress->stop();
  starting_ = false;
  guard_.Release();  // the writer has let the drive go
  cancel_.store(false);
  lblBurnState->setText("Ready");
  prgProgress->setRange(0, std::max(sectors_, 1));
  prgProgress->setValue(prgProgress->maximum());
  if (!closeWhenDone_) {
    if (!Error.empty())
      ShowMessage(this, QMessageBox::Information, "Error", "Burn process completed with errors.",
                  QString::fromStdString(Error));
    else
      ShowMessage(this, QMessageBox::Information, "Ready", "Burn process completed.");
  }
  korbBurn_->ClearAll(kQueueMaxFiles, kQueueMaxDirs);
  SetWriting(false);
  host_.SetRecorderSelectorEnabled(true);
  if (closeWhenDone_) {
    closeWhenDone_ = false;
    QDialog::reject();
  }
}

void TfrmBurn::cmdAbortClick() {
  if (!writing_ || aborting_) return;
  aborting_ = true;
  cancel_.store(true);  // Burn may still be waiting for the cache on the worker
  cmdAbort->setEnabled(false);
  lblBurnState->setText("Aborting...");
  korbBurn_->Abort();
}

void TfrmBurn::StartTray(TrayMove move) {
  if (Busy() || writing_) return;
  trayMoving_ = StartTrayMove(this, *korbBurn_, move, *step_, [this](bool) {
    trayMoving_ = false;
    UpdateControls();
    if (closeWhenDone_) {
      closeWhenDone_ = false;
      QDialog::reject();
    }
  });
  UpdateControls();
}

void TfrmBurn::cmdEjectClick() { StartTray(TrayMove::Eject); }
void TfrmBurn::cmdLoadClick() { StartTray(TrayMove::Load); }

void TfrmBurn::reject() {
  if (askingClose_ || closeWhenDone_) return;
  if (trayMoving_) {
    // Nothing to cancel: the tray command is with the drive, and the window waits for it.
    closeWhenDone_ = true;
    lblBurnState->setText("Preparing... The window closes once the drive has answered.");
    return;
  }
  const bool stepRunning = step_->Running();
  if (!writing_ && !stepRunning) {
    // A start between its steps has a question open, which is answered first.
    if (!starting_) QDialog::reject();
    return;
  }
  // Once aborted, closing needs no question: the window goes when the drive is done.
  if (aborting_) {
    closeWhenDone_ = true;
    return;
  }
  askingClose_ = true;
  const bool abort = AskYesNo(this, QMessageBox::Question,
                              "The disc is being written. Do you want to abort the recording?",
                              QMessageBox::No);
  askingClose_ = false;
  const std::function<void()> next = std::exchange(afterQuestion_, nullptr);
  if (abort) {
    // The recording, or the step, may have ended while the question was open.
    if (!writing_ && !starting_ && !step_->Running() && !next) {
      QDialog::reject();
      return;
    }
    closeWhenDone_ = true;
    cancel_.store(true);
    cmdAbortClick();
  }
  if (next) StepDone(next);
}

void ShowBurnDialog(TDialogHost& host, QWidget* owner) {
  TfrmBurn dialog(host, owner);
  dialog.Prepare();
  dialog.exec();
}

}  // namespace brennix
