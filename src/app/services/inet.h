// One HTTP/1.0 GET on a thread of its own, reporting through notifications that are raised
// on that thread. Built on libcurl.
#pragma once

#include "platform/thread.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

namespace brennix {

inline constexpr const char* kDefaultUserAgent =
    "Mozilla/4.0 (compatible; MSIE 5.0; Windows 98; DigExt)";
inline constexpr int kInetPieceSize = 1024;

struct InetUrlParts {
  QString host;    // may carry ":port"
  QString object;  // without the leading "/"
};

// "http://host/a/b" -> host "host", object "a/b"; a URL with nothing after its host asks for
// an empty object name.
InetUrlParts SplitInetUrl(const QString& url);

class TInet final : public TThread {
 public:
  explicit TInet(const QString& name);
  ~TInet() override;  // asks a running fetch to stop and waits for it

  // Stores the values (an empty user agent takes the default) and starts the thread.
  void Start(const QString& url, const QString& userAgent, const QString& referrer);

  QString Name() const { return name_; }
  bool Busy() const { return busy_.load(); }

  // Bounds of one fetch; set before Start.
  uint32_t ConnectTimeoutMs = 10000;
  uint32_t TotalTimeoutMs = 30000;
  // A body longer than this is cut off and the fetch fails: notices are a few bytes, and
  // nothing a server sends may grow the program's memory without bound.
  int64_t MaxBodyBytes = 64 * 1024;

  std::function<void(const QString& name, int errorCode)> OnError;
  std::function<void(const QString& name, int status, int64_t contentLength)> OnHeaders;
  std::function<void(const QString& name, const QByteArray& chunk)> OnData;
  std::function<void(const QString& name)> OnFailed;
  std::function<void(const QString& name)> OnDone;

 protected:
  void Execute() override;

 private:
  friend struct InetTransfer;

  const QString name_;
  std::atomic<bool> busy_{false};
  QString url_, userAgent_, referrer_;
};

}  // namespace brennix
