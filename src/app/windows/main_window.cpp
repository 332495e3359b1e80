#include "app/windows/main_window.h"

#include "app/windows/disc_job_dialog.h"
#include "app/windows/image_dialog.h"
#include "app/windows/queue_texts.h"
#include "app/windows/cd_size.h"
#include "app/windows/dialogs.h"
#include "app/services/jpeg_image.h"
#include "app/windows/message_box.h"
#include "app/services/options.h"
#include "app/windows/splash.h"
#include "app/windows/tray_actions.h"
#include "app/services/web_page.h"
#include "component/sequence_guard.h"
#include "component/korb_burner.h"
#include "component/plain_words.h"
#include "device/device_entry.h"
#include "image/image_tables.h"
#include "platform/disc_units.h"
#include "transport/sg_drive.h"
#include "transport/spti.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <unistd.h>

namespace brennix {

namespace {

// Queue columns: "R" (check box), "Name", "Size ", and the plain byte count, which has no
// column of its own on screen.
constexpr int kColumnCheck = 0, kColumnName = 1, kColumnSize = 2, kColumnBytes = 3;
constexpr int kWalkRole = Qt::UserRole + 1;  // on a folder row being measured: its walk
constexpr const char* kMeasuringText = "measuring\u2026";
// A read-out that finds its recorder held by another step tries again this often, for at
// most a minute; a dialog's step lets go when it ends, long before that.
constexpr int kRereadRetryMs = 250;
constexpr int kRereadTries = 240;
constexpr const char* kReadingHolder = "reading the disc";
constexpr const char* kRecursiveTip =
    "R: the folder's subfolders go along (checked) or only the files directly in it";
// "Clear" asks first when the queue holds more rows than this.
constexpr int kClearWithoutAsking = 3;

const QColor kHeaderColour(254, 240, 133);
const QColor kBrowserColour(215, 215, 255);
const QColor kQueueColour(236, 233, 216);


QFont WindowFont() {
  QFont font;
  font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial",
                    "DejaVu Sans"});
  font.setPointSize(8);
  return font;
}

QFont FontOf(const QStringList& families, QFont::StyleHint hint) {
  QFont font = WindowFont();
  font.setFamilies(families);
  font.setStyleHint(hint);
  return font;
}

QWidget* Panel(QWidget* parent, const char* name, const QColor& colour) {
  auto* panel = new QWidget(parent);
  panel->setObjectName(name);
  panel->setAutoFillBackground(true);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, colour);
  panel->setPalette(palette);
  return panel;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption,
                    const QString& hint, int width, int height) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setToolTip(hint);
  // The size is the least; a font wider than the one it was drawn for may need more.
  const int text = button->fontMetrics().horizontalAdvance(caption) + 10;
  button->setMinimumSize(std::max(width, text), height);
  button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  button->setMaximumHeight(height + 6);
  return button;
}

// A 40-pixel strip in the header colour that starts with a drive's picture; the caller adds
// its controls to the returned row.
QHBoxLayout* HeaderStrip(QWidget* parent, const char* name, QWidget*& strip, const char* pictureName,
                         QStyle::StandardPixmap icon) {
  strip = Panel(parent, name, kHeaderColour);
  strip->setFixedHeight(40);
  auto* row = new QHBoxLayout(strip);
  row->setContentsMargins(4, 4, 4, 4);
  auto* picture = new QLabel(strip);
  picture->setObjectName(pictureName);
  picture->setFixedSize(32, 32);
  picture->setPixmap(strip->style()->standardIcon(icon).pixmap(32, 32));
  row->addWidget(picture);
  return row;
}

QString SettingsGroup() { return QString(kSettingsKey).replace('\\', '/') + "/Window/"; }

}  // namespace

// Shows one volume in the folder tree: the volume's own folder, what lies below it, and the
// folders above it that lead there (which the tree's root index hides).
class TVolumeFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void SetRoot(const QString& root) {
    root_ = root;
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    const auto* model = static_cast<const QFileSystemModel*>(sourceModel());
    const QString path = model->filePath(model->index(row, 0, parent));
    return PathInside(root_, path) || PathInside(path, root_);
  }

 private:
  QString root_ = "/";
};

// ---- the queue list and the drive selector

