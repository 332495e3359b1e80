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

}  // namespace brennix
