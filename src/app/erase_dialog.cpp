#include "app/erase_dialog.h"

#include "app/dialog_host.h"
#include "app/dialog_support.h"
#include "app/tray_actions.h"
#include "component/korb_burner.h"
#include "device/disc_types.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace brennix {

namespace {

constexpr int kProgressTickMs = 500;
constexpr uint8_t kQuickBlank = 1;
constexpr uint8_t kFullBlank = 0;
constexpr const char* kCannotStopHint =
    "The drive blanks or formats the disc by itself; this cannot be stopped.";
constexpr const char* kCanStopHint = "Stop writing zeros over the disc.";
constexpr const char* kReadingHolder = "reading the disc";
constexpr const char* kErasingHolder = "erasing";

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int width,
                        int height) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setFixedSize(width, height);
  return button;
}

}  // namespace

TfrmErase::TfrmErase(TDialogHost& host, QWidget* owner)
    : QDialog(owner), host_(host), korbErase_(std::make_unique<TKorbBurner>()) {
  setObjectName("frmErase");
  setWindowTitle(kEraseCaption);
  setModal(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 6);
  outer->setSpacing(4);

  QHBoxLayout* top = nullptr;
  outer->addWidget(MakeRecorderHeader(this, top));
  cmbDrives = new QComboBox(this);
  cmbDrives->setObjectName("cmbDrives");
  // 301 wide where the header has room; a little less rather than crowding the buttons.
  cmbDrives->setMaximumWidth(301);
  cmbDrives->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  cmbDrives->setFont(QFont("Courier New"));
  top->addWidget(cmbDrives, 1);
  cmdEject = MakeButton(this, "cmdEject", "Eject", 45, 22);
  cmdLoad = MakeButton(this, "cmdLoad", "Load", 45, 22);
  cmdStartErase = MakeButton(this, "cmdStartErase", "Start Erase", 93, 22);
  top->addWidget(cmdEject);
  top->addWidget(cmdLoad);
  top->addWidget(cmdStartErase);

  auto* body = new QVBoxLayout();
  body->setContentsMargins(8, 0, 8, 0);
  body->setSpacing(4);
  outer->addLayout(body);
  chkQuickErase = new QCheckBox("Quick Erase", this);
  chkQuickErase->setObjectName("chkQuickErase");
  chkQuickErase->setChecked(true);
  body->addWidget(chkQuickErase);

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
  cmdAbort->setToolTip(kCannotStopHint);
  bar->addWidget(prgProgress);
  bar->addStretch(1);
  bar->addWidget(cmdAbort);
  body->addLayout(bar);

  lblBurnState = new QLabel(this);
  lblBurnState->setObjectName("lblBurnState");
  body->addWidget(lblBurnState);

  tmrProgress = new QTimer(this);
  tmrProgress->setObjectName("tmrProgress");
  tmrProgress->setInterval(kProgressTickMs);

  connect(cmbDrives, &QComboBox::currentIndexChanged, this, &TfrmErase::cmbDrivesChange);
  connect(cmdStartErase, &QPushButton::clicked, this, &TfrmErase::cmdStartEraseClick);
  connect(cmdAbort, &QPushButton::clicked, this, &TfrmErase::cmdAbortClick);
  connect(cmdEject, &QPushButton::clicked, this, &TfrmErase::cmdEjectClick);
  connect(cmdLoad, &QPushButton::clicked, this, &TfrmErase::cmdLoadClick);
  connect(tmrProgress, &QTimer::timeout, this, &TfrmErase::tmrProgressTimer);
  korbErase_->OnEraseDone = [this](TSCSIDevice* sender, bool withError) {
    // An erase that fails to start says so on the worker that starts it, and a short one may
    // end before the step that started it has: the step's end shows it here.
    if (QThread::currentThread() != thread() || driveTask_.Running()) {
      startWithError_.store(withError);
      startReported_.store(true);
      return;
    }
    korbEraseEraseDone(sender, withError);
  };

  setFixedWidth(537);
  setFixedHeight(sizeHint().height());
}

// An erase still running here (the program is going away) is stopped and joined by the
// component's destructor, which then reports nothing; a step still running is waited for.
TfrmErase::~TfrmErase() {
  driveTask_.Wait();
  korbErase_->OnEraseDone = nullptr;
}

