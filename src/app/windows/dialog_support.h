// What the burn and erase dialogs share: their component's set-up on the host's recorders,
// the yellow header with the disc picture, and their message boxes.
#pragma once

#include <QMessageBox>
#include <QString>

#include <string>
#include <vector>

class QFrame;
class QHBoxLayout;
class QPushButton;
class QWidget;

namespace brennix {

class TKorbBurner;
class TSCSIDevice;

// Lines of a message are separated by CR LF.
inline constexpr const char* kLineBreak = "\r\n";

// One line per text, for the details of a message box.
QString LinesText(const std::vector<std::string>& lines);

// A modal box owned by owner with an OK button.
void ShowMessage(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                 const QString& text, const QString& details = QString(),
                 const QString& informative = QString());
// A modal Yes/No question; true for Yes.
bool AskYesNo(QWidget* owner, QMessageBox::Icon icon, const QString& text,
              QMessageBox::StandardButton defaultButton = QMessageBox::Yes,
              const QString& informative = QString(), const QString& details = QString());

// Attaches every PATH[:PROFILE] that no attached virtual recorder serves yet, with the
// options the command line also takes from the environment. False with the message of the
// first that failed.
bool AttachHostRecorders(const std::vector<std::string>& recorderTexts, std::string& error);

// The entry of device.Devices that serves the virtual recorder PATH[:PROFILE]; empty when
// none does.
std::string VirtualRecorderEntry(const TSCSIDevice& device, const std::string& recorderText);


// The settings every recording starts from, then the transport and the device list. False
// when no transport could be started.
bool SetUpDialogComponent(TKorbBurner& component, const std::vector<std::string>& virtualRecorders);

// A job's text for a message box: its lines end in CR LF, as every message of the dialogs.
QString DialogText(const std::string& text);

// Why a dialog's start button stays disabled, in plain words: no recorder at all, or one that
// cannot write. Empty when the recorder writes.
QString WhyNoWriting(const TSCSIDevice& component);

// A push button with the object name the tests and accessibility tools find it by.
QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int width,
                        int height);

// The 40-pixel header strip in the recorder colour, holding the disc picture; the caller
// adds its controls to the returned layout.
QFrame* MakeRecorderHeader(QWidget* parent, QHBoxLayout*& layout);

}  // namespace brennix
