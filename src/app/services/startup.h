// Start-up and shut-down of the desktop program.
#pragma once

#include "app/services/web_notices.h"

#include <QStringList>

class QApplication;

namespace brennix {

inline constexpr const char* kAppTitle = "Brennix CD & DVD";
inline constexpr const char* kAlreadyRunning = "Brennix CD & DVD is already running";

inline constexpr const char* kUsage =
    "usage: brennix [--about] [--burn-image IMAGE] [--virtual-recorder PATH[:PROFILE]]...\n"
    "               [--] [PATH...]\n"
    "       brennix --help | --version\n"
    "\n"
    "Opens the main window with the files and folders PATH in the burn queue; with\n"
    "--burn-image, the dialog that writes the image file IMAGE to a disc.\n"
    "A virtual recorder is a software drive whose disc is the file PATH; PROFILE is one of\n"
    "none, cd-rom, cd-r, cd-rw, dvd-rom, dvd-r, dvd-rw-ro, dvd-rw-seq, dvd+rw, dvd+r,\n"
    "dvd+r-dl, dvd-ram. The variable BRENNIX_VIRTUAL_RECORDERS may list more, separated\n"
    "by ';'.\n";

struct StartupSettings {
  bool aboutAtStart = false;  // --about: open the About box once the main window shows
  bool help = false;          // --help: print the usage and end
  int splashMs = 2000;        // BRENNIX_SPLASH_MS may keep the splash longer
  NoticeSites sites;
  QStringList paths;          // queued once the main window exists
  QString burnImage;          // --burn-image: the image file the Burn Image dialog opens with
  QStringList problems;       // told to the user once the main window shows
  bool usageError = false;    // an unknown option: the program ends with exit status 2
};

// Answers what needs no window, before the toolkit starts: --help and --version, and an
// unknown option of two dashes (a usage error). Options of one dash are the toolkit's until
// it has taken its own. Returns the exit status, or -1 to go on.
int AnswerWithoutWindow(int argc, const char* const* argv);

// Reads the command line (without the recorders that AttachVirtualRecorders took out).
// Words after "--" are paths even when they start with "-".
StartupSettings ReadStartupSettings(const QStringList& arguments);

// Attaches the virtual recorders of BRENNIX_VIRTUAL_RECORDERS and of the --virtual-recorder
// options, and returns the arguments without those options. What could not be attached is
// added to problems.
QStringList AttachVirtualRecorders(const QStringList& arguments, QStringList& problems);

// Runs the program on an application object that already exists: settings, single-instance
// guard, splash, main window, event loop, then shut-down. Returns the exit code.
int RunBrennix(QApplication& app, const StartupSettings& settings);

}  // namespace brennix
