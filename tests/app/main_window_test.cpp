// The main window on virtual recorders: the queue and its sizes, the recorder's disc scaling
// the usage bar, the warnings, drops from a file manager, and folders measured in the
// background.
#include "app/windows/queue_texts.h"
#include "app/windows/cd_size.h"
#include "app/windows/main_window.h"
#include "app/windows/message_box.h"
#include "app/services/options.h"
#include "app/windows/tray_actions.h"
#include "app/windows/volumes.h"
#include "component/sequence_guard.h"
#include "component/korb_burner.h"
#include "device/cdb.h"
#include "device/device_entry.h"
#include "test_support.h"
#include "../transport/fake_drive_backend.h"
#include "transport/aspi.h"
#include "transport/drive_letters.h"
#include "transport/spti.h"
#include "virtual_recorder/attach.h"

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

using namespace brennix;

namespace {

// A virtual recorder in a scratch folder, attached as the only drive for one window.
class Recorder {
 public:
  explicit Recorder(const std::string& profile, RecorderOptions options = {}) {
    ClearExtraDrives();
    std::string error;
    if (!profile.empty())
      drive_ = AttachVirtualRecorder(dir_.filePath("disc.img").toStdString() + ":" + profile,
                                     options, error);
    // A table built while no drive was registered would stay empty on a reload.
    SPTIDone();
    ASPIReload();
  }
  ~Recorder() {
    ClearExtraDrives();
    SPTIDone();
    ASPIReload();
    SPTIDone();
    SetSPTICloseAfterCommand(true);
  }

 VirtualRecorder& Drive() { return drive_->Recorder(); }

 private:
  QTemporaryDir dir_;
  std::shared_ptr<VirtualDrive> drive_;
};

struct Message {
  QString caption, text;
};

// Answers every message box with its default and keeps what it said.
class Messages {
 public:
  Messages() {
    SetMessageBoxHandler([this](QWidget*, QMessageBox::Icon, const QString& caption,
                                const QString& text, QMessageBox::StandardButtons,
                                QMessageBox::StandardButton defaultButton) {
      said.push_back({caption, text});
      return defaultButton == QMessageBox::NoButton ? QMessageBox::Ok : defaultButton;
    });
  }
  ~Messages() { SetMessageBoxHandler(nullptr); }
  std::vector<Message> said;
};

// Files of given sizes in a scratch folder.
class Files {
 public:
  QString Make(const QString& name, qint64 bytes) {
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(QByteArray(bytes, 'x'));
    return path;
  }
  QTemporaryDir dir;
};

struct Window {
  explicit Window(const std::string& profile = "cd-r", RecorderOptions o = {}) : recorder(profile, o) {
    ProcessEventsUntil([] { return false; }, 20);  // the start-up warning, when there is one
    Settled();                                     // and the disc's first read-out
  }
  Recorder recorder;
  Messages messages;
  TOptions options;
  TfrmMain main{options};
  QStringList Rows(int column) const {
    QStringList cells;
    for (int i = 0; i < main.lvwFiles->topLevelItemCount(); ++i)
      cells << main.lvwFiles->topLevelItem(i)->text(column);
    return cells;
  }
  // The steps that talk to the recorder have ended.
  bool Settled() const {
    return ProcessEventsUntil([this] { return !main.DriveBusy(); }, 30000);
  }
  bool Measured() const {
    return ProcessEventsUntil([this] { return main.MeasurementsRunning() == 0; }, 10000);
  }
};

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    QFile::remove(SettingsFilePath());
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  }
  void TearDown() override {
    QLocale::setDefault(QLocale::c());
    QFile::remove(SettingsFilePath());
  }
};

}  // namespace

