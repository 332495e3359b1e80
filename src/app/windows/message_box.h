// The windows' modal messages. They all pass through one function so that a test can read
// and answer them instead of a person.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

namespace brennix {

using MessageBoxHandler = std::function<QMessageBox::StandardButton(
    QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)>;

// Shows a modal message box owned by owner and returns the button pressed.
QMessageBox::StandardButton ShowMessageBox(
    QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// Replaces the message boxes (null puts them back).
void SetMessageBoxHandler(MessageBoxHandler handler);

// The dialogs' boxes, which may say more below the text (informative) and behind "Show
// Details..." (details); they do not pass through the handler.
// A modal box owned by owner with an OK button.
void ShowMessage(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                 const QString& text, const QString& details = QString(),
                 const QString& informative = QString());
// A modal Yes/No question; true for Yes.
bool AskYesNo(QWidget* owner, QMessageBox::Icon icon, const QString& text,
              QMessageBox::StandardButton defaultButton = QMessageBox::Yes,
              const QString& informative = QString(), const QString& details = QString());

}  // namespace brennix
