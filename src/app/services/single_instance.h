// Refuses a second copy of the program. The guard is a lock file named after the program in
// the user's runtime folder; a lock left behind by a copy that crashed is recognised (its
// process is gone) and taken over.
//
// The copy that holds the guard also listens on a local socket beside the lock file, so that
// a second copy started with files (a file manager's "Open with") hands them over instead of
// dropping them: the first copy queues them.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

namespace brennix {

inline constexpr const char* kInstanceName = "Brennix CD & DVD";

class TSingleInstance {
 public:
  explicit TSingleInstance(const QString& name = kInstanceName);
  ~TSingleInstance();  // releases the lock when this copy holds it
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // True when this copy now holds the guard; false when another live copy does.
  bool Acquire();
  bool Held() const { return held_; }
  QString LockFilePath() const;

  // In the copy that holds the guard: hands paths that later copies send to onPaths (on the
  // main thread, once per sending copy). False when the socket cannot be opened.
  bool ListenForPaths(std::function<void(const QStringList&)> onPaths);
  // In a later copy: sends paths (made absolute here) to the copy that holds the guard.
  // False when none answered within timeoutMs.
  bool SendPaths(const QStringList& paths, int timeoutMs = 3000) const;

 private:
  QString SocketPath() const;

  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
  QString path_;
  bool held_ = false;
};

}  // namespace brennix