TEST_F(MainWindow, ResizingGivesTheRoomToTheQueueAndThePlacementIsRemembered) {
  Window w;
  TfrmMain& main = w.main;
  EXPECT_EQ(main.windowTitle(), "Brennix CD & DVD");
  for (const char* name : {"drvDrives", "cmdNetwork", "dirFolders", "splMain", "flbFiles",
                           "Splitter1", "cmdAddFolder", "cmdAddFiles", "cmdRemoveFiles",
                           "cmdClearFiles", "chkPathInfo", "txtVolumeLabel", "lvwFiles",
                           "cmbDrives", "cmdEject", "cmdLoad", "cmdErase", "cmdBurn",
                           "lblTotalCDSize", "cdsSize"})
    EXPECT_NE(main.findChild<QWidget*>(name), nullptr) << name;
  EXPECT_EQ(main.minimumSize(), QSize(642, 569));
  EXPECT_EQ(main.txtVolumeLabel->maxLength(), 16);
  EXPECT_EQ(main.chkPathInfo->checkState(), Qt::Checked);
  EXPECT_TRUE(main.chkPathInfo->isTristate());

  main.show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return main.isVisible(); }, 2000));
  const int upper = main.Splitter1->sizes().value(0);
  const int queue = main.lvwFiles->height();
  const int tree = main.dirFolders->width();
  const QSize before = main.size();
  EXPECT_EQ(upper, 256);
  main.resize(760, 700);
  ProcessEventsUntil([&] { return main.lvwFiles->height() > queue; }, 2000);
  EXPECT_EQ(main.Splitter1->sizes().value(0), upper);
  EXPECT_EQ(main.dirFolders->width(), tree);
  EXPECT_EQ(main.lvwFiles->height() - queue, 700 - before.height());
  EXPECT_EQ(main.cdsSize->width(), main.lvwFiles->width());
  main.Splitter1->setSizes({300, 500});
  main.splMain->setSizes({250, 600});
  main.close();

  TOptions options;
  TfrmMain again(options);
  again.show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return again.isVisible(); }, 2000));
  EXPECT_EQ(again.size(), QSize(760, 700));
  EXPECT_EQ(again.Splitter1->sizes().value(0), 300);
  EXPECT_EQ(again.splMain->sizes().value(0), 250);
}

TEST_F(MainWindow, QueueRowsCellsAndTheSizeLineFollowAddRemoveAndClear) {
  Files files;
  const QString empty = files.Make("empty.txt", 0);
  const QString small = files.Make("small.bin", 1536);
  const QString big = files.Make("big.bin", 5120000);
  Window w;
  TfrmMain& main = w.main;
  struct Step {
    std::function<void()> act;
    QStringList cells;
    QString line;
  };
  const Step steps[] = {
      {[&] { main.QueuePaths({empty}); }, {""}, "Used Disc Space: 0 bytes, New: 0 bytes"},
      {[&] { main.QueuePaths({small}); }, {"", "1,536"}, "Used Disc Space: 1.50 KB, New: 1.50 KB"},
      {[&] { main.QueuePaths({big, "/no/such/file"}); }, {"", "1,536", "5,120,000"},
       "Used Disc Space: 5.00 MB, New: 5.00 MB"},
      {[&] {
         main.lvwFiles->setCurrentItem(main.lvwFiles->topLevelItem(2));
         main.cmdRemoveFiles->click();
       },
       {"", "1,536"}, "Used Disc Space: 1.50 KB, New: 1.50 KB"},
      // Nothing selected, nothing removed.
      {[&] { main.cmdRemoveFiles->click(); }, {"", "1,536"},
       "Used Disc Space: 1.50 KB, New: 1.50 KB"},
      {[&] {
         main.lvwFiles->topLevelItem(1)->setSelected(true);
         main.cmdRemoveFiles->click();
       },
       {""}, "Used Disc Space: 0 bytes, New: 0 bytes"},
      // A source already queued is not queued again.
      {[&] { main.QueuePaths({small, small}); }, {"", "1,536"},
       "Used Disc Space: 1.50 KB, New: 1.50 KB"},
      {[&] { main.cmdClearFiles->click(); }, {}, "Used Disc Space: 0 bytes, New: 0 bytes"},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    steps[i].act();
    EXPECT_EQ(w.Rows(2), steps[i].cells) << "step " << i;
    EXPECT_EQ(main.lblTotalCDSize->text(), steps[i].line) << "step " << i;
  }
  EXPECT_EQ(QueuedBytes, 0.0);
  main.QueuePaths({files.dir.path()});
  EXPECT_EQ(w.Rows(1), QStringList{files.dir.path() + "/"});
  EXPECT_EQ(main.lvwFiles->topLevelItem(0)->checkState(0), Qt::Checked);
  ASSERT_TRUE(w.Measured());
  EXPECT_EQ(w.Rows(2), QStringList{"5,121,536"});
  EXPECT_EQ(QueuedBytes, 5121536.0);
  // Leaving out the subfolders changes nothing: a folder's size counts everything below it.
  main.lvwFiles->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  main.UpdateSizes();
  EXPECT_EQ(QueuedBytes, 5121536.0);
}

