// The splash window, its logo, and the program's start-up and shut-down as a whole.
#include "app/services/application.h"
#include "app/services/end_signals.h"
#include "app/services/jpeg_image.h"
#include "app/windows/main_window.h"
#include "app/windows/message_box.h"
#include "app/services/options.h"
#include "app/services/single_instance.h"
#include "app/windows/splash.h"
#include "app/services/startup.h"
#include "app/services/web_page.h"
#include "app/windows/image_dialog.h"
#include "test_support.h"
#include "virtual_recorder/attach.h"

#include <csignal>

#include <QDesktopServices>
#include <QTimer>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace brennix;

namespace {

QByteArray LogoBytes() {
  QFile file(QString(BRENNIX_SOURCE_DIR) + "/src/app/resources/logo.jpg");
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Click(QWidget* widget) {
  const QPointF at(2, 2);
  QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &press);
  QCoreApplication::sendEvent(widget, &release);
}

TfrmMain* FindMainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* main = qobject_cast<TfrmMain*>(w)) return main;
  return nullptr;
}

TfrmSplash* FindSplash() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* splash = qobject_cast<TfrmSplash*>(w)) return splash;
  return nullptr;
}

class HomePageCatcher : public QObject {
  Q_OBJECT
 public:
  int opened = 0;
 public slots:
  void Open(const QUrl&) { ++opened; }
};

}  // namespace

TEST(JpegLogo, TheBuiltInLogoDecodesAtTheSplashsSize) {
  const QImage logo = LoadLogo();
  ASSERT_FALSE(logo.isNull());
  EXPECT_EQ(logo.size(), QSize(443, 285));
  // The corner is the cream background, not black or grey from a failed decode.
  const QColor corner(logo.pixel(3, 3));
  EXPECT_GT(corner.red(), 230);
  EXPECT_GT(corner.green(), 220);
  EXPECT_GT(corner.blue(), 200);
  EXPECT_EQ(DecodeJpeg(LogoBytes()).size(), QSize(443, 285));
}

TEST(JpegLogo, DamagedPicturesGiveANullImageAndAReason) {
  QString error;
  EXPECT_TRUE(DecodeJpeg({}, &error).isNull());
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(DecodeJpeg("not a picture at all", &error).isNull());
  EXPECT_FALSE(error.isEmpty());

  const QByteArray logo = LogoBytes();
  ASSERT_FALSE(logo.isEmpty());
  // Scrambled scan data after a sound header: decoded or refused, but never fatal.
  QByteArray scrambled = logo;
  for (qsizetype i = logo.size() / 3; i < logo.size() - 2; i += 7) scrambled[i] = char(0xFF);
  DecodeJpeg(scrambled, &error);
  // Cut short: libjpeg pads what is missing, and the picture keeps its size.
  EXPECT_EQ(DecodeJpeg(logo.left(logo.size() / 2)).size(), QSize(443, 285));
  EXPECT_TRUE(DecodeJpeg(logo.left(100), &error).isNull());

  // A header that claims a picture of 60000 x 60000 is refused before memory is taken.
  QByteArray huge = logo;
  const qsizetype sof = huge.indexOf("\xFF\xC0");
  ASSERT_GT(sof, 0);
  huge[sof + 5] = char(0xEA);
  huge[sof + 6] = char(0x60);
  huge[sof + 7] = char(0xEA);
  huge[sof + 8] = char(0x60);
  EXPECT_TRUE(DecodeJpeg(huge, &error).isNull());
  EXPECT_TRUE(error.contains("refused")) << error.toStdString();
}

