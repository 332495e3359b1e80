#include "app/main_window.h"

#include "app/cd_size.h"
#include "app/jpeg_image.h"
#include "app/splash.h"
#include "app/web_page.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenuBar>
#include <QTimer>
#include <QVBoxLayout>

namespace brennix {

TfrmMain::TfrmMain(TOptions& options, bool aboutAtStart, NoticeSites sites)
    : notices_(std::make_unique<TWebNotices>(options, kSettingsKey, std::move(sites))),
      aboutAtStart_(aboutAtStart) {
  setWindowTitle("Brennix CD & DVD");
  const QImage logo = LoadLogo();
  if (!logo.isNull()) setWindowIcon(QIcon(QPixmap::fromImage(logo.copy(28, 36, 184, 184))));

  QMenu* help = menuBar()->addMenu("&Help");
  connect(help->addAction("Home..."), &QAction::triggered, this, &TfrmMain::mnuHomeClick);
  connect(help->addAction("Help..."), &QAction::triggered, this, &TfrmMain::mnuHomeClick);
  help->addSeparator();
  connect(help->addAction("About..."), &QAction::triggered, this, &TfrmMain::mnuAboutClick);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->addStretch(1);
  cdsSize = new TCDSize(central);
  cdsSize->setFixedSize(634, 30);
  layout->addWidget(cdsSize, 0, Qt::AlignHCenter);
  setCentralWidget(central);
  resize(660, 420);
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::mnuHomeClick() { OpenWebPage(kHomePage); }

void TfrmMain::mnuAboutClick() {
  TfrmSplash about(this);
  about.SetMode(true);
  about.exec();
}

void TfrmMain::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !activated_) {
    activated_ = true;
    notices_->StartWebNotices();
  }
  QMainWindow::changeEvent(event);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (aboutAtStart_) {
    aboutAtStart_ = false;
    QTimer::singleShot(0, this, &TfrmMain::mnuAboutClick);
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  // exit, not quit: quit would first ask every window to close, this one included, while
  // it is closing already.
  if (event->isAccepted()) QCoreApplication::exit(0);
}

}  // namespace brennix
