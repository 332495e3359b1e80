#include "app/services/startup.h"

#include "app/windows/main_window.h"
#include "app/windows/message_box.h"
#include "app/services/options.h"
#include "app/services/single_instance.h"
#include "app/windows/splash.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>

#include "brennix_version.h"
#include "virtual_recorder/attach.h"

namespace brennix {

StartupSettings ReadStartupSettings(const QStringList& arguments) {
  StartupSettings s;
  bool optionsEnd = false;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& word = arguments[i];
    if (optionsEnd || !word.startsWith('-') || word == "-") {
      s.paths << word;
    } else if (word == "--") {
      optionsEnd = true;
    } else if (word == "--about") {
      s.aboutAtStart = true;
    } else if (word == "--burn-image") {
      if (i + 1 < arguments.size()) {
        s.burnImage = arguments[++i];
      } else {
        s.problems << "--burn-image needs an image file";
        s.usageError = true;
      }
    } else if (word == "--help" || word == "-h") {
      s.help = true;
    } else {
      s.problems << "unknown option '" + word + "'";
      s.usageError = true;
    }
  }
  bool ok = false;
  const int ms = qEnvironmentVariableIntValue("BRENNIX_SPLASH_MS", &ok);
  if (ok && ms > 0 && ms <= 600000) s.splashMs = ms;
  return s;
}

int AnswerWithoutWindow(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") break;
    if (word == "--help" || word == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (word == "--version") {
      std::puts("brennix " BRENNIX_VERSION);
      return 0;
    }
    if (word == "--virtual-recorder" || word == "--burn-image") {
      ++i;  // its value may start with dashes
    } else if (word.rfind("--", 0) == 0 && word != "--about" &&
               word.rfind("--virtual-recorder=", 0) != 0) {
      std::fprintf(stderr, "brennix: unknown option '%s' (see 'brennix --help')\n", word.c_str());
      return 2;
    }
  }
  return -1;
}

QStringList AttachVirtualRecorders(const QStringList& arguments, QStringList& problems) {
  std::string error;
  if (!AttachVirtualRecordersFromEnvironment(error)) problems << QString::fromStdString(error);
  std::vector<std::string> words;
  for (const QString& word : arguments) words.push_back(word.toStdString());
  QStringList rest;
  for (size_t i = 0; i < words.size();) {
    if (words[i] == "--") {  // the rest are paths
      for (; i < words.size(); ++i) rest << arguments[qsizetype(i)];
      break;
    }
    const int used = AttachVirtualRecorderOption(words, i, error);
    if (used < 0) {
      problems << QString::fromStdString(error);
      // The option's value is taken as well, so it is never queued as a path.
      i += words[i] == "--virtual-recorder" ? 2 : 1;
    } else if (used == 0) {
      rest << arguments[qsizetype(i++)];
    } else {
      i += size_t(used);
    }
  }
  return rest;
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
    // Files given to a second copy go to the queue of the first, which raises its window.
    if (settings.paths.isEmpty() || !guard.SendPaths(settings.paths))
      ShowMessage(nullptr, QMessageBox::Information, "Information", kAlreadyRunning);
  } else {
    splash->SetCloseInterval(settings.splashMs);
    splash->SetMode(false);
    splash->show();
    splash->repaint();
    auto main = std::make_unique<TfrmMain>(*options, settings.aboutAtStart, settings.sites);
    main->QueuePaths(settings.paths);
    guard.ListenForPaths([window = main.get()](const QStringList& paths) {
      window->QueuePaths(paths);
      window->showNormal();
      window->raise();
      window->activateWindow();
    });
    if (!settings.burnImage.isEmpty()) {
      QTimer::singleShot(0, main.get(), [window = main.get(), file = settings.burnImage] {
        window->mnuFileBurnImageClick(file);
      });
    }
    if (!settings.problems.isEmpty()) {
      QTimer::singleShot(0, main.get(), [window = main.get(), text = settings.problems.join('\n')] {
        ShowMessageBox(window, QMessageBox::Warning, "Warning", text);
      });
    }
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
