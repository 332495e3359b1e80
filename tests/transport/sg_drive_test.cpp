#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "transport/sg_drive.h"

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
  void SetUp() override {
    char pattern[] = "/tmp/brennix-sg-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  void Touch(const std::string& name) { std::ofstream(dir + "/" + name) << "x"; }
  std::string dir;
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

TEST_F(TempDir, UnreadableNodeIsReportedWithItsGroup) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens anything";
  Touch("sr0");
  chmod((dir + "/sr0").c_str(), 0);
  const auto problems = FindInaccessibleDrives(dir);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Error, EACCES);
}

TEST(SgAccessText, HintNamesTheGroup) {
  DriveAccessProblem p{"/dev/sr0", EACCES, "cdrom"};
  EXPECT_EQ(AccessProblemText(p),
            "cannot open /dev/sr0: Permission denied \u2014 add yourself to the group 'cdrom' "
            "(sudo usermod -aG cdrom $USER) and log in again");
  p.Error = ENXIO;
  EXPECT_EQ(AccessProblemText(p).find("usermod"), std::string::npos);
}

}  // namespace
}  // namespace brennix
