#include "app/services/inet.h"

#include <QList>

#include <curl/curl.h>

#include <mutex>

namespace brennix {

namespace {

void EnsureCurlReady() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Reserved names (RFC 2606/6761) never resolve; a lookup would only send a query out.
bool IsReservedHost(const QString& host) {
  QString name = host.section(':', 0, 0).toLower();
  while (name.endsWith('.')) name.chop(1);
  return name == "example" || name.endsWith(".example") || name == "invalid" ||
         name.endsWith(".invalid");
}

// A header value that is missing or not a plain number counts as 0.
int64_t ParseCount(const QByteArray& text) {
  const QByteArray t = text.trimmed();
  if (t.isEmpty() || t.size() > 18) return 0;
  int64_t value = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

InetUrlParts SplitInetUrl(const QString& url) {
  QString rest = url;
  if (rest.toLower().contains("http://")) rest = rest.mid(7);
  const qsizetype slash = rest.indexOf('/');
  if (slash < 0) return {rest, QString()};
  return {rest.left(slash), rest.mid(slash + 1)};
}

// State of one transfer, reached from libcurl's callbacks on the fetch thread.
struct InetTransfer {
  TInet& inet;
  int status = 0;
  int64_t contentLength = 0;
  int64_t total = 0;
  bool headersRaised = false;
  bool cutOff = false;

  void RaiseHeaders() {
    if (headersRaised) return;
    headersRaised = true;
    if (inet.OnHeaders) inet.OnHeaders(inet.name_, status, contentLength);
  }

  static size_t Header(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<InetTransfer*>(self);
    const size_t bytes = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(bytes)).trimmed();
    if (line.startsWith("HTTP/")) {
      // A new response (after an interim one): its own headers count.
      const QList<QByteArray> words = line.split(' ');
      t->status = words.size() > 1 ? static_cast<int>(ParseCount(words[1])) : 0;
      t->contentLength = 0;
    } else if (line.isEmpty()) {
      if (t->status >= 200 || t->status == 0) t->RaiseHeaders();
    } else {
      const qsizetype colon = line.indexOf(':');
      if (colon > 0 && line.left(colon).trimmed().compare("content-length", Qt::CaseInsensitive) == 0)
        t->contentLength = ParseCount(line.mid(colon + 1));
    }
    return bytes;
  }

  static size_t Body(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<InetTransfer*>(self);
    const size_t bytes = size * count;
    t->RaiseHeaders();
    if (t->inet.Terminated()) return 0;
    if (t->total + static_cast<int64_t>(bytes) > t->inet.MaxBodyBytes) {
      t->cutOff = true;
      return 0;  // aborts the transfer
    }
    for (size_t at = 0; at < bytes; at += kInetPieceSize) {
      const size_t piece = std::min<size_t>(kInetPieceSize, bytes - at);
      t->total += static_cast<int64_t>(piece);
      if (t->inet.OnData) t->inet.OnData(t->inet.name_, QByteArray(data + at, static_cast<qsizetype>(piece)));
    }
    return bytes;
  }

  static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<InetTransfer*>(self)->inet.Terminated() ? 1 : 0;
  }
};

TInet::TInet(const QString& name) : TThread(true), name_(name) { EnsureCurlReady(); }

TInet::~TInet() {
  Terminate();
  WaitFor();
}

void TInet::Start(const QString& url, const QString& userAgent, const QString& referrer) {
  url_ = url;
  userAgent_ = userAgent.isEmpty() ? QString(kDefaultUserAgent) : userAgent;
  referrer_ = referrer;
  Resume();
}

void TInet::Execute() {
  busy_.store(true);
  InetTransfer transfer{*this};
  bool completed = false;

  const InetUrlParts parts = SplitInetUrl(url_);
  CURL* curl = nullptr;
  if (parts.host.isEmpty() || IsReservedHost(parts.host)) {
    if (OnError) OnError(name_, CURLE_COULDNT_RESOLVE_HOST);
  } else if (!(curl = curl_easy_init())) {
    if (OnError) OnError(name_, CURLE_FAILED_INIT);
  } else {
    // The object part goes out as it stands: it is the notice's path on that site.
    const QByteArray target = "http://" + parts.host.toUtf8() + "/" + parts.object.toUtf8();
    const QByteArray agent = userAgent_.toUtf8();
    const QByteArray referrer = referrer_.toUtf8();
    curl_slist* headers = nullptr;
    // Always a fresh copy from the site, never one from a cache on the way.
    headers = curl_slist_append(headers, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    curl_easy_setopt(curl, CURLOPT_URL, target.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.constData());
    if (!referrer.isEmpty()) curl_easy_setopt(curl, CURLOPT_REFERER, referrer.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(TotalTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kInetPieceSize));
    // The body is read to the end of the connection and its length compared with the
    // announced one afterwards, so a body longer than announced is noticed too.
    curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &InetTransfer::Header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &InetTransfer::Body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &InetTransfer::Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);

    const CURLcode result = curl_easy_perform(curl);
    if (!transfer.headersRaised) {
      // No response at all: the connection or the request failed.
      if (OnError) OnError(name_, static_cast<int>(result));
    } else {
      completed = !transfer.cutOff && transfer.total == transfer.contentLength;
    }
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
  }

  if (completed) {
    if (OnDone) OnDone(name_);
  } else {
    if (OnFailed) OnFailed(name_);
  }
  busy_.store(false);
}

}  // namespace brennix
