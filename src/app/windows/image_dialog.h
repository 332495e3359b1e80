// The image dialogs of the File menu: "Burn Image..." writes an ISO 9660 or UDF image file
// as it is to the disc in the main window's recorder; "Save Disc Image..." saves that disc
// as an image file. Each owns its component and runs the image burn or the disc read as a
// job on it: the job checks, asks, reports its progress and its end, and the dialog shows
// them. The recorder's guard is held from the start to the end.
#pragma once

#include "component/job.h"
#include "component/sequence_guard.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace brennix {

class TKorbBurner;

enum class TImageDialogKind { Burn, Save };

inline constexpr const char* kBurnImageCaption = "Burn Image";
inline constexpr const char* kSaveImageCaption = "Save Disc Image";

class TfrmImage : public QDialog, private TJobHandler {
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
  QPushButton* cmdStart = nullptr;
  QPushButton* cmdAbort = nullptr;
  QPushButton* cmdClose = nullptr;
  QProgressBar* prgProgress = nullptr;
  QLabel* lblStatus = nullptr;

  void cmdBrowseClick();
  void cmdStartClick();
  void cmdAbortClick();
  bool Running() const { return job_ != nullptr; }

 public slots:
  void reject() override;  // the close box and Esc

 private:
  void Ask(const TJobQuestion& question, std::function<void(bool)> answer) override;
  void Tell(const TJobMessage& message) override;
  void Progress(const TJobProgress& progress) override;
  void Done(const TJobResult& result) override;
  void SetRunning(bool running);

  const TImageDialogKind kind_;
  const std::string recorder_;
  const std::vector<std::string> virtualRecorders_;
  std::unique_ptr<TKorbBurner> korb_;
  std::unique_ptr<TJob> job_;
  TDriveGuard guard_;
  bool closeWhenDone_ = false;
};

// Creates the dialog, shows it modally with the file given (if any), frees it.
void ShowImageDialog(TImageDialogKind kind, const std::string& recorder,
                     const std::vector<std::string>& virtualRecorders, QWidget* owner,
                     const QString& file = QString());

}  // namespace brennix
