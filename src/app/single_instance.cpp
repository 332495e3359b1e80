#include "app/single_instance.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

namespace brennix {

TSingleInstance::TSingleInstance(const QString& name) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  QString file = name;
  file.replace('/', '_');
  path_ = folder + "/" + file + ".lock";
  lock_ = std::make_unique<QLockFile>(path_);
  // Age alone must never make the lock stale: the first copy may run for days. A lock
  // counts as stale only when the process that wrote it is gone.
  lock_->setStaleLockTime(0);
}

TSingleInstance::~TSingleInstance() {
  if (held_) lock_->unlock();
}

bool TSingleInstance::Acquire() {
  if (held_) return true;
  // tryLock clears a lock whose process is gone before it reports failure.
  held_ = lock_->tryLock(0);
  if (!held_ && lock_->error() == QLockFile::LockFailedError) {
    // A copy killed between creating the lock file and writing its process id into it
    // leaves a file that names no process, which the check above never calls stale. Such
    // a file is given a few seconds (a copy may be writing it right now), then taken over.
    qint64 pid = 0;
    QString host;
    QString app;
    const QFileInfo info(path_);
    if (!lock_->getLockInfo(&pid, &host, &app) && info.exists() &&
        info.lastModified().secsTo(QDateTime::currentDateTime()) > 5) {
      lock_->removeStaleLockFile();
      held_ = lock_->tryLock(0);
    }
  }
  return held_;
}

QString TSingleInstance::LockFilePath() const { return path_; }

}  // namespace brennix