TEST_F(MainWindow, TheDiscInTheRecorderScalesTheBarUnlessItCannotBeRead) {
  EXPECT_EQ(DiscScaleFor(359847).MaxCDSize, 703);
  EXPECT_EQ(DiscScaleFor(359847).MaxMemory, 844);
  struct Case {
    std::string profile;
    double maxCD, maxMemory;
    bool burnEnabled;
  };
  const Case cases[] = {
      {"cd-r", 703, 844, true},       // an 80-minute CD
      {"dvd+r", 4483, 5380, true},
      {"none", 650, 750, true},       // no disc: the scale stays as it was
      {"", 650, 750, true},           // no recorder at all
  };
  for (const Case& c : cases) {
    Window w(c.profile);
    TfrmMain& main = w.main;
    EXPECT_EQ(main.cdsSize->MaxCDSize(), c.maxCD) << c.profile;
    EXPECT_EQ(main.cdsSize->MaxMemory(), c.maxMemory) << c.profile;
    EXPECT_EQ(main.cmdBurn->isEnabled(), c.burnEnabled) << c.profile;
    EXPECT_EQ(main.cmbDrives->count(), c.profile.empty() ? 0 : 1) << c.profile;
    if (c.profile == "none") {
      EXPECT_EQ(main.lblTotalCDSize->text(), "Used Space: 0 MB, New: 0 MB");
    }
    if (c.profile.empty()) {
      ASSERT_EQ(w.messages.said.size(), 1u);
      EXPECT_EQ(w.messages.said[0].text.section('\n', 0, 0), "No CD or DVD recorder found.");
      EXPECT_NE(w.messages.said[0].text.indexOf("brennix --virtual-recorder PATH:PROFILE"), -1);
      EXPECT_FALSE(main.cmbDrives->placeholderText().isEmpty());
      EXPECT_FALSE(main.cmdEject->isEnabled());
      EXPECT_FALSE(main.cmdLoad->isEnabled());
    } else {
      EXPECT_TRUE(w.messages.said.empty()) << c.profile;
    }
  }
}

// A stand-in for a real drive takes the first letter; the recorder the command line added is
// still the one chosen, so a burn goes to the disc file that was named.
TEST_F(MainWindow, ARecorderAddedOnTheCommandLineIsChosenBeforeARealDrive) {
  auto real = std::make_shared<brennix::testing::FakeDrive>("STAND-IN", "REAL");
  real->address = brennix::testing::Address(1, 0);
  SetRealDriveLister([real] { return std::vector<std::shared_ptr<DriveBackend>>{real}; });
  {
    Window w("cd-r");
    ASSERT_EQ(w.main.cmbDrives->count(), 2);
    EXPECT_EQ(DeviceEntryLetter(w.main.cmbDrives->currentText().toStdString()), 'E');
  }
  SetRealDriveLister({});
}

TEST_F(MainWindow, WarningsOfAnEmptyQueueAndOfATrayThatWillNotMove) {
  auto refused = [](uint8_t opcode) {
    RecorderOptions o;
    o.faults.push_back({RecorderFault::Kind::Sense, opcode, 100, 0, 0x05, 0x24, 0x00});
    return o;
  };
  struct Case {
    const char* name;
    RecorderOptions options;
    std::function<void(TfrmMain&)> act;
    QString warning;  // empty: none
    int dialogs;
  };
  Files files;
  const QString file = files.Make("a.txt", 10);
  const Case cases[] = {
      {"burn, empty queue", {}, [](TfrmMain& m) { m.cmdBurn->click(); },
       "At least one file/directory should be selected.", 0},
      {"burn", {}, [&](TfrmMain& m) { m.QueuePaths({file}); m.cmdBurn->click(); }, "", 1},
      {"erase, empty queue", {}, [](TfrmMain& m) { m.cmdErase->click(); }, "", 1},
      {"eject", {}, [](TfrmMain& m) { m.cmdEject->click(); }, "", 0},
      {"eject refused", refused(op::START_STOP_UNIT), [](TfrmMain& m) { m.cmdEject->click(); },
       "Unable to eject the device.", 0},
      {"load", {}, [](TfrmMain& m) { m.cmdLoad->click(); }, "", 0},
      {"load refused", refused(op::START_STOP_UNIT), [](TfrmMain& m) { m.cmdLoad->click(); },
       "Unable to load the device.", 0},
  };
  for (const Case& c : cases) {
    Window w("cd-rw", c.options);
    int dialogs = 0;
    w.main.BurnDialog = [&](TfrmMain&) { ++dialogs; };
    w.main.EraseDialog = [&](TfrmMain&) { ++dialogs; };
    c.act(w.main);
    EXPECT_TRUE(w.Settled()) << c.name;
    EXPECT_EQ(dialogs, c.dialogs) << c.name;
    if (c.warning.isEmpty()) {
      EXPECT_TRUE(w.messages.said.empty()) << c.name;
    } else {
      ASSERT_EQ(w.messages.said.size(), 1u) << c.name;
      EXPECT_EQ(w.messages.said[0].caption, "Warning");
      EXPECT_EQ(w.messages.said[0].text, c.warning);
    }
  }
}