namespace {

// Enter or Return in a view of the browser.
class TEnterKeys : public QObject {
 public:
  TEnterKeys(QObject* parent, std::function<void()> onEnter)
      : QObject(parent), onEnter_(std::move(onEnter)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        onEnter_();
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> onEnter_;
};

// Queuing only reads the sources: a drop is always a copy, so that the program the drag came
// from never deletes what it believes was moved.
bool AcceptAsCopy(QDropEvent* event) {
  if (!(event->possibleActions() & Qt::CopyAction)) return false;
  event->setDropAction(Qt::CopyAction);
  event->accept();
  return true;
}

}  // namespace

void TQueueList::dragEnterEvent(QDragEnterEvent* event) { dragMoveEvent(event); }

void TQueueList::dragMoveEvent(QDragMoveEvent* event) {
  if (!OnDragOver || !OnDragOver(event) || !AcceptAsCopy(event)) event->ignore();
}

void TQueueList::dropEvent(QDropEvent* event) {
  if (!OnDragDrop || !AcceptAsCopy(event)) {
    event->ignore();
    return;
  }
  OnDragDrop(event);
}

void TQueueList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && OnDeleteKey) {
    OnDeleteKey();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void TDriveCombo::showPopup() {
  if (OnOpening) OnOpening();
  QComboBox::showPopup();
}

// ---- window creation

TfrmMain::TfrmMain(TOptions& options, bool aboutAtStart, NoticeSites sites)
    : BurnDialog(RunBurnDialog),
      EraseDialog(RunEraseDialog),
      notices_(std::make_unique<TWebNotices>(options, kSettingsKey, std::move(sites))),
      korbMain_(std::make_unique<TKorbBurner>()),
      aboutAtStart_(aboutAtStart),
      measurer_(std::make_unique<TFolderMeasurer>(
          [this](uint64_t walk, int64_t bytes) { MeasurementDone(walk, bytes); })) {
  setObjectName("frmMain");
  setWindowTitle("Brennix CD & DVD");
  setFont(WindowFont());
  const QImage logo = LoadLogo();
  if (!logo.isNull()) setWindowIcon(QIcon(QPixmap::fromImage(logo.copy(28, 36, 184, 184))));

  BuildMenus();
  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setObjectName("Splitter1");
  Splitter1->setHandleWidth(3);
  Splitter1->setChildrenCollapsible(false);
  Splitter1->addWidget(BuildUpperHalf());
  Splitter1->addWidget(BuildLowerHalf());
  // The upper half keeps its height when the window is resized; the queue takes the rest.
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  setCentralWidget(Splitter1);

  setMinimumSize(642, 569);
  resize(642, 642);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  RestorePlacement();

  InitializeDevices();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::BuildMenus() {
  // An item and its handler; the File menu's items carry their names for the tests.
  const auto item = [this](QMenu* menu, const char* text, const char* name, auto click) {
    QAction* action = menu->addAction(text);
    if (*name != '\0') action->setObjectName(name);
    connect(action, &QAction::triggered, this, click);
    return action;
  };
  QMenu* file = menuBar()->addMenu("&File");
  mnuFileBurnImage =
      item(file, "Burn Image...", "mnuFileBurnImage", [this] { mnuFileBurnImageClick(); });
  mnuFileSaveImage =
      item(file, "Save Disc Image...", "mnuFileSaveImage", &TfrmMain::mnuFileSaveImageClick);
  mnuFileCopyDisc = item(file, "Copy Disc...", "mnuFileCopyDisc", &TfrmMain::mnuFileCopyDiscClick);
  mnuFileCheckDisc =
      item(file, "Check Disc...", "mnuFileCheckDisc", &TfrmMain::mnuFileCheckDiscClick);
  file->addSeparator();
  mnuFileExit = item(file, "Exit", "", &TfrmMain::mnuFileExitClick);
  QMenu* help = menuBar()->addMenu("&Help");
  mnuHelpHome = item(help, "Home...", "", &TfrmMain::mnuHelpHomeClick);
  help->addSeparator();
  mnuHelpHelp = item(help, "Help...", "", &TfrmMain::mnuHelpHelpClick);
  help->addSeparator();
  mnuHelpAbout = item(help, "About...", "", &TfrmMain::mnuHelpAboutClick);
}

QWidget* TfrmMain::BuildUpperHalf() {
  QWidget* upper = Panel(this, "pnlUpper", kBrowserColour);
  auto* column = new QVBoxLayout(upper);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  QHBoxLayout* row = HeaderStrip(upper, "pnlDrive", pnlDrive, "imgDrive", QStyle::SP_DriveHDIcon);
  drvDrives = new TDriveCombo(pnlDrive);
  drvDrives->setObjectName("drvDrives");
  drvDrives->setFixedWidth(301);
  drvDrives->OnOpening = [this] { FillDrives(); };
  row->addWidget(drvDrives);
  cmdNetwork = Button(pnlDrive, "cmdNetwork", "Network",
                      "Browse the network to add folders and files to the burn queue", 81, 21);
  row->addWidget(cmdNetwork);
  row->addStretch(1);
  column->addWidget(pnlDrive);

  pnlBrowser = Panel(upper, "pnlBrowser", kBrowserColour);
  auto* browser = new QHBoxLayout(pnlBrowser);
  browser->setContentsMargins(4, 4, 4, 4);
  splMain = new QSplitter(Qt::Horizontal, pnlBrowser);
  splMain->setObjectName("splMain");
  splMain->setChildrenCollapsible(false);

  folderModel_ = new QFileSystemModel(this);
  folderModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::Drives);
  folderModel_->setRootPath("/");
  folderFilter_ = new TVolumeFilter(this);
  folderFilter_->setSourceModel(folderModel_);
  folderFilter_->setSortCaseSensitivity(Qt::CaseInsensitive);
  dirFolders = new QTreeView(splMain);
  dirFolders->setObjectName("dirFolders");
  dirFolders->setModel(folderFilter_);
  dirFolders->setHeaderHidden(true);
  for (int c = 1; c < folderModel_->columnCount(); ++c) dirFolders->hideColumn(c);
  dirFolders->setSortingEnabled(true);
  dirFolders->sortByColumn(0, Qt::AscendingOrder);
  dirFolders->setDragEnabled(true);
  dirFolders->setDragDropMode(QAbstractItemView::DragOnly);
  dirFolders->setMinimumWidth(40);

  fileModel_ = new QFileSystemModel(this);
  fileModel_->setFilter(QDir::Files | QDir::Hidden | QDir::System);
  flbFiles = new QListView(splMain);
  flbFiles->setObjectName("flbFiles");
  flbFiles->setModel(fileModel_);
  flbFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  flbFiles->setDragEnabled(true);
  flbFiles->setDragDropMode(QAbstractItemView::DragOnly);
  flbFiles->setMinimumWidth(40);
  splMain->addWidget(dirFolders);
  splMain->addWidget(flbFiles);
  splMain->setStretchFactor(0, 0);
  splMain->setStretchFactor(1, 1);
  browser->addWidget(splMain);
  column->addWidget(pnlBrowser, 1);

  connect(drvDrives, &QComboBox::currentIndexChanged, this, &TfrmMain::drvDrivesChange);
  connect(dirFolders->selectionModel(), &QItemSelectionModel::currentChanged, this,
          &TfrmMain::FolderChanged);
  connect(folderModel_, &QFileSystemModel::directoryLoaded, this, [this] {
    if (!pendingFolder_.isEmpty()) SetCurrentFolder(pendingFolder_);
  });
  // The model may replace a folder's entry while it reads it, which leaves the list on
  // nothing; once the folder is read, the list is put on its entry again.
  connect(fileModel_, &QFileSystemModel::directoryLoaded, this, [this](const QString& path) {
    if (path == fileModel_->rootPath()) flbFiles->setRootIndex(fileModel_->index(path));
  });
  connect(cmdNetwork, &QPushButton::clicked, this, &TfrmMain::cmdNetworkClick);
  // Double-click or Enter queues what was picked: the folder in the tree (its arrow still
  // opens it), the files in the list.
  dirFolders->setExpandsOnDoubleClick(false);
  connect(dirFolders, &QTreeView::doubleClicked, this, [this] { cmdAddFolderClick(); });
  connect(flbFiles, &QListView::doubleClicked, this, [this] { cmdAddFilesClick(); });
  dirFolders->installEventFilter(new TEnterKeys(dirFolders, [this] { cmdAddFolderClick(); }));
  flbFiles->installEventFilter(new TEnterKeys(flbFiles, [this] { cmdAddFilesClick(); }));
  FillDrives();
  return upper;
}

QWidget* TfrmMain::BuildLowerHalf() {
  pnlQueue = Panel(this, "pnlQueue", kQueueColour);
  auto* column = new QVBoxLayout(pnlQueue);
  column->setContentsMargins(4, 4, 4, 0);
  column->setSpacing(4);

  auto* tools = new QHBoxLayout;
  cmdAddFolder = Button(pnlQueue, "cmdAddFolder", "Add Folder",
                        "Add the contents of the selected folder to the burn queue", 81, 21);
  cmdAddFiles = Button(pnlQueue, "cmdAddFiles", "Add Files",
                       "Add the selected files to the burn queue", 81, 21);
  cmdRemoveFiles = Button(pnlQueue, "cmdRemoveFiles", "Remove Files",
                          "Remove the selected files from the burn queue", 81, 21);
  cmdClearFiles = Button(pnlQueue, "cmdClearFiles", "Clear", "Clear the burn queue", 81, 21);
  for (QPushButton* b : {cmdAddFolder, cmdAddFiles, cmdRemoveFiles, cmdClearFiles})
    tools->addWidget(b);
  chkPathInfo = new QCheckBox("Save Path", pnlQueue);
  chkPathInfo->setObjectName("chkPathInfo");
  chkPathInfo->setTristate(true);
  chkPathInfo->setCheckState(Qt::Checked);
  connect(chkPathInfo, &QCheckBox::stateChanged, this, &TfrmMain::UpdateSavePathTip);
  UpdateSavePathTip();
  tools->addWidget(chkPathInfo);
  tools->addStretch(1);
  auto* label = new QLabel("Volume Label:", pnlQueue);
  label->setObjectName("lblVolumeLabel");
  tools->addWidget(label);
  txtVolumeLabel = new QLineEdit(pnlQueue);
  txtVolumeLabel->setObjectName("txtVolumeLabel");
  txtVolumeLabel->setMaxLength(16);
  txtVolumeLabel->setFont(FontOf({"Tahoma", "DejaVu Sans"}, QFont::SansSerif));
  txtVolumeLabel->setFixedWidth(120);
  tools->addWidget(txtVolumeLabel);
  column->addLayout(tools);

  lvwFiles = new TQueueList(pnlQueue);
  lvwFiles->setObjectName("lvwFiles");
  lvwFiles->setFont(FontOf({"Tahoma", "DejaVu Sans"}, QFont::SansSerif));
  lvwFiles->setColumnCount(4);
  lvwFiles->setHeaderLabels({"R", "Name", "Size ", QString()});
  lvwFiles->headerItem()->setTextAlignment(kColumnSize, Qt::AlignRight | Qt::AlignVCenter);
  lvwFiles->setColumnHidden(kColumnBytes, true);
  lvwFiles->setRootIsDecorated(false);
  lvwFiles->setUniformRowHeights(true);
  lvwFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvwFiles->headerItem()->setToolTip(kColumnCheck, kRecursiveTip);
  lvwFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvwFiles->setAcceptDrops(true);
  lvwFiles->setDragDropMode(QAbstractItemView::DropOnly);
  QHeaderView* header = lvwFiles->header();
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(23);
  header->setSectionResizeMode(kColumnCheck, QHeaderView::Fixed);
  header->setSectionResizeMode(kColumnName, QHeaderView::Stretch);
  header->setSectionResizeMode(kColumnSize, QHeaderView::Interactive);
  header->resizeSection(kColumnCheck, 23);
  header->resizeSection(kColumnSize, 87);
  connect(header, &QHeaderView::sectionResized, this, [header](int section, int, int size) {
    if (section == kColumnSize && (size < 70 || size > 100))
      header->resizeSection(section, std::clamp(size, 70, 100));
  });
  lvwFiles->OnDragOver = [this](QDropEvent* e) { return lvwFilesDragOver(e); };
  lvwFiles->OnDragDrop = [this](QDropEvent* e) { lvwFilesDragDrop(e); };
  lvwFiles->OnDeleteKey = [this] { cmdRemoveFilesClick(); };
  column->addWidget(lvwFiles, 1);

  QHBoxLayout* row =
      HeaderStrip(pnlQueue, "pnlRecorder", pnlRecorder, "imgDisc", QStyle::SP_DriveCDIcon);
  cmbDrives = new QComboBox(pnlRecorder);
  cmbDrives->setObjectName("cmbDrives");
  cmbDrives->setFont(FontOf({"Courier New", "Liberation Mono", "DejaVu Sans Mono"},
                            QFont::Monospace));
  // 301 wide, narrower when the buttons beside it need the room for their captions.
  cmbDrives->setMaximumWidth(301);
  cmbDrives->setMinimumWidth(160);
  cmbDrives->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  row->addWidget(cmbDrives);
  cmdEject = Button(pnlRecorder, "cmdEject", "Eject", "Eject the disk from the selected device",
                    45, 22);
  cmdLoad = Button(pnlRecorder, "cmdLoad", "Load", "Load the disk into the selected device",
                   45, 22);
  cmdErase = Button(pnlRecorder, "cmdErase", "Erase CD or DVD",
                    "Erase the disk in the selected device", 93, 22);
  cmdBurn = Button(pnlRecorder, "cmdBurn", "Burn CD or DVD",
                   "Burn files to the disk in the selected device", 93, 22);
  for (QPushButton* b : {cmdEject, cmdLoad, cmdErase, cmdBurn}) row->addWidget(b);
  row->addStretch(1);
  column->addWidget(pnlRecorder);

  lblTotalCDSize = new QLabel("Used Space: 0 MB, New: 0 MB", pnlQueue);
  lblTotalCDSize->setObjectName("lblTotalCDSize");
  column->addWidget(lblTotalCDSize);
  cdsSize = new TCDSize(pnlQueue);
  cdsSize->setObjectName("cdsSize");
  cdsSize->setFixedHeight(29);
  cdsSize->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  cdsSize->SetMemBarColour(QColor(0, 128, 0));
  cdsSize->SetMemInitialColour(QColor(0, 0, 255));
  cdsSize->SetProgressGap(0);
  column->addWidget(cdsSize);
  lblDisc = new QLabel(pnlQueue);
  lblDisc->setObjectName("lblDisc");
  lblDisc->setToolTip("The disc in the selected drive");
  column->addWidget(lblDisc);

  connect(cmdAddFolder, &QPushButton::clicked, this, &TfrmMain::cmdAddFolderClick);
  connect(cmdAddFiles, &QPushButton::clicked, this, &TfrmMain::cmdAddFilesClick);
  connect(cmdRemoveFiles, &QPushButton::clicked, this, &TfrmMain::cmdRemoveFilesClick);
  connect(cmdClearFiles, &QPushButton::clicked, this, &TfrmMain::cmdClearFilesClick);
  connect(cmdEject, &QPushButton::clicked, this, &TfrmMain::cmdEjectClick);
  connect(cmdLoad, &QPushButton::clicked, this, &TfrmMain::cmdLoadClick);
  connect(cmdErase, &QPushButton::clicked, this, &TfrmMain::cmdEraseClick);
  connect(cmdBurn, &QPushButton::clicked, this, &TfrmMain::cmdBurnClick);
  connect(cmbDrives, &QComboBox::activated, this, &TfrmMain::cmbDrivesChange);
  return pnlQueue;
}

void TfrmMain::InitializeDevices() {
  rereadRetry_ = new QTimer(this);
  rereadRetry_->setSingleShot(true);
  rereadRetry_->setInterval(kRereadRetryMs);
  connect(rereadRetry_, &QTimer::timeout, this, &TfrmMain::StartReread);
  // The emulation starts even when it finds no drive: then there is no recorder, which is
  // said in plain words below. Only a layer that did not start at all is an error.
  const bool started = korbMain_->InitializeASPI(true, std::string()) || SPTIInitialized();
  if (!started) {
    // Shown once the event loop runs: start-up still has to hand this window to the splash.
    QTimer::singleShot(0, this, [this] {
      QString text = "Error initializing ASPI Layer.";
      for (const DriveAccessProblem& problem : FindInaccessibleDrives())
        text += "\n" + QString::fromStdString(AccessProblemText(problem));
      ShowMessageBox(this, QMessageBox::Warning, "Warning", text);
    });
  }
  for (const std::string& entry : korbMain_->Devices) cmbDrives->addItem(QString::fromStdString(entry));
  if (cmbDrives->count() > 0) {
    // Recorders added on the command line come first in the choice, as in brennix-cli: a
    // disc file named there is what the person means to write, not a drive's disc.
    int first = 0;
    for (int i = 0; i < cmbDrives->count() && !ExtraDrives().empty(); ++i) {
      if (SPTILetterIsExtraDrive(DeviceEntryLetter(cmbDrives->itemText(i).toStdString()))) {
        first = i;
        break;
      }
    }
    cmbDrives->setCurrentIndex(first);
    cmbDrivesChange();
    return;
  }
  // An empty selector says why, and a tray that is not there is not offered.
  QStringList lines;
  for (const std::string& line : NoRecorderText("brennix")) lines << QString::fromStdString(line);
  const QString text = lines.join('\n');
  cmbDrives->setPlaceholderText("No recorder found");
  cmbDrives->setToolTip(text);
  SetDriveBusy(false);
  if (started) {
    QTimer::singleShot(0, this, [this, text] {
      ShowMessageBox(this, QMessageBox::Information, "No recorder", text);
    });
  }
}

// ---- the browser

void TfrmMain::FillDrives() {
  const QString current = drvDrives->currentIndex() >= 0 && drvDrives->currentIndex() < volumes_.size()
                              ? volumes_[drvDrives->currentIndex()].Path
                              : QString();
  volumes_ = ListVolumes();
  const QSignalBlocker quiet(drvDrives);
  drvDrives->clear();
  int keep = 0;
  for (int i = 0; i < volumes_.size(); ++i) {
    drvDrives->addItem(volumes_[i].Text(), volumes_[i].Path);
    if (volumes_[i].Path == current) keep = i;
  }
  // The browser starts in the home folder, where a person's files are.
  if (current.isEmpty()) keep = std::max(0, VolumeHolding(volumes_, QDir::homePath()));
  drvDrives->setCurrentIndex(keep);
  // A volume that went away leaves the browser on the first one.
  if (volumes_.value(keep).Path != current) drvDrivesChange();
}

void TfrmMain::drvDrivesChange() {
  const int index = drvDrives->currentIndex();
  if (index < 0 || index >= volumes_.size()) return;
  const QString root = volumes_[index].Path;
  drvDrives->setToolTip(root);
  folderFilter_->SetRoot(root);
  const QModelIndex rootItem = folderFilter_->mapFromSource(folderModel_->index(root));
  dirFolders->setRootIndex(rootItem.parent());
  dirFolders->setCurrentIndex(rootItem);
  dirFolders->expand(rootItem);
  FolderChanged();
}

void TfrmMain::FolderChanged() {
  const QString folder = CurrentFolder();
  flbFiles->setRootIndex(fileModel_->setRootPath(folder));
}

QString TfrmMain::CurrentFolder() const {
  const QModelIndex current = folderFilter_->mapToSource(dirFolders->currentIndex());
  if (current.isValid()) return folderModel_->filePath(current);
  const int index = drvDrives->currentIndex();
  return index >= 0 && index < volumes_.size() ? volumes_[index].Path : QString("/");
}

bool TfrmMain::SetCurrentFolder(const QString& folder) {
  const QString path = QDir::cleanPath(folder);
  const int volume = VolumeHolding(volumes_, path);
  if (volume < 0) return false;
  if (drvDrives->currentIndex() != volume) drvDrives->setCurrentIndex(volume);
  const QModelIndex item = folderFilter_->mapFromSource(folderModel_->index(path));
  if (!item.isValid()) {
    // The tree reads folders in the background; try again once it has this one.
    pendingFolder_ = path;
    return false;
  }
  pendingFolder_.clear();
  dirFolders->setCurrentIndex(item);
  dirFolders->scrollTo(item);
  dirFolders->expand(item);
  FolderChanged();
  return true;
}

void TfrmMain::cmdNetworkClick() {
  bool ok = false;
  const QString text = QInputDialog::getText(
      this, "Network Path",
      "Please enter the complete network path\n(e.g. smb://computer/share or /mnt/share)",
      QLineEdit::Normal, QString(), &ok);
  if (!ok) return;
  QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty()) runtime = "/run/user/" + QString::number(::getuid());
  const QString folder = NetworkPathToFolder(text, runtime);
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) return;
  FillDrives();
  SetCurrentFolder(QFileInfo(folder).absoluteFilePath());
}

