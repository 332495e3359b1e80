// Holding the selected recorder while the disc is changed: from the first command that
// changes the disc until the drive has been restored, no other program may touch it, and the
// tray stays locked. Reading the disc (discovery, disc information) never holds it.
#pragma once

#include <memory>
#include <string>

#include "transport/drive_backend.h"

namespace brennix {

class TSCSIDevice;

// Claims the device's selected recorder and locks its tray (PREVENT ALLOW MEDIUM REMOVAL);
// the destructor allows removal again and lets the drive go, whatever happened in between.
// It may end on another thread than the one that took it (the writer or erase thread).
class TDriveHold {
 public:
  explicit TDriveHold(TSCSIDevice& device);
  ~TDriveHold();
  TDriveHold(const TDriveHold&) = delete;
  TDriveHold& operator=(const TDriveHold&) = delete;

  bool Held() const { return busy_.Free(); }
  // The device is going away: let the drive go without another command (the system unlocks
  // the tray once nobody has the drive open).
  void Abandon() { allowOnRelease_ = false; }
  // Who is in the way when not held.
  const DriveBusy& Busy() const { return busy_; }

 private:
  TSCSIDevice& device_;
  std::shared_ptr<DriveBackend> backend_;  // kept: a reload of the transport may drop it
  DriveBusy busy_;
  bool allowOnRelease_ = true;
};

// Whether the selected recorder could be held right now; nothing is kept and no command is
// sent. A burn dialog asks this before its question.
DriveBusy RecorderBusy(TSCSIDevice& device);

// Unmounts the disc in the selected recorder (see UnmountDevice); false with the reason.
bool UnmountRecorderDisc(TSCSIDevice& device, std::string& error);

}  // namespace brennix