// A recorder that takes seconds to answer: the window keeps answering, shows that it waits,
// lets nothing else send that recorder commands meanwhile, and closes only once it answered.
TEST_F(MainWindow, ASlowRecorderNeitherFreezesTheWindowNorTakesTwoCommandSequences) {
  struct Case {
    const char* name;
    uint8_t slowOpcode;
    std::function<void(TfrmMain&)> act;
    uint32_t trayCommands;  // START STOP UNITs the step itself sends
  };
  const Case cases[] = {
      {"eject", op::START_STOP_UNIT, [](TfrmMain& m) { m.cmdEject->click(); }, 1},
      {"eject's flush", op::SYNCHRONIZE_CACHE, [](TfrmMain& m) { m.cmdEject->click(); }, 1},
      {"load", op::START_STOP_UNIT, [](TfrmMain& m) { m.cmdLoad->click(); }, 1},
      {"disc read-out", op::READ_DISC_INFORMATION, [](TfrmMain& m) { m.cmbDrivesChange(); }, 0},
  };
  for (const Case& c : cases) {
    Window w("cd-rw");
    TfrmMain& main = w.main;
    main.show();
    RecorderFault slow{RecorderFault::Kind::Slow, c.slowOpcode, 1, 0};
    slow.delayMs = 2000;
    w.recorder.Drive().AddFault(slow);
    const uint32_t trayBefore = w.recorder.Drive().CommandsSeen(op::START_STOP_UNIT);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);

    c.act(main);
    EXPECT_TRUE(main.DriveBusy()) << c.name;
    const std::vector<QWidget*> controls = {main.cmdEject, main.cmdLoad, main.cmdErase,
                                            main.cmdBurn, main.cmbDrives};
    for (QWidget* control : controls)
      EXPECT_FALSE(control->isEnabled()) << c.name << " " << control->objectName().toStdString();
    EXPECT_EQ(main.cursor().shape(), Qt::BusyCursor) << c.name;
    // Neither this window's buttons nor another window's tray reach the recorder meanwhile.
    main.cmdLoadClick();
    main.cmdEjectClick();
    EXPECT_FALSE(AcquireDrive(nullptr, main.korbMain(), "loading the disc").Held()) << c.name;
    main.close();
    ASSERT_EQ(w.messages.said.size(), 1u) << c.name;
    EXPECT_TRUE(w.messages.said[0].text.contains("still talking to the recorder")) << c.name;
    EXPECT_TRUE(main.isVisible()) << c.name;

    EXPECT_TRUE(w.Settled()) << c.name;
    EXPECT_GE(ticks, 20) << c.name;  // about 200 when the window never waited
    EXPECT_EQ(w.recorder.Drive().CommandsSeen(op::START_STOP_UNIT) - trayBefore, c.trayCommands)
        << c.name;
    // (The window itself stays locked: it closes now.)
    for (QWidget* control : controls)
      EXPECT_TRUE(control->isEnabledTo(main.centralWidget())) << c.name;
    EXPECT_NE(main.cursor().shape(), Qt::BusyCursor) << c.name;
    EXPECT_TRUE(ProcessEventsUntil([&] { return !main.isVisible(); }, 2000)) << c.name;
    EXPECT_EQ(w.messages.said.size(), 1u) << c.name;
  }
}

