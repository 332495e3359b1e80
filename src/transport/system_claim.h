// Holding a drive for work that changes the disc, and naming whoever stands in the way.
//
// On a desktop, udev, the automounter, file managers and other burners touch optical drives
// at any time. A recording or an erase claims the drive for itself: the block device opened
// with O_EXCL (refused while the disc is mounted or another program claims it) and flock'ed
// (udev leaves a locked device alone), its SCSI generic node locked as well. Reading the disc
// never does this: it keeps shared, non-blocking access.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace brennix {

enum class DriveBusyReason : uint8_t { Free, Mounted, InUse };

// Who stands in the way of holding a drive; Free when nothing does.
struct DriveBusy {
  DriveBusyReason Reason = DriveBusyReason::Free;
  std::string MountPoint;  // Mounted: where the disc is mounted
  std::string Program;     // InUse: the holder's name, empty when it could not be found
  int Pid = 0;
  bool Free() const { return Reason == DriveBusyReason::Free; }
};

// The message for a recording or erase that cannot hold its drive (empty when Free).
std::string DriveBusyText(const DriveBusy& busy);

// The first mount point in a /proc/self/mountinfo text of the file system whose device is
// major:minor, with the kernel's octal escapes undone; empty when none.
std::string MountPointIn(const std::string& mountinfo, unsigned major, unsigned minor);
// Every mount point of that device, in mount order.
std::vector<std::string> MountPointsIn(const std::string& mountinfo, unsigned major,
                                       unsigned minor);

// "/dev/sg3" for "/dev/sr0" when sysfs lists a SCSI generic node for the drive (under
// sysfsRoot/class/block/sr0/device/scsi_generic/), else empty.
std::string GenericNodeFor(const std::string& devicePath, const std::string& sysfsRoot = "/sys");

// This process as a holder (its name and PID), for a drive this process already holds.
DriveBusy HeldByThisProcess();

// Why none of nodes could be held: the mount of the first node's disc (when checkMounts and
// it is a block device), else the first process with one of them open (another process
// before this one), found through /proc/*/fd where permitted; InUse without a name when no
// holder can be seen.
DriveBusy DescribeBusyDrive(const std::vector<std::string>& nodes, bool checkMounts);

// Unmounts every mount of the disc in devicePath: through the desktop's disk service
// (udisksctl unmount -b), falling back to umount(8). True when nothing of the device is
// mounted afterwards; false with the reason in error. Each program gets a bounded time.
bool UnmountDevice(const std::string& devicePath, std::string& error);

// The system calls that holding a real drive makes, one virtual function each, so that a
// test can record them (and stand a plain file in for the device node). They return what
// the system call returns and leave errno as it does.
class HoldSystemCalls {
 public:
  virtual ~HoldSystemCalls() = default;
  virtual int Open(const std::string& path, int flags);
  virtual int Flock(int fd, int operation);
  virtual int Close(int fd);
  // The SCSI generic node of the drive, empty when there is none.
  virtual std::string GenericNode(const std::string& devicePath);
};

}  // namespace brennix
