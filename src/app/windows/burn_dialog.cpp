#include "app/windows/burn_dialog.h"

#include "app/windows/dialog_host.h"
#include "app/windows/dialog_support.h"
#include "app/services/options.h"
#include "app/windows/tray_actions.h"
#include "component/queue_tree.h"
#include "component/korb_burner.h"
#include "component/plain_words.h"
#include "component/progress_text.h"
#include "device/disc_types.h"
#include "component/recorder_rules.h"
#include "platform/clock.h"
#include "platform/disc_units.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace brennix {

namespace {

// How long Prepare waits for another part of the program to let the recorder go.
constexpr uint32_t kGuardWaitMs = 20000;
constexpr uint32_t kGuardPollMs = 50;

// The dialog's remembered choices ("Burn/VerifyWrittenData", "Burn/KeepFilesOnDisc").
QString BoxSettingName(const char* name) {
  return QString(kSettingsKey).replace('\\', '/') + "/Burn/" + name;
}

// A check box of the options. With a setting name its choice is remembered, and the next
// dialog starts with it.
QCheckBox* OptionBox(QWidget* parent, const char* name, const char* text, const char* tip,
                     bool checked, const char* setting) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  box->setToolTip(tip);
  if (setting == nullptr) {
    box->setChecked(checked);
    return box;
  }
  const QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  box->setChecked(settings.value(BoxSettingName(setting), checked).toBool());
  QObject::connect(box, &QCheckBox::toggled, box, [setting](bool on) {
    QSettings saved(SettingsFilePath(), QSettings::IniFormat);
    if (!saved.isWritable()) return;
    saved.setValue(BoxSettingName(setting), on);
    saved.sync();
  });
  return box;
}

// The speed is measured over this much of the latest progress.
constexpr qint64 kSpeedWindowMs = 3000;

}  // namespace