// Another step holds the recorder: a tray button is refused with a word, the disc read-out
// waits its turn silently, and neither reaches the drive until the holder lets go.
TEST_F(MainWindow, ARecorderHeldElsewhereGetsNoCommandsUntilItIsLetGo) {
  Window w("cd-rw");
  TfrmMain& main = w.main;
  VirtualRecorder& drive = w.recorder.Drive();
  TDriveGuard burning = TDriveGuard::TryAcquire(main.cmbDrives->currentText().toStdString(),
                                                "burning");
  ASSERT_TRUE(burning.Held());
  const uint32_t before = drive.CommandsSeen();
  main.cmdEjectClick();
  ASSERT_EQ(w.messages.said.size(), 1u);
  EXPECT_EQ(w.messages.said[0].text,
            "The device is busy (burning). Please try again when it has finished.");
  main.cmbDrivesChange();
  ProcessEventsUntil([] { return false; }, 600);  // a few turns of waiting
  EXPECT_TRUE(main.DriveBusy());
  EXPECT_FALSE(main.cmdErase->isEnabled());
  EXPECT_EQ(drive.CommandsSeen(), before);

  burning.Release();
  EXPECT_TRUE(w.Settled());
  EXPECT_GT(drive.CommandsSeen(), before);
  EXPECT_TRUE(main.cmdErase->isEnabled());
  EXPECT_EQ(w.messages.said.size(), 1u);
}

TEST_F(MainWindow, AFileManagersDropQueuesFoldersAndFilesAndDeleteRemovesARow) {
  Files files;
  const QString a = files.Make("docs/a.txt", 100);
  files.Make("docs/sub/.hidden", 28);
  const QString b = files.Make("b.txt", 7);
  Window w;
  TfrmMain& main = w.main;
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(files.dir.filePath("docs") + "/"), QUrl::fromLocalFile(b),
                QUrl("https://example.org/page.html")});
  QWidget* viewport = main.lvwFiles->viewport();
  // Shift proposes a move, which would let the file manager delete what was only queued.
  const Qt::DropActions any = Qt::CopyAction | Qt::MoveAction;
  QDragEnterEvent enter(QPoint(5, 5), any, &mime, Qt::LeftButton, Qt::ShiftModifier);
  QCoreApplication::sendEvent(viewport, &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  QDropEvent drop(QPointF(5, 5), any, &mime, Qt::LeftButton, Qt::ShiftModifier);
  QCoreApplication::sendEvent(viewport, &drop);
  EXPECT_EQ(w.Rows(1), (QStringList{files.dir.filePath("docs") + "/", b}));
  EXPECT_EQ(main.lvwFiles->topLevelItem(0)->checkState(0), Qt::Checked);
  EXPECT_EQ(main.lvwFiles->topLevelItem(1)->checkState(0), Qt::Unchecked);
  ASSERT_TRUE(w.Measured());
  EXPECT_EQ(w.Rows(2), (QStringList{"128", "7"}));

  QMimeData web;
  web.setUrls({QUrl("https://example.org/")});
  QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &refused);
  EXPECT_FALSE(refused.isAccepted());

  main.lvwFiles->setCurrentItem(main.lvwFiles->topLevelItem(0));
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QCoreApplication::sendEvent(main.lvwFiles, &del);
  EXPECT_EQ(w.Rows(1), QStringList{b});
  EXPECT_EQ(QueuedBytes, 7.0);
}