// ---- the queue

QString TfrmMain::RowPath(const QTreeWidgetItem* row) { return row->text(kColumnName); }

bool TfrmMain::RowRecursive(const QTreeWidgetItem* row) {
  return row->checkState(kColumnCheck) == Qt::Checked;
}

qint64 TfrmMain::RowBytes(const QTreeWidgetItem* row) {
  return row->text(kColumnBytes).toLongLong();
}

bool TfrmMain::AppendRow(const QString& path, bool folder) {
  for (int i = 0; i < lvwFiles->topLevelItemCount(); ++i) {
    if (RowPath(lvwFiles->topLevelItem(i)) == path) {
      lvwFiles->setCurrentItem(lvwFiles->topLevelItem(i));  // shows the row it already has
      return false;
    }
  }
  auto* row = new QTreeWidgetItem;
  if (folder) row->setToolTip(kColumnCheck, kRecursiveTip);
  row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
  row->setCheckState(kColumnCheck, folder ? Qt::Checked : Qt::Unchecked);
  row->setText(kColumnName, path);
  row->setTextAlignment(kColumnSize, Qt::AlignRight | Qt::AlignVCenter);
  if (folder) {
    row->setText(kColumnSize, kMeasuringText);
    row->setText(kColumnBytes, "0");
    row->setData(kColumnCheck, kWalkRole, QVariant::fromValue<quint64>(
                                              measurer_->Start(path.toStdString())));
  } else {
    const int64_t bytes = MeasureDiskSize(path.toStdString());
    row->setText(kColumnSize, QueueSizeCell(bytes));
    row->setText(kColumnBytes, QString::number(bytes));
  }
  lvwFiles->addTopLevelItem(row);
  return true;
}

