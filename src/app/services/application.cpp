#include "app/services/application.h"

#include "platform/main_thread.h"

namespace brennix {

TBrennixApplication::TBrennixApplication(int& argc, char** argv) : QApplication(argc, argv) {
  InstallQtMainThreadPoster();
}

TBrennixApplication::~TBrennixApplication() { RemoveQtMainThreadPoster(); }

bool TBrennixApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    return false;
  }
}

void InstallQtMainThreadPoster() {
  SetMainThreadPoster([](MainThreadTask task) {
    // The receiver is the application object; a task posted while it is being torn down
    // is dropped with the event queue.
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
  });
}

void RemoveQtMainThreadPoster() { SetMainThreadPoster(nullptr); }

}  // namespace brennix
