// Settings, size texts, web pages and the single-instance guard.
#include "app/windows/message_box.h"
#include "app/services/options.h"
#include "app/services/single_instance.h"
#include "app/windows/queue_texts.h"
#include "app/services/web_page.h"
#include "test_support.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

using namespace brennix;

namespace {

class Settings : public testing::Test {
 protected:
  void SetUp() override { QFile::remove(SettingsFilePath()); }
  void TearDown() override {
    QFile::setPermissions(SettingsFilePath(), QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(SettingsFilePath());
  }
};

}  // namespace

TEST_F(Settings, FirstStartCreatesTheKeyAndWritesFirstRunAtExit) {
  EXPECT_TRUE(SettingsFilePath().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
  TOptions options;
  EXPECT_FALSE(options.FirstRun);
  options.Load(kSettingsKey);
  EXPECT_TRUE(options.FirstRun);
  EXPECT_TRUE(QFileInfo(SettingsFilePath()).dir().exists());
  options.Save(kSettingsKey);
  // Stored under the key path with "\Options\" appended, as a number.
  QSettings file(SettingsFilePath(), QSettings::IniFormat);
  EXPECT_EQ(file.value("Software/Brennix CD & DVD/Options/FirstRun").toString(), "1");

  options.FirstRun = false;
  options.Save(kSettingsKey);
  TOptions again;
  again.FirstRun = true;
  again.Load(kSettingsKey);
  EXPECT_FALSE(again.FirstRun);
}

TEST_F(Settings, UnreadableValuesCountAsMissingAndAnUnusableFileIsSkipped) {
  {
    QSettings file(SettingsFilePath(), QSettings::IniFormat);
    file.setValue("Software/Brennix CD & DVD/Options/FirstRun", "garbage");
  }
  TOptions options;
  options.Load(kSettingsKey);
  EXPECT_TRUE(options.FirstRun);

  // A file that cannot be written is left alone on save, and the run goes on.
  options.FirstRun = false;
  QFile::setPermissions(SettingsFilePath(), QFile::ReadOwner);
  if (::geteuid() != 0) {  // root writes regardless of the mode
    options.Save(kSettingsKey);
    QSettings file(SettingsFilePath(), QSettings::IniFormat);
    EXPECT_EQ(file.value("Software/Brennix CD & DVD/Options/FirstRun").toString(), "garbage");
  }
}

TEST_F(Settings, AFolderThatCannotBeCreatedLeavesTheFieldsAlone) {
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  const QString blocker = QString::fromUtf8(saved) + "/not-a-folder";
  {
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  qputenv("XDG_CONFIG_HOME", blocker.toUtf8());
  TOptions options;
  options.Load(kSettingsKey);
  EXPECT_FALSE(options.FirstRun);  // a new object's value, not the default of a missing value
  options.FirstRun = true;
  options.Load(kSettingsKey);
  EXPECT_TRUE(options.FirstRun);
  options.Save(kSettingsKey);  // skipped without a fuss
  qputenv("XDG_CONFIG_HOME", saved);
  QFile::remove(blocker);
  EXPECT_FALSE(QFile::exists(SettingsFilePath()));
}

TEST(SizeToText, UnitsBoundariesAndDivisors) {
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(SizeToText(0), "0 bytes");
  EXPECT_EQ(SizeToText(1000), "1000 bytes");
  EXPECT_EQ(SizeToText(1023), "1023 bytes");
  EXPECT_EQ(SizeToText(1023.5), "1023.5 bytes");
  EXPECT_EQ(SizeToText(1024), "1.00 KB");
  EXPECT_EQ(SizeToText(1023999), "1000.00 KB");
  EXPECT_EQ(SizeToText(1024000), "1.00 MB");
  EXPECT_EQ(SizeToText(1023999999), "1000.00 MB");
  EXPECT_EQ(SizeToText(1024000000), "1.00 GB");
  EXPECT_EQ(SizeToText(4700000000.0), "4.59 GB");
  EXPECT_EQ(SizeToText(8.5e12), "8300.78 GB");  // no thousands separator
}

TEST(SizeToText, UsesTheLocalesDecimalSeparator) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(SizeToText(1024), "1,00 KB");
  EXPECT_EQ(SizeToText(4700000000.0), "4,59 GB");
  EXPECT_EQ(SizeToText(1023999), "1000,00 KB");
  EXPECT_EQ(SizeToText(512.5), "512,5 bytes");
  QLocale::setDefault(QLocale::c());
}

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls << url; }
};

TEST(OpenWebPage, HandsTheAddressToTheDesktop) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("http", &catcher, "Open");
  OpenWebPage(kHomePage);
  OpenWebPage("http://www.brennix.example/brennix/help.htm");
  QDesktopServices::unsetUrlHandler("http");
  ASSERT_EQ(catcher.urls.size(), 2);
  EXPECT_EQ(catcher.urls[0], QUrl("http://" BRENNIX_HOME_PAGE));
  EXPECT_EQ(catcher.urls[1], QUrl("http://www.brennix.example/brennix/help.htm"));
}