TEST(Splash, LayoutOfTheWindowAndItsControls) {
  TfrmSplash splash;
  EXPECT_EQ(splash.size(), QSize(453, 294));
  EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(splash.pnlContainer->geometry(), QRect(0, 0, 453, 294));
  EXPECT_EQ(splash.pnlContainer->frameShape(), QFrame::Box);
  EXPECT_EQ(splash.imgLogo->geometry(), QRect(4, 4, 443, 285));
  EXPECT_FALSE(splash.imgLogo->pixmap().isNull());
  EXPECT_EQ(splash.lblInfo->geometry().topLeft(), QPoint(8, 268));
  EXPECT_EQ(splash.lblInfo->width(), 433);
  EXPECT_TRUE(splash.lblInfo->font().bold());
  EXPECT_TRUE(splash.lblInfo->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(splash.lblInfo->palette().color(QPalette::WindowText), QColor(113, 72, 42));
  EXPECT_EQ(splash.tmrClose->interval(), 2000);
  EXPECT_FALSE(splash.tmrClose->isActive());

  // What a person sees: the logo on white, the notice over its lower edge.
  splash.SetMode(false);
  const QImage shot = splash.grab().toImage();
  EXPECT_EQ(QColor(shot.pixel(2, 2)), QColor(Qt::white));
  EXPECT_EQ(QColor(shot.pixel(0, 100)), QColor(Qt::black));  // the single-line border
  EXPECT_GT(QColor(shot.pixel(10, 10)).red(), 230);           // the logo's cream corner
}

TEST(Splash, SplashModeShowsTheMainWindowWhenTheTimerFires) {
  QWidget main;
  TfrmSplash splash;
  splash.SetMainWindow(&main);
  splash.SetMode(false);
  EXPECT_EQ(splash.lblInfo->text(), kOwnershipNotice);
  EXPECT_TRUE(splash.tmrClose->isActive());
  splash.show();
  // A click only hides the splash early; the main window still comes with the timer.
  Click(splash.imgLogo);
  EXPECT_FALSE(splash.isVisible());
  EXPECT_FALSE(main.isVisible());
  HomePageCatcher catcher;
  QDesktopServices::setUrlHandler("http", &catcher, "Open");
  Click(splash.lblInfo);  // no home page outside About mode
  splash.tmrCloseTimer();
  QDesktopServices::unsetUrlHandler("http");
  EXPECT_EQ(catcher.opened, 0);
  EXPECT_TRUE(main.isVisible());
  EXPECT_FALSE(splash.tmrClose->isActive());
}

TEST(Splash, AboutModeShowsTheVersionAndOpensTheHomePage) {
  TfrmSplash about;
  about.SetMode(true);
  EXPECT_EQ(about.lblInfo->text(), QString("Version " BRENNIX_VERSION ", ") + kOwnershipNotice);
  EXPECT_EQ(about.lblInfo->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_FALSE(about.tmrClose->isActive());
  HomePageCatcher catcher;
  QDesktopServices::setUrlHandler("http", &catcher, "Open");
  about.show();
  Click(about.lblInfo);
  QDesktopServices::unsetUrlHandler("http");
  EXPECT_EQ(catcher.opened, 1);
  EXPECT_TRUE(about.isVisible());
  Click(about.pnlContainer);
  EXPECT_FALSE(about.isVisible());
}

TEST(Application, AnExceptionEscapingAnEventHandlerIsDropped) {
  class Throwing : public QObject {
   public:
    bool event(QEvent*) override { throw std::runtime_error("handler failed"); }
  } target;
  QEvent event(QEvent::User);
  EXPECT_NO_THROW(EXPECT_FALSE(QCoreApplication::sendEvent(&target, &event)));
}

class Startup : public testing::Test {
 protected:
  // Without a recorder the main window warns that there is no transport; that box is
  // answered here so that it cannot hold up the start-up under test.
  void SetUp() override {
    QFile::remove(SettingsFilePath());
    SetMessageBoxHandler([](QWidget*, QMessageBox::Icon, const QString&, const QString&,
                            QMessageBox::StandardButtons, QMessageBox::StandardButton) {
      return QMessageBox::Ok;
    });
  }
  void TearDown() override {
    SetMessageBoxHandler(nullptr);
    QFile::remove(SettingsFilePath());
  }
  static QString SavedFirstRun() {
    QSettings file(SettingsFilePath(), QSettings::IniFormat);
    return file.value("Software/Brennix CD & DVD/Options/FirstRun").toString();
  }
};

TEST_F(Startup, FirstRunShowsSplashThenMainWindowAndSavesTheSettingsAtExit) {
  StartupSettings settings;
  settings.splashMs = 400;
  bool splashFirst = false, mainLater = false, splashGone = false;
  QString title;
  // Polled without blocking: showing the splash may run the event loop before the main
  // window exists, and nothing here may hold up the start-up it watches.
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    TfrmSplash* splash = FindSplash();
    TfrmMain* main = FindMainWindow();
    if (!main || !splash) return;
    if (!main->isVisible()) {
      splashFirst |= splash->isVisible();
      return;
    }
    mainLater = true;
    splashGone = !splash->isVisible();
    title = main->windowTitle();
    watch.stop();
    main->close();
  });
  watch.start(10);
  EXPECT_EQ(RunBrennix(*qApp, settings), 0);
  EXPECT_TRUE(splashFirst);
  EXPECT_TRUE(mainLater);
  EXPECT_TRUE(splashGone);
  EXPECT_EQ(title, "Brennix CD & DVD");
  EXPECT_EQ(SavedFirstRun(), "1");
  EXPECT_EQ(FindMainWindow(), nullptr);
  EXPECT_EQ(FindSplash(), nullptr);
  TSingleInstance after;  // the guard was given back
  EXPECT_TRUE(after.Acquire());
}

