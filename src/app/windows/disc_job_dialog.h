// The disc dialogs of the File menu that work on discs already written: "Copy Disc..." reads
// the disc in one recorder and burns it, verified, onto a blank disc in another recorder or
// in the same one after the discs have been changed; "Check Disc..." reads a disc back and
// names the files that differ from their sums or cannot be read. The recorders' guards are
// held from the start to the end.
#pragma once

#include "app/windows/background_task.h"
#include "app/windows/job_dialog.h"

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QListWidget;

namespace brennix {

enum class TDiscJobKind { Copy, Check };

class TfrmDiscJob : public TJobDialog {
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
  // Copy: closes the tray once the blank disc is in, while the copy waits for it in the
  // recorder it was read from.
  QPushButton* cmdLoad = nullptr;
  QListWidget* lstProblems = nullptr;  // Check: the files that differ or cannot be read

  void cmdStartClick() override;
  void cmdLoadClick();
  // The target's speeds are being asked for, or its tray is moving.
  bool Looking() const { return look_.Running(); }

 private:
  bool CanStart() const override;
  bool StepRunning() const override { return look_.Running(); }
  void Tell(const TJobMessage& message) override;
  void Progress(const TJobProgress& progress) override;
  void Done(const TJobResult& result) override;
  void LookAtTarget();
  // A step on the target's recorder has ended: what waited for it follows.
  void StepEnded();

  const TDiscJobKind kind_;
  std::unique_ptr<TKorbBurner> source_;
  std::unique_ptr<TKorbBurner> target_;
  TBackgroundTask look_;  // the target's speeds, or the tray
  bool lookAgain_ = false;
};

// Creates the dialog, shows it modally, frees it.
void ShowDiscJobDialog(TDiscJobKind kind, const std::string& recorder,
                       const std::vector<std::string>& virtualRecorders, QWidget* owner);

}  // namespace brennix
