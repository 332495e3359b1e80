// Drives the main window through one long job on a virtual recorder, as a person would, and
// measures the longest time the event loop went without running: a 5 ms timer notes the gap
// between each two of its ticks, from the first click to the end of the job. Message boxes
// are answered Yes (else their default button, else OK); a warning or an error ends the run.
//   brennix_ui_bench [OPTIONS] burn DISC:PROFILE FOLDER   FOLDER queued; Burn, Start Burn
//   brennix_ui_bench [OPTIONS] erase DISC:PROFILE         Erase, Start Erase (quick)
//   brennix_ui_bench [OPTIONS] tray DISC:PROFILE          Eject, then Load
// OPTIONS:
//   --recorder TEXT  the recorder's settings, as BRENNIX_VIRTUAL_RECORDER_OPTIONS takes them
//   --fault TEXT     faults in the same form, armed at the click that starts the drive's work
//                    (fault=busy:any:5000ms: the drive is busy for the first 5 s of it)
//   --arm-at-yes     arms them when the job's question is answered Yes instead
//   --timeout S      gives up after S seconds (default 600)
// Prints each step and message, the gaps of 100 ms or more and where they fell, and last
// "longest event-loop gap: N ms". Exits with 1 when the job did not end well.
//
// Where a gap fell is told twice: by what the window showed before and after it, and by
// what the interface thread was running during it, sampled every 50 ms from another thread
// (a signal takes its stack; addr2line names the functions at the end).
#include "app/services/application.h"
#include "app/windows/dialog_support.h"
#include "app/windows/main_window.h"
#include "app/services/options.h"
#include "component/korb_burner.h"
#include "virtual_recorder/attach.h"
#include "virtual_recorder/recorder_options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace brennix;

namespace {

constexpr int kTickMs = 5;
constexpr qint64 kTargetMs = 100;
constexpr qint64 kSettledMs = 1000;  // quiet this long after the job: its end

// When the faults start: at the click that starts the drive's work (Start Burn, Start
// Erase, Eject), or when the job's question is answered Yes.
enum class Arm { Click, Yes };

struct Step {
  QString name;
  std::function<bool()> ready;
  std::function<void()> act;
};

using Stack = std::vector<void*>;  // return addresses, innermost first

struct Gap {
  qint64 ms = 0;
  qint64 fromMs = 0;  // since the first click
  QString before, after;
  std::vector<Stack> samples;
};

QString Flat(QString text) {
  text.replace("\r\n", " ").replace('\n', ' ');
  return text.size() > 90 ? text.left(87) + "..." : text;
}

// ---- what the interface thread runs while its loop stands still

constexpr int kMaxFrames = 96;
constexpr int kHandlerFrames = 2;  // the signal handler and the kernel's return trampoline
void* g_frames[kMaxFrames];
std::atomic<int> g_depth{-1};

void TakeStack(int) { g_depth.store(backtrace(g_frames, kMaxFrames)); }

class StallSampler {
 public:
  StallSampler(const QElapsedTimer& clock, const std::atomic<qint64>& lastTick)
      : clock_(clock), lastTick_(lastTick), target_(pthread_self()) {
    backtrace(g_frames, 1);  // loads the unwinder now, not inside the handler
    struct sigaction action {};
    action.sa_handler = TakeStack;
    action.sa_flags = SA_RESTART;
    sigaction(SIGRTMIN, &action, nullptr);
    thread_ = std::thread([this] { Run(); });
  }
  ~StallSampler() {
    stop_ = true;
    thread_.join();
  }
  std::vector<Stack> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(samples_, {});
  }

 private:
  void Run() {
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (clock_.elapsed() - lastTick_.load() < kTargetMs) continue;
      g_depth.store(-1);
      pthread_kill(target_, SIGRTMIN);
      for (int i = 0; i < 200 && g_depth.load() < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const int depth = g_depth.load();
      if (depth <= kHandlerFrames) continue;
      std::lock_guard lock(mutex_);
      samples_.emplace_back(g_frames + kHandlerFrames, g_frames + depth);
    }
  }

