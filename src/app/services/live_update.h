// Runs named web fetches, collects their bodies and reports each finished one by name.
// Notifications reach the main thread (PostToMainThread), where all of this object's state
// lives; the fetch threads touch none of it.
#pragma once

#include "app/windows/custom_string_list.h"
#include "app/services/inet.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace brennix {

class TLiveUpdate {
 public:
  TLiveUpdate();
  // Stops the running fetches and waits for them; notifications still on their way to the
  // main thread are dropped.
  ~TLiveUpdate();
  TLiveUpdate(const TLiveUpdate&) = delete;
  TLiveUpdate& operator=(const TLiveUpdate&) = delete;

  // Starts a fetch of the URL under the name; a name already in progress is left alone.
  void Fetch(const QString& name, const QString& url);

  std::function<void(const QString& name)> OnFetchFailed;
  std::function<void(const QString& name, const QString& body)> OnFetched;

  bool InProgress(const QString& name) const;
  int RunningCount() const { return running_.Count(); }

  // Bounds handed to every fetch started afterwards.
  uint32_t ConnectTimeoutMs = 10000;
  uint32_t TotalTimeoutMs = 30000;
  int64_t MaxBodyBytes = 64 * 1024;

 private:
  void Chunk(const QString& name, const QByteArray& chunk);
  void Failed(const QString& name);
  void Done(const QString& name);
  void FinishThread(const QString& name);

  // name -> the fetch thread; the list owns the threads, and freeing one joins it.
  TCustomStringList<TInet> running_;
  // name -> the body received so far.
  TCustomStringList<QByteArray> buffers_;
  // Posted notifications hold a weak reference; once this object is gone they do nothing.
  std::shared_ptr<TLiveUpdate*> self_;
};

}  // namespace brennix
