#include "app/windows/image_dialog.h"

#include "app/windows/dialog_support.h"
#include "component/burn_job.h"
#include "component/korb_burner.h"
#include "component/read_image_job.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace brennix {

namespace {

constexpr const char* kBurnImageCaption = "Burn Image";
constexpr const char* kSaveImageCaption = "Save Disc Image";

}  // namespace

TfrmImage::TfrmImage(TImageDialogKind kind, std::string recorder,
                     std::vector<std::string> virtualRecorders, QWidget* owner)
    : TJobDialog(owner, kind == TImageDialogKind::Burn ? "frmBurnImage" : "frmSaveImage",
                 kind == TImageDialogKind::Burn ? kBurnImageCaption : kSaveImageCaption,
                 {"Reading...", "Writing...", "Verifying..."}),
      kind_(kind),
      recorder_(std::move(recorder)),
      virtualRecorders_(std::move(virtualRecorders)),
      korb_(std::make_unique<TKorbBurner>()) {
  const bool burn = kind_ == TImageDialogKind::Burn;
  auto* layout = new QVBoxLayout(this);
  auto* prompt = new QLabel(burn ? "Image file to write to the disc:" : "Save the disc as:", this);
  layout->addWidget(prompt);
  auto* row = new QHBoxLayout;
  edtFile = new QLineEdit(this);
  edtFile->setObjectName("edtFile");
  edtFile->setMinimumWidth(320);
  prompt->setBuddy(edtFile);
  cmdBrowse = MakeButton(this, "cmdBrowse", "Browse...", 80, 25);
  row->addWidget(edtFile);
  row->addWidget(cmdBrowse);
  layout->addLayout(row);
  if (burn) {
    chkVerify = new QCheckBox("Verify the disc after writing", this);
    chkVerify->setObjectName("chkVerify");
    chkCloseDisc = new QCheckBox("Close Disc", this);
    chkCloseDisc->setObjectName("chkCloseDisc");
    chkCloseDisc->setToolTip("No further sessions can be added afterwards.");
    layout->addWidget(chkVerify);
    layout->addWidget(chkCloseDisc);
  }
  AddJobControls(layout, burn ? "Start Burn" : "Save Image");
  AddSettings({cmdBrowse, edtFile, chkVerify, chkCloseDisc});
  connect(cmdBrowse, &QPushButton::clicked, this, &TfrmImage::cmdBrowseClick);
}

TfrmImage::~TfrmImage() { job_.reset(); }

void TfrmImage::cmdBrowseClick() {
  const QString file =
      kind_ == TImageDialogKind::Burn
          ? QFileDialog::getOpenFileName(this, kBurnImageCaption, edtFile->text(),
                                         "Disc images (*.iso *.img *.udf);;All files (*)")
          : QFileDialog::getSaveFileName(this, kSaveImageCaption, edtFile->text(),
                                         "Disc images (*.iso);;All files (*)");
  if (!file.isEmpty()) edtFile->setText(file);
}

void TfrmImage::cmdStartClick() {
  if (job_) return;
  const bool burn = kind_ == TImageDialogKind::Burn;
  const std::string file = edtFile->text().trimmed().toStdString();
  if (file.empty()) {
    ShowMessage(this, QMessageBox::Warning, "Warning",
                burn ? "Please choose the image file to write."
                     : "Please choose where to save the image.");
    return;
  }
  TKorbBurner& korb = *korb_;
  if (korb.Devices.empty()) SetUpDialogComponent(korb, virtualRecorders_);
  const std::string entry = RecorderEntry(korb, recorder_);
  if (entry.empty()) return SayNoRecorder();
  if (!HoldRecorders({entry}, burn ? "writing an image" : "reading the disc")) return;
  korb.SetDevice(entry);
  if (burn) {
    if (!ReadyToWrite(korb)) return;
    TBurnOptions options;
    options.ImageFile = file;
    options.Verify = chkVerify->isChecked();
    options.CloseDisc = chkCloseDisc->isChecked();
    StartJob(std::make_unique<TBurnJob>(korb, Handler(), std::move(options)));
  } else {
    TReadImageOptions options;
    options.Out = file;
    StartJob(std::make_unique<TReadImageJob>(korb, Handler(), std::move(options)));
  }
}

void ShowImageDialog(TImageDialogKind kind, const std::string& recorder,
                     const std::vector<std::string>& virtualRecorders, QWidget* owner,
                     const QString& file) {
  TfrmImage dialog(kind, recorder, virtualRecorders, owner);
  if (!file.isEmpty()) dialog.edtFile->setText(file);
  dialog.exec();
}

}  // namespace brennix
