// SIGTERM, SIGINT and SIGHUP (a logout, Ctrl-C in the starting terminal, a closed terminal)
// end the program the way a person would: a running burn is aborted as its Abort button
// aborts it, so the track and session are closed and the drive is restored; an erase is
// stopped where it can be and otherwise allowed to finish; an image, copy or check is
// stopped; then the program exits. A second
// signal while that happens ends it at once.
#pragma once

class QApplication;

namespace brennix {

// Call once, after the application object exists.
void InstallEndSignals(QApplication& app);

}  // namespace brennix
