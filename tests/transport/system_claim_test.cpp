// Holding a real drive for a recording, with plain files standing in for /dev/srN and its
// /dev/sgN: the system calls in order with their flags, every descriptor closed on every way
// out, a second holder named at once; and a loop-mounted image that must be unmounted first.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "transport/system_claim.h"
#include "transport/sg_drive.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace brennix {
namespace {

using Log = std::vector<std::string>;

std::string Holder() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return "THE RECORDER IS IN USE BY " + name + " (PID " + std::to_string(::getpid()) + ")";
}

// The real system calls, written down as "open sr rw excl nonblock", "flock sg", "close sr".
class RecordingCalls final : public HoldSystemCalls {
 public:
  RecordingCalls(std::string sr, std::string sg) : sr_(std::move(sr)), sg_(std::move(sg)) {}

  int Open(const std::string& path, int flags) override {
    std::string entry = "open " + Name(path);
    if (path == sr_ && failOpenWith != 0) {
      log.push_back(entry + " refused");
      errno = failOpenWith;
      return -1;
    }
    if ((flags & O_ACCMODE) == O_RDWR) entry += " rw";
    if (flags & O_EXCL) entry += " excl";
    if (flags & O_NONBLOCK) entry += " nonblock";
    log.push_back(entry);
    const int fd = HoldSystemCalls::Open(path, flags);
    if (fd >= 0) open[fd] = Name(path);
    return fd;
  }
  int Flock(int fd, int operation) override {
    const int result = HoldSystemCalls::Flock(fd, operation);
    const int error = errno;
    log.push_back("flock " + open[fd] + (operation == (LOCK_EX | LOCK_NB) ? "" : " ?") +
                  (result != 0 ? " refused" : ""));
    errno = error;
    return result;
  }
  int Close(int fd) override {
    log.push_back("close " + open[fd]);
    open.erase(fd);
    return HoldSystemCalls::Close(fd);
  }
  std::string GenericNode(const std::string&) override { return sg_; }

  int failOpenWith = 0;
  Log log;
  std::map<int, std::string> open;  // descriptor -> node

 private:
  std::string Name(const std::string& path) const { return path == sr_ ? "sr" : "sg"; }
  std::string sr_, sg_;
};

class DriveHoldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir_ / "sr0") << "";
    std::ofstream(dir_ / "sg0") << "";
  }
  std::string sr() const { return (dir_ / "sr0").string(); }
  std::string sg() const { return (dir_ / "sg0").string(); }

  brennix::test::TempFolder temp_{"hold"};
  fs::path dir_ = temp_.path();
};

TEST_F(DriveHoldTest, ClaimsBothNodesInOrderAndLetsGoInReverse) {
  auto calls = std::make_shared<RecordingCalls>(sr(), sg());
  SgDriveBackend drive(sr(), calls);
  ASSERT_TRUE(drive.Hold().Free());
  EXPECT_EQ(calls->log, (Log{"open sr rw excl nonblock", "flock sr", "open sg rw nonblock",
                             "flock sg"}));
  // This process already holds it: refused at once, without a system call.
  EXPECT_EQ(DriveBusyText(drive.Hold()), Holder());
  calls->log.clear();
  drive.Release();
  drive.Release();  // nothing left to close
  EXPECT_EQ(calls->log, (Log{"close sg", "close sr"}));
  EXPECT_TRUE(calls->open.empty());

  // A drive without a generic node is held alone, and a backend that goes away lets go.
  auto alone = std::make_shared<RecordingCalls>(sr(), "");
  SgDriveBackend(sr(), alone).Hold();
  EXPECT_EQ(alone->log, (Log{"open sr rw excl nonblock", "flock sr", "close sr"}));
}

