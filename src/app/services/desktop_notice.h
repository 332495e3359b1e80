// Tells the desktop that a burn or an erase has ended, for a person who is working in another
// window: a freedesktop notification over D-Bus where a notification service runs (and Qt
// was built with D-Bus), else a message of a tray icon where the desktop has a tray, else
// nothing. Nothing is shown while the window that ended the job is the active one. No call
// blocks on the notification service.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace brennix {

// Raises the notice unless window is the active window. True when it was handed on.
bool NotifyDesktop(QWidget* window, const QString& title, const QString& line);

// Tests: receives every notice instead of the desktop (null puts the desktop back).
void SetDesktopNoticeHook(std::function<void(const QString& title, const QString& line)> hook);

}  // namespace brennix
