// The burn and erase dialogs driven as a person drives them, on a real X server, against
// virtual recorders: every message box is read and answered, and each disc is read back
// with osirrox.
#include "app/services/application.h"
#include "app/services/desktop_notice.h"
#include "app/windows/burn_dialog.h"
#include "app/windows/dialog_host.h"
#include "app/windows/dialog_support.h"
#include "app/windows/disc_job_dialog.h"
#include "app/windows/erase_dialog.h"
#include "app/windows/image_dialog.h"
#include "app/windows/main_window.h"
#include "app/services/options.h"
#include "app/windows/tray_actions.h"
#include "component/copy_job.h"
#include "component/sequence_guard.h"
#include "component/korb_burner.h"
#include "device/cdb.h"
#include "support/files.h"
#include "support/iso_reader.h"
#include "support/recorder_environment.h"
#include "transport/drive_backend.h"
#include "virtual_recorder/virtual_drive.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

using namespace brennix;

namespace {

constexpr int kLongWaitMs = 120000;

// Answers every message box that opens: Yes (or No) to a question, OK to the rest, and
// keeps what each said as "Caption: text[ | informative text]", with its icon and details.
class MessageAnswerer : public QObject {
 public:
  QStringList seen;
  QList<QMessageBox::Icon> icons;
  QStringList details;
  QMessageBox::StandardButton answer = QMessageBox::Yes;

