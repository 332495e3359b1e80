// Opens the burn or erase dialog on a virtual recorder and starts it as a person would,
// answering its question with Yes, so that scripts/screenshots.sh can take the dialog
// mid-run:
//   brennix_dialog_demo burn DISC[:PROFILE] SOURCE...
//   brennix_dialog_demo erase DISC[:PROFILE]
// BRENNIX_VIRTUAL_RECORDER_OPTIONS (e.g. speed=simulated) sets the recorder's pace, or a
// fault (fault=sense:2a:1:3/0c/00: a write that fails); BRENNIX_DEMO_ASK=1 leaves the
// question open for the picture.
#include "app/services/application.h"
#include "app/windows/burn_dialog.h"
#include "app/windows/dialog_host.h"
#include "app/windows/dialog_support.h"
#include "app/windows/erase_dialog.h"

#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace brennix;

namespace {

class DemoHost : public TDialogHost {
 public:
  std::vector<QueueRow> rows;
  std::vector<std::string> recorders;
  QString recorder;

  std::vector<QueueRow> QueueRows() const override { return rows; }
  Qt::CheckState SavePathState() const override { return Qt::Checked; }
  QString VolumeLabel() const override { return "HOLIDAY 2026"; }
  QString RecorderText() const override { return recorder; }
  void SetRecorderSelectorEnabled(bool) override {}
  std::vector<std::string> VirtualRecorders() const override { return recorders; }
};

// Says Yes to the dialog's question; later boxes stay open for the picture.
void AnswerQuestions(QTimer& timer) {
  if (std::getenv("BRENNIX_DEMO_ASK") != nullptr) return;
  QObject::connect(&timer, &QTimer::timeout, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QAbstractButton* yes = box != nullptr ? box->button(QMessageBox::Yes) : nullptr;
    if (yes != nullptr) yes->click();
  });
  timer.start(50);
}

// The dialog lists and selects its recorders on a worker; the demo goes on once it has.
void WaitUntilPrepared(const TfrmErase& dialog) {
  while (dialog.Busy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

}  // namespace

int main(int argc, char** argv) {
  TBrennixApplication app(argc, argv);
  const bool burn = argc >= 4 && std::strcmp(argv[1], "burn") == 0;
  const bool erase = argc == 3 && std::strcmp(argv[1], "erase") == 0;
  if (!burn && !erase) {
    std::fprintf(stderr, "usage: %s burn DISC[:PROFILE] SOURCE... | erase DISC[:PROFILE]\n",
                 argv[0]);
    return 2;
  }
  DemoHost host;
  host.recorders = {argv[2]};
  for (int i = 3; i < argc; ++i) host.rows.push_back({argv[i], true});
  std::string error;
  if (!AttachHostRecorders(host.recorders, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  QTimer answers;
  AnswerQuestions(answers);
  // Never a real drive: the recorder is looked up by its disc file.
  TfrmErase lister(host);
  lister.Prepare();
  WaitUntilPrepared(lister);
  host.recorder = QString::fromStdString(VirtualRecorderEntry(lister.korbErase(), argv[2]));
  if (erase) {
    TfrmErase dialog(host);
    dialog.Prepare();
    WaitUntilPrepared(dialog);
    dialog.cmbDrives->setCurrentIndex(dialog.cmbDrives->findText(host.recorder));
    QTimer::singleShot(500, &dialog, [&dialog] { dialog.cmdStartErase->click(); });
    return dialog.exec();
  }
  TfrmBurn dialog(host);
  dialog.Prepare();
  // Start Burn is offered once Prepare's check of the drive has come back.
  QTimer start;
  QObject::connect(&start, &QTimer::timeout, [&dialog, &start] {
    if (!dialog.cmdStartBurn->isEnabled()) return;
    start.stop();
    dialog.cmdStartBurn->click();
  });
  start.start(500);
  return dialog.exec();
}
