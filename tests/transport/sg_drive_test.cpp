#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "transport/sg_drive.h"
#include "support/temp_folder.h"

namespace brennix {
namespace {

PassThroughRequest Request(DataDirection direction, uint8_t* data, uint32_t length) {
  PassThroughRequest r;
  r.Cdb[0] = 0x5A;
  r.CdbLength = 10;
  r.Direction = direction;
  r.Data = data;
  r.DataLength = length;
  r.SenseLength = 24;
  return r;
}

TEST(SgIoRequest, DirectionLengthsAndTimeout) {
  uint8_t data[64];
  unsigned char sense[32];
  PassThroughRequest in = Request(DataDirection::In, data, 64);
  sg_io_hdr h = BuildSgIoHeader(in, sense, sizeof sense);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.dxfer_len, 64u);
  EXPECT_EQ(h.dxferp, data);
  EXPECT_EQ(h.cmd_len, 10);
  EXPECT_EQ(h.cmdp, in.Cdb);
  EXPECT_EQ(h.mx_sb_len, 24);
  EXPECT_EQ(h.sbp, sense);
  EXPECT_EQ(h.timeout, 120000u);

  PassThroughRequest out = Request(DataDirection::Out, data, 8);
  EXPECT_EQ(BuildSgIoHeader(out, sense, sizeof sense).dxfer_direction, SG_DXFER_TO_DEV);

  // A data phase without a buffer or a length is no data phase at all.
  PassThroughRequest none = Request(DataDirection::In, nullptr, 64);
  h = BuildSgIoHeader(none, sense, sizeof sense);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(h.dxfer_len, 0u);