void TfrmMain::UpdateSavePathTip() {
  // By check state: unchecked, partly checked, checked.
  static const char* const kTips[] = {
      "Save Path (unchecked): only the contents of each source go on the disc, into its top "
      "folder",
      "Save Path (partly checked): each source keeps its last folder only",
      "Save Path (checked): each source keeps its whole folder path on the disc"};
  chkPathInfo->setToolTip(kTips[chkPathInfo->checkState()]);
}

void TfrmMain::MeasurementDone(uint64_t walk, int64_t bytes) {
  for (int i = 0; i < lvwFiles->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = lvwFiles->topLevelItem(i);
    if (row->data(kColumnCheck, kWalkRole).toULongLong() != walk) continue;
    row->setData(kColumnCheck, kWalkRole, QVariant());
    row->setText(kColumnSize, QueueSizeCell(bytes));
    row->setText(kColumnBytes, QString::number(bytes));
    UpdateSizes();
    break;
  }
}

void TfrmMain::AddToQueue(QObject* target, QObject* source) {
  if (target == lvwFiles && source == dirFolders) AppendRow(FolderQueuePath(CurrentFolder()), true);
  if (target == lvwFiles && source == flbFiles) {
    QString folder = CurrentFolder();
    if (folder.endsWith('/')) folder.chop(1);
    QModelIndexList selected = flbFiles->selectionModel()->selectedIndexes();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& entry : selected)
      if (entry.column() == 0) AppendRow(folder + '/' + fileModel_->fileName(entry), false);
  }
  UpdateSizes();
}

