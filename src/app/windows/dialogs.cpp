#include "app/windows/dialogs.h"

#include "app/windows/burn_dialog.h"
#include "app/windows/dialog_host.h"
#include "app/windows/erase_dialog.h"
#include "app/windows/main_window.h"

#include <QCheckBox>
#include <QLineEdit>

namespace brennix {

namespace {

// The main window as the dialogs see it. Its virtual recorders were attached at start-up,
// for every component of the program at once.
class TMainWindowHost : public TDialogHost {
 public:
  explicit TMainWindowHost(TfrmMain& window) : window_(window) {}

  std::vector<QueueRow> QueueRows() const override {
    std::vector<QueueRow> rows;
    for (int i = 0; i < window_.lvwFiles->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* row = window_.lvwFiles->topLevelItem(i);
      rows.push_back({TfrmMain::RowPath(row).toStdString(), TfrmMain::RowRecursive(row)});
    }
    return rows;
  }
  Qt::CheckState SavePathState() const override { return window_.chkPathInfo->checkState(); }
  QString VolumeLabel() const override { return window_.txtVolumeLabel->text(); }
  QString RecorderText() const override { return window_.cmbDrives->currentText(); }
  void SetRecorderSelectorEnabled(bool enabled) override { window_.cmbDrives->setEnabled(enabled); }
  std::vector<std::string> VirtualRecorders() const override { return {}; }

 private:
  TfrmMain& window_;
};

template <class Dialog>
void Run(TfrmMain& owner) {
  TMainWindowHost host(owner);
  Dialog dialog(host, &owner);
  dialog.Prepare();
  dialog.exec();
}

}  // namespace

void RunBurnDialog(TfrmMain& owner) { Run<TfrmBurn>(owner); }
void RunEraseDialog(TfrmMain& owner) { Run<TfrmErase>(owner); }

}  // namespace brennix
