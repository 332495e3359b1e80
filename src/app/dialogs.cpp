#include "app/dialogs.h"

#include "app/main_window.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace brennix {

namespace {

void RunStandIn(TfrmMain& owner, const QString& caption, const QString& text) {
  QDialog dialog(&owner);
  dialog.setObjectName("frmStandIn");
  dialog.setWindowTitle(caption);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(text, &dialog));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.exec();
}

}  // namespace

void RunBurnDialog(TfrmMain& owner) {
  RunStandIn(owner, "Burn CD or DVD",
             "Burning from this window is not available yet.\n"
             "Use brennix-cli burn to write the queued files.");
}

void RunEraseDialog(TfrmMain& owner) {
  RunStandIn(owner, "Erase CD or DVD",
             "Erasing from this window is not available yet.\n"
             "Use brennix-cli erase to blank the disc.");
}

}  // namespace brennix