void TfrmMain::QueuePaths(const QStringList& paths) {
  QStringList missing;
  for (const QString& given : paths) {
    const QFileInfo info(given);
    if (!info.exists()) {
      missing << given;
      continue;
    }
    const QString path = info.absoluteFilePath();
    if (info.isDir()) AppendRow(FolderQueuePath(path), true);
    else AppendRow(path, false);
  }
  UpdateSizes();
  if (missing.isEmpty()) return;
  const QString text = (missing.size() == 1 ? QString("This file or folder does not exist and "
                                                      "was not queued:\n")
                                            : QString("These files or folders do not exist and "
                                                      "were not queued:\n")) +
                       missing.join('\n');
  // After the window has shown itself, when this comes from the command line.
  QTimer::singleShot(0, this, [this, text] {
    ShowMessageBox(this, QMessageBox::Warning, "Warning", text);
  });
}

void TfrmMain::UpdateSizes() {
  // As the last read-out found it: asking the drive here would make every queue change wait
  // for it.
  const double used = double(int64_t{disc_.used} * kSectorSize);
  double added = 0;
  for (int i = 0; i < lvwFiles->topLevelItemCount(); ++i)
    added += double(RowBytes(lvwFiles->topLevelItem(i)));
  QueuedBytes = added;
  lblTotalCDSize->setText(SizeLineText(used, added));
  cdsSize->SetMemUsed((used + added) / 1024 / 1024);
  cdsSize->SetMemInitial(used / 1024 / 1024);
}