TfrmBurn::TfrmBurn(TDialogHost& host, QWidget* owner)
    : TRecorderDialog(host, owner, "frmBurn", "Burn CD or DVD") {
  lblDrive = new QLabel(this);
  cmdStartBurn = AddHeader(lblDrive, "lblDrive", "cmdStartBurn", "Start Burn");

  // In the order of the tab key. With a setting name the choice is remembered.
  struct Box {
    QCheckBox* TfrmBurn::*box;
    const char* name;
    const char* text;
    const char* tip;
    bool checked;
    const char* setting;
    int column;  // 0 left, 1 right
  };
  const Box boxes[] = {
      {&TfrmBurn::chkJoliet, "chkJoliet", "Joliet File System", "", true, nullptr, 0},
      {&TfrmBurn::chkCloseDisc, "chkCloseDisc", "Close Disc",
       "Close the disc after this session: no further sessions can be added afterwards", true,
       nullptr, 0},
      {&TfrmBurn::chkVerify, "chkVerify", "Verify written data",
       "Read the new session back and compare it with what was written", false, "VerifyWrittenData",
       1},
      {&TfrmBurn::chkImportSession, "chkImportSession", "Keep the files already on the disc",
       "List the files of the disc's last session in the new one too, without writing them "
       "again",
       true, "KeepFilesOnDisc", 0},
      {&TfrmBurn::chkTestWrite, "chkTestWrite", "Test write (simulate)",
       "Let the drive go through the recording without writing to the disc", false, nullptr, 1},
      {&TfrmBurn::chkEjectWhenDone, "chkEjectWhenDone", "Eject when done",
       "Open the tray once the disc has been written", false, "EjectWhenDone", 1},
      {&TfrmBurn::chkChecksums, "chkChecksums", "Add a checksum list",
       "Put a SHA256SUMS file at the root of the disc, so that its files can be checked later "
       "(\"Check Disc...\" or sha256sum -c)",
       false, "AddChecksumList", 0},
  };
  QVBoxLayout* columns[] = {new QVBoxLayout(), new QVBoxLayout()};
  for (const Box& b : boxes) {
    this->*b.box = OptionBox(this, b.name, b.text, b.tip, b.checked, b.setting);
    columns[b.column]->addWidget(this->*b.box);
  }
  chkTestWrite->setEnabled(false);
  cmbSpeed = MakeSpeedBox(this);
  auto* options = new QHBoxLayout();
  options->addLayout(columns[0]);
  options->addStretch(1);
  options->addLayout(columns[1]);
  options_->addLayout(options);
  auto* speedRow = new QHBoxLayout();
  auto* speedLabel = new QLabel("Write speed:", this);
  speedLabel->setBuddy(cmbSpeed);
  speedRow->addWidget(speedLabel);
  speedRow->addWidget(cmbSpeed);
  speedRow->addStretch(1);
  options_->addLayout(speedRow);
  lstRecorders = new QListWidget(this);
  lstRecorders->setObjectName("lstRecorders");
  lstRecorders->setToolTip("Check other recorders to write the same disc in them at the same time");
  lstRecorders->setFixedHeight(62);
  lstRecorders->setVisible(false);
  options_->addWidget(lstRecorders);
  for (QCheckBox* box :
       {chkJoliet, chkCloseDisc, chkVerify, chkImportSession, chkTestWrite, chkChecksums})
    connect(box, &QCheckBox::toggled, this, &TfrmBurn::OptionsChanged);
  connect(cmbSpeed, &QComboBox::currentIndexChanged, this, &TfrmBurn::OptionsChanged);
  // Only a check or uncheck is a change of the options (texts and flags change too).
  connect(lstRecorders, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const bool checked = item->checkState() == Qt::Checked;
    if (item->data(Qt::UserRole + 1).toBool() == checked) return;
    item->setData(Qt::UserRole + 1, checked);
    OptionsChanged();
  });

  AddProgress();
  lblBurnState->setText("Ready");
  lblMBWritten = new QLabel(this);
  lblMBWritten->setObjectName("lblMBWritten");
  lblMBWritten->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  status_->addWidget(lblMBWritten);
  auto* end = new QHBoxLayout();
  lblFigures = new QLabel(this);
  lblFigures->setObjectName("lblFigures");
  cmdClose = MakeButton(this, "cmdClose", "Close", 93, 26);
  end->addWidget(lblFigures, 1);
  end->addWidget(cmdClose);
  body_->addLayout(end);
  connect(cmdStartBurn, &QPushButton::clicked, this, &TfrmBurn::cmdStartBurnClick);
  connect(cmdClose, &QPushButton::clicked, this, &TfrmBurn::reject);
  setFixedHeight(sizeHint().height());
  UpdateControls();  // Start Burn waits for Prepare's check
}

// A job still running here (the program is going away) is cancelled and its worker waited
// for; a recording it started is aborted and waited for by the component's destructor.
TfrmBurn::~TfrmBurn() {
  job_.reset();
  step_.reset();
}

void TfrmBurn::Prepare() {
  const QString recorder = host_.RecorderText();
  lblDrive->setText(recorder);
  lblDrive->setToolTip(recorder);
  SetUpDialogComponent(*korb_, host_.VirtualRecorders());
  ListMoreRecorders(recorder);
  lblBurnState->setText("Preparing...");
  auto holder = std::make_shared<std::string>();
  auto canWrite = std::make_shared<bool>(false);
  auto look = std::make_shared<DiscLook>();
  SetState(State::Checking);
  step_->Start(
      [this, drive = recorder.toStdString(), holder, canWrite, look] {
        // The main window may still be reading the disc it has just selected: wait a while.
        TDriveGuard guard;
        for (uint32_t waited = 0; !drive.empty(); waited += kGuardPollMs) {
          guard = TDriveGuard::TryAcquire(drive, "checking the recorder");
          if (guard.Held() || waited >= kGuardWaitMs) break;
          SleepMs(kGuardPollMs);
        }
        if (!drive.empty() && !guard.Held()) {
          *holder = TDriveGuard::Holder(drive);
          if (holder->empty()) *holder = "busy";  // let go in the meantime
          return;
        }
        korb_->SetDevice(drive);
        *canWrite = RecorderWrites(*korb_);
        if (*canWrite) *look = LookAtDisc(*korb_);
      },
      [this, holder, canWrite, look] {
        canWrite_ = *canWrite;
        ApplyDiscLook(*look);
        lblBurnState->setText(canWrite_ || !holder->empty() ? "Ready" : WhyNoWriting(*korb_));
        BackToIdle();
        if (!holder->empty() && isVisible())
          ShowMessage(this, QMessageBox::Warning, "Warning", DriveHeldText(*holder));
      });
}

