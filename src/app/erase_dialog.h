// The erase dialog: blanks the rewritable disc in a recorder of its own choosing. It owns
// its component, asks before it erases, follows the erase with a 500 ms timer and reports
// the end.
//
// While an erase runs the recorder selector is locked and the window refuses to close: a
// blank or format that the drive runs cannot be stopped. "Abort" is enabled only while the
// program itself writes zeros over the disc (DVD+RW, DVD-RAM), which it can stop.
#pragma once

#include <QDialog>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace brennix {

class TDialogHost;
class TKorbBurner;
class TSCSIDevice;

inline constexpr const char* kEraseCaption = "Erase CD or DVD";

class TfrmErase : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmErase(TDialogHost& host, QWidget* owner = nullptr);
  ~TfrmErase() override;

  // Lists the recorders and selects the first.
  void Prepare();

  QComboBox* cmbDrives = nullptr;
  QPushButton* cmdEject = nullptr;
  QPushButton* cmdLoad = nullptr;
  QPushButton* cmdStartErase = nullptr;
  QCheckBox* chkQuickErase = nullptr;
  QProgressBar* prgProgress = nullptr;
  QPushButton* cmdAbort = nullptr;
  QLabel* lblBurnState = nullptr;
  QTimer* tmrProgress = nullptr;

  void cmbDrivesChange();
  void cmdStartEraseClick();
  void cmdAbortClick();
  void cmdEjectClick();
  void cmdLoadClick();
  void tmrProgressTimer();
  void korbEraseEraseDone(TSCSIDevice* Sender, bool WithError);

  TKorbBurner& korbErase() { return *korbErase_; }
  bool Erasing() const { return erasing_; }

 public slots:
  void reject() override;  // the close box and Esc

 private:
  void SetErasing(bool erasing);

  TDialogHost& host_;
  std::unique_ptr<TKorbBurner> korbErase_;
  bool erasing_ = false;
  bool stopping_ = false;
  int eraseDoneCount_ = 0;
};

// Creates the dialog owned by owner, prepares and shows it modally; returns when it closed.
void ShowEraseDialog(TDialogHost& host, QWidget* owner);

}  // namespace brennix