  MessageAnswerer() {
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      seen << box->windowTitle() + ": " + box->text() +
                  (box->informativeText().isEmpty() ? "" : " | " + box->informativeText());
      icons << box->icon();
      details << box->detailedText();
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

// Attaches a recorder as the dialogs do (with the virtual recorder options given) and returns
// its device entry.
QString AttachRecorder(const QString& recorderText, bool simulated = false,
                       const QByteArray& options = QByteArray()) {
  std::string error;
  {
    const test::RecorderEnvironment environment(
        (simulated ? "speed=simulated" + (options.isEmpty() ? "" : "," + options) : options)
            .toStdString());
    if (!AttachHostRecorders({recorderText.toStdString()}, error)) qWarning("%s", error.c_str());
  }
  TSCSIDevice probe;
  probe.InitializeASPI(true, std::string());
  return QString::fromStdString(VirtualRecorderEntry(probe, recorderText.toStdString()));
}

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

// A host on the recorder PATH:PROFILE, attached as the dialogs attach it, with that queue.
TestHost HostOn(const QString& recorderText, std::vector<QueueRow> queue = {},
                bool simulated = false, const QByteArray& options = QByteArray()) {
  TestHost host;
  host.rows = std::move(queue);
  host.recorders = {recorderText.toStdString()};
  host.recorder = AttachRecorder(recorderText, simulated, options);
  return host;
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

// Shows the erase dialog with the recorder chosen, once it has been selected.
bool ShowOn(TfrmErase& erase, const QString& recorder) {
  erase.Prepare();
  erase.show();
  if (!Settled(erase)) return false;
  erase.cmbDrives->setCurrentIndex(erase.cmbDrives->findText(recorder));
  return Settled(erase);
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
  const test::ShellRun run = test::Extract("osirrox", disc.toStdString(), into.toStdString());
  const QString report = QString::fromStdString(run.output);
  if (run.status != 0) qWarning() << report;
  const QRegularExpression id("Volume id\\s*:\\s*'([^']*)'");
  if (volumeId != nullptr) *volumeId = id.match(report).captured(1);
  return FilesBelow(into);
}

// Shows the burn dialog, once it has looked at its recorder.
bool ShowPrepared(TfrmBurn& burn) {
  burn.Prepare();
  burn.show();
  return QTest::qWaitFor([&] { return burn.cmdStartBurn->isEnabled(); }, kLongWaitMs);
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

// The question a burn of the test queue asks on a blank write-once disc, with its notes.
QString Question(bool closeDisc = false, bool verify = false) {
  return QString("Confirm Action: Do you want to write 293.01 KB to the disc ? | ") +
         (closeDisc ? "The disc will be closed. No further sessions can be added afterwards."
                    : "The disc stays open: further sessions can be added later.") +
         "\n" +
         (verify ? "It will be read back and compared with what was sent."
                 : "It will not be verified.");
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
    TestHost host = HostOn(disc + ":" + profile, Queue());
    QVERIFY(!host.recorder.isEmpty());
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
      dialog.chkChecksums->setChecked(closeDisc);
      // The open disc's tray opens when it is done; the box is remembered.
      dialog.chkEjectWhenDone->setChecked(!closeDisc);
      QVERIFY(dialog.cmbSpeed->count() > 2);  // "Fastest" and the drive's speeds
      dialog.cmbSpeed->setCurrentIndex(1);
      Burn(dialog, answers);
      QCOMPARE(dialog.korbBurn().VerifyProgress(), closeDisc ? 100 : -1);
      QCOMPARE(dialog.lblBurnState->text(), QString("Burn process completed."));
      QCOMPARE(dialog.prgProgress->value(), dialog.prgProgress->maximum());
      QVERIFY(dialog.lblFigures->text().contains("elapsed"));
      // Done: one more click does not write it all again, until an option changes.
      QTRY_VERIFY_WITH_TIMEOUT(!dialog.Busy(), kLongWaitMs);
      QVERIFY(dialog.Finished() && !dialog.cmdStartBurn->isEnabled());
      QCOMPARE(RecorderOf(disc)->TrayOpen(), !closeDisc);
      dialog.chkJoliet->setChecked(false);
      QVERIFY(dialog.cmdStartBurn->isEnabled());
      dialog.chkJoliet->setChecked(true);
      dialog.cmdClose->click();
      QVERIFY(!dialog.isVisible());
    }
    QCOMPARE(answers.seen, QStringList({Question(closeDisc, closeDisc),
                                        "Ready: Burn process completed."}));
    if (!closeDisc) {
      TSCSIDevice tray;
      tray.InitializeASPI(true, std::string());
      tray.SetDevice(host.recorder.toStdString());
      QVERIFY(tray.StartStopUnit(false));
    }
    QCOMPARE(host.selectorStates, std::vector<bool>({false, true}));

    QMap<QString, QByteArray> expected;
    for (auto it = photos_.cbegin(); it != photos_.cend(); ++it)
      expected[folderOnDisc + it.key()] = it.value();
    expected[fileOnDisc] = "notes\n";
    QString volumeId;
    QMap<QString, QByteArray> onDisc = ReadDisc(disc, scratch_.path() + "/out-" + profile, &volumeId);
    // The checksum list names every file with its sum, as sha256sum -c reads it.
    const QByteArray sums = onDisc.take("SHA256SUMS");
    QCOMPARE(sums.count('\n'), closeDisc ? qsizetype(expected.size()) : 0);
    for (auto it = expected.cbegin(); closeDisc && it != expected.cend(); ++it)
      QVERIFY(sums.contains(QCryptographicHash::hash(it.value(), QCryptographicHash::Sha256).toHex() +
                            "  " + it.key().toUtf8() + "\n"));
    QCOMPARE(onDisc, expected);
    QCOMPARE(volumeId, QString("DATA"));
    QCOMPARE(DiscStatusOf(host.recorder), discStatus);
    // The box is remembered for the next dialog.
    TfrmBurn next(host);
    QCOMPARE(next.chkVerify->isChecked(), closeDisc);
    QCOMPARE(next.chkChecksums->isChecked(), closeDisc);
    next.chkChecksums->setChecked(false);
    QCOMPARE(next.chkEjectWhenDone->isChecked(), !closeDisc);
    next.chkVerify->setChecked(false);
    next.chkEjectWhenDone->setChecked(false);
  }

  // The whole job from the main window: queue a folder and a file, "Burn CD or DVD", "Start
  // Burn", Yes. The selector is locked while the disc is written, and the disc reads back
  // with each source's full path.
  void mainWindowBurns() {
    const QString disc = NewDisc("main-dvd+r");
    // At the disc's own speed, so that the person sees the recording run (and the selector
    // locked) however quickly the image is read.
    const QString entry = AttachRecorder(disc + ":dvd+r", true);
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

    // The line under the bar says what the disc is (closed by the dialog's default), and
    // follows the tray.
    const QString closed = "DVD+R, closed: no further sessions";
    QTRY_VERIFY_WITH_TIMEOUT(!main.DriveBusy(), kLongWaitMs);
    QCOMPARE(main.lblDisc->text(), closed);
    main.cmdEject->click();
    QTRY_COMPARE_WITH_TIMEOUT(main.lblDisc->text(), QString("No disc"), kLongWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!main.DriveBusy(), kLongWaitMs);
    main.cmdLoad->click();
    QTRY_COMPARE_WITH_TIMEOUT(main.lblDisc->text(), closed, kLongWaitMs);
  }

  // Starts that end before anything is written leave the dialog idle and the disc blank.
  void burnStartsThatStop_data() {
    QTest::addColumn<bool>("queued");
    QTest::addColumn<bool>("folderGone");
    QTest::addColumn<QStringList>("messages");
    const QString question = Question(true);
    QTest::newRow("empty queue") << false << false << QStringList{
        "Warning: Please add one or more files to the burn queue and try again."};
    QTest::newRow("answered No") << true << false << QStringList{question};
    QTest::newRow("no disc") << true << false << QStringList{
        "Warning: NO DISC IN THE RECORDER"};
    QTest::newRow("folder gone") << true << true << QStringList{
        QString(question).replace(" | ", " | 1 file or folder cannot go on the disc and will be "
                                         "left out.\n")};
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
    TestHost host =
        HostOn(disc + (noDisc ? ":none" : ":cd-r"), queued ? Queue() : std::vector<QueueRow>());
    if (folderGone) host.rows.push_back({(scratch_.path() + "/gone/").toStdString(), true});
    MessageAnswerer answers;
    answers.answer = QMessageBox::No;
    TfrmBurn dialog(host);
    QVERIFY(ShowPrepared(dialog));
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
    const QString question = Question(true);
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
    TestHost host = HostOn(disc + ":cd-r", Queue());
    MessageAnswerer answers;
    TfrmBurn dialog(host);
    QVERIFY(ShowPrepared(dialog));

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

  // A burn that does not end well says so first: the box's icon and title, the plain line of
  // what happened, the disc's state and what to do; the drive's words under Details. The
  // status and the bar do not say done, and "Start Burn" may try again. The recorders are
  // shared (there are letters for only so many): the DVD+RW of eraseFillStops and the DVD-R
  // that burnReadsBack closed.
  void burnFailuresSayWhatHappened_data() {
    QTest::addColumn<QString>("recorder");  // disc name:profile
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("first");    // the box's text begins so
    QTest::addColumn<QString>("state");    // its informative text holds this
    QTest::addColumn<QString>("details");  // and its details this
    QTest::addColumn<QString>("status");
    // The slow DVD+RW of eraseFillStops, which stores sector 40 wrong: blank for the read-back.
    const QString dvd = "slow-dvd+rw-erase:dvd+rw";
    QTest::newRow("verify mismatch")
        << dvd << "Burn failed"
        << "The disc was written, but reading it back found a difference at "
        << "does not read back as it was sent." << "VERIFY FAILED AT SECTOR 40"
        << "The burn failed.";
    QTest::newRow("medium error")
        << dvd << "Burn failed"
        << "The disc could not be written at 64 KB: a medium error. The disc may be damaged or "
           "of poor quality."
        << "Try another disc, or a lower write speed." << "MEDIUM ERROR (WRITE ERROR)"
        << "The burn failed.";
    QTest::newRow("abort") << dvd << "Burn stopped" << "You stopped the burn after "
                           << "The disc" << "" << "The burn was stopped.";
    QTest::newRow("closed disc") << "dvd-r:dvd-r" << "Warning" << "THE DISC IS CLOSED" << ""
                                 << "" << "Ready";
  }

  void burnFailuresSayWhatHappened() {
    QFETCH(QString, recorder);
    QFETCH(QString, caption);
    QFETCH(QString, first);
    QFETCH(QString, state);
    QFETCH(QString, details);
    QFETCH(QString, status);
    const QString row = QTest::currentDataTag();
    const QString disc = NewDisc(recorder.section(':', 0, 0));
    TestHost host = HostOn(disc + ":" + recorder.section(':', 1), Queue(), true, "bad-sector=40");
    QVERIFY(!host.recorder.isEmpty());
    if (row == "abort") {
      WriteFile(scratch_.path() + "/abort/big.bin", QByteArray(8 << 20, 'y'));
      host.rows = {{(scratch_.path() + "/abort/").toStdString(), true}};
    }
    QStringList notices;
    SetDesktopNoticeHook([&](const QString& title, const QString& line) {
      notices << title + ": " + line;
    });
    const auto unhook = qScopeGuard([] { SetDesktopNoticeHook(nullptr); });
    MessageAnswerer answers;
    TfrmBurn dialog(host);
    // Another window of this program may then take the focus (a modal one would keep it).
    if (row == "medium error") dialog.setModal(false);
    QVERIFY(ShowPrepared(dialog));
    dialog.chkVerify->setChecked(row == "verify mismatch");
    dialog.chkCloseDisc->setChecked(false);
    // The person is in another window when the burn ends: the desktop is told.
    QWidget elsewhere;
    if (row == "medium error") {
      elsewhere.show();
      elsewhere.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
      RecorderOf(disc)->AddFault({RecorderFault::Kind::Sense, op::WRITE_10, 1, 0, 0x03, 0x0C, 0});
    }
    if (row == "abort") {
      RecorderFault slow{RecorderFault::Kind::Slow, op::WRITE_10, 0, 20000};
      slow.delayMs = 100;
      RecorderOf(disc)->AddFault(slow);
    }
    dialog.cmdStartBurn->click();
    if (row == "abort") {
      QTRY_VERIFY_WITH_TIMEOUT(dialog.korbBurn().BytesWritten() > 0, kLongWaitMs);
      QTest::mouseClick(dialog.cmdAbort, Qt::LeftButton);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(!dialog.Busy() && !dialog.Writing() &&
                                  answers.seen.filter(caption + ": ").size() == 1,
                              qPrintable(answers.seen.join(" / ")), 30000);
    RecorderOf(disc)->ClearFaults();
    qsizetype at = 0;
    while (!answers.seen[at].startsWith(caption + ": ")) ++at;
    const QString said = answers.seen[at];
    QVERIFY2(said.startsWith(caption + ": " + first), qPrintable(said));
    QVERIFY2(said.section(" | ", 1).contains(state), qPrintable(said));
    QVERIFY2(answers.details[at].contains(details), qPrintable(answers.details[at]));
    QCOMPARE(answers.icons[at], row == "medium error" || row == "verify mismatch"
                                    ? QMessageBox::Critical
                                    : QMessageBox::Warning);
    QCOMPARE(dialog.lblBurnState->text(), status);
    if (row != "closed disc") {
      // Neither the bar nor the status says done; the burn may be tried again.
      QVERIFY(dialog.prgProgress->value() < dialog.prgProgress->maximum());
      QVERIFY(dialog.cmdStartBurn->isEnabled() && !dialog.Finished());
      // The question said what would happen.
      QVERIFY2(answers.seen.first().contains(row == "verify mismatch"
                                                     ? "It will be read back and compared"
                                                     : "It will not be verified."),
               qPrintable(answers.seen.first()));
    } else {
      QCOMPARE(answers.seen.size(), 1);  // nothing asked, nothing written
    }
    if (row == "medium error") QCOMPARE(notices, QStringList{"Burn failed: " + first});
    dialog.close();

    if (row == "closed disc") {
      // The main window says what the disc is: closed, not a red bar with nothing to it.
      TOptions mainOptions;
      TfrmMain main(mainOptions, false, NoticeSites{"127.0.0.1:9", "127.0.0.1:9"});
      main.cmbDrives->setCurrentIndex(main.cmbDrives->findText(host.recorder));
      main.cmbDrivesChange();
      QTRY_VERIFY_WITH_TIMEOUT(!main.DriveBusy(), kLongWaitMs);
      QCOMPARE(main.lblDisc->text(), QString("DVD-R, closed: no further sessions"));
    }
  }

  // What the erase dialog asks, or refuses, by disc and kind of erase (answered No).
  void eraseQuestions_data() {
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("quick");
    QTest::addColumn<QString>("message");
    QTest::newRow("DVD+R") << "dvd+r" << true
        << "Warning: This disc is not erasable.\r\nOnly a rewritable disc (CD-RW, DVD-RW, "
           "DVD+RW, DVD-RAM) can be erased; a CD-R or DVD\u00b1R is written once.";
    // No disc is not "not erasable" (the recorder of the burn's "no disc").
    QTest::newRow("no disc") << "none" << true
        << "Warning: There is no disc in the drive.\r\nPut the rewritable disc in the drive and "
           "try again.";
    QTest::newRow("CD-RW, full") << "cd-rw" << false
        << "Confirm Action: All data on the disc will be lost\r\nDo you want to completely "
           "erase the disc ?\r\nThis may take 10-70 minutes.";
  }

  void eraseQuestions() {
    QFETCH(QString, profile);
    QFETCH(bool, quick);
    QFETCH(QString, message);
    TestHost host;
    const QString recorderText =
        profile == "none" ? NewDisc("stop-no disc") + ":none" : NewDisc("ask-" + profile) + ":" + profile;
    host.recorder = AttachRecorder(recorderText);
    MessageAnswerer answers;
    answers.answer = QMessageBox::No;
    TfrmErase erase(host);
    QVERIFY(ShowOn(erase, host.recorder));
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
    TestHost host = HostOn(disc + ":cd-rw", Queue());
    MessageAnswerer answers;
    {
      TfrmBurn burn(host);
      QVERIFY(ShowPrepared(burn));
      Burn(burn, answers);
      burn.close();
    }
    {
      TfrmErase erase(host);
      QVERIFY(ShowOn(erase, host.recorder));
      QVERIFY(QTest::qWaitForWindowExposed(&erase));
      QCOMPARE(erase.windowTitle(), QString("Erase CD or DVD"));
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
      QCOMPARE(erase.lblBurnState->text(), QString("Erase process completed."));
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
      QVERIFY(ShowPrepared(burn));
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
    QVERIFY(ShowOn(erase, host.recorder));
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
    QVERIFY(!AcquireDrive(nullptr, erase.korbErase(), "loading the disc").Held());
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
    QVERIFY(ShowOn(erase, host.recorder));
    erase.chkQuickErase->setChecked(false);
    QTest::mouseClick(erase.cmdStartErase, Qt::LeftButton);
    QVERIFY(!erase.cmdAbort->isEnabled());  // the drive formats first
    QTRY_VERIFY_WITH_TIMEOUT(erase.cmdAbort->isEnabled(), kLongWaitMs);
    QTest::mouseClick(erase.cmdAbort, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!erase.Erasing(), kLongWaitMs);
    // Stopped by the user, not failed: said as such, and the bar and status do not say done.
    QVERIFY2(answers.seen.last().startsWith("Erase stopped: You stopped the erase at "),
             qPrintable(answers.seen.last()));
    QCOMPARE(answers.icons.last(), QMessageBox::Warning);
    QCOMPARE(erase.lblBurnState->text(), QString("The erase was stopped."));
    QVERIFY(erase.prgProgress->value() < 100);
    QVERIFY(erase.korbErase().EraseProgress() == 0 && !erase.cmdAbort->isEnabled());
  }

  // Closing mid-write asks; Yes aborts, the window closes once the recording has ended, and
  // the disc still takes a new session.
  void closeWhileWritingAborts() {
    const QString disc = NewDisc("slow-dvd+r");
    WriteFile(scratch_.path() + "/big/big.bin", QByteArray(48 << 20, 'x'));
    TestHost host =
        HostOn(disc + ":dvd+r", {{(scratch_.path() + "/big/").toStdString(), true}}, true);
    MessageAnswerer answers;
    TfrmBurn dialog(host);
    QVERIFY(ShowPrepared(dialog));
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
    // The CD-RW the erase questions blanked: the suite keeps within its recorders.
    const QString entry = AttachRecorder(NewDisc("ask-cd-rw") + ":cd-rw");
    const QString sent = scratch_.path() + "/sent.iso";
    QCOMPARE(test::Shell("xorriso -as mkisofs -R -J -V SENT -o " + test::Quote(sent.toStdString()) +
                         " " + test::Quote(sources_.toStdString()))
                 .status,
             0);
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
    QVERIFY(test::FileContent(sent.toStdString()) == test::FileContent(saved.toStdString()));
  }

  // "Copy Disc..." copies the disc the image dialogs wrote onto the blank DVD+R the erase
  // questions left; "Check Disc..." then reads the copy whole.
  void copyAndCheckDialogs() {
    const QString source = AttachRecorder(NewDisc("ask-cd-rw") + ":cd-rw");
    const QString target = AttachRecorder(NewDisc("ask-dvd+r") + ":dvd+r");
    QVERIFY(!source.isEmpty() && !target.isEmpty());
    MessageAnswerer answers;
    TfrmDiscJob copy(TDiscJobKind::Copy, source.toStdString(), {});
    copy.show();
    QCOMPARE(copy.cmbSource->currentText(), source);
    QCOMPARE(copy.cmbTarget->currentText(), source);  // the same recorder unless told otherwise
    // There the copy opens the tray and waits for a blank disc; Load closes it from the window
    // (on the same disc, which it goes on waiting for a blank one over, until stopped).
    QTRY_VERIFY_WITH_TIMEOUT(copy.cmdStart->isEnabled(), kLongWaitMs);
    QTest::mouseClick(copy.cmdStart, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(copy.cmdLoad->isVisible(), kLongWaitMs);
    VirtualRecorder* drive = RecorderOf(NewDisc("ask-cd-rw"));
    QVERIFY(drive->TrayOpen());
    QCOMPARE(copy.lblStatus->text(), QString(kInsertBlankDiscText));
    QTest::mouseClick(copy.cmdLoad, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!copy.Looking() && !drive->TrayOpen(), kLongWaitMs);
    QTest::mouseClick(copy.cmdAbort, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!copy.Running() && answers.Saw("The copy was stopped."), kLongWaitMs);
    QVERIFY(!copy.cmdLoad->isVisible());
    copy.cmbTarget->setCurrentIndex(copy.cmbTarget->findText(target));
    QTRY_VERIFY_WITH_TIMEOUT(copy.cmdStart->isEnabled(), kLongWaitMs);
    QVERIFY(copy.cmbSpeed->count() > 1);  // "Fastest" and the DVD+R's speeds
    QTest::mouseClick(copy.cmdStart, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!copy.Running() && answers.Saw("Ready: The disc has been copied."),
                             kLongWaitMs);
    QVERIFY(answers.Saw("Do you want to write the ISO 9660 image \"SENT\""));

    TfrmDiscJob check(TDiscJobKind::Check, target.toStdString(), {});
    check.show();
    QCOMPARE(check.cmbSource->currentText(), target);
    answers.seen.clear();
    QTest::mouseClick(check.cmdStart, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!check.Running() && answers.Saw("Ready: The disc is whole."),
                             kLongWaitMs);
    QCOMPARE(check.lstProblems->count(), 0);
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