void TfrmMain::cmdAddFolderClick() { AddToQueue(lvwFiles, dirFolders); }
void TfrmMain::cmdAddFilesClick() { AddToQueue(lvwFiles, flbFiles); }

void TfrmMain::cmdRemoveFilesClick() {
  const QList<QTreeWidgetItem*> selected = lvwFiles->selectedItems();
  for (QTreeWidgetItem* row : selected) {
    if (const quint64 walk = row->data(kColumnCheck, kWalkRole).toULongLong())
      measurer_->Cancel(walk);
    delete row;
  }
  UpdateSizes();
}

size_t TfrmMain::MeasurementsRunning() const {
  size_t measuring = 0;
  for (int i = 0; i < lvwFiles->topLevelItemCount(); ++i)
    if (lvwFiles->topLevelItem(i)->data(kColumnCheck, kWalkRole).toULongLong() != 0) ++measuring;
  return measuring;
}

void TfrmMain::cmdClearFilesClick() {
  const int rows = lvwFiles->topLevelItemCount();
  if (rows > kClearWithoutAsking &&
      ShowMessageBox(this, QMessageBox::Question, "Confirm Action",
                     QString("Remove all %1 rows from the burn queue?").arg(rows),
                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
    return;
  measurer_->CancelAll();
  lvwFiles->clear();
  korbMain_->ClearAll(Tables().MaxFiles, Tables().MaxDirs);
  UpdateSizes();
}

bool TfrmMain::lvwFilesDragOver(QDropEvent* event) {
  const QObject* source = event->source();
  if (source == dirFolders || source == flbFiles) return true;
  // From another program, a file manager's list of files and folders.
  return source == nullptr && !LocalPathsOf(event->mimeData()).isEmpty();
}

void TfrmMain::lvwFilesDragDrop(QDropEvent* event) {
  QObject* source = event->source();
  if (source == dirFolders || source == flbFiles) {
    AddToQueue(lvwFiles, source);
  } else if (source == nullptr) {
    QueuePaths(LocalPathsOf(event->mimeData()));
  } else {
    event->ignore();
  }
}

// ---- the recorder

void TfrmMain::cmbDrivesChange() {
  cmbDrives->setToolTip(cmbDrives->currentText());
  rereadWanted_ = true;
  rereadTries_ = 0;
  StartReread();
}

void TfrmMain::StartReread() {
  // A step that runs now reads the disc again when it ends.
  if (!rereadWanted_ || driveTask_.Running()) return;
  const std::string entry = cmbDrives->currentText().toStdString();
  auto guard = std::make_shared<TDriveGuard>(TDriveGuard::TryAcquire(entry, kReadingHolder));
  if (!guard->Held() && !entry.empty()) {
    // Another step has the recorder: its commands go first, this read-out waits its turn.
    rereadWanted_ = ++rereadTries_ < kRereadTries;
    if (rereadWanted_) rereadRetry_->start();
    SetDriveBusy(rereadWanted_);
    return;
  }
  rereadWanted_ = false;
  rereadRetry_->stop();
  // Only the worker touches the reading until the step's end hands it over.
  auto reading = std::make_shared<DiscReading>();
  TKorbBurner& korb = *korbMain_;
  korb.OnDeviceChange = [reading](TSCSIDevice* sender) {
    auto& device = static_cast<TKorbBurner&>(*sender);
    reading->selected = true;
    reading->idVolume = device.IdVolume;
    reading->status = device.DiscStatus();
    reading->type = device.GetDiscType();
    if (reading->status != -1) {
      reading->capacity = device.DiscCapacity();
      reading->sessions = device.SessionCount();
    }
  };
  driveTask_.Start(
      [&korb, entry, guard, reading] {
        korb.SetDevice(entry);
        reading->capabilities = korb.Capabilities;
        reading->used = korb.UsedSectors();
        guard->Release();
      },
      [this, reading] {
        ApplyReading(*reading);
        DriveStepDone();
      });
  SetDriveBusy(true);
}

void TfrmMain::ApplyReading(const DiscReading& reading) {
  disc_ = reading;
  burnCapable_ = (reading.capabilities & (cap::WriteCDR | cap::WriteDVDR | cap::WriteDVDRAM)) != 0;
  ShowDiscLine();
  // The component raised its device change on the worker; the window follows it here.
  if (reading.selected) korbMainDeviceChange();
}

void TfrmMain::ShowDiscLine() {
  if (cmbDrives->count() == 0 || cmbDrives->currentText().isEmpty()) {
    lblDisc->setText("No recorder");
    return;
  }
  if (!disc_.selected) {
    lblDisc->setText("Not a CD or DVD recorder");
    return;
  }
  const bool present = !(disc_.type == 0 && disc_.status < 0);
  const int64_t free = disc_.capacity > disc_.used ? int64_t{disc_.capacity - disc_.used} * kSectorSize : 0;
  lblDisc->setText(QString::fromStdString(
      DiscSummaryText(present, disc_.type, disc_.status, disc_.sessions, free)));
}

void TfrmMain::korbMainDeviceChange() {
  txtVolumeLabel->setText(QString::fromStdString(disc_.idVolume));
  if (disc_.status == -1) return;
  const DiscScale scale = DiscScaleFor(disc_.capacity);
  cdsSize->SetMaxMemory(scale.MaxMemory);
  cdsSize->SetMaxCDSize(scale.MaxCDSize);
  UpdateSizes();
}

bool TfrmMain::DriveBusy() const { return driveTask_.Running() || rereadWanted_; }

void TfrmMain::SetDriveBusy(bool busy) {
  const bool recorder = cmbDrives->count() > 0;
  for (QPushButton* button : {cmdEject, cmdLoad}) button->setEnabled(!busy && recorder);
  cmdErase->setEnabled(!busy);
  cmdBurn->setEnabled(!busy && burnCapable_);
  cmbDrives->setEnabled(!busy);
  if (busy) setCursor(Qt::BusyCursor);
  else unsetCursor();
}

void TfrmMain::DriveStepDone() {
  SetDriveBusy(false);
  if (closeWhenIdle_) {
    QTimer::singleShot(0, this, &QWidget::close);
    return;
  }
  StartReread();
}

void TfrmMain::StartTray(TKorbBurner& c, TrayMove move) {
  if (DriveBusy()) return;
  const bool own = &c == korbMain_.get();
  auto used = std::make_shared<std::atomic<uint32_t>>(disc_.used);
  const bool started = StartTrayMove(
      this, c, move, driveTask_,
      [this, own, used](bool) {
        if (own) {
          disc_.used = used->load();
          // The disc in the drive has changed: the line and the bar follow the new one.
          rereadWanted_ = true;
          rereadTries_ = 0;
        }
        DriveStepDone();
      },
      // The size line counts what the disc in the drive holds, which the tray may have changed.
      [&c, own, used] {
        if (own) used->store(c.UsedSectors());
      });
  if (started) SetDriveBusy(true);
}

void TfrmMain::EjectDevice(TKorbBurner& c) { StartTray(c, TrayMove::Eject); }
void TfrmMain::LoadDevice(TKorbBurner& c) { StartTray(c, TrayMove::Load); }

void TfrmMain::cmdEjectClick() { EjectDevice(*korbMain_); }
void TfrmMain::cmdLoadClick() { LoadDevice(*korbMain_); }

bool TfrmMain::WaitForMeasurements() {
  if (MeasurementsRunning() == 0) return true;
  // The burn needs the whole queue's size; the person may give up waiting on a slow share.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QProgressDialog progress("Measuring the queued folders...", "Cancel", 0, 0, this);
  progress.setWindowTitle("Burn CD or DVD");
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  while (MeasurementsRunning() > 0 && !progress.wasCanceled())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QApplication::restoreOverrideCursor();
  return MeasurementsRunning() == 0;
}

void TfrmMain::cmdBurnClick() {
  if (DriveBusy()) return;
  if (lvwFiles->topLevelItemCount() == 0) {
    ShowMessageBox(this, QMessageBox::Warning, "Warning",
                   "At least one file/directory should be selected.");
    return;
  }
  if (!WaitForMeasurements()) return;
  if (BurnDialog) BurnDialog(*this);
  cmbDrivesChange();
}

void TfrmMain::cmdEraseClick() {
  if (DriveBusy()) return;
  if (EraseDialog) EraseDialog(*this);
  cmbDrivesChange();
}

// ---- menus and the window's life

void TfrmMain::mnuFileExitClick() { close(); }

void TfrmMain::mnuFileBurnImageClick(const QString& file) {
  if (DriveBusy()) return;
  ShowImageDialog(TImageDialogKind::Burn, cmbDrives->currentText().toStdString(), {}, this, file);
  cmbDrivesChange();
}

void TfrmMain::mnuFileSaveImageClick() {
  if (DriveBusy()) return;
  ShowImageDialog(TImageDialogKind::Save, cmbDrives->currentText().toStdString(), {}, this);
  cmbDrivesChange();
}

void TfrmMain::mnuFileCopyDiscClick() {
  if (DriveBusy()) return;
  ShowDiscJobDialog(TDiscJobKind::Copy, cmbDrives->currentText().toStdString(), {}, this);
  cmbDrivesChange();
}

void TfrmMain::mnuFileCheckDiscClick() {
  if (DriveBusy()) return;
  ShowDiscJobDialog(TDiscJobKind::Check, cmbDrives->currentText().toStdString(), {}, this);
  cmbDrivesChange();
}
void TfrmMain::mnuHelpHomeClick() { OpenWebPage(kHomePage); }
// The manual installed with the program, so that help works without a network.
void TfrmMain::mnuHelpHelpClick() {
  OpenHelp(this, HelpFileCandidates(QCoreApplication::applicationDirPath()));
}

void TfrmMain::mnuHelpAboutClick() {
  TfrmSplash about(this);
  about.SetMode(true);
  about.exec();
}

void TfrmMain::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !activated_) {
    activated_ = true;
    notices_->StartWebNotices();
  }
  QMainWindow::changeEvent(event);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!placed_) {
    placed_ = true;
    PlaceSplitters();
  }
  if (aboutAtStart_) {
    aboutAtStart_ = false;
    QTimer::singleShot(0, this, &TfrmMain::mnuHelpAboutClick);
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (driveTask_.Running()) {
    // A command half sent leaves the drive in a state nobody knows; the step ends within the
    // drive's time-outs, and the window closes then.
    event->ignore();
    if (closeWhenIdle_) return;
    const auto answer = ShowMessageBox(
        this, QMessageBox::Question, "Confirm Action",
        "Brennix is still talking to the recorder.\n"
        "Do you want to close the window as soon as the recorder has answered?",
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes || !driveTask_.Running()) {
      if (answer == QMessageBox::Yes) QTimer::singleShot(0, this, &QWidget::close);
      return;
    }
    closeWhenIdle_ = true;
    centralWidget()->setEnabled(false);
    menuBar()->setEnabled(false);
    return;
  }
  // A read-out still waiting for its turn is simply dropped.
  rereadWanted_ = false;
  rereadRetry_->stop();
  QMainWindow::closeEvent(event);
  if (!event->isAccepted()) return;
  SavePlacement();
  // exit, not quit: quit would first ask every window to close, this one included, while
  // it is closing already.
  QCoreApplication::exit(0);
}

