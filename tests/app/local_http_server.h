// A scripted HTTP server on 127.0.0.1 for the fetch tests. It answers each connection with
// the next scripted reply, records the requests, and stops by itself: after its replies are
// used up, after its lifetime, or when destroyed (which joins its thread).
#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

struct ScriptedReply {
  ScriptedReply() = default;
  ScriptedReply(QByteArray r, bool never = false, int64_t stream = 0, QByteArray p = {})
      : raw(std::move(r)), neverAnswer(never), streamBytes(stream), path(std::move(p)) {}

  QByteArray raw;            // sent as it stands, then the connection is closed
  bool neverAnswer = false;  // read the request, then send nothing until stopped
  // After raw, stream this many zero bytes in 4 KiB pieces (a body far too large).
  int64_t streamBytes = 0;
  // When set, the reply serves only a request for this path (else it serves the next one).
  QByteArray path;
};

class LocalHttpServer {
 public:
  explicit LocalHttpServer(QList<ScriptedReply> replies, int lifetimeMs = 10000);
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  int Port() const { return port_; }
  QList<QByteArray> Requests();
  int64_t StreamedBytes() const { return streamed_.load(); }

  // A port on 127.0.0.1 on which nothing listens (connections are refused).
  static int RefusingPort();

 private:
  void Serve();
  void Answer(int client);
  ScriptedReply Take(const QByteArray& request);

  QList<ScriptedReply> replies_;
  int lifetimeMs_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> streamed_{0};
  std::mutex mutex_;
  QList<QByteArray> requests_;
  std::thread thread_;
};