  const QElapsedTimer& clock_;
  const std::atomic<qint64>& lastTick_;
  const pthread_t target_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Stack> samples_;
  std::thread thread_;
};

// Names the program's own frames (inlined calls included, innermost first); a frame in a
// shared library gets no names.
std::map<void*, QStringList> FrameNames(const std::vector<Stack>& stacks) {
  Dl_info self{};
  dladdr(reinterpret_cast<void*>(&TakeStack), &self);
  std::map<void*, QStringList> names;
  std::map<quint64, void*> ours;  // offset in this program -> frame
  for (const Stack& stack : stacks)
    for (void* frame : stack) {
      Dl_info info{};
      names[frame];
      if (dladdr(frame, &info) == 0 || info.dli_fbase != self.dli_fbase) continue;
      // A return address is the instruction after the call: step back into the call.
      const auto offset = static_cast<char*>(frame) - static_cast<char*>(self.dli_fbase) - 1;
      ours[static_cast<quint64>(offset)] = frame;
    }
  if (ours.empty()) return names;
  QStringList arguments{"-a", "-C", "-f", "-i", "-e", QCoreApplication::applicationFilePath()};
  for (const auto& entry : ours) arguments << "0x" + QString::number(entry.first, 16);
  QProcess tool;
  tool.start("addr2line", arguments);
  tool.waitForFinished(60000);
  // Each address: "0x...", then a function line and a place line per inlined level.
  const QStringList lines = QString::fromLocal8Bit(tool.readAllStandardOutput()).split('\n');
  QStringList* current = nullptr;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    bool ok = false;
    const quint64 offset = lines[i].startsWith("0x") ? lines[i].mid(2).toULongLong(&ok, 16) : 0;
    if (ok && ours.count(offset) != 0) {
      current = &names[ours[offset]];
    } else if (current != nullptr && !lines[i].isEmpty()) {
      *current << lines[i];
      ++i;  // the place line
    }
  }
  return names;
}

// What a sample was doing, as "outer > inner" of the program's own functions called from
// the innermost call into the toolkit (the handler at work and three calls below it).
QString Doing(const Stack& stack, const std::map<void*, QStringList>& names) {
  QStringList chain;  // innermost first
  for (void* frame : stack) {
    const QStringList& functions = names.at(frame);
    if (functions.isEmpty()) {
      if (!chain.isEmpty()) break;  // back in the toolkit (or a library below us)
      continue;
    }
    for (QString function : functions) {
      if (!function.startsWith("brennix::")) continue;
      function = function.remove("(anonymous namespace)::").section('(', 0, 0).remove("brennix::");
      if (chain.isEmpty() || chain.last() != function) chain << function;
    }
  }
  std::reverse(chain.begin(), chain.end());
  if (chain.isEmpty()) return "(outside the program)";
  return chain.mid(0, 4).join(" > ");
}

class Bench {
 public:
  Bench(TfrmMain& main, VirtualDrive& drive, std::vector<RecorderFault> faults, Arm arm)
      : main_(main), drive_(drive), faults_(std::move(faults)), arm_(arm) {
    clock_.start();
    sampler_ = std::make_unique<StallSampler>(clock_, lastTick_);
  }

  void BurnSteps() {
    steps_ = {
        {"Burn", [this] { return Idle() && main_.cmdBurn->isEnabled(); },
         [this] {
           Start();
           Click(main_.cmdBurn);
         }},
        {"Start Burn", [this] { return Button("frmBurn", "cmdStartBurn") != nullptr; },
         [this] {
           ArmFaults(Arm::Click);
           Click(Button("frmBurn", "cmdStartBurn"));
         }},
        {"close the dialog",
         [this] { return Said("Burn process completed") && Button("frmBurn", "cmdStartBurn"); },
         [this] { Close("frmBurn"); }},
        {"end", [this] { return IdleFor(kSettledMs); }, nullptr}};
  }