TfrmBurn::DiscLook TfrmBurn::LookAtDisc(TKorbBurner& burner) {
  DiscLook look;
  look.type = static_cast<int16_t>(burner.GetDiscType());
  look.speeds = OfferedWriteSpeeds(burner, look.type);
  look.simulate = look.type != kDiscUnknown && CanTestWrite(burner, look.type);
  return look;
}

void TfrmBurn::ApplyDiscLook(const DiscLook& look) {
  OfferSpeeds(cmbSpeed, look.type, look.speeds);
  simulate_ = look.simulate;
  if (!simulate_) {
    const QSignalBlocker quietBox(chkTestWrite);
    chkTestWrite->setChecked(false);
  }
  chkTestWrite->setToolTip(simulate_ ? "Let the drive go through the recording without writing "
                                       "to the disc"
                                     : "This drive or disc cannot simulate a recording");
}

void TfrmBurn::OptionsChanged() {
  if (!finished_) return;
  finished_ = false;
  UpdateControls();
}

void TfrmBurn::SetState(State state) {
  state_ = state;
  UpdateControls();
}

void TfrmBurn::UpdateControls() {
  const bool busy = state_ != State::Idle;
  const bool recorder = !lblDrive->text().isEmpty();  // no tray to move without one
  cmdEject->setEnabled(!busy && recorder);
  cmdLoad->setEnabled(!busy && recorder);
  cmdStartBurn->setEnabled(!busy && canWrite_ && !finished_);
  cmdStartBurn->setToolTip(finished_ ? "The disc has been written; change an option or the "
                                       "disc to burn again"
                                     : QString());
  cmdAbort->setEnabled(state_ == State::Sending || state_ == State::Writing);
  for (QCheckBox* box : findChildren<QCheckBox*>()) box->setEnabled(!busy);
  chkTestWrite->setEnabled(!busy && simulate_);
  cmbSpeed->setEnabled(!busy);
  // The recorders' lines stay readable while they write; only the choice is held.
  for (int i = 0; i < lstRecorders->count(); ++i) {
    QListWidgetItem* item = lstRecorders->item(i);
    item->setFlags(busy ? item->flags() & ~Qt::ItemIsUserCheckable
                        : item->flags() | Qt::ItemIsUserCheckable);
  }
  if (Busy()) {
    prgProgress->setRange(0, 0);  // moves to and fro: how long this takes is unknown
  } else if (prgProgress->maximum() == 0) {
    const int sectors = static_cast<int>(progress_.BytesTotal / kSectorSize);
    prgProgress->setRange(0, sectors > 0 ? sectors : 100);
    prgProgress->setValue(0);
  }
  if (Busy())
    setCursor(Qt::BusyCursor);
  else
    unsetCursor();
}

