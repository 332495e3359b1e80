#include "app/burn_dialog.h"

#include "app/dialog_host.h"
#include "app/dialog_support.h"
#include "app/options.h"
#include "app/size_text.h"
#include "app/tray_actions.h"
#include "component/burn_queue.h"
#include "component/korb_burner.h"
#include "component/progress_text.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

namespace brennix {

namespace {

constexpr int kProgressTickMs = 500;

QString VerifySettingName() {
  return QString(kSettingsKey).replace('\\', '/') + "/Burn/VerifyWrittenData";
}

bool VerifySetting() {
  const QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  return settings.value(VerifySettingName(), false).toBool();
}

void SaveVerifySetting(bool verify) {
  QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  if (!settings.isWritable()) return;
  settings.setValue(VerifySettingName(), verify);
  settings.sync();
}

QString ImportSettingName() {
  return QString(kSettingsKey).replace('\\', '/') + "/Burn/KeepFilesOnDisc";
}

bool ImportSetting() {
  const QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  return settings.value(ImportSettingName(), true).toBool();
}

void SaveImportSetting(bool keep) {
  QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  if (!settings.isWritable()) return;
  settings.setValue(ImportSettingName(), keep);
  settings.sync();
}

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
  chkVerify->setChecked(VerifySetting());
  connect(chkVerify, &QCheckBox::toggled, this, &SaveVerifySetting);
  chkImportSession = new QCheckBox("Keep the files already on the disc", this);
  chkImportSession->setObjectName("chkImportSession");
  chkImportSession->setToolTip(
      "List the files of the disc's last session in the new one too, without writing them again");
  chkImportSession->setChecked(ImportSetting());
  connect(chkImportSession, &QCheckBox::toggled, this, &SaveImportSetting);
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
  korbBurn_->OnWriteDone = [this](TKorbBurner* sender, const std::string& error) {
    korbBurnWriteDone(sender, error);
  };