TEST_F(Startup, ASecondCopyShowsTheMessageAndEndsWithoutAWindow) {
  TSingleInstance running;
  ASSERT_TRUE(running.Acquire());
  QString text, caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool windowShown = true;
  std::function<void()> answer = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      QTimer::singleShot(10, answer);
      return;
    }
    text = box->text();
    caption = box->windowTitle();
    icon = box->icon();
    TfrmMain* main = FindMainWindow();
    TfrmSplash* splash = FindSplash();
    windowShown = main != nullptr || (splash && splash->isVisible()) || box->parentWidget();
    box->accept();
  };
  QTimer::singleShot(10, answer);
  EXPECT_EQ(RunBrennix(*qApp, StartupSettings{}), 0);
  EXPECT_EQ(text, "Brennix CD & DVD is already running");
  EXPECT_EQ(caption, "Information");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_FALSE(windowShown);
  EXPECT_TRUE(QFile::exists(running.LockFilePath()));  // the running copy is undisturbed
  TSingleInstance another;
  EXPECT_FALSE(another.Acquire());
}

TEST(CommandLine, RecordersAreAttachedAndTheOtherWordsArePathsOrOptions) {
  QTemporaryDir dir;
  const QString disc = dir.filePath("disc.img");
  struct Case {
    QStringList words;
    QStringList paths;
    size_t recorders;
    int problems;
    bool about;
  };
  const Case cases[] = {
      {{"brennix", "a", "--virtual-recorder", disc + ":dvd+r", "b/"}, {"a", "b/"}, 1, 0, false},
      {{"brennix", "--virtual-recorder=" + dir.filePath("cd.img") + ":cd-r", "--about", "--", "--about", "-x"},
       {"--about", "-x"}, 1, 0, true},
      {{"brennix", "--virtual-recorder"}, {}, 0, 1, false},
      {{"brennix", "--virtual-recorder", "", "c", "--bogus"}, {"c"}, 0, 2, false},
  };
  for (const Case& c : cases) {
    ClearExtraDrives();
    QStringList problems;
    const StartupSettings s = ReadStartupSettings(AttachVirtualRecorders(c.words, problems));
    EXPECT_EQ(s.paths, c.paths) << c.words.join(' ').toStdString();
    EXPECT_EQ(ExtraDrives().size(), c.recorders) << c.words.join(' ').toStdString();
    EXPECT_EQ(problems.size() + s.problems.size(), c.problems) << c.words.join(' ').toStdString();
    EXPECT_EQ(s.aboutAtStart, c.about);
  }
  ClearExtraDrives();
}

// A logout's SIGTERM leaves the event loop with the signal's status once no dialog works with
// a recorder (a dialog that does is aborted as its Abort button would, then closes; the
// image, copy and check dialogs too).
TEST(EndSignals, SigtermLeavesTheEventLoopWithItsStatus) {
  brennix::InstallEndSignals(*qApp);
  QApplication::setQuitOnLastWindowClosed(false);  // the main window would stay open
  TfrmImage image(TImageDialogKind::Save, std::string(), {});
  image.show();
  QTimer::singleShot(0, [] { ::raise(SIGTERM); });
  EXPECT_EQ(QCoreApplication::exec(), 128 + SIGTERM);
  EXPECT_FALSE(image.isVisible());
  QApplication::setQuitOnLastWindowClosed(true);
}

#include "startup_test.moc"