// Help opens the manual that lies beside the program, installed or built; without one it says
// where help is instead of doing nothing.
TEST(OpenHelp, OpensTheManualFoundLocallyOrSaysWhereHelpIs) {
  QTemporaryDir root;
  const QString program = root.filePath("usr/bin");
  const QStringList candidates = HelpFileCandidates(program);
  ASSERT_EQ(candidates.size(), 2);
  EXPECT_EQ(candidates[0], root.filePath("usr/share/doc/brennix/brennix.html"));
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("file", &catcher, "Open");
  QStringList said;
  SetMessageBoxHandler([&said](QWidget*, QMessageBox::Icon, const QString&, const QString& text,
                               QMessageBox::StandardButtons, QMessageBox::StandardButton) {
    said << text;
    return QMessageBox::Ok;
  });
  OpenHelp(nullptr, candidates);  // nothing there yet
  for (const QString& file : {candidates[1], candidates[0]}) {
    QDir().mkpath(QFileInfo(file).path());
    QFile(file).open(QIODevice::WriteOnly);
    OpenHelp(nullptr, candidates);
  }
  SetMessageBoxHandler(nullptr);
  QDesktopServices::unsetUrlHandler("file");
  ASSERT_EQ(said.size(), 1);
  EXPECT_NE(said[0].indexOf("man brennix"), -1) << said[0].toStdString();
  EXPECT_EQ(catcher.urls, (QList<QUrl>{QUrl::fromLocalFile(candidates[1]),
                                       QUrl::fromLocalFile(candidates[0])}));
}

TEST(SingleInstance, ASecondCopyIsRefusedAndTheFirstKeepsItsLock) {
  TSingleInstance first;
  ASSERT_TRUE(first.Acquire());
  EXPECT_TRUE(first.LockFilePath().startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR")));
  EXPECT_TRUE(first.LockFilePath().endsWith("/Brennix CD & DVD.lock"));
  {
    TSingleInstance second;
    EXPECT_FALSE(second.Acquire());
  }  // the refused copy going away must not release the first one's lock
  EXPECT_TRUE(QFile::exists(first.LockFilePath()));
  TSingleInstance third;
  EXPECT_FALSE(third.Acquire());

  // A first copy that has run for hours is still running: age never makes its lock stale.
  const QByteArray path = QFile::encodeName(first.LockFilePath());
  utimbuf old{time(nullptr) - 7200, time(nullptr) - 7200};
  ASSERT_EQ(::utime(path.constData(), &old), 0);
  TSingleInstance later;
  EXPECT_FALSE(later.Acquire());
}

TEST(SingleInstance, FilesGivenToASecondCopyReachTheFirst) {
  TSingleInstance second;
  EXPECT_FALSE(second.SendPaths({"/tmp"}, 200)) << "no first copy listens yet";
  TSingleInstance first;
  ASSERT_TRUE(first.Acquire());
  std::vector<QStringList> received;
  ASSERT_TRUE(first.ListenForPaths([&](const QStringList& paths) { received.push_back(paths); }));
  const QStringList sent{"relative name.txt", "/tmp/b\u00e9/c", "/tmp/line\nbreak"};
  ASSERT_TRUE(second.SendPaths(sent));
  ASSERT_TRUE(ProcessEventsUntil([&] { return !received.empty(); }, 5000));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], (QStringList{QDir::current().absoluteFilePath("relative name.txt"),
                                      "/tmp/b\u00e9/c", "/tmp/line\nbreak"}));
}

TEST(SingleInstance, ALockLeftByACrashedCopyDoesNotBlockTheNextStart) {
  QString lockPath;
  {
    TSingleInstance probe;
    lockPath = probe.LockFilePath();
  }
  ASSERT_FALSE(QFile::exists(lockPath));
  // A real copy of the program takes the guard and is then killed outright.
  QProcess copy;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  copy.setProcessEnvironment(env);
  copy.start(BRENNIX_APP, {});
  ASSERT_TRUE(copy.waitForStarted(5000));
  // The copy holds the guard once its lock file names it (created, then written).
  ASSERT_TRUE(ProcessEventsUntil([&] { return QFileInfo(lockPath).size() > 0; }, 10000));
  {
    TSingleInstance whileRunning;
    EXPECT_FALSE(whileRunning.Acquire());
  }
  copy.kill();
  ASSERT_TRUE(copy.waitForFinished(5000));
  ASSERT_TRUE(QFile::exists(lockPath));  // left behind

  TSingleInstance next;
  EXPECT_TRUE(next.Acquire());
}

// A copy killed before it wrote its process id leaves an empty lock file: fresh, it may
// still be written; old, it must not keep the program from ever starting again.
TEST(SingleInstance, AnEmptyLockFileIsTakenOverOnceItIsOld) {
  QString lockPath;
  {
    TSingleInstance probe;
    lockPath = probe.LockFilePath();
  }
  QFile empty(lockPath);
  ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
  empty.close();
  {
    TSingleInstance fresh;
    EXPECT_FALSE(fresh.Acquire());
  }
  const QByteArray path = QFile::encodeName(lockPath);
  utimbuf old{time(nullptr) - 60, time(nullptr) - 60};
  ASSERT_EQ(::utime(path.constData(), &old), 0);
  TSingleInstance later;
  EXPECT_TRUE(later.Acquire());
}

#include "settings_test.moc"
