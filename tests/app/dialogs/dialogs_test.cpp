// The burn and erase dialogs driven as a person drives them, on a real X server, against
// virtual recorders: every message box is read and answered, and each disc is read back
// with osirrox.
#include "app/services/application.h"
#include "app/windows/burn_dialog.h"
#include "app/windows/dialog_host.h"
#include "app/windows/dialog_support.h"
#include "app/windows/erase_dialog.h"
#include "app/windows/image_dialog.h"
#include "app/windows/main_window.h"
#include "app/services/options.h"
#include "app/windows/tray_actions.h"
#include "component/sequence_guard.h"
#include "component/korb_burner.h"
#include "device/cdb.h"
#include "transport/drive_backend.h"
#include "virtual_recorder/virtual_drive.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

using namespace brennix;

namespace {

constexpr int kLongWaitMs = 120000;

class TestHost : public TDialogHost {
 public:
  std::vector<QueueRow> rows;
  Qt::CheckState savePath = Qt::Unchecked;
  QString label = "  DATA  ";
  QString recorder;
  std::vector<std::string> recorders;
  std::vector<bool> selectorStates;

  std::vector<QueueRow> QueueRows() const override { return rows; }
  Qt::CheckState SavePathState() const override { return savePath; }
  QString VolumeLabel() const override { return label; }
  QString RecorderText() const override { return recorder; }
  void SetRecorderSelectorEnabled(bool enabled) override { selectorStates.push_back(enabled); }
  std::vector<std::string> VirtualRecorders() const override { return recorders; }
};

// Answers every message box that opens: Yes (or No) to a question, OK to the rest, and
// keeps what each said as "Caption: text[ | informative text]".
class MessageAnswerer : public QObject {
 public:
  QStringList seen;
  QMessageBox::StandardButton answer = QMessageBox::Yes;

  MessageAnswerer() {
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      seen << box->windowTitle() + ": " + box->text() +
                  (box->informativeText().isEmpty() ? "" : " | " + box->informativeText());
      QAbstractButton* button = box->button(answer);
      if (button == nullptr) button = box->button(QMessageBox::Ok);
      if (button != nullptr) button->click();
    });
    timer_.start(20);
  }
  bool Saw(const QString& text) const { return seen.filter(text).size() > 0; }

 private:
  QTimer timer_;
};

void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

// Attaches a recorder as the dialogs do and returns its device entry.
QString AttachRecorder(const QString& recorderText, bool simulated = false) {
  if (simulated) qputenv("BRENNIX_VIRTUAL_RECORDER_OPTIONS", "speed=simulated");
  std::string error;
  const bool attached = AttachHostRecorders({recorderText.toStdString()}, error);
  qunsetenv("BRENNIX_VIRTUAL_RECORDER_OPTIONS");
  if (!attached) qWarning("%s", error.c_str());
  TSCSIDevice probe;
  probe.InitializeASPI(true, std::string());
  return QString::fromStdString(VirtualRecorderEntry(probe, recorderText.toStdString()));
}

// The virtual recorder that serves the disc file; null when none does.
VirtualRecorder* RecorderOf(const QString& disc) {
  for (const auto& drive : ExtraDrives())
    if (auto* recorder = dynamic_cast<VirtualDrive*>(drive.get());
        recorder != nullptr && recorder->DevicePath() == disc.toStdString())
      return &recorder->Recorder();
  return nullptr;
}

// Waits for the erase dialog's step that talks to the drive.
bool Settled(const TfrmErase& erase) {
  return QTest::qWaitFor([&] { return !erase.Busy(); }, kLongWaitMs);
}

// The disc status of the recorder with that device entry, as a fresh component reads it.
int DiscStatusOf(const QString& recorder) {
  TSCSIDevice probe;
  probe.InitializeASPI(true, std::string());
  probe.SetDevice(recorder.toStdString());
  return probe.DiscStatus();
}

// Every file below root as "relative/path" -> contents.
QMap<QString, QByteArray> FilesBelow(const QString& root) {
  QMap<QString, QByteArray> files;
  QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) files[QDir(root).relativeFilePath(path)] = file.readAll();
  }
  return files;
}

