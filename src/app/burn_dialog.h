// The burn dialog: turns the host's burn queue into a session on the disc in the recorder
// chosen there. It owns its component, asks before it writes, follows the recording with a
// 500 ms timer and locks the host's recorder selector while the disc is written.
//
// Closing while a recording runs asks whether to abort it; Yes aborts, waits for the end of
// the recording and then closes, so the component is never freed under its threads.
#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace brennix {

class TDialogHost;
class TKorbBurner;
struct QueueRow;

inline constexpr const char* kBurnCaption = "Burn CD or DVD";

class TfrmBurn : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmBurn(TDialogHost& host, QWidget* owner = nullptr);
  ~TfrmBurn() override;

  // Selects the host's recorder on the dialog's own component.
  void Prepare();

  QLabel* lblDrive = nullptr;
  QPushButton* cmdEject = nullptr;
  QPushButton* cmdLoad = nullptr;
  QPushButton* cmdStartBurn = nullptr;
  QCheckBox* chkJoliet = nullptr;
  QCheckBox* chkCloseDisc = nullptr;
  QCheckBox* chkVerify = nullptr;  // off at first; the choice is kept in the settings
  QCheckBox* chkImportSession = nullptr;  // on at first; the choice is kept in the settings
  QProgressBar* prgProgress = nullptr;
  QPushButton* cmdAbort = nullptr;
  QLabel* lblBurnState = nullptr;
  QLabel* lblMBWritten = nullptr;
  QTimer* tmrProgress = nullptr;

  void cmdStartBurnClick();
  void cmdAbortClick();
  void cmdEjectClick();
  void cmdLoadClick();
  void tmrProgressTimer();
  void korbBurnWriteDone(TKorbBurner* Sender, const std::string& Error);

  TKorbBurner& korbBurn() { return *korbBurn_; }
  bool Writing() const { return writing_; }

 public slots:
  void reject() override;  // the close box and Esc

 private:
  // Fills the tree from the queue rows with the program's one queue builder. Empty when the
  // tree may be written, else why not; notes gets a line for every source left out or
  // renamed, and the counts of both.
  std::string AddQueueRows(const std::vector<QueueRow>& rows, std::vector<std::string>& notes,
                           int& leftOut, int& renamed);
  void SetWriting(bool writing);

  TDialogHost& host_;
  std::unique_ptr<TKorbBurner> korbBurn_;
  bool starting_ = false;       // between Start Burn and the recording (or giving up)
  bool writing_ = false;        // from Burn until OnWriteDone
  bool aborting_ = false;       // Abort asked, OnWriteDone not yet here
  bool closeWhenDone_ = false;  // the user chose to abort and close
};

// Creates the dialog owned by owner, prepares and shows it modally; returns when it closed.
void ShowBurnDialog(TDialogHost& host, QWidget* owner);

}  // namespace brennix
