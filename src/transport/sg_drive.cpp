#include "transport/sg_drive.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <scsi/scsi.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace brennix {

sg_io_hdr BuildSgIoHeader(PassThroughRequest& request, unsigned char* senseBuffer,
                          unsigned char senseCapacity) {
  sg_io_hdr header;
  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  const bool hasData = request.Data != nullptr && request.DataLength != 0 &&
                       request.Direction != DataDirection::None;
  if (!hasData) {
    header.dxfer_direction = SG_DXFER_NONE;
  } else if (request.Direction == DataDirection::In) {
    header.dxfer_direction = SG_DXFER_FROM_DEV;
  } else {
    header.dxfer_direction = SG_DXFER_TO_DEV;
  }
  header.dxfer_len = hasData ? request.DataLength : 0;
  header.dxferp = hasData ? request.Data : nullptr;
  header.cmd_len = std::min<unsigned char>(request.CdbLength, sizeof request.Cdb);
  header.cmdp = request.Cdb;
  header.mx_sb_len = std::min<unsigned char>(
      std::min<unsigned char>(request.SenseLength, senseCapacity), sizeof request.Sense);
  header.sbp = senseBuffer;
  const uint64_t ms = static_cast<uint64_t>(request.TimeoutSeconds) * 1000u;
  header.timeout = static_cast<unsigned>(std::min<uint64_t>(ms, 0x7FFFFFFFu));
  return header;
}

bool DecodeSgIoResult(const sg_io_hdr& header, int ioctlResult, int ioctlErrno,
                      PassThroughRequest& request) {
  request.ScsiStatus = 0;
  request.AdapterStatus = 0;
  request.DataTransferred = 0;
  std::memset(request.Sense, 0, sizeof request.Sense);
  // The call did not complete: the ASPI host status that says why.
  const auto notAnswered = [&request](uint8_t hostStatus) {
    request.AdapterStatus = hostStatus;
    return false;
  };

  if (ioctlResult < 0) {
    switch (ioctlErrno) {
      case ETIMEDOUT:
        return notAnswered(0x09);
      case ENODEV:
      case ENXIO:
      case ENOENT:
        return notAnswered(0x11);  // the device is gone
      case EBUSY:
      case EAGAIN:
      case EINTR:
        request.ScsiStatus = 0x08;  // the caller's busy handling retries it
        return true;
      default:
        return notAnswered(0x13);
    }
  }

  const unsigned host = header.host_status;
  const unsigned driver = header.driver_status & sg::DRIVER_MASK;
  switch (host) {
    case sg::DID_OK:
      break;
    case sg::DID_TIME_OUT:
    case sg::DID_ABORT:
      return notAnswered(0x09);
    case sg::DID_NO_CONNECT:
    case sg::DID_BAD_TARGET:
    case sg::DID_TRANSPORT_FAILFAST:
      return notAnswered(0x11);
    case sg::DID_BUS_BUSY:
    case sg::DID_SOFT_ERROR:
    case sg::DID_IMM_RETRY:
    case sg::DID_REQUEUE:
    case sg::DID_TRANSPORT_DISRUPTED:
      request.ScsiStatus = 0x08;
      return true;
    case sg::DID_PARITY:
      return notAnswered(0x0F);
    case sg::DID_RESET:
      return notAnswered(0x0E);
    default:
      return notAnswered(0x13);
  }
  if (driver == sg::DRIVER_TIMEOUT) return notAnswered(0x09);

  const unsigned senseBytes =
      std::min<unsigned>({header.sb_len_wr, header.mx_sb_len, sizeof request.Sense});
  if (header.sbp != nullptr && senseBytes != 0) std::memcpy(request.Sense, header.sbp, senseBytes);
  request.SenseLength = static_cast<uint8_t>(senseBytes);

  uint8_t status = header.status & 0xFE;
  // Some adapters deliver sense with a good status; the sense is what counts.
  if (status == 0 && driver == sg::DRIVER_SENSE && senseBytes != 0) status = 0x02;
  if (status == 0 && driver == sg::DRIVER_BUSY) status = 0x08;
  if (status == 0 && driver != sg::DRIVER_OK && driver != sg::DRIVER_SENSE &&
      driver != sg::DRIVER_BUSY)
    return notAnswered(0x13);
  request.ScsiStatus = status;

  if (header.dxfer_direction != SG_DXFER_NONE) {
    const int64_t moved = static_cast<int64_t>(header.dxfer_len) - std::max(0, header.resid);
    request.DataTransferred =
        static_cast<uint32_t>(std::clamp<int64_t>(moved, 0, header.dxfer_len));
  }
  return true;
}

