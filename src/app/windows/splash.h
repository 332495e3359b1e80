// The splash window, shown for a moment at start-up; the same window serves as the About box.
#pragma once

#include <QDialog>
#include <QPointer>

#include "brennix_version.h"

class QFrame;
class QLabel;
class QTimer;

namespace brennix {

inline constexpr const char* kOwnershipNotice = "\u00A9 2026 The Brennix developers";
inline constexpr const char* kVersionText = "Version " BRENNIX_VERSION ", ";
inline constexpr int kSplashMs = 2000;

class TfrmSplash : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmSplash(QWidget* owner = nullptr);

  // false: splash mode (the close timer starts); true: About mode.
  void SetMode(bool aboutMode);

  // The window the close timer shows when the splash goes.
  void SetMainWindow(QWidget* window) { mainWindow_ = window; }
  // How long the splash stays; set before SetMode.
  void SetCloseInterval(int ms);

  QFrame* pnlContainer = nullptr;
  QLabel* imgLogo = nullptr;
  QLabel* lblInfo = nullptr;
  QTimer* tmrClose = nullptr;

  void ExitClick();
  void lblInfoClick();
  void tmrCloseTimer();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool aboutMode_ = false;
  QPointer<QWidget> mainWindow_;
};

}  // namespace brennix
