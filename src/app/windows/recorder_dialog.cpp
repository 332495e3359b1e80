#include "app/windows/recorder_dialog.h"

#include "app/windows/dialog_support.h"
#include "component/korb_burner.h"
#include "component/recorder_rules.h"

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

}  // namespace

TRecorderDialog::TRecorderDialog(TDialogHost& host, QWidget* owner, const char* name,
                                 const char* caption)
    : QDialog(owner), host_(host), korb_(std::make_unique<TKorbBurner>()) {
  setObjectName(name);
  setWindowTitle(caption);
  setModal(true);
  setFixedWidth(537);
}

TRecorderDialog::~TRecorderDialog() = default;

QPushButton* TRecorderDialog::AddHeader(QWidget* control, const char* name, const char* startName,
                                        const char* startText) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 6);
  outer->setSpacing(4);
  QHBoxLayout* header = nullptr;
  outer->addWidget(MakeRecorderHeader(this, header));
  control->setObjectName(name);
  if (qobject_cast<QComboBox*>(control) != nullptr) {
    control->setMaximumWidth(301);
    control->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    header->addWidget(control, 1);
  } else {
    control->setFixedWidth(301);
    header->addWidget(control);
    header->addStretch(1);
  }
  cmdEject = MakeButton(this, "cmdEject", "Eject", 45, 22);
  cmdLoad = MakeButton(this, "cmdLoad", "Load", 45, 22);
  QPushButton* start = MakeButton(this, startName, startText, 93, 22);
  for (QPushButton* button : {cmdEject, cmdLoad, start}) header->addWidget(button);
  connect(cmdEject, &QPushButton::clicked, this, &TRecorderDialog::cmdEjectClick);
  connect(cmdLoad, &QPushButton::clicked, this, &TRecorderDialog::cmdLoadClick);

  body_ = new QVBoxLayout();
  body_->setContentsMargins(8, 0, 8, 0);
  body_->setSpacing(4);
  outer->addLayout(body_);
  options_ = new QVBoxLayout();
  options_->setSpacing(4);
  body_->addLayout(options_);
  return start;
}

void TRecorderDialog::AddProgress() {
  body_->addWidget(new QLabel("Progress: ", this));
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
  body_->addLayout(bar);
  status_ = new QHBoxLayout();
  lblBurnState = new QLabel(this);
  lblBurnState->setObjectName("lblBurnState");
  status_->addWidget(lblBurnState, 1);
  body_->addLayout(status_);

  tmrProgress = new QTimer(this);
  tmrProgress->setObjectName("tmrProgress");
  tmrProgress->setInterval(kProgressTickMs);
  connect(cmdAbort, &QPushButton::clicked, this, [this] { cmdAbortClick(); });
  connect(tmrProgress, &QTimer::timeout, this, [this] { tmrProgressTimer(); });
}

void TRecorderDialog::cmdEjectClick() { StartTray(TrayMove::Eject); }
void TRecorderDialog::cmdLoadClick() { StartTray(TrayMove::Load); }

}  // namespace brennix
