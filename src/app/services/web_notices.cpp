#include "app/services/web_notices.h"

namespace brennix {

QString FirstRunNoticeUrl(const NoticeSites& sites) {
  return "http://" + sites.main + "/brennix/data/firstrun.txt";
}

QString AllFirstRunNoticeUrl(const NoticeSites& sites) {
  return "http://" + sites.second + "/firstrun/allfirstrun.txt";
}

bool FirstRunNoticeSaysDone(const QString& text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  while (first < last && text[first].unicode() <= ' ') ++first;
  while (last > first && text[last - 1].unicode() <= ' ') --last;
  return text.mid(first, last - first) == "f";
}

TWebNotices::TWebNotices(TOptions& options, const QString& settingsKey, NoticeSites sites)
    : options_(options), key_(settingsKey), sites_(std::move(sites)) {
  fetcher_.OnFetched = [this](const QString& name, const QString& text) { NoticeFetched(name, text); };
  fetcher_.OnFetchFailed = [](const QString&) {};  // a failed notice is simply not acted on
}

void TWebNotices::StartWebNotices() {
  if (!options_.FirstRun) return;
  fetcher_.Fetch("firstrun", FirstRunNoticeUrl(sites_));
  fetcher_.Fetch("allfirstrun", AllFirstRunNoticeUrl(sites_));
}

void TWebNotices::NoticeFetched(const QString& name, const QString& text) {
  if (name != "firstrun") return;
  if (!FirstRunNoticeSaysDone(text)) return;
  options_.FirstRun = false;
  options_.Save(key_);
}

}  // namespace brennix