  PassThroughRequest greedy = Request(DataDirection::None, nullptr, 0);
  greedy.SenseLength = 200;
  EXPECT_EQ(BuildSgIoHeader(greedy, sense, 18).mx_sb_len, 18);
}

sg_io_hdr Finished(PassThroughRequest& r, unsigned char* sense) {
  sg_io_hdr h = BuildSgIoHeader(r, sense, 32);
  return h;
}

TEST(SgIoResult, GoodAnswerReportsTransferredBytesFromResidual) {
  uint8_t data[100];
  unsigned char sense[32] = {};
  PassThroughRequest r = Request(DataDirection::In, data, 100);
  sg_io_hdr h = Finished(r, sense);
  h.resid = 60;
  EXPECT_TRUE(DecodeSgIoResult(h, 0, 0, r));
  EXPECT_EQ(r.ScsiStatus, 0);
  EXPECT_EQ(r.DataTransferred, 40u);

  h.resid = 500;  // absurd residual
  EXPECT_TRUE(DecodeSgIoResult(h, 0, 0, r));
  EXPECT_EQ(r.DataTransferred, 0u);
  h.resid = -5;
  EXPECT_TRUE(DecodeSgIoResult(h, 0, 0, r));
  EXPECT_EQ(r.DataTransferred, 100u);
}

TEST(SgIoResult, CheckConditionCarriesSenseClampedToWhatWasWritten) {
  unsigned char sense[32] = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
  sense[20] = 0x99;
  PassThroughRequest r = Request(DataDirection::None, nullptr, 0);
  sg_io_hdr h = Finished(r, sense);
  h.status = 0x02;
  h.driver_status = sg::DRIVER_SENSE;
  h.sb_len_wr = 18;
  EXPECT_TRUE(DecodeSgIoResult(h, 0, 0, r));
  EXPECT_EQ(r.ScsiStatus, 2);
  EXPECT_EQ(r.Sense[12], 0x3A);
  EXPECT_EQ(r.Sense[20], 0) << "sense past sb_len_wr is not taken";
  EXPECT_EQ(r.SenseLength, 18);

  h.sb_len_wr = 200;  // more than the buffer: clamped to what was asked
  EXPECT_TRUE(DecodeSgIoResult(h, 0, 0, r));
  EXPECT_EQ(r.SenseLength, 24);

  // Sense delivered with a good status still is a failure.
  h.status = 0;
  h.sb_len_wr = 18;
  EXPECT_TRUE(DecodeSgIoResult(h, 0, 0, r));
  EXPECT_EQ(r.ScsiStatus, 2);
}

TEST(SgIoResult, HostAndDriverStatusesBecomeAdapterStatuses) {
  unsigned char sense[32] = {};
  struct Case {
    unsigned host, driver;
    bool answered;
    uint8_t scsi, adapter;
  } cases[] = {
      {sg::DID_TIME_OUT, 0, false, 0, 0x09},     {sg::DID_ABORT, 0, false, 0, 0x09},
      {sg::DID_NO_CONNECT, 0, false, 0, 0x11},   {sg::DID_BAD_TARGET, 0, false, 0, 0x11},
      {sg::DID_BUS_BUSY, 0, true, 8, 0},         {sg::DID_SOFT_ERROR, 0, true, 8, 0},
      {sg::DID_PARITY, 0, false, 0, 0x0F},       {sg::DID_RESET, 0, false, 0, 0x0E},
      {sg::DID_ERROR, 0, false, 0, 0x13},        {0x42, 0, false, 0, 0x13},
      {0, sg::DRIVER_TIMEOUT, false, 0, 0x09},   {0, sg::DRIVER_BUSY, true, 8, 0},
      {0, 0x04 /*DRIVER_ERROR*/, false, 0, 0x13},
  };
  for (const Case& c : cases) {
    PassThroughRequest r = Request(DataDirection::None, nullptr, 0);
    sg_io_hdr h = Finished(r, sense);
    h.host_status = static_cast<unsigned short>(c.host);
    h.driver_status = static_cast<unsigned short>(c.driver);
    EXPECT_EQ(DecodeSgIoResult(h, 0, 0, r), c.answered) << c.host << "/" << c.driver;
    EXPECT_EQ(r.ScsiStatus, c.scsi) << c.host << "/" << c.driver;
    EXPECT_EQ(r.AdapterStatus, c.adapter) << c.host << "/" << c.driver;
  }
}

TEST(SgIoResult, FailedIoctl) {
  unsigned char sense[32] = {};
  PassThroughRequest r = Request(DataDirection::None, nullptr, 0);
  sg_io_hdr h = Finished(r, sense);
  EXPECT_FALSE(DecodeSgIoResult(h, -1, ETIMEDOUT, r));
  EXPECT_EQ(r.AdapterStatus, 0x09);
  EXPECT_FALSE(DecodeSgIoResult(h, -1, ENODEV, r));
  EXPECT_EQ(r.AdapterStatus, 0x11);
  EXPECT_TRUE(DecodeSgIoResult(h, -1, EBUSY, r));
  EXPECT_EQ(r.ScsiStatus, 8);
  EXPECT_FALSE(DecodeSgIoResult(h, -1, EINVAL, r));
  EXPECT_EQ(r.AdapterStatus, 0x13);
}

TEST(SgAddress, IdLunWordAndBusNumber) {
  const ScsiAddress a = AddressFromIdLun(0x0A010203, 12);
  EXPECT_EQ(a.TargetId, 0x03);
  EXPECT_EQ(a.Lun, 0x02);
  EXPECT_EQ(a.PathId, 0x01);
  EXPECT_EQ(a.PortNumber, 12);
}

class TempDir : public ::testing::Test {
 protected:
  void Touch(const std::string& name) { std::ofstream(dir + "/" + name) << "x"; }
  brennix::test::TempFolder temp{"sg"};
  std::string dir = temp.path();
};

TEST_F(TempDir, OpticalNodesInNumericOrder) {
  for (const char* name : {"sr10", "sr2", "sr0", "srx", "sda", "sr", "sr1a"}) Touch(name);
  const auto nodes = ScanOpticalDeviceNodes(dir);
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0], dir + "/sr0");
  EXPECT_EQ(nodes[1], dir + "/sr2");
  EXPECT_EQ(nodes[2], dir + "/sr10");
  EXPECT_TRUE(ScanOpticalDeviceNodes(dir + "/missing").empty());
}