void TfrmMain::RestorePlacement() {
  QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  const QString group = SettingsGroup();
  const QSize size = settings.value(group + "Size").toSize();
  if (size.isValid()) {
    QSize fits = size.expandedTo(minimumSize());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      fits = fits.boundedTo(screen->availableGeometry().size()).expandedTo(minimumSize());
    resize(fits);
  }
  bool ok = false;
  const int upper = settings.value(group + "Splitter1").toInt(&ok);
  if (ok && upper >= 40) upperHeight_ = upper;
  const int tree = settings.value(group + "splMain").toInt(&ok);
  if (ok && tree >= 40) treeWidth_ = tree;
}

void TfrmMain::PlaceSplitters() {
  // A splitter shares out what it is given only once it has its real size.
  Splitter1->setSizes({upperHeight_, std::max(1, Splitter1->height() - upperHeight_)});
  splMain->setSizes({treeWidth_, std::max(1, splMain->width() - treeWidth_)});
}

void TfrmMain::SavePlacement() const {
  QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  if (!settings.isWritable()) return;
  const QString group = SettingsGroup();
  settings.setValue(group + "Size", size());
  settings.setValue(group + "Splitter1", Splitter1->sizes().value(0));
  settings.setValue(group + "splMain", splMain->sizes().value(0));
  settings.sync();
}

}  // namespace brennix