// The files of the disc's volume, and its label in volumeId.
QMap<QString, QByteArray> ReadDisc(const QString& disc, const QString& into,
                                   QString* volumeId = nullptr) {
  QProcess osirrox;
  osirrox.setProcessChannelMode(QProcess::MergedChannels);
  osirrox.start("osirrox", {"-indev", disc, "-extract", "/", into});
  osirrox.waitForFinished(kLongWaitMs);
  const QString report = QString::fromUtf8(osirrox.readAll());
  if (osirrox.exitCode() != 0) qWarning() << report;
  const QRegularExpression id("Volume id\\s*:\\s*'([^']*)'");
  if (volumeId != nullptr) *volumeId = id.match(report).captured(1);
  return FilesBelow(into);
}

// Starts a burn and answers its question; returns when the recording has ended.
void Burn(TfrmBurn& dialog, MessageAnswerer& answers) {
  QTRY_VERIFY_WITH_TIMEOUT(dialog.cmdStartBurn->isEnabled(), kLongWaitMs);
  const qsizetype before = answers.seen.size();
  QTest::mouseClick(dialog.cmdStartBurn, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!dialog.Busy() && !dialog.Writing() &&
                               !answers.seen.mid(before).filter("Burn process completed").empty(),
                           kLongWaitMs);
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir scratch_;
  QString sources_;  // photos/ (two files, one in a subfolder) and notes.txt
  QMap<QString, QByteArray> photos_;

  QString NewDisc(const QString& name) { return scratch_.path() + "/" + name + ".disc"; }
  std::vector<QueueRow> Queue() const {
    return {{(sources_ + "/photos/").toStdString(), true},
            {(sources_ + "/notes.txt").toStdString(), false}};
  }

 private slots:
  void initTestCase() {
    QVERIFY(scratch_.isValid());
    sources_ = scratch_.path() + "/src";
    photos_["a.jpg"] = QByteArray(300000, 'a');
    photos_["trip/b.txt"] = "a longer name than eight dots three\n";
    for (auto it = photos_.cbegin(); it != photos_.cend(); ++it)
      WriteFile(sources_ + "/photos/" + it.key(), it.value());
    WriteFile(sources_ + "/notes.txt", "notes\n");
  }

  void burnReadsBack_data() {
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("savePath");
    QTest::addColumn<bool>("closeDisc");
    QTest::addColumn<QString>("folderOnDisc");  // where the folder's contents land
    QTest::addColumn<QString>("fileOnDisc");
    QTest::addColumn<int>("discStatus");  // 1 appendable, 2 closed
    QTest::newRow("CD-R, no path, open")
        << "cd-r" << int(Qt::Unchecked) << false << "" << "notes.txt" << 1;
    QTest::newRow("DVD-R, last folder, closed, verified")
        << "dvd-r" << int(Qt::PartiallyChecked) << true << "photos/" << "src/notes.txt" << 2;
  }

  void burnReadsBack() {
    QFETCH(QString, profile);
    QFETCH(int, savePath);
    QFETCH(bool, closeDisc);
    QFETCH(QString, folderOnDisc);
    QFETCH(QString, fileOnDisc);
    QFETCH(int, discStatus);
    const QString disc = NewDisc(profile);
    TestHost host;
    host.recorders = {(disc + ":" + profile).toStdString()};
    host.recorder = AttachRecorder(QString::fromStdString(host.recorders[0]));
    QVERIFY(!host.recorder.isEmpty());
    host.rows = Queue();
    host.savePath = static_cast<Qt::CheckState>(savePath);

    MessageAnswerer answers;
    {
      TfrmBurn dialog(host);
      dialog.Prepare();
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QCOMPARE(dialog.windowTitle(), QString("Burn CD or DVD"));
      QCOMPARE(dialog.lblDrive->text(), host.recorder);
      QTRY_VERIFY_WITH_TIMEOUT(dialog.cmdStartBurn->isEnabled(), kLongWaitMs);
      QVERIFY(!dialog.chkVerify->isChecked());
      dialog.chkCloseDisc->setChecked(closeDisc);
      dialog.chkVerify->setChecked(closeDisc);
      Burn(dialog, answers);
      QCOMPARE(dialog.korbBurn().VerifyProgress(), closeDisc ? 100 : -1);
      QCOMPARE(dialog.lblBurnState->text(), QString("Ready"));
      QCOMPARE(dialog.prgProgress->value(), dialog.prgProgress->maximum());
      dialog.close();
    }
    QCOMPARE(answers.seen,
             QStringList({"Confirm Action: Do you want to write 293.01 KB to the disc ?",
                          "Ready: Burn process completed."}));
    QCOMPARE(host.selectorStates, std::vector<bool>({false, true}));

    QMap<QString, QByteArray> expected;
    for (auto it = photos_.cbegin(); it != photos_.cend(); ++it)
      expected[folderOnDisc + it.key()] = it.value();
    expected[fileOnDisc] = "notes\n";
    QString volumeId;
    QCOMPARE(ReadDisc(disc, scratch_.path() + "/out-" + profile, &volumeId), expected);
    QCOMPARE(volumeId, QString("DATA"));
    QCOMPARE(DiscStatusOf(host.recorder), discStatus);
    // The box is remembered for the next dialog.
    TfrmBurn next(host);
    QCOMPARE(next.chkVerify->isChecked(), closeDisc);
    next.chkVerify->setChecked(false);
  }

  // The whole job from the main window: queue a folder and a file, "Burn CD or DVD", "Start
  // Burn", Yes. The selector is locked while the disc is written, and the disc reads back
  // with each source's full path.
  void mainWindowBurns() {
    const QString disc = NewDisc("main-dvd+r");
    const QString entry = AttachRecorder(disc + ":dvd+r");
    TOptions options;
    TfrmMain main(options, false, NoticeSites{"127.0.0.1:9", "127.0.0.1:9"});
    main.cmbDrives->setCurrentIndex(main.cmbDrives->findText(entry));
    main.cmbDrivesChange();
    QTRY_VERIFY_WITH_TIMEOUT(!main.DriveBusy(), kLongWaitMs);
    main.QueuePaths({sources_ + "/photos", sources_ + "/notes.txt"});
    QTRY_COMPARE_WITH_TIMEOUT(main.MeasurementsRunning(), size_t{0}, kLongWaitMs);
    main.txtVolumeLabel->setText(" DATA ");

    MessageAnswerer answers;
    TfrmBurn* dialog = nullptr;
    bool clicked = false;
    bool selectorLocked = false;
    QTimer person;  // in front of the modal dialog
    connect(&person, &QTimer::timeout, [&] {
      if (dialog == nullptr) {
        dialog = qobject_cast<TfrmBurn*>(QApplication::activeModalWidget());
      } else if (!clicked) {
        clicked = dialog->cmdStartBurn->isEnabled();
        if (clicked) dialog->cmdStartBurn->click();
      } else if (dialog->Writing()) {
        selectorLocked = selectorLocked || !main.cmbDrives->isEnabled();
      } else if (answers.Saw("Burn process completed") && dialog->isVisible()) {
        dialog->close();
      }
    });
    person.start(20);
    main.cmdBurn->click();  // returns when the dialog has closed
    person.stop();
    QVERIFY(dialog != nullptr);
    QVERIFY(selectorLocked);
    QTRY_VERIFY_WITH_TIMEOUT(main.cmbDrives->isEnabled(), kLongWaitMs);
    QCOMPARE(answers.seen.size(), 2);
    QVERIFY(answers.seen[0].startsWith("Confirm Action: Do you want to write 293"));
    QCOMPARE(answers.seen[1], QString("Ready: Burn process completed."));

    QMap<QString, QByteArray> expected;
    const QString below = sources_.mid(1);  // the full path, below the disc's root
    for (auto it = photos_.cbegin(); it != photos_.cend(); ++it)
      expected[below + "/photos/" + it.key()] = it.value();
    expected[below + "/notes.txt"] = "notes\n";
    QCOMPARE(ReadDisc(disc, scratch_.path() + "/out-main"), expected);
  }

  // Starts that end before anything is written leave the dialog idle and the disc blank.
  void burnStartsThatStop_data() {
    QTest::addColumn<bool>("queued");
    QTest::addColumn<bool>("folderGone");
    QTest::addColumn<QStringList>("messages");
    const QString question = "Confirm Action: Do you want to write 293.01 KB to the disc ?";
    QTest::newRow("empty queue") << false << false << QStringList{
        "Warning: Please add one or more files to the burn queue and try again."};
    QTest::newRow("answered No") << true << false << QStringList{question};
    QTest::newRow("no disc") << true << false << QStringList{
        "Warning: NO DISC IN THE RECORDER"};
    QTest::newRow("folder gone") << true << true << QStringList{
        question + " | 1 file or folder cannot go on the disc and will be left out."};
    // Another part of the program has the drive: nothing is sent to it.
    QTest::newRow("recorder busy") << true << false << QStringList{
        "Warning: The device is busy (erasing). Please try again when it has finished."};
  }

  void burnStartsThatStop() {
    QFETCH(bool, queued);
    QFETCH(bool, folderGone);
    QFETCH(QStringList, messages);
    const bool noDisc = QTest::currentDataTag() == QString("no disc");
    const bool guarded = QTest::currentDataTag() == QString("recorder busy");
    // A disc left blank serves the busy recorder too.
    const QString disc =
        NewDisc(QString("stop-") + (guarded ? "answered No" : QTest::currentDataTag()));
    TestHost host;
    host.recorders = {(disc + (noDisc ? ":none" : ":cd-r")).toStdString()};
    host.recorder = AttachRecorder(QString::fromStdString(host.recorders[0]));
    if (queued) host.rows = Queue();
    if (folderGone) host.rows.push_back({(scratch_.path() + "/gone/").toStdString(), true});
    MessageAnswerer answers;
    answers.answer = QMessageBox::No;
    TfrmBurn dialog(host);
    dialog.Prepare();
    dialog.show();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.cmdStartBurn->isEnabled(), kLongWaitMs);
    const TDriveGuard other =
        guarded ? TDriveGuard::TryAcquire(host.recorder.toStdString(), "erasing") : TDriveGuard();
    QTest::mouseClick(dialog.cmdStartBurn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Busy(), kLongWaitMs);
    QCOMPARE(answers.seen, messages);
    QVERIFY(dialog.cmdStartBurn->isEnabled());
    QVERIFY(!dialog.cmdAbort->isEnabled());
    QVERIFY(!dialog.tmrProgress->isActive());
    QCOMPARE(dialog.lblBurnState->text(), QString("Ready"));
    QCOMPARE(host.selectorStates, guarded ? std::vector<bool>() : std::vector<bool>({false, true}));
    QCOMPARE(DiscStatusOf(host.recorder), noDisc ? -1 : 0);
  }

  // A start that waits for a slow drive, or for a reader that cannot hand on its blocks,
  // leaves the window running: another timer keeps firing in both waits, the dialog shows
  // that it is busy and offers nothing to press. Closing it then asks, and Yes stops the
  // start cleanly: no recording runs, the drive is let go and the disc stays blank.
  void startKeepsWindowAlive_data() {
    QTest::addColumn<bool>("slowDrive");   // the start's READ BUFFER CAPACITY takes 1.5 s
    QTest::addColumn<bool>("holdReader");  // the read-ahead cache cannot fill meanwhile
    QTest::addColumn<int>("closeIn");      // 0 never, 1 in the drive's wait, 2 in the cache's
    QTest::addColumn<QStringList>("messages");
    const QString question = "Confirm Action: Do you want to write 293.01 KB to the disc ?";
    const QString abort =
        "Confirm Action: The disc is being written. Do you want to abort the recording?";
    // The disc stays blank until the last row.
    QTest::newRow("closed while the drive answers") << true << false << 1 << QStringList{abort};
    QTest::newRow("closed while the cache fills")
        << false << true << 2 << QStringList{question, abort};
    QTest::newRow("slow drive and source")
        << true << true << 0 << QStringList{question, "Ready: Burn process completed."};
  }

  void startKeepsWindowAlive() {
    QFETCH(bool, slowDrive);
    QFETCH(bool, holdReader);
    QFETCH(int, closeIn);
    QFETCH(QStringList, messages);
    // The recorders run out after 23: this takes the blank CD-R of an earlier start.
    const QString disc = NewDisc("stop-answered No");
    TestHost host;
    host.recorders = {(disc + ":cd-r").toStdString()};
    host.recorder = AttachRecorder(QString::fromStdString(host.recorders[0]));
    host.rows = Queue();
    MessageAnswerer answers;
    TfrmBurn dialog(host);
    dialog.Prepare();
    dialog.show();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.cmdStartBurn->isEnabled(), kLongWaitMs);

    constexpr int kTicks = 10;
    std::atomic<int> ticks[2] = {0, 0};  // before Burn, and in Burn's wait for the cache
    std::atomic<bool> closed{false};
    bool looksBusy = true, busyCursor = false;
    QTimer other;
    connect(&other, &QTimer::timeout, [&] {
      if (!dialog.Busy()) return;
      // Once closed it says "Aborting..." instead.
      looksBusy = looksBusy &&
                  (closed.load() ||
                   (dialog.lblBurnState->text() == "Preparing..." &&
                    dialog.prgProgress->maximum() == 0 && !dialog.cmdStartBurn->isEnabled() &&
                    !dialog.cmdEject->isEnabled() && !dialog.cmdLoad->isEnabled() &&
                    !dialog.chkJoliet->isEnabled() && host.selectorStates == std::vector{false}));
      busyCursor = busyCursor || dialog.cursor().shape() == Qt::BusyCursor;
      const int phase = dialog.korbBurn().Recording() ? 1 : 0;
      if (++ticks[phase] == kTicks && closeIn == phase + 1) {
        dialog.close();  // answered Yes
        closed.store(true);
      }
    });
    other.start(10);
    // The reader hands on no block until the window has been seen running meanwhile.
    std::atomic<bool> holding{false};
    std::thread reader;
    if (holdReader) {
      reader = std::thread([&] {
        const std::lock_guard hold(dialog.korbBurn().Lock);
        holding.store(true);
        for (int i = 0; i < 3000 && !(closeIn == 2 ? closed.load() : ticks[1].load() >= kTicks);
             ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
      });
      while (!holding.load()) std::this_thread::yield();
    }
    RecorderFault slow{RecorderFault::Kind::Slow, op::READ_BUFFER_CAPACITY, 1, 0};
    slow.delayMs = 1500;  // the start's question
    if (slowDrive) RecorderOf(disc)->AddFault(slow);
    QTest::mouseClick(dialog.cmdStartBurn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Busy() && !dialog.Writing(), kLongWaitMs);
    if (reader.joinable()) reader.join();
    other.stop();
    QVERIFY(ticks[0].load() >= (slowDrive ? kTicks : 0));
    QVERIFY(ticks[1].load() >= (holdReader ? kTicks : 0));
    QVERIFY(looksBusy && busyCursor);
    QCOMPARE(host.selectorStates, std::vector<bool>({false, true}));
    QVERIFY(TDriveGuard::Holder(host.recorder.toStdString()).empty());
    QCOMPARE(answers.seen, messages);
    if (closeIn != 0) {
      QVERIFY(!dialog.isVisible() && !dialog.korbBurn().Recording());
      QVERIFY(ActiveBurner.load() == nullptr);
      QCOMPARE(DiscStatusOf(host.recorder), 0);  // still blank
      return;
    }
    QMap<QString, QByteArray> expected = photos_;
    expected["notes.txt"] = "notes\n";
    QCOMPARE(ReadDisc(disc, disc + "-out"), expected);
  }

  // What the erase dialog asks, or refuses, by disc and kind of erase (answered No).
  void eraseQuestions_data() {
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("quick");
    QTest::addColumn<QString>("message");
    QTest::newRow("DVD+R") << "dvd+r" << true << "Warning: This disc is not erasable.";
    QTest::newRow("CD-RW, full") << "cd-rw" << false
        << "Confirm Action: All data on the disc will be lost\r\nDo you want to completely "
           "erase the disc ?\r\nThis may take 10-70 minutes.";
  }

  void eraseQuestions() {
    QFETCH(QString, profile);
    QFETCH(bool, quick);
    QFETCH(QString, message);
    TestHost host;
    const QString recorderText = NewDisc("ask-" + profile) + ":" + profile;
    host.recorder = AttachRecorder(recorderText);
    MessageAnswerer answers;
    answers.answer = QMessageBox::No;
    TfrmErase erase(host);
    erase.Prepare();
    erase.show();
    QVERIFY(Settled(erase));
    erase.cmbDrives->setCurrentIndex(erase.cmbDrives->findText(host.recorder));
    QVERIFY(Settled(erase));
    erase.chkQuickErase->setChecked(quick);
    QTest::mouseClick(erase.cmdStartErase, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(answers.seen, QStringList{message}, kLongWaitMs);
    QVERIFY(Settled(erase));
    QVERIFY(erase.cmdStartErase->isEnabled());
    QVERIFY(!erase.Erasing());
  }

  // A CD-RW holding a session is quick-erased from the erase dialog and burned anew.
  void eraseThenBurn() {
    const QString disc = NewDisc("cd-rw");
    TestHost host;
    host.recorders = {(disc + ":cd-rw").toStdString()};
    host.recorder = AttachRecorder(QString::fromStdString(host.recorders[0]));
    host.rows = Queue();
    MessageAnswerer answers;
    {
      TfrmBurn burn(host);
      burn.Prepare();
      burn.show();
      Burn(burn, answers);
      burn.close();
    }
    {
      TfrmErase erase(host);
      erase.Prepare();
      erase.show();
      QVERIFY(QTest::qWaitForWindowExposed(&erase));
      QCOMPARE(erase.windowTitle(), QString("Erase CD or DVD"));
      QVERIFY(Settled(erase));
      erase.cmbDrives->setCurrentIndex(erase.cmbDrives->findText(host.recorder));
      QVERIFY(Settled(erase));
      QVERIFY(erase.cmdStartErase->isEnabled());
      QVERIFY(!erase.cmdAbort->isEnabled());
      // A drive that takes a second to load the disc before the erase keeps the erase
      // running long enough to be looked at.
      RecorderFault slowLoad{RecorderFault::Kind::Slow, op::START_STOP_UNIT, 1, 0};
      slowLoad.delayMs = 1000;
      RecorderOf(disc)->AddFault(slowLoad);
      QTest::mouseClick(erase.cmdStartErase, Qt::LeftButton);
      // Asked and answered; the erase then starts on a worker.
      QTRY_VERIFY_WITH_TIMEOUT(erase.Erasing(), kLongWaitMs);
      QVERIFY(!erase.cmbDrives->isEnabled());
      erase.close();
      QVERIFY(erase.isVisible());
      QVERIFY(erase.lblBurnState->text().contains("must finish"));
      QTRY_VERIFY_WITH_TIMEOUT(answers.Saw("Erase process completed"), kLongWaitMs);
      QCOMPARE(erase.prgProgress->value(), 100);
      QVERIFY(erase.cmbDrives->isEnabled());
      erase.close();
    }
    QCOMPARE(answers.seen.mid(2),
             QStringList({"Confirm Action: All data on the disc will be lost.\r\n"
                          "Do you want to quick erase the disc ?",
                          "Ready: Erase process completed."}));

    WriteFile(scratch_.path() + "/second/new.txt", "after the erase\n");
    host.rows = {{(scratch_.path() + "/second/new.txt").toStdString(), false}};
    {
      TfrmBurn burn(host);
      burn.Prepare();
      burn.show();
      Burn(burn, answers);
      burn.close();
    }
    QCOMPARE(answers.seen.last(), QString("Ready: Burn process completed."));
    QCOMPARE(ReadDisc(disc, scratch_.path() + "/out-cd-rw"),
             (QMap<QString, QByteArray>{{"new.txt", "after the erase\n"}}));
  }

  // A drive that takes seconds to answer: the dialog keeps answering and shows that it
  // waits, its buttons wait too, no other caller reaches the drive meanwhile, and closing
  // waits for the drive's answer.
  void eraseDialogWaitsForASlowDrive_data() {
    QTest::addColumn<int>("slowOpcode");
    QTest::addColumn<int>("trayCommands");  // START STOP UNITs by the end
    QTest::newRow("eject") << int{op::START_STOP_UNIT} << 1;
    QTest::newRow("load") << int{op::START_STOP_UNIT} << 1;
    QTest::newRow("selection") << int{op::MODE_SENSE_10} << 0;
    // One loads the disc before the erase, one after it.
    QTest::newRow("erase") << int{op::START_STOP_UNIT} << 2;
  }

  void eraseDialogWaitsForASlowDrive() {
    QFETCH(int, slowOpcode);
    QFETCH(int, trayCommands);
    const QString row = QTest::currentDataTag();
    const QString disc = NewDisc("slow-" + row);
    TestHost host;
    host.recorder = AttachRecorder(disc + ":cd-rw");
    VirtualRecorder* drive = RecorderOf(disc);
    QVERIFY(drive != nullptr);
    MessageAnswerer answers;
    TfrmErase erase(host);
    erase.Prepare();
    erase.show();
    QVERIFY(Settled(erase));
    erase.cmbDrives->setCurrentIndex(erase.cmbDrives->findText(host.recorder));
    QVERIFY(Settled(erase));
    RecorderFault slow{RecorderFault::Kind::Slow, slowOpcode, 1, 0};
    slow.delayMs = 2000;
    drive->AddFault(slow);
    const uint32_t trayBefore = drive->CommandsSeen(op::START_STOP_UNIT);
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);

    if (row == "eject") erase.cmdEject->click();
    if (row == "load") erase.cmdLoad->click();
    if (row == "selection") erase.cmbDrivesChange();
    if (row == "erase") erase.cmdStartErase->click();  // the question comes first
    QTRY_VERIFY_WITH_TIMEOUT(erase.Busy() && (row != "erase" || erase.Erasing()), kLongWaitMs);
    QCOMPARE(erase.lblBurnState->text(), QString("Preparing..."));
    QCOMPARE(erase.prgProgress->maximum(), 0);
    QCOMPARE(erase.cursor().shape(), Qt::BusyCursor);
    for (QWidget* control : std::vector<QWidget*>{erase.cmdEject, erase.cmdLoad,
                                                  erase.cmdStartErase, erase.cmbDrives})
      QVERIFY(!control->isEnabled());
    erase.cmdLoadClick();
    erase.cmdEjectClick();
    QVERIFY(!LoadDevice(nullptr, erase.korbErase()));
    erase.close();
    QVERIFY(erase.isVisible());

    QVERIFY(Settled(erase));
    QVERIFY(ticks >= 20);  // about 200 when the dialog never waited
    QTRY_VERIFY_WITH_TIMEOUT(!erase.Erasing(), kLongWaitMs);
    QCOMPARE(drive->CommandsSeen(op::START_STOP_UNIT) - trayBefore, uint32_t(trayCommands));
    QVERIFY(erase.cursor().shape() != Qt::BusyCursor);
    if (row == "erase") {
      QTRY_VERIFY_WITH_TIMEOUT(answers.Saw("Ready: Erase process completed."), kLongWaitMs);
      QVERIFY(erase.cmdStartErase->isEnabled());
      erase.close();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!erase.isVisible(), kLongWaitMs);
  }

  // "Abort" is offered only while zeros are written over a DVD+RW, and stops them.
  void eraseFillStops() {
    TestHost host;
    host.recorder = AttachRecorder(NewDisc("slow-dvd+rw-erase") + ":dvd+rw", true);
    MessageAnswerer answers;
    TfrmErase erase(host);
    erase.Prepare();
    erase.show();
    QVERIFY(Settled(erase));
    erase.cmbDrives->setCurrentIndex(erase.cmbDrives->findText(host.recorder));
    QVERIFY(Settled(erase));
    erase.chkQuickErase->setChecked(false);
    QTest::mouseClick(erase.cmdStartErase, Qt::LeftButton);
    QVERIFY(!erase.cmdAbort->isEnabled());  // the drive formats first
    QTRY_VERIFY_WITH_TIMEOUT(erase.cmdAbort->isEnabled(), kLongWaitMs);
    QTest::mouseClick(erase.cmdAbort, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!erase.Erasing(), kLongWaitMs);
    QCOMPARE(answers.seen.last(), QString("Error: Erase process completed with errors."));
    QVERIFY(erase.korbErase().EraseProgress() == 0 && !erase.cmdAbort->isEnabled());
  }

  // Closing mid-write asks; Yes aborts, the window closes once the recording has ended, and
  // the disc still takes a new session.
  void closeWhileWritingAborts() {
    const QString disc = NewDisc("slow-dvd+r");
    WriteFile(scratch_.path() + "/big/big.bin", QByteArray(48 << 20, 'x'));
    TestHost host;
    host.recorders = {(disc + ":dvd+r").toStdString()};
    host.recorder = AttachRecorder(QString::fromStdString(host.recorders[0]), true);
    host.rows = {{(scratch_.path() + "/big/").toStdString(), true}};
    MessageAnswerer answers;
    TfrmBurn dialog(host);
    dialog.Prepare();
    dialog.show();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.cmdStartBurn->isEnabled(), kLongWaitMs);
    QTest::mouseClick(dialog.cmdStartBurn, Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(dialog.korbBurn().BytesWritten() > 0,
                              qPrintable(answers.seen.join(" / ")), kLongWaitMs);
    QVERIFY(dialog.Writing());
    dialog.close();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kLongWaitMs);
    QVERIFY(!dialog.Writing());
    QCOMPARE(answers.seen.size(), 2);
    QVERIFY(answers.seen[1].contains("abort"));
    QCOMPARE(host.selectorStates, std::vector<bool>({false, true}));

    QCOMPARE(DiscStatusOf(host.recorder), 1);  // the broken session sealed, the disc still open

    host.rows = Queue();
    TfrmBurn again(host);
    again.Prepare();
    again.show();
    // The last session is the aborted one: the files it never wrote whole are not kept, the
    // question counts them as left out, and the burn goes on with the rest.
    QVERIFY(again.chkImportSession->isChecked());
    answers.seen.clear();
    Burn(again, answers);
    QVERIFY(answers.Saw("Do you want to write"));
    QVERIFY(answers.Saw("cannot go on the disc and will be left out"));
    QVERIFY(!answers.Saw("CANNOT READ THE EARLIER SESSION"));
    QVERIFY(answers.Saw("Burn process completed"));
  }

  // "Burn Image..." writes an image file as it is; "Save Disc Image..." gives it back.
  void imageDialogsBurnAndSave() {
    const QString disc = NewDisc("image-dvd+r");
    const QString entry = AttachRecorder(disc + ":dvd+r");
    const QString sent = scratch_.path() + "/sent.iso";
    QProcess make;
    make.start("xorriso", {"-as", "mkisofs", "-R", "-J", "-V", "SENT", "-o", sent, sources_});
    QVERIFY(make.waitForFinished(kLongWaitMs) && make.exitCode() == 0);
    MessageAnswerer answers;
    TfrmImage burn(TImageDialogKind::Burn, entry.toStdString(), {});
    burn.show();
    burn.edtFile->setText(sent);
    burn.chkVerify->setChecked(true);
    QTest::mouseClick(burn.cmdStart, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!burn.Running() && answers.Saw("Burn process completed"), kLongWaitMs);
    QVERIFY(answers.Saw("Do you want to write the ISO 9660 image \"SENT\""));
    QVERIFY(burn.cmdStart->isEnabled());

    const QString saved = scratch_.path() + "/saved.iso";
    TfrmImage save(TImageDialogKind::Save, entry.toStdString(), {});
    save.show();
    save.edtFile->setText(saved);
    answers.seen.clear();
    QTest::mouseClick(save.cmdStart, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!save.Running() && answers.Saw("Disc image saved."), kLongWaitMs);
    QFile a(sent), b(saved);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QVERIFY(a.readAll() == b.readAll());
  }
};

int main(int argc, char** argv) {
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
  TBrennixApplication app(argc, argv);
  DialogsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
