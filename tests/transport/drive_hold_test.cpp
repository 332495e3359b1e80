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
#include <set>
#include <string>
#include <vector>

#include "transport/drive_hold.h"
#include "transport/sg_drive.h"

namespace fs = std::filesystem;

namespace brennix {
namespace {

std::string OwnName() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// Real system calls, written down as "open sr rw excl", "flock sg", "close sr", ...
class RecordingCalls final : public HoldSystemCalls {
 public:
  RecordingCalls(std::string sr, std::string sg) : sr_(std::move(sr)), sg_(std::move(sg)) {}

  int Open(const std::string& path, int flags) override {
    if (failOpenWith != 0 && path == sr_) {
      log.push_back("open " + Name(path) + " refused");
      errno = failOpenWith;
      return -1;
    }
    const int fd = HoldSystemCalls::Open(path, flags);
    std::string entry = "open " + Name(path);
    if ((flags & O_ACCMODE) == O_RDWR) entry += " rw";
    if (flags & O_EXCL) entry += " excl";
    if (flags & O_NONBLOCK) entry += " nonblock";
    log.push_back(entry);
    if (fd >= 0) {
      names_[fd] = Name(path);
      open.insert(fd);
    }
    return fd;
  }
  int Flock(int fd, int operation) override {
    const int result = HoldSystemCalls::Flock(fd, operation);
    const int error = errno;
    log.push_back("flock " + names_[fd] + (operation == (LOCK_EX | LOCK_NB) ? "" : " ?") +
                  (result != 0 ? " refused" : ""));
    errno = error;
    return result;
  }
  int Close(int fd) override {
    log.push_back("close " + names_[fd]);
    open.erase(fd);
    return HoldSystemCalls::Close(fd);
  }
  std::string GenericNode(const std::string&) override { return sg_; }

  int failOpenWith = 0;
  std::vector<std::string> log;
  std::set<int> open;

 private:
  std::string Name(const std::string& path) const { return path == sr_ ? "sr" : "sg"; }
  std::string sr_, sg_;
  std::map<int, std::string> names_;
};

class DriveHoldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "brennix-hold-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ / "sr0") << "";
    std::ofstream(dir_ / "sg0") << "";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::shared_ptr<RecordingCalls> Calls() {
    return std::make_shared<RecordingCalls>(sr(), sg());
  }
  std::string sr() const { return (dir_ / "sr0").string(); }
  std::string sg() const { return (dir_ / "sg0").string(); }

