#include "app/startup.h"

#include "app/main_window.h"
#include "app/options.h"
#include "app/single_instance.h"
#include "app/splash.h"

#include <QApplication>
#include <QMessageBox>

#include <memory>

namespace brennix {

StartupSettings ReadStartupSettings(const QStringList& arguments) {
  StartupSettings s;
  s.aboutAtStart = arguments.contains("--about");
  bool ok = false;
  const int ms = qEnvironmentVariableIntValue("BRENNIX_SPLASH_MS", &ok);
  if (ok && ms > 0 && ms <= 600000) s.splashMs = ms;
  return s;
}

int RunBrennix(QApplication& app, const StartupSettings& settings) {
  QApplication::setApplicationDisplayName(kAppTitle);
  // The splash may close before the main window shows; only the main window ends the loop.
  app.setQuitOnLastWindowClosed(false);

  auto options = std::make_unique<TOptions>();
  options->Load(kSettingsKey);
  auto splash = std::make_unique<TfrmSplash>(nullptr);

  TSingleInstance guard;
  int result = 0;
  if (!guard.Acquire()) {
    QMessageBox box(QMessageBox::Information, "Information", kAlreadyRunning, QMessageBox::Ok);
    box.exec();
  } else {
    splash->SetCloseInterval(settings.splashMs);
    splash->SetMode(false);
    splash->show();
    splash->repaint();
    auto main = std::make_unique<TfrmMain>(*options, settings.aboutAtStart, settings.sites);
    splash->SetMainWindow(main.get());
    QApplication::setWindowIcon(main->windowIcon());
    result = app.exec();
    // The main window goes first: its notice fetches are stopped and joined here, before
    // the settings they may write are saved and freed.
    main.reset();
  }

  options->Save(kSettingsKey);
  options.reset();
  splash.reset();
  return result;
}

}  // namespace brennix