  setFixedWidth(537);
  setFixedHeight(sizeHint().height());
}

// A recording still running here (the program is going away) is aborted and waited for by
// the component's destructor.
TfrmBurn::~TfrmBurn() { korbBurn_->OnWriteDone = nullptr; }

void TfrmBurn::Prepare() {
  const QString recorder = host_.RecorderText();
  lblDrive->setText(recorder);
  lblDrive->setToolTip(recorder);
  SetUpDialogComponent(*korbBurn_, host_.VirtualRecorders());
  korbBurn_->SetDevice(recorder.toStdString());
  cmdStartBurn->setEnabled(CanWrite(*korbBurn_));
}

std::string TfrmBurn::AddQueueRows(const std::vector<QueueRow>& rows,
                                   std::vector<std::string>& notes, int& leftOut,
                                   int& renamed) {
  std::vector<QueueSource> sources;
  for (const QueueRow& row : rows) sources.push_back({row.path, row.recursive});
  const Qt::CheckState state = host_.SavePathState();
  const SavePathMode mode = state == Qt::Checked            ? SavePathMode::Full
                            : state == Qt::PartiallyChecked ? SavePathMode::Last
                                                            : SavePathMode::None;
  std::vector<std::string> beingWritten;
  const std::string disc = SelectedDiscFile(*korbBurn_);
  if (!disc.empty()) beingWritten.push_back(disc);
  const QueueBuild build = BuildTreeFromQueue(*korbBurn_, sources, mode, beingWritten);
  for (const TSkippedSource& s : korbBurn_->SkippedSources()) {
    if (s.NewName.empty()) {
      ++leftOut;
      notes.push_back(s.Source + ": " + s.Reason);
    } else {
      ++renamed;
      notes.push_back(s.Source + " -> " + s.NewName + " (" + s.Reason + ")");
    }
  }
  for (const std::string& file : build.BeingWrittenFound) {
    ++leftOut;
    notes.push_back(file + ": THE DISC BEING WRITTEN");
  }
  return build.Error;
}

void TfrmBurn::cmdStartBurnClick() {
  if (starting_ || writing_) return;
  starting_ = true;
  cmdStartBurn->setEnabled(false);
  struct Restart {
    TfrmBurn* dialog;
    ~Restart() {
      dialog->starting_ = false;
      if (!dialog->writing_) dialog->cmdStartBurn->setEnabled(true);
    }
  } restart{this};

  TKorbBurner& korb = *korbBurn_;
  if (!RecorderFreeForWriting(this, korb)) return;
  korb.JolietFileSystem = chkJoliet->isChecked();
  // Linux readers take full names, modes and times from Rock Ridge.
  korb.RockRidge = true;
  korb.IdVolume = host_.VolumeLabel().trimmed().toStdString();
  korb.FinalizeDisc = chkCloseDisc->isChecked();
  korb.Verify = chkVerify->isChecked();
  korb.ImportSession = chkImportSession->isChecked();
  korb.UnderrunProtection = true;
  uint32_t bufferLength = 0, blankLength = 0;
  korb.ReadBufferCapacity(bufferLength, blankLength);
  korb.SetWriteSpeed(0);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

  korb.ClearAll(kQueueMaxFiles, kQueueMaxDirs);
  std::vector<std::string> notes;
  int leftOut = 0, renamed = 0;
  const std::vector<QueueRow> rows = host_.QueueRows();
  if (rows.empty()) {
    ShowMessage(this, QMessageBox::Warning, "Warning",
                "Please add one or more files to the burn queue and try again.");
  } else {
    const std::string error = AddQueueRows(rows, notes, leftOut, renamed);
    if (!error.empty()) {
      ShowMessage(this, QMessageBox::Warning, "Warning", QString::fromStdString(error));
      return;
    }
  }
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (korb.DirCount() == 0 && korb.FileCount() == 0) {
    if (!notes.empty())
      ShowMessage(this, QMessageBox::Warning, "Warning",
                  "Nothing in the burn queue can go on the disc.", LinesText(notes));
    return;
  }
  korb.PrepareImage();
  prgProgress->setMaximum(static_cast<int>(korb.SectorsToWrite()));
  // A disc that cannot take the image is named now, before the question, not part-way.
  const std::string refusal = korb.CheckDiscForImage();
  if (!refusal.empty()) {
    ShowMessage(this, QMessageBox::Warning, "Warning", QString::fromStdString(refusal));
    return;
  }

  QStringList changes;
  if (leftOut > 0)
    changes << QString("%1 files or folders cannot go on the disc and will be left out.")
                   .arg(leftOut);
  if (renamed > 0) changes << QString("%1 will go on the disc under another name.").arg(renamed);
  const QString question = "Do you want to write " +
                           SizeToText(static_cast<double>(host_.QueuedBytes())) +
                           " to the disc ?";
  if (!AskYesNo(this, QMessageBox::Question, question, QMessageBox::Yes, changes.join(' '),
                LinesText(notes))) {
    tmrProgress->stop();
    return;
  }

  SetWriting(true);
  prgProgress->setValue(0);
  lblMBWritten->clear();
  lblBurnState->setText("Writing Data...");
  tmrProgress->start();
  // A failure before the writer starts comes back through OnWriteDone, on this thread,
  // before Burn returns.
  korb.Burn();
}

void TfrmBurn::SetWriting(bool writing) {
  writing_ = writing;
  aborting_ = false;
  cmdEject->setEnabled(!writing);
  cmdLoad->setEnabled(!writing);
  cmdStartBurn->setEnabled(!writing && CanWrite(*korbBurn_));
  cmdAbort->setEnabled(writing);
  host_.SetRecorderSelectorEnabled(!writing);
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

void TfrmBurn::korbBurnWriteDone(TKorbBurner*, const std::string& Error) {
  tmrProgress->stop();
  lblBurnState->setText("Ready");
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
  if (closeWhenDone_) {
    closeWhenDone_ = false;
    QDialog::reject();
  }
}

void TfrmBurn::cmdAbortClick() {
  if (!writing_ || aborting_) return;
  aborting_ = true;
  cmdAbort->setEnabled(false);
  lblBurnState->setText("Aborting...");
  korbBurn_->Abort();
}

void TfrmBurn::cmdEjectClick() { EjectDevice(this, *korbBurn_); }
void TfrmBurn::cmdLoadClick() { LoadDevice(this, *korbBurn_); }

void TfrmBurn::reject() {
  if (starting_) return;
  if (!writing_) {
    QDialog::reject();
    return;
  }
  if (closeWhenDone_) return;  // the window closes when the recording has ended
  // Once aborted, closing needs no question: the window goes when the drive is done.
  if (!aborting_ &&
      !AskYesNo(this, QMessageBox::Question,
                "The disc is being written. Do you want to abort the recording?",
                QMessageBox::No))
    return;
  // The recording may have ended while the question was open.
  if (!writing_) {
    QDialog::reject();
    return;
  }
  closeWhenDone_ = true;
  cmdAbortClick();
}

void ShowBurnDialog(TDialogHost& host, QWidget* owner) {
  TfrmBurn dialog(host, owner);
  dialog.Prepare();
  dialog.exec();
}

}  // namespace brennix