TEST_F(MainWindow, AFolderIsMeasuredInTheBackgroundAndBurnWaitsForIt) {
  Files files;
  for (int i = 0; i < 200; ++i) files.Make(QString("tree/d%1/f%2").arg(i % 20).arg(i), 1000 + i);
  const qint64 total = 200 * 1000 + 199 * 200 / 2;
  Window w("dvd+rw");
  TfrmMain& main = w.main;
  double queuedAtDialog = -1;
  main.BurnDialog = [&](TfrmMain&) { queuedAtDialog = QueuedBytes; };
  main.QueuePaths({files.dir.filePath("tree"), files.dir.filePath("tree/d3")});
  // The rows are there before any walk has been answered, each saying it is being measured.
  EXPECT_EQ(main.lvwFiles->topLevelItemCount(), 2);
  EXPECT_EQ(main.MeasurementsRunning(), 2u);
  EXPECT_EQ(main.lvwFiles->topLevelItem(0)->text(2), "measuring\u2026");
  ASSERT_TRUE(main.cmdBurn->isEnabled());
  main.cmdBurn->click();
  const qint64 d3 = 10 * 1000 + 3 + 23 + 43 + 63 + 83 + 103 + 123 + 143 + 163 + 183;
  EXPECT_EQ(queuedAtDialog, double(total + d3));
  EXPECT_EQ(main.MeasurementsRunning(), 0u);
  EXPECT_EQ(w.Rows(2), (QStringList{QLocale().toString(total), QLocale().toString(d3)}));
  main.cmdClearFiles->click();

  // Rows taken out while measured are no longer waited for, and their results are dropped.
  main.QueuePaths({files.dir.filePath("tree")});
  main.cmdClearFiles->click();
  EXPECT_EQ(main.MeasurementsRunning(), 0u);
  main.QueuePaths({files.dir.filePath("tree/d1")});
  ASSERT_TRUE(w.Measured());
  EXPECT_EQ(w.Rows(2), QStringList{QLocale().toString(10 * 1000 + 1 + 21 + 41 + 61 + 81 + 101 +
                                                      121 + 141 + 161 + 181)});

  // A window closed while it measures stops its walks and drops their results.
  {
    TOptions options;
    TfrmMain gone(options);
    gone.QueuePaths({files.dir.path()});
  }
  ProcessEventsUntil([] { return false; }, 20);
}

TEST_F(MainWindow, TheBrowserQueuesItsFolderAndItsSelectedFilesInListOrder) {
  Files files;
  files.Make("pick/.hidden", 3);
  files.Make("pick/b.txt", 20);
  files.Make("pick/c.txt", 300);
  const QString folder = files.dir.filePath("pick");
  Window w;
  TfrmMain& main = w.main;
  main.show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return main.SetCurrentFolder(folder); }, 5000));
  EXPECT_EQ(main.CurrentFolder(), folder);
  QAbstractItemModel* list = main.flbFiles->model();
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return list->rowCount(main.flbFiles->rootIndex()) == 3; }, 5000))
      << list->rowCount(main.flbFiles->rootIndex());
  main.flbFiles->selectAll();
  main.cmdAddFiles->click();
  main.cmdAddFolder->click();
  // Nothing selected: no row, but the sizes are still refreshed.
  main.flbFiles->clearSelection();
  main.AddToQueue(main.lvwFiles, main.flbFiles);
  main.AddToQueue(main.cmdBurn, main.dirFolders);
  ASSERT_TRUE(w.Measured());
  EXPECT_EQ(w.Rows(1), (QStringList{folder + "/.hidden", folder + "/b.txt", folder + "/c.txt",
                                    folder + "/"}));
  EXPECT_EQ(w.Rows(2), (QStringList{"3", "20", "300", "323"}));
  EXPECT_EQ(main.lblTotalCDSize->text(), "Used Disc Space: 646 bytes, New: 646 bytes");

  // The root of a volume is queued with a single "/".
  ASSERT_TRUE(main.SetCurrentFolder("/"));
  EXPECT_EQ(FolderQueuePath(main.CurrentFolder()), "/");
}

