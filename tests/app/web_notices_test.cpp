// Web notices against a scripted server on 127.0.0.1: what is requested, when a fetch
// counts as completed, that every failure ends quietly and in bounded time, and what the
// first-run notice does to the settings.
#include "app/windows/custom_string_list.h"
#include "app/services/inet.h"
#include "app/services/live_update.h"
#include "app/services/options.h"
#include "app/services/web_notices.h"
#include "local_http_server.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace brennix;

namespace {

QByteArray Reply(int status, const QByteArray& body, const char* length = "match") {
  QByteArray head = "HTTP/1.0 " + QByteArray::number(status) + (status == 200 ? " OK" : " Not Found") +
                    "\r\nContent-Type: text/plain\r\n";
  if (QByteArray(length) == "match")
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
  else if (QByteArray(length) != "none")
    head += QByteArray("Content-Length: ") + length + "\r\n";
  return head + "\r\n" + body;
}

// Records the outcome of fetches made through a TLiveUpdate.
struct Outcomes {
  QStringList fetched, failed;
  QStringList bodies;
  bool offMainThread = false;
  void Attach(TLiveUpdate& live) {
    live.OnFetched = [this](const QString& n, const QString& b) {
      offMainThread |= QThread::currentThread() != qApp->thread();
      fetched << n;
      bodies << b;
    };
    live.OnFetchFailed = [this](const QString& n) {
      offMainThread |= QThread::currentThread() != qApp->thread();
      failed << n;
    };
  }
  int Count() const { return static_cast<int>(fetched.size() + failed.size()); }
};

QString LocalUrl(int port, const char* path) {
  return QString("http://127.0.0.1:%1%2").arg(port).arg(path);
}

}  // namespace

TEST(CustomStringList, OwnsItsObjectsOnlyWhileTold) {
  struct Counted {
    int* alive;
    explicit Counted(int* a) : alive(a) { ++*alive; }
    ~Counted() { --*alive; }
  };
  int alive = 0;
  {
    TCustomStringList<Counted> list;
    list.Add("One", new Counted(&alive));
    list.Add("two", new Counted(&alive));
    list.Add("three", new Counted(&alive));
    EXPECT_EQ(list.IndexOf("ONE"), 0);
    EXPECT_EQ(list.IndexOf("Two"), 1);
    EXPECT_EQ(list.IndexOf("four"), -1);
    list.Delete(0);
    EXPECT_EQ(alive, 2);
    list.Delete(7);  // out of range: nothing happens
    EXPECT_EQ(list.Count(), 2);
    list.OwnsObjects = false;
    Counted* kept = list.Objects(0);
    list.Delete(0);
    EXPECT_EQ(alive, 2);
    delete kept;
    list.OwnsObjects = true;
  }  // the list frees what it still holds
  EXPECT_EQ(alive, 0);
}

TEST(InetUrl, SplitsHostAndObjectAsTheNoticesNeed) {
  EXPECT_EQ(SplitInetUrl("http://www.site.example/brennix/data/firstrun.txt").host, "www.site.example");
  EXPECT_EQ(SplitInetUrl("http://www.site.example/brennix/data/firstrun.txt").object,
            "brennix/data/firstrun.txt");
  EXPECT_EQ(SplitInetUrl("HTTP://Host:8080/a").host, "Host:8080");
  // Nothing after the host asks for an empty object name.
  EXPECT_EQ(SplitInetUrl("http://host").host, "host");
  EXPECT_EQ(SplitInetUrl("http://host").object, "");
  EXPECT_EQ(SplitInetUrl("http://host/").object, "");
  EXPECT_EQ(SplitInetUrl("host/x/y").object, "x/y");
}

