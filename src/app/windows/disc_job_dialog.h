// The disc dialogs of the File menu that work on discs already written: "Copy Disc..." reads
// the disc in one recorder and burns it, verified, onto a blank disc in another recorder or
// in the same one after the discs have been changed; "Check Disc..." reads a disc back and
// names the files that differ from their sums or cannot be read. Each runs its job off the
// window's thread and shows its progress, what it asks for and its end; the recorders' guards
// are held from the start to the end.
#pragma once

#include "app/windows/background_task.h"
#include "component/job.h"
#include "component/sequence_guard.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace brennix {

class TKorbBurner;

enum class TDiscJobKind { Copy, Check };

inline constexpr const char* kCopyDiscCaption = "Copy Disc";
inline constexpr const char* kCheckDiscCaption = "Check Disc";
inline constexpr const char* kDiscCopiedText = "The disc has been copied.";

class TfrmDiscJob : public QDialog, private TJobHandler {
  Q_OBJECT

 public:
  // recorder: the device entry, or the text the main window's selector shows; it is chosen
  // first (for a copy: as the source and as the target).
  TfrmDiscJob(TDiscJobKind kind, const std::string& recorder,
              const std::vector<std::string>& virtualRecorders, QWidget* owner = nullptr);
  ~TfrmDiscJob() override;

  QComboBox* cmbSource = nullptr;  // the recorder to copy from, or to check
  QComboBox* cmbTarget = nullptr;  // Copy: the recorder to write to
  QCheckBox* chkCloseDisc = nullptr;  // Copy
  QComboBox* cmbSpeed = nullptr;      // Copy: the target's write speeds
  QListWidget* lstProblems = nullptr;  // Check: the files that differ or cannot be read
  QPushButton* cmdStart = nullptr;
  QPushButton* cmdAbort = nullptr;
  QPushButton* cmdClose = nullptr;
  QProgressBar* prgProgress = nullptr;
  QLabel* lblStatus = nullptr;

  void cmdStartClick();
  void cmdAbortClick();
  bool Running() const { return job_ != nullptr; }
  // The speeds of the target recorder are being asked for.
  bool Looking() const { return look_.Running(); }

 public slots:
  void reject() override;  // the close box and Esc

 private:
  void Ask(const TJobQuestion& question, std::function<void(bool)> answer) override;
  void Tell(const TJobMessage& message) override;
  void Progress(const TJobProgress& progress) override;
  void Done(const TJobResult& result) override;
  void SetRunning(bool running);
  void LookAtTarget();

  const TDiscJobKind kind_;
  std::unique_ptr<TKorbBurner> source_;
  std::unique_ptr<TKorbBurner> target_;
  std::unique_ptr<TJob> job_;
  TDriveGuard sourceGuard_;
  TDriveGuard targetGuard_;
  TBackgroundTask look_;
  bool lookAgain_ = false;
  bool closeWhenDone_ = false;
};

// Creates the dialog, shows it modally, frees it.
void ShowDiscJobDialog(TDiscJobKind kind, const std::string& recorder,
                       const std::vector<std::string>& virtualRecorders, QWidget* owner);

}  // namespace brennix
