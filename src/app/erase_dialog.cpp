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
    korbEraseEraseDone(sender, withError);
  };

  setFixedWidth(537);
  setFixedHeight(sizeHint().height());
}

// An erase still running here (the program is going away) is stopped and joined by the
// component's destructor, which then reports nothing.
TfrmErase::~TfrmErase() { korbErase_->OnEraseDone = nullptr; }

void TfrmErase::Prepare() {
  SetUpDialogComponent(*korbErase_, host_.VirtualRecorders());
  const QSignalBlocker quiet(cmbDrives);
  cmbDrives->clear();
  for (const std::string& entry : korbErase_->Devices)
    cmbDrives->addItem(QString::fromStdString(entry));
  if (cmbDrives->count() == 0) return;
  cmbDrives->setCurrentIndex(0);
  cmbDrivesChange();
}

void TfrmErase::cmbDrivesChange() {
  if (erasing_) return;
  const QString entry = cmbDrives->currentText();
  korbErase_->SetDevice(entry.toStdString());
  cmbDrives->setToolTip(entry);
  cmdStartErase->setEnabled(CanWrite(*korbErase_));
}

void TfrmErase::cmdStartEraseClick() {
  if (erasing_) return;
  cmbDrivesChange();
  TKorbBurner& korb = *korbErase_;
  const bool quick = chkQuickErase->isChecked();
  // A DVD-RAM is rewritable whatever the drive says; its quick erase only clears the start.
  const bool erasable = korb.IsErasable() || (quick && korb.GetDiscType() == kDiscDvdRam);
  if (!erasable) {
    ShowMessage(this, QMessageBox::Warning, "Warning", "This disc is not erasable.");
    return;
  }
  const QString question =
      quick ? QString("All data on the disc will be lost.") + kLineBreak +
                  "Do you want to quick erase the disc ?"
            : QString("All data on the disc will be lost") + kLineBreak +
                  "Do you want to completely erase the disc ?" + kLineBreak +
                  "This may take 10-70 minutes.";
  if (!RecorderFreeForWriting(this, korb) ||
      !AskYesNo(this, QMessageBox::Warning, question, QMessageBox::No))
    return;

  SetErasing(true);
  prgProgress->setValue(0);
  tmrProgress->start();
  korb.WriteSpeed = 0;
  lblBurnState->setText("Erasing Data...");
  const int eventsBefore = eraseDoneCount_;
  // A drive that fails the erase command reports through OnEraseDone before this returns;
  // one that never became ready returns false without a word.
  if (!korb.StartErase(quick ? kQuickBlank : kFullBlank) && eraseDoneCount_ == eventsBefore) {
    tmrProgress->stop();
    SetErasing(false);
    lblBurnState->setText("Ready");
    ShowMessage(this, QMessageBox::Warning, "Warning",
                QString("The drive did not become ready.") + kLineBreak +
                    "Nothing was erased; check the disc and try again.");
  }
}

void TfrmErase::SetErasing(bool erasing) {
  erasing_ = erasing;
  cmdEject->setEnabled(!erasing);
  cmdLoad->setEnabled(!erasing);
  cmdStartErase->setEnabled(!erasing && CanWrite(*korbErase_));
  cmbDrives->setEnabled(!erasing);
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
  ++eraseDoneCount_;
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

void TfrmErase::cmdEjectClick() { EjectDevice(this, *korbErase_); }
void TfrmErase::cmdLoadClick() { LoadDevice(this, *korbErase_); }

void TfrmErase::reject() {
  if (!erasing_) {
    QDialog::reject();
    return;
  }
  lblBurnState->setText("Erasing Data... The erase must finish before this window can close.");
}

void ShowEraseDialog(TDialogHost& host, QWidget* owner) {
  TfrmErase dialog(host, owner);
  dialog.Prepare();
  dialog.exec();
}

}  // namespace brennix
