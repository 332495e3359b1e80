// The main window: a file browser above, the burn queue, the recorder and its tray below,
// the size line and the disc usage bar at the bottom. It owns the burner component korbMain,
// which it uses for the device list, the disc's size and usage, the tray, and for emptying
// the image tree; it never builds an image itself.
#pragma once

#include "app/windows/background_task.h"
#include "app/windows/folder_measurer.h"
#include "app/windows/volumes.h"
#include "app/services/web_notices.h"

#include <QComboBox>
#include <QMainWindow>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <string>

class QAction;
class QCheckBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSplitter;
class QTimer;
class QTreeView;

namespace brennix {

class TCDSize;
class TKorbBurner;
enum class TrayMove;
class TVolumeFilter;

// The queue list: its drag-over, drop and Delete-key handling belong to the window.
class TQueueList : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;
  std::function<bool(QDropEvent*)> OnDragOver;
  std::function<void(QDropEvent*)> OnDragDrop;
  std::function<void()> OnDeleteKey;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

// The drive selector reads the mounted volumes again each time it opens.
class TDriveCombo : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> OnOpening;
  void showPopup() override;
};

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  TfrmMain(TOptions& options, bool aboutAtStart = false, NoticeSites sites = {});
  ~TfrmMain() override;

  // ---- controls, named as the program's tests and accessibility tools find them
  QWidget* pnlDrive = nullptr;
  TDriveCombo* drvDrives = nullptr;
  QPushButton* cmdNetwork = nullptr;
  QWidget* pnlBrowser = nullptr;
  QSplitter* splMain = nullptr;
  QTreeView* dirFolders = nullptr;
  QListView* flbFiles = nullptr;
  QSplitter* Splitter1 = nullptr;
  QWidget* pnlQueue = nullptr;
  QPushButton* cmdAddFolder = nullptr;
  QPushButton* cmdAddFiles = nullptr;
  QPushButton* cmdRemoveFiles = nullptr;
  QPushButton* cmdClearFiles = nullptr;
  QCheckBox* chkPathInfo = nullptr;
  QLineEdit* txtVolumeLabel = nullptr;
  TQueueList* lvwFiles = nullptr;
  QWidget* pnlRecorder = nullptr;
  QComboBox* cmbDrives = nullptr;
  QPushButton* cmdEject = nullptr;
  QPushButton* cmdLoad = nullptr;
  QPushButton* cmdErase = nullptr;
  QPushButton* cmdBurn = nullptr;
  QLabel* lblTotalCDSize = nullptr;
  TCDSize* cdsSize = nullptr;
  QLabel* lblDisc = nullptr;  // the disc in the drive: "DVD+R, 2 sessions, 3.1 GB free"
  QAction* mnuFileBurnImage = nullptr;
  QAction* mnuFileSaveImage = nullptr;
  QAction* mnuFileCopyDisc = nullptr;
  QAction* mnuFileCheckDisc = nullptr;
  QAction* mnuFileExit = nullptr;
  QAction* mnuHelpHome = nullptr;
  QAction* mnuHelpHelp = nullptr;
  QAction* mnuHelpAbout = nullptr;

  TKorbBurner& korbMain() { return *korbMain_; }

  // The dialogs that "Burn CD or DVD" and "Erase CD or DVD" open (tests put their own here).
  std::function<void(TfrmMain&)> BurnDialog;
  std::function<void(TfrmMain&)> EraseDialog;

  // ---- operations the dialogs and the start-up use
  // Queues what source offers when target is the queue: the folder tree's highlighted folder
  // (a folder row), or the file list's selected files (file rows). Then UpdateSizes.
  void AddToQueue(QObject* target, QObject* source);
  // Queues paths as a file manager hands them over: folders as folder rows, files as file
  // rows; a source already queued is not queued again. Paths that do not exist are left out
  // and named in a warning. Then UpdateSizes.
  void QueuePaths(const QStringList& paths);
  void UpdateSizes();
  // Both run on a worker; the window stays usable and its recorder buttons wait.
  void EjectDevice(TKorbBurner& c);
  void LoadDevice(TKorbBurner& c);
  // A step talks to the recorder (a tray move or the disc's read-out), or a read-out waits
  // for its turn on a recorder that another step holds.
  bool DriveBusy() const;
  // Queued folders whose size is still being measured.
  size_t MeasurementsRunning() const;
  // Queue row contents: sub-item 0 (path), 1 (size cell) and 2 (bytes, plain).
  static QString RowPath(const QTreeWidgetItem* row);
  static qint64 RowBytes(const QTreeWidgetItem* row);
  // A folder row's check box: its subfolders go along.
  static bool RowRecursive(const QTreeWidgetItem* row);

  // The browser's current folder, and moving it (the drive selector follows).
  QString CurrentFolder() const;
  bool SetCurrentFolder(const QString& folder);

  // ---- handlers
  void cmbDrivesChange();
  void korbMainDeviceChange();
  void cmdAddFolderClick();
  void cmdAddFilesClick();
  void cmdRemoveFilesClick();
  void cmdClearFilesClick();
  void cmdNetworkClick();
  void cmdEjectClick();
  void cmdLoadClick();
  void cmdEraseClick();
  void cmdBurnClick();
  void mnuFileExitClick();
  // "Burn Image..." (with a file already chosen, or none) and "Save Disc Image...".
  void mnuFileBurnImageClick(const QString& file = QString());
  void mnuFileSaveImageClick();
  void mnuFileCopyDiscClick();
  void mnuFileCheckDiscClick();
  void mnuHelpHomeClick();
  void mnuHelpHelpClick();
  void mnuHelpAboutClick();
  bool lvwFilesDragOver(QDropEvent* event);
  void lvwFilesDragDrop(QDropEvent* event);

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildUpperHalf();
  QWidget* BuildLowerHalf();
  void InitializeDevices();
  void FillDrives();
  void drvDrivesChange();
  void FolderChanged();
  // False (and nothing added) when the path is queued already.
  bool AppendRow(const QString& path, bool folder);
  void UpdateSavePathTip();
  void MeasurementDone(uint64_t walk, int64_t bytes);
  bool WaitForMeasurements();
  // What a read-out of the selected recorder found, handed from the worker to this thread.
  struct DiscReading {
    bool selected = false;  // the entry named a CD or DVD device
    uint32_t capabilities = 0;
    std::string idVolume;
    int status = -1;
    uint32_t capacity = 0;
    uint32_t used = 0;
    int type = 0;           // disc type code
    unsigned sessions = 0;
  };
  // The line under the bar from the last read-out.
  void ShowDiscLine();
  void StartReread();
  void ApplyReading(const DiscReading& reading);
  void StartTray(TKorbBurner& c, TrayMove move);
  void SetDriveBusy(bool busy);
  void DriveStepDone();
  void RestorePlacement();
  void SavePlacement() const;
  void PlaceSplitters();

  std::unique_ptr<TWebNotices> notices_;
  std::unique_ptr<TKorbBurner> korbMain_;
  // After korbMain_: a step still running is waited for before the component goes.
  TBackgroundTask driveTask_;
  DiscReading disc_;         // the last read-out, which the sizes and the bar follow
  bool rereadWanted_ = false;
  int rereadTries_ = 0;
  QTimer* rereadRetry_ = nullptr;
  bool burnCapable_ = true;  // an empty device list leaves "Burn" as it starts: enabled
  bool closeWhenIdle_ = false;
  QFileSystemModel* folderModel_ = nullptr;
  TVolumeFilter* folderFilter_ = nullptr;
  QFileSystemModel* fileModel_ = nullptr;
  QList<TVolume> volumes_;
  QString pendingFolder_;
  bool activated_ = false;
  bool aboutAtStart_ = false;
  bool placed_ = false;
  int upperHeight_ = 256;  // Splitter1: the file browser's height
  int treeWidth_ = 205;    // splMain: the folder tree's width
  // Last member: its walks are stopped and joined before anything else goes.
  std::unique_ptr<TFolderMeasurer> measurer_;
};

}  // namespace brennix