  void EraseSteps() {
    steps_ = {
        {"Erase", [this] { return Idle() && main_.cmdErase->isEnabled(); },
         [this] {
           Start();
           Click(main_.cmdErase);
         }},
        // Once the dialog has listed its recorders, which it does on a worker.
        {"choose the recorder and quick erase",
         [this] { return Button("frmErase", "cmdStartErase") != nullptr; },
         [this] {
           // The dialog lists every recorder and takes the first; a real one may come first.
           auto* drives = Modal("frmErase")->findChild<QComboBox*>("cmbDrives");
           const int index = drives->findText(main_.cmbDrives->currentText());
           if (index >= 0 && index != drives->currentIndex()) drives->setCurrentIndex(index);
           Modal("frmErase")->findChild<QCheckBox*>("chkQuickErase")->setChecked(true);
         }},
        {"Start Erase", [this] { return Button("frmErase", "cmdStartErase") != nullptr; },
         [this] {
           ArmFaults(Arm::Click);
           Click(Button("frmErase", "cmdStartErase"));
         }},
        {"close the dialog",
         [this] { return Said("Erase process completed") && Button("frmErase", "cmdStartErase"); },
         [this] { Close("frmErase"); }},
        {"end", [this] { return IdleFor(kSettledMs); }, nullptr}};
  }

  void TraySteps() {
    steps_ = {
        {"Eject", [this] { return Idle() && !drive_.Recorder().TrayOpen(); },
         [this] {
           Start();
           ArmFaults(Arm::Click);
           Click(main_.cmdEject);
         }},
        {"Load", [this] { return Idle() && drive_.Recorder().TrayOpen(); },
         [this] { Click(main_.cmdLoad); }},
        {"end", [this] { return !drive_.Recorder().TrayOpen() && IdleFor(kSettledMs); }, nullptr}};
  }

