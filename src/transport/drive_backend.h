// The one seam between the drive and everything above it: the five platform operations
// that the SCSI emulation needs (drive kind, open, address, pass-through, close). A real
// drive (/dev/sr* through SG_IO) and a virtual recorder both implement it; the logic above
// is identical for both. One optional pair extends it: Hold and Release, around the work
// that changes the disc.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/system_claim.h"

namespace brennix {

using DriveHandle = int;
constexpr DriveHandle kInvalidDriveHandle = -1;

enum class DataDirection : uint8_t { Out = 0, In = 1, None = 2 };

struct ScsiAddress {
  uint8_t PortNumber = 0;
  uint8_t PathId = 0;
  uint8_t TargetId = 0;
  uint8_t Lun = 0;
};

// One command for the pass-through. The data buffer is used in place.
struct PassThroughRequest {
  uint8_t Cdb[16] = {};
  uint8_t CdbLength = 0;
  DataDirection Direction = DataDirection::None;
  uint8_t* Data = nullptr;
  uint32_t DataLength = 0;
  uint8_t SenseLength = 0;        // sense bytes wanted (at most 32)
  uint32_t TimeoutSeconds = 120;
  // Results.
  uint8_t ScsiStatus = 0;         // 0 good, 2 check condition, 8 busy
  uint8_t Sense[32] = {};         // fixed-format sense when ScsiStatus is 2
  uint32_t DataTransferred = 0;   // bytes actually moved
  // When PassThrough returns false: why, as an ASPI host adapter status (09h time-out,
  // 11h selection time-out / device gone, 0Eh bus reset, ...). 0 is read as a time-out.
  uint8_t AdapterStatus = 0;
};

class DriveBackend {
 public:
  virtual ~DriveBackend() = default;
  // A name for messages: "/dev/sr0", or the virtual recorder's disc file.
  virtual std::string DevicePath() const = 0;
  // Operation 1, drive kind: is this an optical drive.
  virtual bool IsOpticalDrive() = 0;
  // Operation 2: read-write first, then read-only. kInvalidDriveHandle on failure;
  // errnoOut (when given) receives the reason of the last failure.
  virtual DriveHandle Open(int* errnoOut = nullptr) = 0;
  // Operation 3: the drive's SCSI address.
  virtual bool QueryAddress(DriveHandle handle, ScsiAddress& address) = 0;
  // Operation 4: run one CDB. False when the call itself failed (no answer, time-out);
  // true when the drive answered, whatever its status.
  virtual bool PassThrough(DriveHandle handle, PassThroughRequest& request) = 0;
  // Operation 5.
  virtual bool Close(DriveHandle handle) = 0;

  // Claims the drive for this process alone until Release, so that no other program touches
  // it while the disc is being changed. Never waits: Free when held (or when the drive has
  // nothing to claim), otherwise who is in the way, and nothing is kept. Commands go on
  // through Open and PassThrough as before. Release is called once per Free hold.
  virtual DriveBusy Hold() { return {}; }
  virtual void Release() {}
};

// Drives that are not /dev/sr* devices (virtual recorders). They get letters after the real
// drives, in the order registered, the next time the emulation builds its table.
void RegisterExtraDrive(std::shared_ptr<DriveBackend> drive);
void ClearExtraDrives();
std::vector<std::shared_ptr<DriveBackend>> ExtraDrives();

}  // namespace brennix
