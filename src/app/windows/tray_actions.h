// Opening and closing the tray of the recorder selected in a component, with the warnings
// every window shows when the drive refuses, and the one way the windows send a recorder
// commands: on a worker, holding the recorder's guard.
#pragma once

#include <QString>

#include "component/recorder_rules.h"

#include <functional>
#include <string>

class QWidget;

namespace brennix {

class TBackgroundTask;
class TDriveGuard;
class TSCSIDevice;

// What a window says when a button finds its recorder busy with another step.
QString DriveHeldText(const std::string& holder);

// The guard of the recorder `drive` (its device entry), for holder. When another step holds
// it, an empty guard, and owner (when given) tells the user so.
TDriveGuard AcquireDrive(QWidget* owner, const std::string& drive, const std::string& holder);
// The same for the recorder selected in component.
TDriveGuard AcquireDrive(QWidget* owner, const TSCSIDevice& component, const std::string& holder);

// The one way a window runs a step that talks to a recorder: work on task's worker while
// holding the guard of the recorder `drive` (its device entry), let go as soon as work
// returns; done follows on the main thread. A step of a sequence that already holds that
// recorder (`held`) runs under that hold. False when nothing started: task is busy, or the
// recorder is held elsewhere (owner, when given, has told the user).
bool StartDriveStep(QWidget* owner, const std::string& drive, const std::string& holder,
                    TBackgroundTask& task, std::function<void()> work, std::function<void()> done,
                    const TDriveGuard* held = nullptr);
// The same for the recorder selected in component.
bool StartDriveStep(QWidget* owner, const TSCSIDevice& component, const std::string& holder,
                    TBackgroundTask& task, std::function<void()> work, std::function<void()> done,
                    const TDriveGuard* held = nullptr);

// A tray move as a step of task; afterMove (optional) runs on the worker right after it,
// still holding the recorder. On the main thread, done(moved) runs when the drive has
// answered, then the warning of a move that failed. False when nothing started.
bool StartTrayMove(QWidget* owner, TSCSIDevice& component, TrayMove move, TBackgroundTask& task,
                   std::function<void(bool moved)> done, std::function<void()> afterMove = {},
                   const TDriveGuard* held = nullptr);

}  // namespace brennix
