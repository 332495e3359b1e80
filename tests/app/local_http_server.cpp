#include "local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int Listen(int& port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 8) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(s);
    return -1;
  }
  port = ntohs(addr.sin_port);
  return s;
}

}  // namespace

LocalHttpServer::LocalHttpServer(QList<ScriptedReply> replies, int lifetimeMs)
    : replies_(std::move(replies)), lifetimeMs_(lifetimeMs) {
  listener_ = Listen(port_);
  if (listener_ >= 0) thread_ = std::thread([this] { Serve(); });
}

LocalHttpServer::~LocalHttpServer() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
}

QList<QByteArray> LocalHttpServer::Requests() {
  std::lock_guard<std::mutex> hold(mutex_);
  return requests_;
}

int LocalHttpServer::RefusingPort() {
  int port = 0;
  const int s = Listen(port);
  if (s >= 0) ::close(s);  // nobody listens there any more
  return port;
}

void LocalHttpServer::Serve() {
  const auto start = Clock::now();
  for (qsizetype served = 0, count = replies_.size(); served < count; ++served) {
    int client = -1;
    while (client < 0 && !stop_.load() && MsSince(start) < lifetimeMs_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (client < 0) return;
    Answer(client);
    ::close(client);
  }
}

ScriptedReply LocalHttpServer::Take(const QByteArray& request) {
  const QList<QByteArray> words = request.left(request.indexOf('\r')).split(' ');
  const QByteArray path = words.size() > 1 ? words[1] : QByteArray();
  for (qsizetype i = 0; i < replies_.size(); ++i) {
    if (replies_[i].path.isEmpty() || replies_[i].path == path) return replies_.takeAt(i);
  }
  return {};
}

void LocalHttpServer::Answer(int client) {
  const auto start = Clock::now();
  // Read the request head (bounded in size and time).
  QByteArray request;
  while (!request.contains("\r\n\r\n") && request.size() < 16384 && !stop_.load() &&
         MsSince(start) < 2000) {
    pollfd p{client, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buffer[1024];
    const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<qsizetype>(n));
  }
  {
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.append(request);
  }
  const ScriptedReply reply = Take(request);
  if (reply.neverAnswer) {
    // Silent until stopped, or until the client gives up and hangs up.
    while (!stop_.load() && MsSince(start) < lifetimeMs_) {
      pollfd p{client, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buffer[256];
      if (::recv(client, buffer, sizeof buffer, 0) <= 0) return;
    }
    return;
  }
  if (::send(client, reply.raw.constData(), static_cast<size_t>(reply.raw.size()), MSG_NOSIGNAL) < 0)
    return;
  static const char zeros[4096] = {};
  while (streamed_.load() < reply.streamBytes && !stop_.load() && MsSince(start) < lifetimeMs_) {
    const ssize_t n = ::send(client, zeros, sizeof zeros, MSG_NOSIGNAL);
    if (n <= 0) return;  // the client hung up
    streamed_.fetch_add(n);
  }
}
