// Real drives: /dev/sr* reached through the Linux SCSI generic pass-through (SG_IO).
// Request building and result decoding are pure functions so they can be checked without a
// drive.
#pragma once

#include <scsi/sg.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/drive_backend.h"

namespace brennix {

// Host statuses of the Linux SCSI mid-layer (DID_*) and driver statuses (DRIVER_*).
namespace sg {
constexpr unsigned DID_OK = 0x00, DID_NO_CONNECT = 0x01, DID_BUS_BUSY = 0x02,
                   DID_TIME_OUT = 0x03, DID_BAD_TARGET = 0x04, DID_ABORT = 0x05,
                   DID_PARITY = 0x06, DID_ERROR = 0x07, DID_RESET = 0x08,
                   DID_BAD_INTR = 0x09, DID_SOFT_ERROR = 0x0B, DID_IMM_RETRY = 0x0C,
                   DID_REQUEUE = 0x0D, DID_TRANSPORT_DISRUPTED = 0x0E,
                   DID_TRANSPORT_FAILFAST = 0x0F;
constexpr unsigned DRIVER_OK = 0x00, DRIVER_BUSY = 0x01, DRIVER_TIMEOUT = 0x06,
                   DRIVER_SENSE = 0x08, DRIVER_MASK = 0x0F;
}  // namespace sg

// Fills an sg_io_hdr for the request; sense lands in senseBuffer (senseCapacity bytes).
sg_io_hdr BuildSgIoHeader(PassThroughRequest& request, unsigned char* senseBuffer,
                          unsigned char senseCapacity);

// Reads the outcome of an SG_IO call (ioctlResult and its errno) into the request: SCSI status,
// sense bytes, bytes transferred, and for a call that did not complete the ASPI host status.
// Returns what PassThrough returns: true when the drive answered, whatever its status.
bool DecodeSgIoResult(const sg_io_hdr& header, int ioctlResult, int ioctlErrno,
                      PassThroughRequest& request);

// "/dev/sr0", "/dev/sr1", ... found in dir, in numeric order.
std::vector<std::string> ScanOpticalDeviceNodes(const std::string& dir);

// SCSI_IOCTL_GET_IDLUN packs target, LUN and channel into one word.
ScsiAddress AddressFromIdLun(int devId, int busNumber);

class SgDriveBackend final : public DriveBackend {
 public:
  // calls: the system calls of Hold and Release (null: the real ones).
  explicit SgDriveBackend(std::string path, std::shared_ptr<HoldSystemCalls> calls = nullptr);
  ~SgDriveBackend() override;
  std::string DevicePath() const override { return path_; }
  bool IsOpticalDrive() override;
  DriveHandle Open(int* errnoOut = nullptr) override;
  bool QueryAddress(DriveHandle handle, ScsiAddress& address) override;
  bool PassThrough(DriveHandle handle, PassThroughRequest& request) override;
  bool Close(DriveHandle handle) override;
  // The node reopened O_EXCL read-write and flock'ed, then its SCSI generic node flock'ed
  // when it exists and opens; released in the opposite order.
  DriveBusy Hold() override;
  void Release() override;

 private:
  std::string path_;
  std::shared_ptr<HoldSystemCalls> calls_;
  std::mutex holdMutex_;
  bool held_ = false;
  int heldFd_ = -1;
  int heldGenericFd_ = -1;
};

// A /dev/sr* that exists but cannot be opened, and what to tell the user about it.
struct DriveAccessProblem {
  std::string Path;
  int Error = 0;
  std::string Group;           // owner group of the node, empty when unknown
  std::string User;            // whom the program runs as, empty when unknown
  bool UserInGroup = false;    // the group database lists the user in Group
  bool SessionInGroup = false; // this process already has Group's rights
};
std::vector<DriveAccessProblem> FindInaccessibleDrives(const std::string& dir = "/dev");
// Names the device, its group and the fix: join the group and log in again (or only log in
// again, when the user joined after this session began).
std::string AccessProblemText(const DriveAccessProblem& problem);
// One AccessProblemText for each drive that exists but cannot be opened: what both front
// ends show instead of an unexplained empty drive list.
std::vector<std::string> DriveAccessHints(const std::string& dir = "/dev");

// What both front ends say when they find no recorder: the fact, what was looked at (the
// /dev/sr* nodes: none, or why each could not be used) and how to go on. One sentence a line;
// program is the command a virtual recorder is shown with.
std::vector<std::string> NoRecorderText(const std::string& program,
                                        const std::string& dir = "/dev");

}  // namespace brennix