void TfrmErase::Prepare() {
  TKorbBurner& korb = *korbErase_;
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
          for (const std::string& entry : korbErase_->Devices)
            cmbDrives->addItem(QString::fromStdString(entry));
          if (cmbDrives->count() > 0) {
            cmbDrives->setCurrentIndex(0);
            cmbDrives->setToolTip(cmbDrives->currentText());
          }
        }
        StepDone();
      });
  SetBusy(true);
}

bool TfrmErase::StartStep(const std::string& drive, const std::string& holder,
                          std::function<void()> work, std::function<void()> done) {
  if (driveTask_.Running()) return false;
  auto guard = std::make_shared<TDriveGuard>();
  // The steps of an erase run under the guard the erase holds from its first question on.
  if (!(eraseGuard_.Held() && eraseGuard_.Drive() == drive)) {
    *guard = TDriveGuard::TryAcquire(drive, holder);
    if (!guard->Held() && !drive.empty()) {
      ShowMessage(this, QMessageBox::Warning, "Warning",
                  DriveHeldText(TDriveGuard::Holder(drive)));
      return false;
    }
  }
  driveTask_.Start(
      [guard, work = std::move(work)] {
        work();
        guard->Release();
      },
      std::move(done));
  SetBusy(true);
  return true;
}

void TfrmErase::SetBusy(bool busy) {
  const int value = prgProgress->value();
  if (busy) {
    stateBefore_ = lblBurnState->text();
    lblBurnState->setText("Preparing...");
    prgProgress->setRange(0, 0);  // indeterminate: the drive does not say how long
    setCursor(Qt::BusyCursor);
  } else {
    lblBurnState->setText(stateBefore_);
    prgProgress->setRange(0, 100);
    unsetCursor();
  }
  prgProgress->setValue(std::max(0, value));
  SetErasing(erasing_);
}