// The queue behaves like a file list: several rows go at once, "Clear" asks for a long queue,
// double-click and Enter in the browser add, a missing path is named, and the "R" column and
// the three states of "Save Path" explain themselves.
TEST_F(MainWindow, TheQueueBehavesLikeAFileList) {
  Files files;
  QStringList paths;
  for (int i = 0; i < 5; ++i) paths << files.Make(QString("list/f%1.txt").arg(i), 10 + i);
  Window w;
  TfrmMain& main = w.main;
  main.show();
  main.QueuePaths(paths + QStringList{"/no/such/file", "/no/such/folder/"});
  ProcessEventsUntil([&] { return !w.messages.said.empty(); }, 2000);
  ASSERT_EQ(w.messages.said.size(), 1u);
  EXPECT_EQ(w.messages.said[0].text,
            "These files or folders do not exist and were not queued:\n/no/such/file\n"
            "/no/such/folder/");
  ASSERT_EQ(main.lvwFiles->topLevelItemCount(), 5);
  main.lvwFiles->topLevelItem(1)->setSelected(true);
  main.lvwFiles->topLevelItem(3)->setSelected(true);
  main.cmdRemoveFilesClick();
  EXPECT_EQ(w.Rows(1), (QStringList{paths[0], paths[2], paths[4]}));
  main.QueuePaths({paths[1], paths[3]});
  // Five rows: "Clear" asks, and No (the default) keeps them.
  main.cmdClearFilesClick();
  ASSERT_EQ(w.messages.said.size(), 2u);
  EXPECT_EQ(w.messages.said[1].text, "Remove all 5 rows from the burn queue?");
  EXPECT_EQ(main.lvwFiles->topLevelItemCount(), 5);
  main.lvwFiles->selectAll();
  main.cmdRemoveFilesClick();
  EXPECT_EQ(main.lvwFiles->topLevelItemCount(), 0);

  EXPECT_TRUE(main.lvwFiles->headerItem()->toolTip(0).contains("subfolders"));
  for (const auto& [state, words] : {std::pair{Qt::Checked, "whole folder path"},
                                     std::pair{Qt::PartiallyChecked, "last folder only"},
                                     std::pair{Qt::Unchecked, "only the contents"}}) {
    main.chkPathInfo->setCheckState(state);
    EXPECT_TRUE(main.chkPathInfo->toolTip().contains(words)) << words;
  }

  const QString folder = files.dir.filePath("list");
  ASSERT_TRUE(ProcessEventsUntil([&] { return main.SetCurrentFolder(folder); }, 5000));
  QAbstractItemModel* list = main.flbFiles->model();
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return list->rowCount(main.flbFiles->rootIndex()) == 5; }, 5000));
  const QModelIndex second = list->index(1, 0, main.flbFiles->rootIndex());
  main.flbFiles->setCurrentIndex(second);
  emit main.flbFiles->doubleClicked(second);
  EXPECT_EQ(w.Rows(1), QStringList{paths[1]});
  const auto press = [&](Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(main.dirFolders, &event);
  };
  press(Qt::Key_Return);
  EXPECT_EQ(w.Rows(1), (QStringList{paths[1], folder + "/"}));
  press(Qt::Key_Enter);  // queued already: nothing more
  EXPECT_EQ(main.lvwFiles->topLevelItemCount(), 2);
}

TEST(Volumes, MountsTheSelectorOffersAndNetworkAddresses) {
  struct Mount {
    const char *root, *type, *device;
    bool offered;
  };
  for (const Mount& m : std::initializer_list<Mount>{
           {"/media/ann/STICK", "vfat", "/dev/sdb1", true},
           {"/mnt/share", "cifs", "//nas/share", true},
           {"/run/user/1000/gvfs", "fuse.gvfsd-fuse", "gvfsd-fuse", true},
           {"/", "ext4", "/dev/sda2", false},
           {"/boot/efi", "vfat", "/dev/sda1", false},
           {"/snap/core/1", "squashfs", "/dev/loop0", false},
           {"/run", "tmpfs", "tmpfs", false},
           {"/proc", "proc", "proc", false}})
    EXPECT_EQ(IsBrowsableMount(m.root, m.type, m.device), m.offered) << m.root;

  const QString gvfs = "/run/user/7/gvfs/smb-share:server=nas,share=music";
  for (const auto& [typed, folder] : std::initializer_list<std::pair<QString, QString>>{
           {"smb://NAS/Music", gvfs},
           {"  smb://nas/music/jazz/ ", gvfs + "/jazz"},
           {"\\\\nas\\music", gvfs},
           {"smb://nas", ""},
           {"/mnt/share", "/mnt/share"}})
    EXPECT_EQ(NetworkPathToFolder(typed, "/run/user/7"), folder) << typed.toStdString();

  const QList<TVolume> volumes{{"File System", "/"}, {"Home", "/home/ann"}, {"M", "/home/ann/m"}};
  EXPECT_EQ(VolumeHolding(volumes, "/home/ann/music"), 1);
  EXPECT_EQ(VolumeHolding(volumes, "/home/ann/m/x"), 2);
  EXPECT_EQ(VolumeHolding(volumes, "/home/annex"), 0);
}