// Every way a hold can be refused leaves nothing open and names the holder.
TEST_F(DriveHoldTest, ARefusedHoldClosesWhatItOpened) {
  struct Case {
    const char* name;
    bool genericLocked;
    int openError;
    Log log;
  };
  const std::vector<Case> cases = {
      {"device claimed", false, EBUSY, {"open sr refused"}},
      {"device locked", false, 0, {"open sr rw excl nonblock", "flock sr refused", "close sr"}},
      {"generic node locked", true, 0,
       {"open sr rw excl nonblock", "flock sr", "open sg rw nonblock", "flock sg refused",
        "close sg", "close sr"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The other holder: an open file of its own, as another program has.
    const int other = ::open((c.genericLocked ? sg() : sr()).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    auto calls = std::make_shared<RecordingCalls>(sr(), sg());
    calls->failOpenWith = c.openError;
    SgDriveBackend drive(sr(), calls);
    EXPECT_EQ(DriveBusyText(drive.Hold()), Holder());  // the only holder in sight
    EXPECT_EQ(calls->log, c.log);
    EXPECT_TRUE(calls->open.empty());
    ::close(other);
    calls->failOpenWith = 0;
    EXPECT_TRUE(drive.Hold().Free());
    drive.Release();
    EXPECT_TRUE(calls->open.empty());
  }
}

TEST_F(DriveHoldTest, MountPointsAndGenericNodesAreFound) {
  const std::string mountinfo =
      "22 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n"
      "45 22 11:0 / /media/user/MY\\040DISC ro,nosuid - iso9660 /dev/sr0 ro\n"
      "46 22 11:0 / /mnt/second ro - iso9660 /dev/sr0 ro\n"
      "garbage\n";
  EXPECT_EQ(MountPointsIn(mountinfo, 11, 0), (Log{"/media/user/MY DISC", "/mnt/second"}));
  EXPECT_EQ(MountPointIn(mountinfo, 11, 1), "");
  fs::create_directories(dir_ / "class/block/sr1/device/scsi_generic/sg4");
  EXPECT_EQ(GenericNodeFor("/dev/sr1", dir_.string()), "/dev/sg4");
  EXPECT_EQ(GenericNodeFor("/dev/sr2", dir_.string()), "");
}

// A loop-mounted image stands in for a mounted disc; skipped where the test may not mount.
TEST_F(DriveHoldTest, AMountedDiscIsNamedAndCanBeUnmounted) {
  const fs::path point = dir_ / "mounted disc";
  fs::create_directories(point);
  const std::string image = (dir_ / "disc.img").string();
  // An ISO image where the kernel reads ISO 9660, else any file system it mounts.
  bool mounted = false;
  for (const std::string& make : {"xorriso -as mkisofs -quiet -o '" + image + "' '" + sr() + "'",
                                 "truncate -s 1M '" + image + "' && mke2fs -q -F '" + image + "'"}) {
    mounted = std::system((make + " >/dev/null 2>&1 && mount -o loop,ro '" + image + "' '" +
                           point.string() + "' 2>/dev/null").c_str()) == 0;
    if (mounted) break;
  }
  if (!mounted) GTEST_SKIP() << "no loop mount here";
  struct stat info {};
  ASSERT_EQ(::stat(point.c_str(), &info), 0);
  std::ifstream uevent("/sys/dev/block/" + std::to_string(major(info.st_dev)) + ":" +
                       std::to_string(minor(info.st_dev)) + "/uevent");
  std::string device;
  for (std::string line; std::getline(uevent, line);)
    if (line.rfind("DEVNAME=", 0) == 0) device = "/dev/" + line.substr(8);
  SgDriveBackend drive(device);
  EXPECT_EQ(DriveBusyText(drive.Hold()),
            "THE DISC IN THE RECORDER IS MOUNTED AT " + point.string() + ": UNMOUNT IT FIRST");
  std::string error;
  EXPECT_TRUE(UnmountDevice(device, error)) << error;
  if (!error.empty()) std::system(("umount '" + point.string() + "'").c_str());
  EXPECT_TRUE(drive.Hold().Free());
  drive.Release();
}

}  // namespace
}  // namespace brennix