void TfrmBurn::cmdStartBurnClick() {
  if (state_ != State::Idle) return;
  guard_ = AcquireDrive(this, *korb_, "burning");
  if (!guard_.Held() && !korb_->Device().empty()) return;
  if (!TakeMoreRecorders()) {
    guard_ = TDriveGuard();
    return;
  }

  TBurnOptions options;
  for (const QueueRow& row : host_.QueueRows()) options.Sources.push_back({row.path, row.recursive});
  const Qt::CheckState savePath = host_.SavePathState();
  options.SavePath = savePath == Qt::Checked            ? SavePathMode::Full
                     : savePath == Qt::PartiallyChecked ? SavePathMode::Last
                                                        : SavePathMode::None;
  options.Label = host_.VolumeLabel().toStdString();
  options.Joliet = chkJoliet->isChecked();
  // Linux readers take full names, modes and times from Rock Ridge.
  options.RockRidge = true;
  options.CloseDisc = chkCloseDisc->isChecked();
  options.Verify = chkVerify->isChecked();
  options.Import = chkImportSession->isChecked();
  options.TestWrite = chkTestWrite->isChecked();
  options.Checksums = chkChecksums->isChecked();
  options.Speed = static_cast<uint16_t>(cmbSpeed->currentData().toInt());
  options.ImportOffHint =
      "\n\nUncheck \"Keep the files already on the disc\" to write the new files without "
      "those on the disc.";
  progress_ = TJobProgress();
  samples_.clear();
  lblFigures->clear();
  job_.reset();
  std::vector<TKorbBurner*> more;
  for (const MoreRecorder& other : more_) more.push_back(other.burner.get());
  job_ = std::make_unique<TBurnJob>(*korb_, static_cast<TJobHandler&>(*this), std::move(options),
                                    std::move(more));
  lblBurnState->setText("Preparing...");
  host_.SetRecorderSelectorEnabled(false);
  SetState(State::Starting);
  job_->Start();
}

void TfrmBurn::Ask(const TJobQuestion& question, std::function<void(bool)> answer) {
  if (askingClose_) {
    held_.push_back([this, question, answer] { Ask(question, answer); });
    return;
  }
  // The user has chosen to close: nothing more is asked, and nothing is written.
  if (closeWhenDone_) {
    answer(false);
    return;
  }
  if (question.Kind == TQuestionKind::Unmount) {
    answer(AskYesNo(this, QMessageBox::Question, DialogText(question.Text)));
    return;
  }
  std::vector<std::string> lines;
  for (const TSkippedSource& s : question.Skipped)
    lines.push_back(SkippedLine(s));
  QStringList notes;
  for (const std::string& note : question.Notes) notes << QString::fromStdString(note);
  const bool yes = AskYesNo(this, QMessageBox::Question, DialogText(question.Text),
                            QMessageBox::Yes, notes.join('\n'), LinesText(lines));
  if (yes) {
    lblMBWritten->clear();
    SetState(State::Sending);
  }
  answer(yes);
}

void TfrmBurn::Tell(const TJobMessage& message) {
  if (askingClose_) {
    held_.push_back([this, message] { Tell(message); });
    return;
  }
  if (closeWhenDone_ || message.Text.empty()) return;
  if (message.Kind == TMessageKind::Information) {
    lblBurnState->setText(QString::fromStdString(message.Text));
    return;
  }
  ShowMessage(this, QMessageBox::Warning, "Warning", DialogText(message.Text),
              LinesText(message.Details));
}

void TfrmBurn::Progress(const TJobProgress& progress) {
  progress_ = progress;
  if (state_ == State::Sending && progress.Phase != TJobPhase::Preparing) {
    SetState(State::Writing);
    lblBurnState->setText("Writing Data...");
    prgProgress->setRange(0, static_cast<int>(progress.BytesTotal / kSectorSize));
    prgProgress->setValue(0);
    tmrProgress->start();
    clock_.start();
    samples_.clear();
  }
  if (clock_.isValid() && progress.Phase != TJobPhase::Verifying) {
    const qint64 now = clock_.elapsed();
    samples_.emplace_back(now, progress.BytesDone);
    while (samples_.size() > 2 && now - samples_[1].first >= kSpeedWindowMs)
      samples_.erase(samples_.begin());
  }
  if (state_ == State::Writing || state_ == State::Aborting) tmrProgressTimer();
}