std::vector<std::string> ScanOpticalDeviceNodes(const std::string& dir) {
  std::vector<std::pair<unsigned long, std::string>> found;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return {};
  while (dirent* e = readdir(d)) {
    const char* name = e->d_name;
    if (std::strncmp(name, "sr", 2) != 0 || name[2] == '\0') continue;
    bool digits = true;
    for (const char* p = name + 2; *p; ++p) digits = digits && *p >= '0' && *p <= '9';
    if (!digits || std::strlen(name + 2) > 6) continue;
    found.emplace_back(std::stoul(name + 2), dir + "/" + name);
  }
  closedir(d);
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& entry : found) paths.push_back(std::move(entry.second));
  return paths;
}

ScsiAddress AddressFromIdLun(int devId, int busNumber) {
  const auto word = static_cast<uint32_t>(devId);
  ScsiAddress address;
  address.TargetId = static_cast<uint8_t>(word & 0xFF);
  address.Lun = static_cast<uint8_t>((word >> 8) & 0xFF);
  address.PathId = static_cast<uint8_t>((word >> 16) & 0xFF);
  address.PortNumber = static_cast<uint8_t>(busNumber);
  return address;
}

SgDriveBackend::SgDriveBackend(std::string path, std::shared_ptr<HoldSystemCalls> calls)
    : path_(std::move(path)),
      calls_(calls ? std::move(calls) : std::make_shared<HoldSystemCalls>()) {}

SgDriveBackend::~SgDriveBackend() { Release(); }

DriveBusy SgDriveBackend::Hold() {
  std::lock_guard<std::mutex> lock(holdMutex_);
  // The block device claim would refuse a second hold of this process as well; say so
  // without asking the system.
  if (held_) return HeldByThisProcess();
  const int flags = O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC;
  int fd = calls_->Open(path_, flags);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    // Read access still claims the drive; the commands that need more will say so.
    fd = calls_->Open(path_, (flags & ~O_RDWR) | O_RDONLY);
  }
  if (fd < 0) {
    if (errno == EBUSY) return DescribeBusyDrive({path_, calls_->GenericNode(path_)}, true);
    // A node that cannot be opened at all has nothing to claim; the commands fail on their
    // own and say why.
    held_ = true;
    return {};
  }
  if (calls_->Flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    calls_->Close(fd);
    return DescribeBusyDrive({path_, calls_->GenericNode(path_)}, false);
  }
  const std::string generic = calls_->GenericNode(path_);
  int genericFd = -1;
  if (!generic.empty()) {
    // Without O_EXCL: an exclusive generic node makes other programs' blocking opens wait
    // for us, and the lock already tells them.
    genericFd = calls_->Open(generic, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    const bool refused = genericFd < 0 && errno == EBUSY;
    const bool locked =
        genericFd >= 0 && calls_->Flock(genericFd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (refused || locked) {
      if (genericFd >= 0) calls_->Close(genericFd);
      calls_->Close(fd);
      return DescribeBusyDrive({generic, path_}, false);
    }
  }
  held_ = true;
  heldFd_ = fd;
  heldGenericFd_ = genericFd;
  return {};
}

void SgDriveBackend::Release() {
  std::lock_guard<std::mutex> lock(holdMutex_);
  if (heldGenericFd_ >= 0) calls_->Close(heldGenericFd_);
  if (heldFd_ >= 0) calls_->Close(heldFd_);
  heldGenericFd_ = -1;
  heldFd_ = -1;
  held_ = false;
}

bool SgDriveBackend::IsOpticalDrive() {
  struct stat st;
  return stat(path_.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

DriveHandle SgDriveBackend::Open(int* errnoOut) {
  int fd = open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int first = errno;
    fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      // The read-write refusal is the more telling one when both fail for access.
      const int second = errno;
      if (errnoOut != nullptr) *errnoOut = (first == EACCES || first == EPERM) ? first : second;
      return kInvalidDriveHandle;
    }
  }
  if (errnoOut != nullptr) *errnoOut = 0;
  return fd;
}

bool SgDriveBackend::QueryAddress(DriveHandle handle, ScsiAddress& address) {
  struct {
    int devId;
    int hostUniqueId;
  } idlun{};
  if (ioctl(handle, SCSI_IOCTL_GET_IDLUN, &idlun) != 0) return false;
  int bus = 0;
  if (ioctl(handle, SCSI_IOCTL_GET_BUS_NUMBER, &bus) != 0) {
    bus = static_cast<int>((static_cast<uint32_t>(idlun.devId) >> 24) & 0xFF);
  }
  // Host numbers keep growing as adapters come and go; above a byte there is no ASPI address.
  if (bus < 0 || bus > 253) return false;
  address = AddressFromIdLun(idlun.devId, bus);
  return true;
}

bool SgDriveBackend::PassThrough(DriveHandle handle, PassThroughRequest& request) {
  if (handle == kInvalidDriveHandle || request.CdbLength == 0 || request.CdbLength > 16) {
    request.AdapterStatus = 0x11;
    return false;
  }
  unsigned char sense[sizeof request.Sense] = {};
  sg_io_hdr header = BuildSgIoHeader(request, sense, sizeof sense);
  const int result = ioctl(handle, SG_IO, &header);
  return DecodeSgIoResult(header, result, result < 0 ? errno : 0, request);
}

bool SgDriveBackend::Close(DriveHandle handle) {
  if (handle == kInvalidDriveHandle) return false;
  return close(handle) == 0;
}

namespace {

// Fills in what the hint needs to know about the user and the node's group.
void DescribeGroup(DriveAccessProblem& problem, gid_t gid) {
  if (const group* g = getgrgid(gid)) problem.Group = g->gr_name;
  const passwd* user = getpwuid(geteuid());
  if (user != nullptr) problem.User = user->pw_name;
  problem.SessionInGroup = getegid() == gid;
  const int count = getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
      if (groups[static_cast<size_t>(i)] == gid) problem.SessionInGroup = true;
  }
  if (user != nullptr) {
    problem.UserInGroup = user->pw_gid == gid;
    if (const group* g = getgrgid(gid)) {
      for (char** member = g->gr_mem; member != nullptr && *member != nullptr; ++member)
        if (problem.User == *member) problem.UserInGroup = true;
    }
  }
}

}  // namespace