TEST_F(TempDir, BackendRefusesWhatIsNoDrive) {
  Touch("sr0");
  SgDriveBackend file(dir + "/sr0");
  EXPECT_FALSE(file.IsOpticalDrive()) << "a regular file is no block device";
  SgDriveBackend missing(dir + "/sr9");
  int error = 0;
  EXPECT_EQ(missing.Open(&error), kInvalidDriveHandle);
  EXPECT_EQ(error, ENOENT);
  PassThroughRequest r = Request(DataDirection::None, nullptr, 0);
  EXPECT_FALSE(missing.PassThrough(kInvalidDriveHandle, r));
}

// What a user who cannot open the drive is told, as that user meets it: the test runs the
// scan as an unprivileged user (root drops to nobody in a child process).
TEST_F(TempDir, UnreadableNodeIsReportedWithItsGroupAndTheFix) {
  const std::vector<std::string> none = NoRecorderText("brennix-cli", dir);
  ASSERT_EQ(none.size(), 3u);
  EXPECT_EQ(none[0], "No CD or DVD recorder found.");
  EXPECT_EQ(none[1], "There is no drive node " + dir + "/sr*.");
  EXPECT_NE(none[2].find("brennix-cli --virtual-recorder PATH:PROFILE"), std::string::npos);

  const group* cdrom = getgrnam("cdrom");
  if (cdrom == nullptr) GTEST_SKIP() << "no group 'cdrom' on this system";
  Touch("sr0");
  const std::string node = dir + "/sr0";
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  ASSERT_EQ(chmod(node.c_str(), 0660), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(node.c_str(), 0, cdrom->gr_gid), 0);
  } else if (chmod(node.c_str(), 0) != 0) {
    GTEST_SKIP() << "cannot make the node unreadable";
  }

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(out[0]);
    const passwd* nobody = getpwnam("nobody");
    if (root && (nobody == nullptr || setgroups(0, nullptr) != 0 ||
                 setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
      _exit(77);
    std::string text;
    for (const std::string& line : NoRecorderText("brennix-cli", dir)) text += line + "\n";
    const ssize_t written = write(out[1], text.data(), text.size());
    _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  close(out[1]);
  std::string text;
  char buffer[1024];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop root's privileges";
  ASSERT_EQ(WEXITSTATUS(status), 0);

  EXPECT_NE(text.find("No CD or DVD recorder found.\nCannot open " + node + ": Permission denied"),
            std::string::npos) << text;
  if (root) {
    EXPECT_NE(text.find("group 'cdrom'"), std::string::npos) << text;
    EXPECT_NE(text.find("sudo usermod -aG cdrom nobody"), std::string::npos) << text;
    EXPECT_NE(text.find("log in again"), std::string::npos) << text;
  }
}

TEST(SgAccessText, NamesTheDeviceTheGroupAndTheFix) {
  struct Case {
    std::string group, user;
    bool userInGroup, sessionInGroup;
    std::string after;  // what follows the refusal itself
  };
  const Case cases[] = {
      {"cdrom", "alice", false, false,
       ". It belongs to the group 'cdrom': add yourself to that group (sudo usermod -aG cdrom "
       "alice), then log out and log in again."},
      {"cdrom", "alice", true, false,
       ". You joined its group 'cdrom' after this session began: log out and log in again."},
      {"cdrom", "alice", true, true,
       ". You are in its group 'cdrom', but the group may not open it: ask the administrator "
       "to allow the group to read and write /dev/sr0."},
      {"root", "alice", false, false,
       ". It belongs to the group 'root': ask the administrator to give it a group such as "
       "'cdrom' that you can join."},
      {"cdrom", "", false, false,
       ". It belongs to the group 'cdrom': add yourself to that group (sudo usermod -aG cdrom "
       "$USER), then log out and log in again."},
      {"", "alice", false, false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AccessProblemText({"/dev/sr0", EACCES, c.group, c.user, c.userInGroup, c.sessionInGroup}),
              "cannot open /dev/sr0: Permission denied" + c.after);
  }
  EXPECT_EQ(AccessProblemText({"/dev/sr1", ENXIO, "cdrom", "alice", false, false}),
            "cannot open /dev/sr1: No such device or address");
}

}  // namespace
}  // namespace brennix
