#include "app/services/single_instance.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace brennix {

namespace {

// Paths travel as UTF-8, each ended by a NUL; a sender that says more than this is cut off.
constexpr qint64 kMostPathBytes = 4 << 20;

}  // namespace

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
  server_.reset();
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

QString TSingleInstance::SocketPath() const {
  QString socket = path_;
  socket.chop(int(QStringLiteral(".lock").size()));
  return socket + ".socket";
}

bool TSingleInstance::ListenForPaths(std::function<void(const QStringList&)> onPaths) {
  if (!held_) return false;
  // Whoever made a socket file here before is gone: this copy holds the guard.
  QLocalServer::removeServer(SocketPath());
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer* server = server_.get();
  QObject::connect(server, &QLocalServer::newConnection, server, [server, onPaths] {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
      auto buffer = std::make_shared<QByteArray>();
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer] {
        buffer->append(socket->readAll());
        if (buffer->size() > kMostPathBytes) socket->abort();
      });
      QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, buffer, onPaths] {
        buffer->append(socket->readAll());
        socket->deleteLater();
        // Only what a sender ended completely counts: a cut-off last path is dropped.
        QStringList paths;
        const qsizetype end = buffer->lastIndexOf('\0');
        for (const QByteArray& word : buffer->left(end + 1).split('\0'))
          if (!word.isEmpty()) paths << QString::fromUtf8(word);
        if (!paths.isEmpty() && onPaths) onPaths(paths);
      });
    }
  });
  if (server_->listen(SocketPath())) return true;
  server_.reset();
  return false;
}

bool TSingleInstance::SendPaths(const QStringList& paths, int timeoutMs) const {
  QLocalSocket socket;
  socket.connectToServer(SocketPath());
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray message;
  for (const QString& path : paths) {
    message += QFileInfo(path).absoluteFilePath().toUtf8();
    message += '\0';
  }
  socket.write(message);
  const bool sent = socket.waitForBytesWritten(timeoutMs) || socket.bytesToWrite() == 0;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
  return sent;
}

}  // namespace brennix