  int Run(int timeoutS) {
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [this] { Tick(); });
    ticks.start(kTickMs);
    QTimer::singleShot(timeoutS * 1000, [this, timeoutS] {
      Log(QString("gave up after %1 s, waiting for: %2").arg(timeoutS).arg(Waiting()));
      failed_ = true;
      Finish();
    });
    main_.show();
    return QApplication::exec();
  }

 private:
  void Tick() {
    if (done_) return;
    const qint64 now = clock_.elapsed();
    const QString state = State();
    if (started_) {
      const qint64 gap = now - lastTick_;
      longest_ = std::max(longest_, gap);
      if (gap >= kTargetMs)
        gaps_.push_back({gap, lastTick_ - startMs_, lastState_, state, sampler_->Take()});
    }
    sampler_->Take();  // what it took during a short gap, or before the first click
    lastTick_ = now;
    lastState_ = state;
    if (!Idle()) idleSince_ = -1;
    else if (idleSince_ < 0) idleSince_ = now;

    Answer();
    if (failed_) {
      if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) == nullptr) Finish();
      return;
    }
    if (next_ < steps_.size() && steps_[next_].ready()) {
      const Step& step = steps_[next_++];
      if (step.act) step.act();
      Log(step.name);
      lastState_ = State();
      idleSince_ = -1;  // what the step started has yet to show
    }
    if (next_ == steps_.size()) Finish();
  }

  // Answers a message box once, after the tick: a button clicked here would hold this
  // timer's tick open for as long as what the button starts.
  void Answer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || box == answered_) return;
    answered_ = box;
    QString said = box->windowTitle() + ": " + Flat(box->text());
    if (!box->detailedText().isEmpty()) said += " [" + Flat(box->detailedText()) + "]";
    Log("message " + said);
    said_ << said;
    if (box->windowTitle() == "Warning" || box->windowTitle() == "Error") failed_ = true;
    QAbstractButton* button = box->button(QMessageBox::Yes);
    if (button != nullptr) ArmFaults(Arm::Yes);
    if (button == nullptr) button = box->defaultButton();
    if (button == nullptr) button = box->button(QMessageBox::Ok);
    if (button != nullptr) Click(button);
  }

  static void Click(QAbstractButton* button) {
    QTimer::singleShot(0, button, [button] { button->click(); });
  }

  static void Close(const char* dialog) {
    if (QWidget* w = Modal(dialog)) QTimer::singleShot(0, w, [w] { w->close(); });
  }

  void Start() {
    started_ = true;
    startMs_ = lastTick_;
  }

  void ArmFaults(Arm when) {
    if (when != arm_ || armed_) return;
    armed_ = true;
    Log("faults armed");
    for (const RecorderFault& fault : faults_) drive_.Recorder().AddFault(fault);
  }

  static QWidget* Modal(const char* name) {
    QWidget* w = QApplication::activeModalWidget();
    return w != nullptr && w->objectName() == name ? w : nullptr;
  }

  // The dialog's start button once it may be pressed: the dialog on top and at rest.
  static QPushButton* Button(const char* dialog, const char* name) {
    QWidget* w = Modal(dialog);
    auto* button = w != nullptr ? w->findChild<QPushButton*>(name) : nullptr;
    return button != nullptr && button->isEnabled() && QApplication::overrideCursor() == nullptr
               ? button
               : nullptr;
  }

  bool Idle() const {
    return QApplication::activeModalWidget() == nullptr &&
           QApplication::overrideCursor() == nullptr && main_.MeasurementsRunning() == 0 &&
           main_.cmbDrives->isEnabled() && main_.cmdEject->isEnabled() &&
           main_.cmdLoad->isEnabled() && main_.cmdErase->isEnabled();
  }

  bool IdleFor(qint64 ms) const { return idleSince_ >= 0 && lastTick_ - idleSince_ >= ms; }

  bool Said(const QString& text) const { return !said_.filter(text).isEmpty(); }

  QString Waiting() const { return next_ < steps_.size() ? steps_[next_].name : "nothing"; }

  // Where the program is, as a person sees it: the window on top and its state line.
  QString State() const {
    QWidget* top = QApplication::activeModalWidget();
    QString where;
    if (auto* box = qobject_cast<QMessageBox*>(top)) {
      where = "message \"" + Flat(box->text()) + "\"";
    } else {
      if (top == nullptr) top = &main_;
      where = top->objectName();
      if (auto* label = top->findChild<QLabel*>("lblBurnState"))
        where += " \"" + Flat(label->text()) + "\"";
    }
    if (QApplication::overrideCursor() != nullptr) where += " (busy cursor)";
    return "after " + (next_ > 0 ? steps_[next_ - 1].name : QString("start")) + ": " + where;
  }

  void Log(const QString& text) const {
    std::printf("%7.1f s  %s\n", static_cast<double>(clock_.elapsed() - startMs_) / 1000,
                qPrintable(text));
    std::fflush(stdout);
  }

  void Finish() {
    if (done_) return;
    done_ = true;
    sampler_.reset();
    std::sort(gaps_.begin(), gaps_.end(), [](const Gap& a, const Gap& b) { return a.ms > b.ms; });
    const size_t total = gaps_.size();
    gaps_.resize(std::min<size_t>(total, 5));
    std::vector<Stack> stacks;
    for (const Gap& gap : gaps_)
      stacks.insert(stacks.end(), gap.samples.begin(), gap.samples.end());
    const std::map<void*, QStringList> names = FrameNames(stacks);
    std::printf("gaps of %lld ms or more: %zu\n", static_cast<long long>(kTargetMs), total);
    for (const Gap& gap : gaps_) {
      std::printf("  %6lld ms at %.1f s\n    from: %s\n    to:   %s\n",
                  static_cast<long long>(gap.ms), static_cast<double>(gap.fromMs) / 1000,
                  qPrintable(gap.before), qPrintable(gap.after));
      std::map<QString, int> doing;
      for (const Stack& stack : gap.samples) ++doing[Doing(stack, names)];
      std::vector<std::pair<int, QString>> most;
      for (const auto& [what, count] : doing) most.emplace_back(count, what);
      std::sort(most.rbegin(), most.rend());
      for (size_t i = 0; i < std::min<size_t>(most.size(), 3); ++i)
        std::printf("    %3d%% in %s\n", most[i].first * 100 / static_cast<int>(gap.samples.size()),
                    qPrintable(most[i].second));
    }
    std::printf("%s in %.1f s\n", failed_ ? "FAILED" : "done",
                static_cast<double>(lastTick_ - startMs_) / 1000);
    std::printf("longest event-loop gap: %lld ms\n", static_cast<long long>(longest_));
    std::fflush(stdout);
    QCoreApplication::exit(failed_ ? 1 : 0);
  }

  TfrmMain& main_;
  VirtualDrive& drive_;
  const std::vector<RecorderFault> faults_;
  const Arm arm_;
  bool armed_ = false;
  std::vector<Step> steps_;
  size_t next_ = 0;
  QElapsedTimer clock_;
  bool started_ = false, failed_ = false, done_ = false;
  qint64 startMs_ = 0, idleSince_ = -1, longest_ = 0;
  std::atomic<qint64> lastTick_{0};
  std::unique_ptr<StallSampler> sampler_;
  QString lastState_;
  std::vector<Gap> gaps_;
  QStringList said_;
  QPointer<QMessageBox> answered_;
};

