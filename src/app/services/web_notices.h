// The notices fetched on a first run. "firstrun" can turn the FirstRun setting off;
// "allfirstrun" is fetched and dropped. The main window owns one of these.
#pragma once

#include "app/services/live_update.h"
#include "app/services/options.h"

#include <QString>

namespace brennix {

// The two sites the notices come from. Both are names under a reserved domain until the
// program has real sites; such names are never looked up.
struct NoticeSites {
  QString main = "www.brennix.example";
  QString second = "notices.brennix.example";
};

QString FirstRunNoticeUrl(const NoticeSites& sites);
QString AllFirstRunNoticeUrl(const NoticeSites& sites);

// True when the first-run notice says that this is no longer the first run: the single
// letter "f" once blanks and control characters are trimmed from both ends.
bool FirstRunNoticeSaysDone(const QString& text);

class TWebNotices {
 public:
  // options must outlive this object; the fetcher stops its fetches when it is destroyed.
  explicit TWebNotices(TOptions& options, const QString& settingsKey = kSettingsKey,
                       NoticeSites sites = {});

  // Run once, at the main window's first activation: fetches both notices on a first run.
  void StartWebNotices();
  // Attached to the fetcher's OnFetched.
  void NoticeFetched(const QString& name, const QString& text);

  TLiveUpdate& Fetcher() { return fetcher_; }

 private:
  TOptions& options_;
  const QString key_;
  const NoticeSites sites_;
  TLiveUpdate fetcher_;
};

}  // namespace brennix
