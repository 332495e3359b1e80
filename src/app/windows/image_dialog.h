// The image dialogs of the File menu: "Burn Image..." writes an ISO 9660 or UDF image file
// as it is to the disc in the main window's recorder; "Save Disc Image..." saves that disc
// as an image file. Each owns its component and runs the image burn or the disc read as a
// job on it. The recorder's guard is held from the start to the end.
#pragma once

#include "app/windows/job_dialog.h"

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;

namespace brennix {

enum class TImageDialogKind { Burn, Save };

class TfrmImage : public TJobDialog {
  Q_OBJECT

 public:
  // recorder: the device entry, or the text the main window's selector shows.
  TfrmImage(TImageDialogKind kind, std::string recorder, std::vector<std::string> virtualRecorders,
            QWidget* owner = nullptr);
  ~TfrmImage() override;

  QLineEdit* edtFile = nullptr;
  QPushButton* cmdBrowse = nullptr;
  QCheckBox* chkVerify = nullptr;
  QCheckBox* chkCloseDisc = nullptr;

  void cmdBrowseClick();
  void cmdStartClick() override;

 private:
  const TImageDialogKind kind_;
  const std::string recorder_;
  const std::vector<std::string> virtualRecorders_;
  std::unique_ptr<TKorbBurner> korb_;
};

// Creates the dialog, shows it modally with the file given (if any), frees it.
void ShowImageDialog(TImageDialogKind kind, const std::string& recorder,
                     const std::vector<std::string>& virtualRecorders, QWidget* owner,
                     const QString& file = QString());

}  // namespace brennix