bool TfrmErase::StepDone() {
  SetBusy(false);
  if (closeWhenIdle_ && !erasing_) {
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
  if (erasing_) return;
  if (driveTask_.Running()) {
    selectPending_ = true;
    return;
  }
  const QString entry = cmbDrives->currentText();
  cmbDrives->setToolTip(entry);
  TKorbBurner& korb = *korbErase_;
  const std::string drive = entry.toStdString();
  // Refused (the recorder is busy elsewhere): nothing may be erased on it until chosen again.
  if (!StartStep(drive, kReadingHolder, [&korb, drive] { korb.SetDevice(drive); },
                 [this] { StepDone(); }))
    cmdStartErase->setEnabled(false);
}

void TfrmErase::cmdStartEraseClick() {
  if (erasing_ || driveTask_.Running()) return;
  const QString entry = cmbDrives->currentText();
  cmbDrives->setToolTip(entry);
  const std::string drive = entry.toStdString();
  eraseGuard_ = TDriveGuard::TryAcquire(drive, kErasingHolder);
  if (!eraseGuard_.Held() && !drive.empty()) {
    ShowMessage(this, QMessageBox::Warning, "Warning", DriveHeldText(TDriveGuard::Holder(drive)));
    return;
  }
  TKorbBurner& korb = *korbErase_;
  const bool quick = chkQuickErase->isChecked();
  auto erasable = std::make_shared<std::atomic<bool>>(false);
  const bool started = StartStep(
      drive, kErasingHolder,
      [&korb, drive, quick, erasable] {
        korb.SetDevice(drive);
        // A DVD-RAM is rewritable whatever the drive says; its quick erase only clears the
        // start.
        erasable->store(korb.IsErasable() || (quick && korb.GetDiscType() == kDiscDvdRam));
      },
      [this, erasable] {
        if (StepDone()) ConfirmErase(erasable->load());
      });
  if (!started) eraseGuard_.Release();
}

void TfrmErase::ConfirmErase(bool erasable) {
  const bool quick = chkQuickErase->isChecked();
  if (!erasable) {
    eraseGuard_.Release();
    ShowMessage(this, QMessageBox::Warning, "Warning", "This disc is not erasable.");
    return;
  }
  const QString question =
      quick ? QString("All data on the disc will be lost.") + kLineBreak +
                  "Do you want to quick erase the disc ?"
            : QString("All data on the disc will be lost") + kLineBreak +
                  "Do you want to completely erase the disc ?" + kLineBreak +
                  "This may take 10-70 minutes.";
  if (!RecorderFreeForWriting(this, *korbErase_) ||
      !AskYesNo(this, QMessageBox::Warning, question, QMessageBox::No)) {
    eraseGuard_.Release();
    return;
  }
  StartErase(quick ? kQuickBlank : kFullBlank);
}

void TfrmErase::StartErase(uint8_t blankType) {
  TKorbBurner& korb = *korbErase_;
  korb.WriteSpeed = 0;
  startReported_.store(false);
  auto started = std::make_shared<std::atomic<bool>>(false);
  // The drive may first have to become ready, which can take half a minute.
  driveTask_.Start([&korb, blankType, started] { started->store(korb.StartErase(blankType)); },
                   [this, started] {
                     SetBusy(false);
                     if (startReported_.load()) {
                       korbEraseEraseDone(korbErase_.get(), startWithError_.load());
                       return;
                     }
                     if (!started->load()) {
                       eraseGuard_.Release();
                       SetErasing(false);
                       lblBurnState->setText("Ready");
                       ShowMessage(this, QMessageBox::Warning, "Warning",
                                   QString("The drive did not become ready.") + kLineBreak +
                                       "Nothing was erased; check the disc and try again.");
                       return;
                     }
                     lblBurnState->setText("Erasing Data...");
                     tmrProgress->start();
                   });
  erasing_ = true;
  prgProgress->setValue(0);
  SetBusy(true);
}

void TfrmErase::SetErasing(bool erasing) {
  erasing_ = erasing;
  const bool idle = !erasing && !driveTask_.Running();
  const bool recorder = cmbDrives->count() > 0;  // no tray to move without one
  cmdEject->setEnabled(idle && recorder);
  cmdLoad->setEnabled(idle && recorder);
  cmdStartErase->setEnabled(idle && CanWrite(*korbErase_));
  cmbDrives->setEnabled(idle);
}

void TfrmErase::tmrProgressTimer() {
  prgProgress->setMaximum(100);
  // The estimate may fall back when the drive reports less; the bar does not.
  const int p = korbErase_->EraseProgress();
  if (p >= prgProgress->value()) prgProgress->setValue(p);
  const bool stoppable = erasing_ && !stopping_ && korbErase_->EraseStoppable();
  cmdAbort->setEnabled(stoppable);
  cmdAbort->setToolTip(stoppable ? kCanStopHint : kCannotStopHint);
}

void TfrmErase::korbEraseEraseDone(TSCSIDevice*, bool WithError) {
  eraseGuard_.Release();
  tmrProgress->stop();
  lblBurnState->setText("Ready");
  prgProgress->setValue(prgProgress->maximum());
  SetErasing(false);
  stopping_ = false;
  cmdAbort->setEnabled(false);
  cmdAbort->setToolTip(kCannotStopHint);
  if (WithError)
    ShowMessage(this, QMessageBox::Information, "Error", "Erase process completed with errors.");
  else
    ShowMessage(this, QMessageBox::Information, "Ready", "Erase process completed.");
}

void TfrmErase::cmdAbortClick() {
  if (!erasing_ || stopping_ || !korbErase_->EraseStoppable()) return;
  stopping_ = true;
  cmdAbort->setEnabled(false);
  lblBurnState->setText("Stopping the erase...");
  korbErase_->StopErase();
}

void TfrmErase::StartTray(TrayMove move) {
  if (erasing_ || driveTask_.Running()) return;
  if (StartTrayMove(this, *korbErase_, move, driveTask_, [this](bool) { StepDone(); }))
    SetBusy(true);
}

void TfrmErase::cmdEjectClick() { StartTray(TrayMove::Eject); }
void TfrmErase::cmdLoadClick() { StartTray(TrayMove::Load); }

void TfrmErase::reject() {
  if (erasing_) {
    lblBurnState->setText("Erasing Data... The erase must finish before this window can close.");
    return;
  }
  if (!driveTask_.Running()) {
    QDialog::reject();
    return;
  }
  // A command half sent leaves the drive in a state nobody knows: the step ends first.
  closeWhenIdle_ = true;
  stateBefore_ = "Preparing... The window closes once the drive has answered.";
  lblBurnState->setText(stateBefore_);
}

void ShowEraseDialog(TDialogHost& host, QWidget* owner) {
  TfrmErase dialog(host, owner);
  dialog.Prepare();
  dialog.exec();
}

}  // namespace brennix
