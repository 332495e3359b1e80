#include "app/services/end_signals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <atomic>

#include "app/windows/job_dialog.h"
#include "app/windows/recorder_dialog.h"

namespace brennix {

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kPollMs = 100;

int g_pipe[2] = {-1, -1};
std::atomic<int> g_received{0};

extern "C" void OnEndSignal(int number) {
  if (g_received.fetch_add(1) > 0) {
    // Asked twice: nobody waits for the ending any more.
    ::signal(number, SIG_DFL);
    ::raise(number);
    return;
  }
  const unsigned char byte = static_cast<unsigned char>(number);
  (void)!::write(g_pipe[1], &byte, 1);
}

// Whether a dialog still works with a recorder; asks each to end as its Abort would.
bool DialogsStillWorking() {
  bool working = false;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    // An open question is answered No, the answer that changes nothing.
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
      box->done(QMessageBox::No);
      working = true;
      continue;
    }
    if (!widget->isVisible()) continue;
    if (auto* recorder = qobject_cast<TRecorderDialog*>(widget)) {
      recorder->CloseWithoutAsking();
      working = true;
    } else if (auto* job = qobject_cast<TJobDialog*>(widget)) {
      job->reject();  // a running job is stopped first, as Abort stops it
      working = true;
    }
  }
  return working;
}

}  // namespace

void InstallEndSignals(QApplication& app) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : kEndSignals) ::sigaction(number, &action, nullptr);

  auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
    unsigned char number = 0;
    if (::read(g_pipe[0], &number, 1) != 1) return;
    notifier->setEnabled(false);
    const int status = 128 + number;
    auto* poll = new QTimer(notifier);
    QObject::connect(poll, &QTimer::timeout, [poll, status] {
      // The dialogs' own ends (a recording's close, the drive's restore) come first.
      if (DialogsStillWorking()) return;
      poll->stop();
      QCoreApplication::exit(status);
    });
    poll->start(kPollMs);
  });
}

}  // namespace brennix