int Usage() {
  std::fprintf(stderr,
               "usage: brennix_ui_bench [--recorder TEXT] [--fault TEXT] [--arm-at-yes]\n"
               "         [--timeout S]\n"
               "         burn DISC:PROFILE FOLDER | erase DISC:PROFILE | tray DISC:PROFILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  TBrennixApplication app(argc, argv);
  QStringList args = QApplication::arguments().mid(1);
  std::string recorderText, faultText;
  int timeoutS = 600;
  Arm arm = Arm::Click;
  while (args.size() >= 2 && args[0].startsWith("--")) {
    if (args[0] == "--arm-at-yes") {
      arm = Arm::Yes;
      args.removeFirst();
      continue;
    }
    const QString option = args.takeFirst(), value = args.takeFirst();
    if (option == "--recorder") recorderText = value.toStdString();
    else if (option == "--fault") faultText = value.toStdString();
    else if (option == "--timeout" && value.toInt() > 0) timeoutS = value.toInt();
    else return Usage();
  }
  const QString mode = args.value(0);
  if (!(mode == "burn" && args.size() == 3) &&
      !((mode == "erase" || mode == "tray") && args.size() == 2))
    return Usage();

  std::string error;
  RecorderOptions options, armed;
  if (!ParseRecorderOptions(recorderText, options, error) ||
      !ParseRecorderOptions(faultText, armed, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  const std::string disc = args[1].toStdString();
  const std::shared_ptr<VirtualDrive> drive = AttachVirtualRecorder(disc, options, error);
  if (!drive) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  TOptions settings;
  TfrmMain main(settings);
  // Never a real drive: the recorder is chosen by its disc file.
  const int index =
      main.cmbDrives->findText(QString::fromStdString(VirtualRecorderEntry(main.korbMain(), disc)));
  if (index < 0) {
    std::fprintf(stderr, "the virtual recorder is not in the recorder list\n");
    return 1;
  }
  main.cmbDrives->setCurrentIndex(index);
  main.cmbDrivesChange();
  main.txtVolumeLabel->setText("BENCH");
  if (mode == "burn") main.QueuePaths({args[2]});

  Bench bench(main, *drive, armed.faults, arm);
  if (mode == "burn") bench.BurnSteps();
  else if (mode == "erase") bench.EraseSteps();
  else bench.TraySteps();
  return bench.Run(timeoutS);
}
