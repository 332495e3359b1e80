// The main window as it stands until the burn queue arrives: its title, the usage bar, the
// Help menu (home page and About box) and the web notices of a first run.
#pragma once

#include "app/web_notices.h"

#include <QMainWindow>

#include <memory>

namespace brennix {

class TCDSize;

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  TfrmMain(TOptions& options, bool aboutAtStart = false, NoticeSites sites = {});
  ~TfrmMain() override;

  TCDSize* cdsSize = nullptr;

  void mnuAboutClick();
  void mnuHomeClick();
  TWebNotices& Notices() { return *notices_; }

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  std::unique_ptr<TWebNotices> notices_;
  bool activated_ = false;
  bool aboutAtStart_ = false;
};

}  // namespace brennix
