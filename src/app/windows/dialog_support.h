// What the dialogs share: their component's set-up on the host's recorders, the yellow header
// with the disc picture, the speed choice, and the texts of their messages and of a job's end.
#pragma once

#include "app/windows/message_box.h"

#include <QString>

#include <string>
#include <vector>

class QComboBox;
class QFrame;
class QHBoxLayout;
class QPushButton;
class QWidget;

namespace brennix {

class TKorbBurner;
class TSCSIDevice;
struct TJobResult;

// Lines of a message are separated by CR LF.
inline constexpr const char* kLineBreak = "\r\n";

// One line per text, for the details of a message box.
QString LinesText(const std::vector<std::string>& lines);

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

// The end of a burn or an erase that completed or failed: a desktop notice, then a box. A
// failure's box says the plain line first, the disc's state and what to do next below it,
// and under Details the drive's words (after driveSaid) and the summary.
void TellJobEnd(QWidget* owner, const QString& job, const TJobResult& result,
                const std::string& driveSaid, const std::vector<std::string>& summary);

// The write speed choice, at first "Fastest" alone.
QComboBox* MakeSpeedBox(QWidget* parent);
// Offers "Fastest" and the speeds (KB/s) for a disc of the given type; the choice stays where
// it is still offered.
void OfferSpeeds(QComboBox* box, int discType, const std::vector<uint16_t>& speeds);

// A push button with the object name the tests and accessibility tools find it by.
QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int width,
                        int height);

// The 40-pixel header strip in the recorder colour, holding the disc picture; the caller
// adds its controls to the returned layout.
QFrame* MakeRecorderHeader(QWidget* parent, QHBoxLayout*& layout);

}  // namespace brennix