TEST(Inet, SendsAnHttp10GetWithTheDefaultAgentAndNoCacheInPiecesOf1024) {
  const QByteArray body(3000, 'x');
  LocalHttpServer server({{Reply(200, body), false, 0}});
  TInet inet("Notice");
  std::atomic<int> status{0}, pieces{0}, largest{0}, done{0}, failed{0};
  std::atomic<int64_t> length{-1};
  inet.OnHeaders = [&](const QString& name, int s, int64_t l) {
    EXPECT_EQ(name, "Notice");
    status = s;
    length = l;
  };
  inet.OnData = [&](const QString&, const QByteArray& chunk) {
    ++pieces;
    largest = std::max(largest.load(), static_cast<int>(chunk.size()));
  };
  inet.OnDone = [&](const QString&) { ++done; };
  inet.OnFailed = [&](const QString&) { ++failed; };
  inet.Start(LocalUrl(server.Port(), "/brennix/data/firstrun.txt"), "", "");
  inet.WaitFor();
  EXPECT_EQ(done.load(), 1);
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(status.load(), 200);
  EXPECT_EQ(length.load(), 3000);
  EXPECT_GE(pieces.load(), 3);
  EXPECT_LE(largest.load(), 1024);
  EXPECT_FALSE(inet.Busy());

  ASSERT_EQ(server.Requests().size(), 1);
  const QByteArray request = server.Requests()[0];
  EXPECT_TRUE(request.startsWith("GET /brennix/data/firstrun.txt HTTP/1.0\r\n")) << request.constData();
  EXPECT_TRUE(request.contains("User-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows 98; DigExt)\r\n"));
  EXPECT_TRUE(request.contains("Pragma: no-cache\r\n"));
  EXPECT_FALSE(request.contains("Referer:"));
}

TEST(Inet, ReservedHostsAreNeverLookedUp) {
  TInet inet("x");
  std::atomic<int> errors{0}, failed{0};
  inet.OnError = [&](const QString&, int) { ++errors; };
  inet.OnFailed = [&](const QString&) { ++failed; };
  QElapsedTimer timer;
  timer.start();
  inet.Start("http://www.brennix.example/brennix/data/firstrun.txt", "", "");
  inet.WaitFor();
  EXPECT_EQ(errors.load(), 1);
  EXPECT_EQ(failed.load(), 1);
  EXPECT_LT(timer.elapsed(), 1000);
}

// Completion depends only on the body length matching the announced length.
TEST(LiveUpdate, CompletesExactlyWhenTheBodyMatchesItsLength) {
  LocalHttpServer server({
      {Reply(404, "<html>gone</html>"), false, 0},   // 404 whose length matches: completed
      {Reply(200, "f\r", "5"), false, 0},             // shorter than announced
      {Reply(200, "abc", "none"), false, 0},          // no length on a non-empty body
      {Reply(200, "abcdef", "3"), false, 0},          // longer than announced
      {Reply(200, "", "none"), false, 0},             // empty body, no length: matches 0
  });
  TLiveUpdate live;
  Outcomes out;
  out.Attach(live);
  const char* names[] = {"a", "b", "c", "d", "e"};
  for (const char* name : names) {
    live.Fetch(name, LocalUrl(server.Port(), "/n.txt"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !live.InProgress(name); }, 5000)) << name;
  }
  EXPECT_EQ(out.fetched, QStringList({"a", "e"}));
  EXPECT_EQ(out.bodies, QStringList({"<html>gone</html>", ""}));
  EXPECT_EQ(out.failed, QStringList({"b", "c", "d"}));
  EXPECT_EQ(live.RunningCount(), 0);
  EXPECT_FALSE(out.offMainThread);
}

TEST(LiveUpdate, NamesAreCaseInsensitiveAndABusyNameIsNotFetchedTwice) {
  LocalHttpServer server({{"", true, 0}, {Reply(200, "second"), false, 0}}, 3000);
  TLiveUpdate live;
  live.TotalTimeoutMs = 400;
  Outcomes out;
  out.Attach(live);
  live.Fetch("FirstRun", LocalUrl(server.Port(), "/a"));
  live.Fetch("firstrun", LocalUrl(server.Port(), "/b"));  // dropped: same name in progress
  EXPECT_TRUE(live.InProgress("FIRSTRUN"));
  EXPECT_EQ(live.RunningCount(), 1);
  ASSERT_TRUE(ProcessEventsUntil([&] { return out.Count() == 1; }, 5000));
  EXPECT_EQ(out.failed, QStringList({"FirstRun"}));
  // Once finished, the name is free again.
  live.Fetch("firstrun", LocalUrl(server.Port(), "/c"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return out.Count() == 2; }, 5000));
  EXPECT_EQ(out.bodies, QStringList({"second"}));
}

TEST(LiveUpdate, RefusedAndSilentServersFailQuietlyWithinBoundedTime) {
  LocalHttpServer silent({{"", true, 0}}, 5000);
  TLiveUpdate live;
  live.ConnectTimeoutMs = 500;
  live.TotalTimeoutMs = 500;
  Outcomes out;
  out.Attach(live);
  QElapsedTimer timer;
  timer.start();
  live.Fetch("refused", LocalUrl(LocalHttpServer::RefusingPort(), "/x"));
  live.Fetch("silent", LocalUrl(silent.Port(), "/x"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return out.Count() == 2; }, 5000));
  EXPECT_LT(timer.elapsed(), 3000);
  EXPECT_TRUE(out.fetched.isEmpty());
  EXPECT_EQ(out.failed.size(), 2);
}

