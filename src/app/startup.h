// Start-up and shut-down of the desktop program.
#pragma once

#include "app/web_notices.h"

#include <QStringList>

class QApplication;

namespace brennix {

inline constexpr const char* kAppTitle = "Brennix CD & DVD";
inline constexpr const char* kAlreadyRunning = "Brennix CD & DVD is already running";

struct StartupSettings {
  bool aboutAtStart = false;  // --about: open the About box once the main window shows
  int splashMs = 2000;        // BRENNIX_SPLASH_MS may keep the splash longer
  NoticeSites sites;
};

StartupSettings ReadStartupSettings(const QStringList& arguments);

// Runs the program on an application object that already exists: settings, single-instance
// guard, splash, main window, event loop, then shut-down. Returns the exit code.
int RunBrennix(QApplication& app, const StartupSettings& settings);

}  // namespace brennix