  fs::path dir_;
};

using Log = std::vector<std::string>;

TEST_F(DriveHoldTest, ClaimsBothNodesInOrderAndLetsGoInReverse) {
  auto calls = Calls();
  SgDriveBackend drive(sr(), calls);
  ASSERT_TRUE(drive.Hold().Free());
  EXPECT_EQ(calls->log, (Log{"open sr rw excl nonblock", "flock sr", "open sg rw nonblock",
                             "flock sg"}));
  EXPECT_EQ(calls->open.size(), 2u);
  // This process already holds it: refused at once, without a system call.
  const DriveBusy again = drive.Hold();
  EXPECT_EQ(DriveBusyText(again),
            "THE RECORDER IS IN USE BY " + OwnName() + " (PID " + std::to_string(::getpid()) + ")");
  EXPECT_EQ(calls->log.size(), 4u);
  calls->log.clear();
  drive.Release();
  EXPECT_EQ(calls->log, (Log{"close sg", "close sr"}));
  EXPECT_TRUE(calls->open.empty());
  drive.Release();  // a second release has nothing left to close
  EXPECT_EQ(calls->log.size(), 2u);
}

// Every way a hold can be refused leaves nothing open and names the holder.
TEST_F(DriveHoldTest, ARefusedHoldClosesWhatItOpened) {
  struct Case {
    const char* name;
    bool lockSr, lockSg;
    int openError;
    Log log;
  };
  const std::vector<Case> cases = {
      {"device claimed", false, false, EBUSY, {"open sr refused"}},
      {"device locked", true, false, 0, {"open sr rw excl nonblock", "flock sr refused", "close sr"}},
      {"generic node locked", false, true, 0,
       {"open sr rw excl nonblock", "flock sr", "open sg rw nonblock", "flock sg refused",
        "close sg", "close sr"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Another holder: its own open file, as another program would have.
    const int other = ::open((c.lockSg ? sg() : sr()).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    if (c.lockSr || c.lockSg) {
      ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    }
    auto calls = Calls();
    calls->failOpenWith = c.openError;
    SgDriveBackend drive(sr(), calls);
    const DriveBusy busy = drive.Hold();
    EXPECT_EQ(busy.Reason, DriveBusyReason::InUse);
    // The only holder in sight is this test program.
    EXPECT_EQ(busy.Pid, ::getpid());
    EXPECT_EQ(busy.Program, OwnName());
    EXPECT_EQ(calls->log, c.log);
    EXPECT_TRUE(calls->open.empty());
    ::close(other);
    // Once the other holder has gone, the drive is free.
    calls->failOpenWith = 0;
    EXPECT_TRUE(drive.Hold().Free());
    drive.Release();
    EXPECT_TRUE(calls->open.empty());
  }
}

TEST_F(DriveHoldTest, ADriveWithoutAGenericNodeIsHeldAlone) {
  auto calls = std::make_shared<RecordingCalls>(sr(), "");
  {
    SgDriveBackend drive(sr(), calls);
    ASSERT_TRUE(drive.Hold().Free());
    EXPECT_EQ(calls->log, (Log{"open sr rw excl nonblock", "flock sr"}));
  }  // a backend that goes away lets go
  EXPECT_TRUE(calls->open.empty());
}

TEST(DriveHoldParsing, MountPointsByDeviceNumber) {
  const std::string mountinfo =
      "22 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n"
      "45 22 11:0 / /media/user/MY\\040DISC ro,nosuid - iso9660 /dev/sr0 ro\n"
      "46 22 11:0 / /mnt/second ro - iso9660 /dev/sr0 ro\n"
      "garbage\n";
  EXPECT_EQ(MountPointIn(mountinfo, 11, 0), "/media/user/MY DISC");
  EXPECT_EQ(MountPointsIn(mountinfo, 11, 0).size(), 2u);
  EXPECT_EQ(MountPointIn(mountinfo, 11, 1), "");
  EXPECT_EQ(MountPointIn(mountinfo, 8, 2), "/");
}

TEST_F(DriveHoldTest, TheGenericNodeComesFromSysfs) {
  fs::create_directories(dir_ / "class/block/sr1/device/scsi_generic/sg4");
  EXPECT_EQ(GenericNodeFor("/dev/sr1", dir_.string()), "/dev/sg4");
  EXPECT_EQ(GenericNodeFor("/dev/sr2", dir_.string()), "");
}

// A loop-mounted image stands in for a mounted disc. Needs the right to mount.
TEST_F(DriveHoldTest, AMountedDiscIsNamedAndCanBeUnmounted) {
  const fs::path mountPoint = dir_ / "mounted disc";
  fs::create_directories(mountPoint);
  fs::create_directories(dir_ / "content");
  std::ofstream(dir_ / "content/a.txt") << "a";
  const std::string image = (dir_ / "disc.img").string();
  const std::string quiet = " >/dev/null 2>&1";
  // An ISO image where the kernel reads ISO 9660, else any file system it mounts.
  const std::vector<std::string> makers = {
      "xorriso -as mkisofs -quiet -o '" + image + "' '" + (dir_ / "content").string() + "'",
      "truncate -s 1M '" + image + "' && mke2fs -q -F '" + image + "'"};
  bool mounted = false;
  for (const std::string& make : makers) {
    if (std::system((make + quiet).c_str()) != 0) continue;
    if (std::system(("mount -o loop,ro '" + image + "' '" + mountPoint.string() + "'" + quiet)
                        .c_str()) == 0) {
      mounted = true;
      break;
    }
  }
  if (!mounted) GTEST_SKIP() << "this test may not mount a loop device here";
  struct stat info {};
  ASSERT_EQ(::stat(mountPoint.c_str(), &info), 0);
  std::string device;
  std::ifstream uevent("/sys/dev/block/" + std::to_string(major(info.st_dev)) + ":" +
                       std::to_string(minor(info.st_dev)) + "/uevent");
  for (std::string line; std::getline(uevent, line);)
    if (line.rfind("DEVNAME=", 0) == 0) device = "/dev/" + line.substr(8);
  if (device.empty()) {
    std::system(("umount '" + mountPoint.string() + "'").c_str());
    GTEST_SKIP() << "no device node for the loop device";
  }

  SgDriveBackend drive(device);
  const DriveBusy busy = drive.Hold();
  EXPECT_EQ(DriveBusyText(busy),
            "THE DISC IN THE RECORDER IS MOUNTED AT " + mountPoint.string() + ": UNMOUNT IT FIRST");
  std::string error;
  EXPECT_TRUE(UnmountDevice(device, error)) << error;
  if (!error.empty()) std::system(("umount '" + mountPoint.string() + "'").c_str());
  EXPECT_TRUE(drive.Hold().Free());
  drive.Release();
}

}  // namespace
}  // namespace brennix