TEST(LiveUpdate, AHugeBodyIsCutOffWithoutBeingKept) {
  // Announces and sends 200 MB; the fetch must stop long before.
  const int64_t huge = 200LL * 1024 * 1024;
  LocalHttpServer server({{"HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(huge) + "\r\n\r\n",
                           false, huge}});
  TLiveUpdate live;
  Outcomes out;
  out.Attach(live);
  live.Fetch("big", LocalUrl(server.Port(), "/big"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return out.Count() == 1; }, 10000));
  EXPECT_EQ(out.failed, QStringList({"big"}));
  EXPECT_LT(server.StreamedBytes(), 64LL * 1024 * 1024);
}

TEST(LiveUpdate, DestroyingTheFetcherStopsRunningFetchesAndDropsTheirNotifications) {
  LocalHttpServer silent({{"", true, 0}, {"", true, 0}}, 5000);
  Outcomes out;
  QElapsedTimer timer;
  {
    TLiveUpdate live;
    out.Attach(live);
    live.Fetch("one", LocalUrl(silent.Port(), "/1"));
    live.Fetch("two", LocalUrl(silent.Port(), "/2"));
    ProcessEventsUntil([] { return false; }, 100);
    timer.start();
  }  // joins both threads here
  EXPECT_LT(timer.elapsed(), 3000);
  ProcessEventsUntil([] { return false; }, 100);  // anything still queued must be dropped
  EXPECT_EQ(out.Count(), 0);
}

class FirstRunNotice : public testing::Test {
 protected:
  void SetUp() override { QFile::remove(SettingsFilePath()); }
  void TearDown() override { QFile::remove(SettingsFilePath()); }

  // Serves body as the first-run notice and returns FirstRun as saved afterwards.
  bool SavedFirstRunAfter(const QByteArray& body) {
    LocalHttpServer server({{Reply(200, body), false, 0, "/brennix/data/firstrun.txt"},
                            {Reply(200, "ignored"), false, 0, "/firstrun/allfirstrun.txt"}});
    QFile::remove(SettingsFilePath());
    TOptions options;
    options.Load(kSettingsKey);
    EXPECT_TRUE(options.FirstRun);
    options.Save(kSettingsKey);
    const QString site = QString("127.0.0.1:%1").arg(server.Port());
    TWebNotices notices(options, kSettingsKey, {site, site});
    notices.StartWebNotices();
    EXPECT_TRUE(ProcessEventsUntil([&] { return notices.Fetcher().RunningCount() == 0; }, 5000));
    const QByteArray requests = server.Requests().join();
    EXPECT_TRUE(requests.contains("GET /brennix/data/firstrun.txt HTTP/1.0"));
    EXPECT_TRUE(requests.contains("GET /firstrun/allfirstrun.txt HTTP/1.0"));
    TOptions reread;
    reread.Load(kSettingsKey);
    EXPECT_EQ(reread.FirstRun, options.FirstRun);
    return reread.FirstRun;
  }
};

TEST_F(FirstRunNotice, LowerCaseFWithLineEndTurnsFirstRunOffAndSavesIt) {
  EXPECT_FALSE(SavedFirstRunAfter("f\r\n"));
  EXPECT_FALSE(SavedFirstRunAfter("  \tf \r\n"));
}

TEST_F(FirstRunNotice, OtherTextsLeaveFirstRunOn) {
  EXPECT_TRUE(SavedFirstRunAfter("F"));
  EXPECT_TRUE(SavedFirstRunAfter("false"));
  EXPECT_TRUE(SavedFirstRunAfter(""));
}

TEST_F(FirstRunNotice, NothingIsFetchedOnceFirstRunIsOff) {
  LocalHttpServer server({{Reply(200, "f"), false, 0}}, 500);
  TOptions options;
  options.FirstRun = false;
  const QString site = QString("127.0.0.1:%1").arg(server.Port());
  TWebNotices notices(options, kSettingsKey, {site, site});
  notices.StartWebNotices();
  EXPECT_EQ(notices.Fetcher().RunningCount(), 0);
  // Only the notice named exactly "firstrun" is acted on.
  options.FirstRun = true;
  notices.NoticeFetched("allfirstrun", "f");
  notices.NoticeFetched("FirstRun", "f");
  EXPECT_TRUE(options.FirstRun);
  notices.NoticeFetched("firstrun", "f");
  EXPECT_FALSE(options.FirstRun);
}
