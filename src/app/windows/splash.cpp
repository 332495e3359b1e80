#include "app/windows/splash.h"

#include "app/services/jpeg_image.h"
#include "app/services/web_page.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

namespace brennix {

TfrmSplash::TfrmSplash(QWidget* owner)
    : QDialog(owner, (owner ? Qt::Dialog : Qt::SplashScreen) | Qt::FramelessWindowHint) {
  setWindowTitle("Brennix CD & DVD");
  setFixedSize(453, 294);

  pnlContainer = new QFrame(this);
  pnlContainer->setGeometry(0, 0, 453, 294);
  pnlContainer->setFrameShape(QFrame::Box);
  pnlContainer->setFrameShadow(QFrame::Plain);
  pnlContainer->setLineWidth(1);
  pnlContainer->setAutoFillBackground(true);
  QPalette white = pnlContainer->palette();
  white.setColor(QPalette::Window, Qt::white);
  pnlContainer->setPalette(white);

  imgLogo = new QLabel(pnlContainer);
  imgLogo->setGeometry(4, 4, 443, 285);
  const QImage logo = LoadLogo();
  if (!logo.isNull())
    imgLogo->setPixmap(QPixmap::fromImage(logo.scaled(443, 285, Qt::IgnoreAspectRatio,
                                                      Qt::SmoothTransformation)));

  lblInfo = new QLabel(pnlContainer);
  lblInfo->setGeometry(8, 268, 433, 18);
  lblInfo->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  lblInfo->setAttribute(Qt::WA_TranslucentBackground);
  QFont bold = lblInfo->font();
  bold.setBold(true);
  lblInfo->setFont(bold);
  QPalette brown = lblInfo->palette();
  brown.setColor(QPalette::WindowText, QColor(113, 72, 42));
  lblInfo->setPalette(brown);
  lblInfo->raise();

  tmrClose = new QTimer(this);
  tmrClose->setInterval(kSplashMs);
  tmrClose->setSingleShot(false);
  connect(tmrClose, &QTimer::timeout, this, &TfrmSplash::tmrCloseTimer);

  pnlContainer->installEventFilter(this);
  imgLogo->installEventFilter(this);
  lblInfo->installEventFilter(this);

  // Centred on the owner as About box, on the screen as splash.
  QRect area = owner ? owner->frameGeometry() : QRect();
  if (area.isEmpty())
    if (QScreen* screen = QGuiApplication::primaryScreen()) area = screen->geometry();
  if (!area.isEmpty()) move(area.center() - QPoint(width() / 2, height() / 2));
}

void TfrmSplash::SetCloseInterval(int ms) { tmrClose->setInterval(ms > 0 ? ms : kSplashMs); }

void TfrmSplash::SetMode(bool aboutMode) {
  aboutMode_ = aboutMode;
  if (aboutMode) {
    lblInfo->setText(QString(kVersionText) + kOwnershipNotice);
    lblInfo->setCursor(Qt::PointingHandCursor);
  } else {
    lblInfo->setText(kOwnershipNotice);
    tmrClose->start();
  }
}

void TfrmSplash::ExitClick() { close(); }

void TfrmSplash::lblInfoClick() {
  if (aboutMode_) OpenWebPage(kHomePage);
}

void TfrmSplash::tmrCloseTimer() {
  tmrClose->stop();
  if (mainWindow_) mainWindow_->show();
  close();
}

bool TfrmSplash::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == lblInfo) {
      lblInfoClick();
      return true;
    }
    if (watched == imgLogo || watched == pnlContainer) {
      ExitClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace brennix
