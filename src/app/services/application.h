// The application object: drops exceptions that escape an event handler, and carries the
// main-thread delivery of the program's worker notifications into the Qt event loop.
#pragma once

#include <QApplication>

namespace brennix {

class TBrennixApplication : public QApplication {
 public:
  TBrennixApplication(int& argc, char** argv);
  ~TBrennixApplication() override;

  // An exception escaping a handler is dropped here; the event counts as not handled.
  bool notify(QObject* receiver, QEvent* event) override;
};

// Routes PostToMainThread into the running Qt event loop; RemoveQtMainThreadPoster puts the
// built-in queue back. The application object installs and removes it itself.
void InstallQtMainThreadPoster();
void RemoveQtMainThreadPoster();

}  // namespace brennix
