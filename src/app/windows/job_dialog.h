// What the dialogs that run one job on a disc share: the progress bar, the status line and
// the Start, Abort and Close buttons; the recorders held from a start to its end; the job's
// questions, messages, progress and end as the window shows them. Closing while the job runs
// stops it first, and the window goes at its end.
#pragma once

#include "component/job.h"
#include "component/sequence_guard.h"

#include <QDialog>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace brennix {

class TKorbBurner;

class TJobDialog : public QDialog, private TJobHandler {
  Q_OBJECT

 public:
  ~TJobDialog() override;
  virtual void cmdStartClick() = 0;
  void cmdAbortClick();
  bool Running() const { return job_ != nullptr; }

  QPushButton* cmdStart = nullptr;
  QPushButton* cmdAbort = nullptr;
  QPushButton* cmdClose = nullptr;
  QProgressBar* prgProgress = nullptr;
  QLabel* lblStatus = nullptr;

 public slots:
  void reject() override;  // the close box and Esc

 protected:
  // The status line's word for each phase that moves bytes or reads back.
  struct TPhaseWords {
    const char* Reading;
    const char* Writing;
    const char* Verifying;
  };

  TJobDialog(QWidget* owner, const char* name, const char* caption, TPhaseWords words);

  // Adds the bar, the status line and the buttons below what the dialog put in layout; the
  // row of the status line is returned for what belongs beside it.
  QHBoxLayout* AddJobControls(QVBoxLayout* layout, const char* startText);
  // The choices that must not change while a job runs.
  void AddSettings(std::initializer_list<QWidget*> widgets);
  // Buttons and choices for a running job or an idle window.
  void SetRunning(bool running);
  virtual bool CanStart() const { return true; }
  // Work of the dialog's own on a recorder the job holds; the recorders stay held until it
  // has ended too.
  virtual bool StepRunning() const { return false; }

  // The device entry of korb's list that recorder (an entry, or the text the main window's
  // selector shows) stands for: the same, else the first that holds it, else the first.
  static std::string RecorderEntry(const TKorbBurner& korb, const std::string& recorder);
  void SayNoRecorder();
  // Holds every recorder named until the job's end; false (after telling who has one) when
  // another part of the program holds one.
  bool HoldRecorders(const std::vector<std::string>& drives, const std::string& holder);
  void LetRecordersGo();
  const TDriveGuard* HeldRecorder() const { return guards_.empty() ? nullptr : &guards_.front(); }
  // The recorder takes a recording: the settings every recording starts from are applied.
  // False (the recorders let go, and why told) when it cannot write.
  bool ReadyToWrite(TKorbBurner& korb);
  // Starts job with this dialog as its handler's target; the window is idle again when it
  // did not start.
  void StartJob(std::unique_ptr<TJob> job);
  TJobHandler& Handler() { return *this; }

  QString doneText_;  // what a job that ended well says; empty: its own text

  const TPhaseWords words_;
  std::unique_ptr<TJob> job_;
  bool closeWhenDone_ = false;

  // The job's events, on this thread.
  void Ask(const TJobQuestion& question, std::function<void(bool)> answer) override;
  void Tell(const TJobMessage& message) override;
  void Progress(const TJobProgress& progress) override;
  void Done(const TJobResult& result) override;

 private:
  std::vector<QWidget*> settings_;
  std::vector<TDriveGuard> guards_;
};

}  // namespace brennix