void TfrmBurn::ListMoreRecorders(const QString& own) {
  lstRecorders->clear();
  more_.clear();
  for (const std::string& entry : korb_->Devices) {
    const QString text = QString::fromStdString(entry);
    if (text == own) continue;
    auto* item = new QListWidgetItem(text, lstRecorders);
    item->setData(Qt::UserRole, text);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  const bool shown = lstRecorders->count() > 0;
  if (shown == lstRecorders->isVisible()) return;
  lstRecorders->setVisible(shown);
  setFixedHeight(sizeHint().height());
}

bool TfrmBurn::TakeMoreRecorders() {
  more_.clear();
  for (int i = 0; i < lstRecorders->count(); ++i) {
    QListWidgetItem* item = lstRecorders->item(i);
    item->setText(item->data(Qt::UserRole).toString());
    if (item->checkState() != Qt::Checked) continue;
    MoreRecorder other;
    other.entry = item->text();
    other.item = item;
    other.burner = std::make_unique<TKorbBurner>();
    SetUpDialogComponent(*other.burner, host_.VirtualRecorders());
    other.burner->SetDevice(other.entry.toStdString());
    other.guard = AcquireDrive(this, *other.burner, "burning");
    if (!other.guard.Held()) {
      more_.clear();
      return false;
    }
    more_.push_back(std::move(other));
  }
  return true;
}

void TfrmBurn::ShowRecorderLines() {
  const TJobProgress& p = progress_;
  for (size_t i = 0; i < more_.size() && i + 1 < p.Recorders.size(); ++i) {
    more_[i].item->setText(
        QString::fromStdString(RecorderProgressText(p.Recorders[i + 1], p.BytesTotal)));
  }
}

void TfrmBurn::tmrProgressTimer() {
  ShowRecorderLines();
  const TJobProgress& p = progress_;
  const int64_t sectors = p.BytesTotal / kSectorSize;
  lblMBWritten->setText(QString::fromStdString(MBWrittenText(p.BytesDone, sectors)));
  ShowFigures();
  // Once the session is closed, the bar follows the read-back.
  if (p.Phase == TJobPhase::Verifying && state_ != State::Aborting) {
    lblBurnState->setText(QString("Verifying... %1 %").arg(std::max(p.Percent, 0)));
    prgProgress->setMaximum(100);
    prgProgress->setValue(p.Percent);
    return;
  }
  prgProgress->setMaximum(static_cast<int>(sectors));
  if (state_ == State::Writing && p.BytesDone == sectors * kSectorSize)
    lblBurnState->setText("Finalizing...");
  // The bar waits at 90 % while the drive closes the track and session.
  prgProgress->setValue(static_cast<int>(ProgressPosition(p.BytesDone, sectors)));
}

void TfrmBurn::ShowFigures() {
  if (!clock_.isValid()) return;
  const TJobProgress& p = progress_;
  double speed = 0;
  if (samples_.size() >= 2 && p.Phase == TJobPhase::Writing) {
    const auto& [firstMs, firstBytes] = samples_.front();
    const auto& [lastMs, lastBytes] = samples_.back();
    if (lastMs > firstMs)
      speed = static_cast<double>(lastBytes - firstBytes) * 1000.0 /
              static_cast<double>(lastMs - firstMs);
  }
  std::string text = ProgressFiguresText(DiscType.load(), speed, clock_.elapsed() / 1000,
                                         p.BytesDone, p.BytesTotal);
  const int fill = BufferFillPercent(p.BufferSize, p.FreeBufferSize);
  if (fill >= 0 && p.Phase == TJobPhase::Writing) text += ", buffer " + std::to_string(fill) + " %";
  lblFigures->setText(QString::fromStdString(text));
}

void TfrmBurn::Done(const TJobResult& result) {
  if (askingClose_) {
    held_.push_back([this, result] { Done(result); });
    return;
  }
  tmrProgress->stop();
  guard_.Release();  // the writer has let the drive go
  if (clock_.isValid()) ShowFigures();
  clock_.invalidate();
  const bool completed = result.Outcome == TJobOutcome::Completed;
  const bool failed = result.Outcome == TJobOutcome::Failed;
  lblBurnState->setText(completed || failed ? QString::fromStdString(result.Text) : "Ready");
  const int sectors = static_cast<int>(progress_.BytesTotal / kSectorSize);
  if (completed) {
    prgProgress->setRange(0, std::max(sectors, 1));
    prgProgress->setValue(prgProgress->maximum());
    finished_ = true;
  } else if (failed) {
    // The bar stays where the recording ended: it never shows a failure as done.
    prgProgress->setRange(0, std::max(sectors, 1));
    prgProgress->setValue(static_cast<int>(
        std::min<int64_t>(progress_.BytesDone / kSectorSize, std::max(sectors - 1, 0))));
  }
  host_.SetRecorderSelectorEnabled(true);
  const bool eject = completed && !closeWhenDone_ && chkEjectWhenDone->isChecked();
  if ((completed || failed) && !closeWhenDone_)
    TellJobEnd(this, "Burn", result, "The drive or the program said: ", result.Summary);
  BackToIdle();
  if (eject && state_ == State::Idle) TrayStep(TrayMove::Eject, false);
}

void TfrmBurn::BackToIdle() {
  SetState(State::Idle);
  if (closeWhenDone_) {
    closeWhenDone_ = false;
    QDialog::reject();
  }
}

void TfrmBurn::cmdAbortClick() {
  if (state_ != State::Sending && state_ != State::Writing) return;
  lblBurnState->setText("Aborting...");
  SetState(State::Aborting);
  job_->Cancel();
}

void TfrmBurn::CloseWithoutAsking() {
  if (askingClose_ || closeWhenDone_) return;
  if (state_ == State::Idle)
    QDialog::reject();
  else
    CloseWhenDone();
}

void TfrmBurn::CloseWhenDone() {
  closeWhenDone_ = true;
  if (state_ == State::Starting) {
    lblBurnState->setText("Aborting...");
    job_->Cancel();
  } else {
    cmdAbortClick();
  }
}

void TfrmBurn::TrayStep(TrayMove move, bool discChanged) {
  if (state_ != State::Idle) return;
  auto look = std::make_shared<DiscLook>();
  TKorbBurner& burner = *korb_;
  // The bar keeps showing how the last burn ended once the drive has answered.
  const int barMaximum = prgProgress->maximum(), barValue = prgProgress->value();
  if (StartTrayMove(
          this, burner, move, *step_,
          [this, look, discChanged, barMaximum, barValue](bool) {
            ApplyDiscLook(*look);
            // Another disc, or the same one again: it may be burned anew.
            if (discChanged) finished_ = false;
            BackToIdle();
            if (barMaximum > 0 && state_ == State::Idle) {
              prgProgress->setRange(0, barMaximum);
              prgProgress->setValue(barValue);
            }
          },
          [&burner, look] { *look = LookAtDisc(burner); }))
    SetState(State::Tray);
}


void TfrmBurn::reject() {
  if (askingClose_ || closeWhenDone_) return;
  switch (state_) {
    case State::Idle:
      QDialog::reject();
      return;
    case State::Checking:
    case State::Tray:
      // Nothing to cancel: the command is with the drive, and the window waits for it.
      closeWhenDone_ = true;
      lblBurnState->setText("Preparing... The window closes once the drive has answered.");
      return;
    case State::Aborting:
      // Once aborted, closing needs no question: the window goes when the drive is done.
      closeWhenDone_ = true;
      return;
    case State::Starting:
    case State::Sending:
    case State::Writing:
      break;
  }
  askingClose_ = true;
  const bool abort = AskYesNo(this, QMessageBox::Question,
                              "The disc is being written. Do you want to abort the recording?",
                              QMessageBox::No);
  askingClose_ = false;
  if (abort) CloseWhenDone();
  // What the job said meanwhile, in order; after Yes its questions are answered No.
  for (const std::function<void()>& event : std::exchange(held_, {})) event();
}

}  // namespace brennix
