#include "virtual_recorder/virtual_drive.h"

#include <cstring>

#include "platform/clock.h"

namespace brennix {

VirtualDrive::VirtualDrive(std::shared_ptr<VirtualRecorder> recorder, ScsiAddress address)
    : recorder_(std::move(recorder)), address_(address) {}

std::string VirtualDrive::DevicePath() const { return recorder_->Path(); }

DriveHandle VirtualDrive::Open(int* errnoOut) {
  std::lock_guard lock(handlesMutex_);
  const DriveHandle handle = nextHandle_++;
  if (nextHandle_ < 1000) nextHandle_ = 1000;  // wrapped: handles stay positive
  handles_.insert(handle);
  if (errnoOut != nullptr) *errnoOut = 0;
  return handle;
}

bool VirtualDrive::Known(DriveHandle handle) {
  std::lock_guard lock(handlesMutex_);
  return handles_.count(handle) != 0;
}

bool VirtualDrive::QueryAddress(DriveHandle handle, ScsiAddress& address) {
  if (!Known(handle) || recorder_->Options().addressQueryFails) return false;
  address = address_;
  return true;
}

bool VirtualDrive::PassThrough(DriveHandle handle, PassThroughRequest& request) {
  if (!Known(handle) || request.CdbLength == 0 || request.CdbLength > sizeof request.Cdb) {
    return false;
  }
  if (request.DataLength != 0 && request.Data == nullptr) return false;
  const CommandResult result = recorder_->Execute(request.Cdb, request.CdbLength, request.Direction,
                                                  request.Data, request.DataLength);
  const uint64_t timeoutMs =
      static_cast<uint64_t>(request.TimeoutSeconds == 0 ? 60 : request.TimeoutSeconds) * 1000;
  if (result.noAnswer || result.durationMs > timeoutMs) {
    SleepMs(static_cast<uint32_t>(std::min<uint64_t>(timeoutMs, UINT32_MAX)));
    request.ScsiStatus = 0;
    request.DataTransferred = 0;
    std::memset(request.Sense, 0, sizeof request.Sense);
    return false;
  }
  if (result.durationMs != 0) SleepMs(result.durationMs);
  request.ScsiStatus = result.status;
  request.DataTransferred = result.transferred;
  std::memset(request.Sense, 0, sizeof request.Sense);
  if (result.status == 0x02) {
    const size_t wanted = std::min<size_t>(request.SenseLength, sizeof request.Sense);
    std::memcpy(request.Sense, result.sense, std::min(wanted, sizeof result.sense));
  }
  return true;
}

DriveBusy VirtualDrive::Hold() {
  if (held_.exchange(true)) return HeldByThisProcess();
  return {};
}

bool VirtualDrive::Close(DriveHandle handle) {
  std::lock_guard lock(handlesMutex_);
  return handles_.erase(handle) != 0;
}

}  // namespace brennix