std::vector<DriveAccessProblem> FindInaccessibleDrives(const std::string& dir) {
  std::vector<DriveAccessProblem> problems;
  for (const std::string& path : ScanOpticalDeviceNodes(dir)) {
    SgDriveBackend drive(path);
    int error = 0;
    const DriveHandle handle = drive.Open(&error);
    if (handle != kInvalidDriveHandle) {
      drive.Close(handle);
      continue;
    }
    DriveAccessProblem problem;
    problem.Path = path;
    problem.Error = error;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) DescribeGroup(problem, st.st_gid);
    problems.push_back(std::move(problem));
  }
  return problems;
}

std::string AccessProblemText(const DriveAccessProblem& problem) {
  std::string text = "cannot open " + problem.Path + ": " + std::strerror(problem.Error);
  if ((problem.Error != EACCES && problem.Error != EPERM) || problem.Group.empty()) return text;
  const std::string group = "'" + problem.Group + "'";
  if (problem.SessionInGroup) {
    text += ". You are in its group " + group +
            ", but the group may not open it: ask the administrator to allow the group to read "
            "and write " + problem.Path + ".";
  } else if (problem.Group == "root") {
    text += ". It belongs to the group 'root': ask the administrator to give it a group such "
            "as 'cdrom' that you can join.";
  } else if (problem.UserInGroup) {
    text += ". You joined its group " + group +
            " after this session began: log out and log in again.";
  } else {
    const std::string user = problem.User.empty() ? "$USER" : problem.User;
    text += ". It belongs to the group " + group + ": add yourself to that group (sudo usermod -aG " +
            problem.Group + " " + user + "), then log out and log in again.";
  }
  return text;
}

std::vector<std::string> DriveAccessHints(const std::string& dir) {
  std::vector<std::string> hints;
  for (const DriveAccessProblem& problem : FindInaccessibleDrives(dir))
    hints.push_back(AccessProblemText(problem));
  return hints;
}

std::vector<std::string> NoRecorderText(const std::string& program, const std::string& dir) {
  std::vector<std::string> lines = {"No CD or DVD recorder found."};
  const std::vector<std::string> nodes = ScanOpticalDeviceNodes(dir);
  const std::vector<std::string> hints = DriveAccessHints(dir);
  if (nodes.empty()) {
    lines.push_back("There is no drive node " + dir + "/sr*.");
  } else if (hints.empty()) {
    std::string names;
    for (const std::string& node : nodes) names += (names.empty() ? "" : ", ") + node;
    lines.push_back(names + (nodes.size() == 1 ? " does" : " do") +
                    " not answer as a CD or DVD recorder.");
  } else {
    for (std::string hint : hints) {
      hint[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(hint[0])));
      if (hint.back() != '.') hint += '.';
      lines.push_back(std::move(hint));
    }
  }
  lines.push_back("Connect a drive, or try a disc file: " + program +
                  " --virtual-recorder PATH:PROFILE, for example ~/disc.iso:dvd+r.");
  return lines;
}

}  // namespace brennix
