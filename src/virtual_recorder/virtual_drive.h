// A virtual recorder behind the drive seam: the same five platform operations as a real
// drive, so everything above treats both alike.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "transport/drive_backend.h"
#include "virtual_recorder/virtual_recorder.h"

namespace brennix {

class VirtualDrive final : public DriveBackend {
 public:
  VirtualDrive(std::shared_ptr<VirtualRecorder> recorder, ScsiAddress address);

  std::string DevicePath() const override;
  bool IsOpticalDrive() override { return true; }
  DriveHandle Open(int* errnoOut = nullptr) override;
  bool QueryAddress(DriveHandle handle, ScsiAddress& address) override;
  // Runs the command; a command that takes time completes after that time on the shared
  // clock, and one that takes longer than the request's time-out (or never answers) makes
  // the call fail after the time-out.
  bool PassThrough(DriveHandle handle, PassThroughRequest& request) override;
  bool Close(DriveHandle handle) override;
  // The disc file is locked for the recorder's whole life (no other program can attach
  // it); a hold keeps a second user of this process off the drive as well.
  DriveBusy Hold() override;
  void Release() override { held_.store(false); }
  bool Held() const { return held_.load(); }

  VirtualRecorder& Recorder() { return *recorder_; }

 private:
  bool Known(DriveHandle handle);

  std::shared_ptr<VirtualRecorder> recorder_;
  const ScsiAddress address_;
  std::mutex handlesMutex_;
  std::set<DriveHandle> handles_;
  DriveHandle nextHandle_ = 1000;
  std::atomic<bool> held_{false};
};

}  // namespace brennix
