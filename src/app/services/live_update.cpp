#include "app/services/live_update.h"

#include "platform/main_thread.h"

namespace brennix {

namespace {

// Wraps a handler so that it runs on the main thread, and only while the owner lives.
template <class Handler>
void PostIfAlive(const std::weak_ptr<TLiveUpdate*>& owner, Handler handler) {
  PostToMainThread([owner, handler = std::move(handler)] {
    if (auto alive = owner.lock()) handler(**alive);
  });
}

}  // namespace

TLiveUpdate::TLiveUpdate() : self_(std::make_shared<TLiveUpdate*>(this)) {}

TLiveUpdate::~TLiveUpdate() {
  self_.reset();
  // Ask every fetch to stop first so they wind down together, then join them all.
  for (int i = 0; i < running_.Count(); ++i) running_.Objects(i)->Terminate();
  running_.Clear();
  buffers_.Clear();
}

bool TLiveUpdate::InProgress(const QString& name) const {
  return running_.IndexOf(name) >= 0 || buffers_.IndexOf(name) >= 0;
}

void TLiveUpdate::Fetch(const QString& name, const QString& url) {
  if (InProgress(name)) return;
  auto* inet = new TInet(name);
  inet->ConnectTimeoutMs = ConnectTimeoutMs;
  inet->TotalTimeoutMs = TotalTimeoutMs;
  inet->MaxBodyBytes = MaxBodyBytes;
  const std::weak_ptr<TLiveUpdate*> owner = self_;
  inet->OnData = [owner](const QString& n, const QByteArray& chunk) {
    PostIfAlive(owner, [n, chunk](TLiveUpdate& self) { self.Chunk(n, chunk); });
  };
  inet->OnFailed = [owner](const QString& n) {
    PostIfAlive(owner, [n](TLiveUpdate& self) { self.Failed(n); });
  };
  inet->OnDone = [owner](const QString& n) {
    PostIfAlive(owner, [n](TLiveUpdate& self) { self.Done(n); });
  };
  running_.Add(name, inet);
  buffers_.Add(name, new QByteArray);
  inet->Start(url, QString(), QString());
}

void TLiveUpdate::Chunk(const QString& name, const QByteArray& chunk) {
  const int index = buffers_.IndexOf(name);
  if (index >= 0) buffers_.Objects(index)->append(chunk);
}

void TLiveUpdate::FinishThread(const QString& name) {
  // The thread posted this notification as its last act; joining it takes no time.
  const int index = running_.IndexOf(name);
  if (index >= 0) running_.Delete(index);
}

void TLiveUpdate::Failed(const QString& name) {
  FinishThread(name);
  const int index = buffers_.IndexOf(name);
  if (index >= 0) buffers_.Delete(index);
  if (OnFetchFailed) OnFetchFailed(name);
}

void TLiveUpdate::Done(const QString& name) {
  FinishThread(name);
  QByteArray body;
  const int index = buffers_.IndexOf(name);
  if (index >= 0) {
    body = *buffers_.Objects(index);
    buffers_.Delete(index);
  }
  if (OnFetched) OnFetched(name, QString::fromUtf8(body));
}

}  // namespace brennix
