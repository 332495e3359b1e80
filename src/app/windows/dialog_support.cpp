#include "app/windows/dialog_support.h"

#include "app/services/desktop_notice.h"
#include "component/korb_burner.h"
#include "component/plain_words.h"
#include "component/recorder_rules.h"
#include "device/disc_types.h"
#include "device/speed_text.h"
#include "device/tray_lock.h"
#include "transport/aspi.h"
#include "transport/drive_backend.h"
#include "virtual_recorder/attach.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <cstdlib>

namespace brennix {

namespace {


// Two spellings of one disc file are the same recorder.
std::string SameFileKey(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string key = resolved;
  std::free(resolved);
  return key;
}

QPixmap DiscPicture() {
  QPixmap picture(32, 32);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient shine(QPointF(12, 10), 22);
  shine.setColorAt(0, QColor(250, 250, 255));
  shine.setColorAt(0.5, QColor(190, 205, 230));
  shine.setColorAt(1, QColor(150, 160, 200));
  p.setPen(QPen(QColor(90, 90, 110), 1));
  p.setBrush(shine);
  p.drawEllipse(QRectF(1.5, 1.5, 29, 29));
  p.setBrush(QColor(235, 235, 240));
  p.drawEllipse(QRectF(11, 11, 10, 10));
  p.setBrush(QColor(254, 240, 133));
  p.drawEllipse(QRectF(14, 14, 4, 4));
  return picture;
}

}  // namespace

QString LinesText(const std::vector<std::string>& lines) {
  QString text;
  for (const std::string& line : lines) text += QString::fromStdString(line) + "\n";
  return text;
}

bool AttachHostRecorders(const std::vector<std::string>& recorderTexts, std::string& error) {
  bool attachedAny = false;
  for (const std::string& recorderText : recorderTexts) {
    std::string path;
    std::optional<MediaProfile> profile;
    SplitRecorderText(recorderText, path, profile);
    const std::string key = SameFileKey(path);
    bool attached = false;
    for (const auto& drive : ExtraDrives())
      if (SameFileKey(drive->DevicePath()) == key) attached = true;
    if (attached) continue;
    if (!AttachVirtualRecorder(recorderText, error)) return false;
    attachedAny = true;
  }
  // A transport that is up already lists its drives again, now with the new ones.
  if (attachedAny && ASPIUsesEmulation()) ASPIReload();
  return true;
}

std::string VirtualRecorderEntry(const TSCSIDevice& device, const std::string& recorderText) {
  std::string path;
  std::optional<MediaProfile> profile;
  SplitRecorderText(recorderText, path, profile);
  const std::string key = SameFileKey(path);
  return device.EntryServing([&key](const std::string& served) { return SameFileKey(served) == key; });
}


bool SetUpDialogComponent(TKorbBurner& component,
                          const std::vector<std::string>& virtualRecorders) {
  ApplyRecordingPreset(component);
  std::string error;
  // A recorder that cannot be attached is simply missing from the list; the main window
  // has told the user about it already.
  AttachHostRecorders(virtualRecorders, error);
  return component.InitializeASPI(true, std::string());
}

QString DialogText(const std::string& text) {
  return QString::fromStdString(text).replace("\n", kLineBreak);
}

QString WhyNoWriting(const TSCSIDevice& component) {
  if (RecorderWrites(component)) return QString();
  if (component.Device().empty()) return "No CD or DVD recorder found.";
  return "This recorder cannot write discs.";
}

void TellJobEnd(QWidget* owner, const QString& job, const TJobResult& result,
                const std::string& driveSaid, const std::vector<std::string>& summary) {
  const bool failed = result.Outcome == TJobOutcome::Failed;
  const QString title = job + (!failed ? " complete" : result.Stopped ? " stopped" : " failed");
  NotifyDesktop(owner->window(), title, QString::fromStdString(OneLineEnd(result)));
  if (!failed) {
    ShowMessage(owner, QMessageBox::Information, "Ready", QString::fromStdString(result.Text));
    return;
  }
  std::vector<std::string> details;
  if (!result.Error.empty()) details.push_back(driveSaid + result.Error);
  details.insert(details.end(), summary.begin(), summary.end());
  std::string rest = result.DiscState;
  if (!result.Advice.empty()) rest += (rest.empty() ? "" : "\n") + result.Advice;
  ShowMessage(owner, result.Stopped ? QMessageBox::Warning : QMessageBox::Critical, title,
              DialogText(result.Plain.empty() ? result.Text : result.Plain), LinesText(details),
              DialogText(rest));
}

QComboBox* MakeSpeedBox(QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName("cmbSpeed");
  box->setToolTip("The write speed; a lower one may help a disc of poor quality");
  box->addItem("Fastest", 0);
  return box;
}

void OfferSpeeds(QComboBox* box, int discType, const std::vector<uint16_t>& speeds) {
  const QSignalBlocker quiet(box);
  const int chosen = box->currentData().toInt();
  box->clear();
  box->addItem("Fastest", 0);
  // A disc the drive cannot name is taken for a DVD when the drive offers DVD speeds.
  const bool dvd =
      discType != kDiscUnknown ? !IsCdMedia(discType) : !speeds.empty() && speeds.back() >= 2770;
  for (const uint16_t kbs : speeds)
    box->addItem(QString::fromStdString(FormatSpeedText(dvd, kbs)), int{kbs});
  const int index = box->findData(chosen);
  box->setCurrentIndex(index < 0 ? 0 : index);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int width,
                        int height) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setFixedSize(width, height);
  return button;
}

QFrame* MakeRecorderHeader(QWidget* parent, QHBoxLayout*& layout) {
  auto* header = new QFrame(parent);
  header->setFixedHeight(40);
  header->setAutoFillBackground(true);
  QPalette colours = header->palette();
  colours.setColor(QPalette::Window, QColor(254, 240, 133));
  header->setPalette(colours);
  layout = new QHBoxLayout(header);
  layout->setContentsMargins(4, 4, 6, 4);
  layout->setSpacing(6);
  auto* picture = new QLabel(header);
  picture->setFixedSize(32, 32);
  picture->setPixmap(DiscPicture());
  layout->addWidget(picture);
  return header;
}

}  // namespace brennix
