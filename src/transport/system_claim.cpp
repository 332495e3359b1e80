#include "transport/system_claim.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/clock.h"
#include "platform/dir_listing.h"

extern char** environ;

namespace brennix {

namespace {

constexpr uint32_t kUnmountWaitMs = 30000;
constexpr uint32_t kUnmountPollMs = 20;

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ProgramName(int pid) {
  std::string name = ReadWholeFile("/proc/" + std::to_string(pid) + "/comm");
  while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) name.pop_back();
  return name;
}

// The kernel writes space, tab, newline and backslash in mount points as \ooo.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.find_first_not_of("01234567") == std::string::npos) {
        out.push_back(static_cast<char>(std::strtol(digits.c_str(), nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

// Whether the process has one of paths open. The links are read, never followed: a stat
// through another program's descriptor could hang on a file system that does not answer.
bool HasOpen(int pid, const std::vector<std::string>& paths) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;  // gone, or not ours to look at
  bool found = false;
  char target[4096];
  while (!found) {
    const dirent* e = ::readdir(d);
    if (e == nullptr) break;
    if (e->d_name[0] == '.') continue;
    const ssize_t n = ::readlink((dir + "/" + e->d_name).c_str(), target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof target) continue;
    found = std::find(paths.begin(), paths.end(), std::string(target, static_cast<size_t>(n))) !=
            paths.end();
  }
  ::closedir(d);
  return found;
}

// Runs a program with its output discarded; true when it exited with status 0 within the
// bound (it is killed after that).
bool RunQuietly(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  for (uint32_t waited = 0;; waited += kUnmountPollMs) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return false;
    if (waited >= kUnmountWaitMs) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return false;
    }
    SleepMs(kUnmountPollMs);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> MountsOf(const std::string& devicePath) {
  struct stat info {};
  if (::stat(devicePath.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return {};
  return MountPointsIn(ReadWholeFile("/proc/self/mountinfo"), major(info.st_rdev),
                       minor(info.st_rdev));
}

}  // namespace

std::string DriveBusyText(const DriveBusy& busy) {
  switch (busy.Reason) {
    case DriveBusyReason::Free:
      return std::string();
    case DriveBusyReason::Mounted:
      return "THE DISC IN THE RECORDER IS MOUNTED AT " + busy.MountPoint + ": UNMOUNT IT FIRST";
    case DriveBusyReason::InUse:
      break;
  }
  if (busy.Program.empty()) return "THE RECORDER IS IN USE BY ANOTHER PROGRAM";
  return "THE RECORDER IS IN USE BY " + busy.Program + " (PID " + std::to_string(busy.Pid) + ")";
}

std::vector<std::string> MountPointsIn(const std::string& mountinfo, unsigned major,
                                       unsigned minor) {
  // Each line: id, parent id, major:minor, root, mount point, options, ...
  const std::string wanted = std::to_string(major) + ":" + std::to_string(minor);
  std::vector<std::string> points;
  std::istringstream lines(mountinfo);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    if (!(fields >> id >> parent >> device >> root >> point)) continue;
    if (device == wanted) points.push_back(UnescapeMountField(point));
  }
  return points;
}

std::string MountPointIn(const std::string& mountinfo, unsigned major, unsigned minor) {
  const std::vector<std::string> points = MountPointsIn(mountinfo, major, minor);
  return points.empty() ? std::string() : points.front();
}

std::string GenericNodeFor(const std::string& devicePath, const std::string& sysfsRoot) {
  const std::string name = devicePath.substr(devicePath.find_last_of('/') + 1);
  if (name.empty() || name.find("..") != std::string::npos) return std::string();
  const std::string dir = sysfsRoot + "/class/block/" + name + "/device/scsi_generic";
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return std::string();
  std::string node;
  while (dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, "sg", 2) == 0) {
      node = std::string("/dev/") + e->d_name;
      break;
    }
  }
  ::closedir(d);
  return node;
}

DriveBusy HeldByThisProcess() {
  DriveBusy busy;
  busy.Reason = DriveBusyReason::InUse;
  busy.Pid = static_cast<int>(::getpid());
  busy.Program = ProgramName(busy.Pid);
  return busy;
}

DriveBusy DescribeBusyDrive(const std::vector<std::string>& nodes, bool checkMounts) {
  DriveBusy busy;
  busy.Reason = DriveBusyReason::InUse;
  std::vector<std::string> paths;
  for (const std::string& node : nodes) {
    const std::string path = node.empty() ? std::string() : RealPath(node);
    if (!path.empty()) paths.push_back(path);
  }
  if (paths.empty()) return busy;
  struct stat info {};
  if (checkMounts && ::stat(paths.front().c_str(), &info) == 0 && S_ISBLK(info.st_mode)) {
    const std::string point = MountPointIn(ReadWholeFile("/proc/self/mountinfo"),
                                           major(info.st_rdev), minor(info.st_rdev));
    if (!point.empty()) {
      busy.Reason = DriveBusyReason::Mounted;
      busy.MountPoint = point;
      return busy;
    }
  }
  const int self = static_cast<int>(::getpid());
  std::vector<int> pids;
  if (DIR* d = ::opendir("/proc")) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (!name.empty() && name.size() < 10 &&
          name.find_first_not_of("0123456789") == std::string::npos)
        pids.push_back(std::atoi(name.c_str()));
    }
    ::closedir(d);
  }
  std::sort(pids.begin(), pids.end());
  // Another program first: this process may merely have the drive open for a reading command.
  bool selfHasIt = false;
  for (const int pid : pids) {
    if (!HasOpen(pid, paths)) continue;
    if (pid == self) {
      selfHasIt = true;
      continue;
    }
    const std::string program = ProgramName(pid);
    if (program.empty()) continue;
    busy.Pid = pid;
    busy.Program = program;
    return busy;
  }
  if (selfHasIt) return HeldByThisProcess();
  return busy;
}

bool UnmountDevice(const std::string& devicePath, std::string& error) {
  if (MountsOf(devicePath).empty()) return true;
  RunQuietly({"udisksctl", "unmount", "--no-user-interaction", "-b", devicePath});
  // umount(8) by mount point: a disc mounted twice needs one call per mount.
  for (int round = 0; round < 8; ++round) {
    const std::vector<std::string> left = MountsOf(devicePath);
    if (left.empty()) return true;
    if (!RunQuietly({"umount", left.back()})) break;
  }
  const std::vector<std::string> left = MountsOf(devicePath);
  if (left.empty()) return true;
  error = "cannot unmount " + devicePath + " from " + left.front();
  return false;
}

int HoldSystemCalls::Open(const std::string& path, int flags) { return ::open(path.c_str(), flags); }

int HoldSystemCalls::Flock(int fd, int operation) { return ::flock(fd, operation); }

int HoldSystemCalls::Close(int fd) { return ::close(fd); }

std::string HoldSystemCalls::GenericNode(const std::string& devicePath) {
  return GenericNodeFor(devicePath);
}

}  // namespace brennix
