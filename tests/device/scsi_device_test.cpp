#include <gtest/gtest.h>

#include <cstring>

#include "device/scsi_device.h"
#include "platform/clock.h"
#include "support/selected_device.h"

namespace brennix {
namespace {

using testing::Address;
using testing::AddressedDrive;
using testing::FakeDrive;
using testing::ScopedFakeDrives;
using Selected = testing::SelectedDevice;

TEST(ExecSCSICommand, NothingIsSentWithoutTransportOrDevice) {
  ScopedFakeDrives none({});
  TSCSIDevice device;
  SRB_ExecSCSICmd srb;
  EXPECT_EQ(device.ExecSCSICommand(srb, 5000), 0xE2);
  EXPECT_EQ(srb.SRB_Status, SS_PENDING);
  EXPECT_FALSE(device.TestUnitReady(5000));
  EXPECT_EQ(device.LastErrorText, "");

  Selected s(AddressedDrive());
  TSCSIDevice unselected;
  EXPECT_EQ(unselected.HaId, 254);
  SRB_ExecSCSICmd other;
  EXPECT_EQ(unselected.ExecSCSICommand(other, 5000), 0xE2);
  EXPECT_EQ(other.SRB_Status, 0);
}

TEST(ExecSCSICommand, BusyIsSetByOneCommandAndClearedByTheNext) {
  Selected s(AddressedDrive());
  bool busy = true;
  s.drive->onCommand = [&](PassThroughRequest& r) {
    if (r.Cdb[0] != 0x00) return false;
    if (busy) r.ScsiStatus = 8;
    return true;
  };
  EXPECT_FALSE(s.device.TestUnitReady(5000));
  EXPECT_TRUE(s.device.TargetBusy);
  EXPECT_EQ(s.device.LastErrorText, "TARGET BUSY");
  busy = false;
  EXPECT_TRUE(s.device.TestUnitReady(5000));
  EXPECT_FALSE(s.device.TargetBusy);
  EXPECT_EQ(s.device.LastErrorText, "");
}

TEST(ExecSCSICommand, SenseLandsInLastSenseAndText) {
  Selected s(AddressedDrive());
  s.drive->onCommand = [](PassThroughRequest& r) {
    if (r.Cdb[0] != 0x00) return false;
    FakeDrive::Check(r, 2, 0x3A, 0x00);
    return true;
  };
  EXPECT_FALSE(s.device.TestUnitReady(5000));
  EXPECT_EQ(s.device.LastErrorText, "NOT READY (MEDIUM NOT PRESENT)");
  EXPECT_EQ(s.device.LastSense[2], 2);
  EXPECT_EQ(s.device.LastSense[12], 0x3A);
}

TEST(ExecSCSICommand, LunGoesIntoCdbByteOne) {
  auto drive = std::make_shared<FakeDrive>();
  drive->address = Address(0, 0, 3);
  Selected s(drive);
  s.device.Lun = 3;
  uint8_t buffer[8];
  s.device.RunCommand(Cdb{0x51, 0x1F, 0, 0, 0, 0, 0, 0, 8, 0}, DataDirection::In, buffer, 8, 100);
  EXPECT_EQ(s.drive->commands.back()[1], 0x7F);
}

struct SilentDrive : FakeDrive {
  bool PassThrough(DriveHandle handle, PassThroughRequest& r) override {
    if (r.Cdb[0] == 0x12) return FakeDrive::PassThrough(handle, r);
    return false;
  }
};

TEST(ExecSCSICommand, CommandWithoutAnswerIsReportedAsTimeout) {
  auto drive = std::make_shared<SilentDrive>();
  drive->address = Address(0, 0);
  Selected s(drive);
  SRB_ExecSCSICmd srb;
  srb.SRB_Flags = SRB_EVENT_NOTIFY;
  srb.SRB_CDBLen = 6;
  EXPECT_EQ(s.device.ExecSCSICommand(srb, 1000), 1);
  EXPECT_EQ(srb.SRB_Status, SS_ERR);
  EXPECT_EQ(srb.SRB_HaStat, 0x09);
  EXPECT_EQ(s.device.LastErrorText, "COMMAND TIMEOUT");
}

TEST(ExecSCSICommand, ShortAnswerIsNotReadPast) {
  Selected s(AddressedDrive());
  s.drive->onCommand = [](PassThroughRequest& r) {
    if (r.Cdb[0] != 0x5A) return false;
    FakeDrive::Answer(r, {0, 6, 0, 0, 0, 0, 0, 0});
    return true;
  };
  uint8_t out[64];
  std::memset(out, 0xEE, sizeof out);
  std::memset(s.device.TransferBuffer.data(), 0xAB, 64);  // an older answer
  EXPECT_TRUE(s.device.ModeSense10(0x2A, false, out, 64));
  EXPECT_EQ(s.device.LastDataTransferred(), 8u);
  EXPECT_EQ(out[1], 6);
  for (int i = 8; i < 64; ++i) ASSERT_EQ(out[i], 0) << i;
}

TEST(FailedCommandLine, OnlyTheFirstCommandAndOnlyWhenItFails) {
  Selected s(AddressedDrive());
  // Listing the devices at creation already ran the first commands of this object.
  EXPECT_TRUE(s.device.ErrorLogDone);
  s.device.ErrorLogDone = false;
  uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  alignas(4) uint8_t buffer[4];
  std::memcpy(buffer, data, 4);
  EXPECT_FALSE(s.device.RunCommand(Cdb{0x2A, 0, 0, 0, 0, 0x10, 0, 0, 1, 0}, DataDirection::Out,
                                   buffer, 4, 1000));
  ASSERT_EQ(s.lines.size(), 1u);
  EXPECT_EQ(s.lines[0],
            "0<<< WRITE (10)" + std::string(13, ' ') +
                "(2A) {50|0A} - 0:0:0 <04> [00004] 00 00 00 00 10 00 00 01 00 00 00 00 00 00 00  "
                "|DE AD BE EF = 00 02 70 05 ASC:20,ASQ:00 ILLEGAL REQUEST "
                "(INVALID COMMAND OPERATION CODE)");
  EXPECT_TRUE(s.device.ErrorLogDone);
  EXPECT_FALSE(s.device.RunCommand(Cdb{0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, DataDirection::None,
                                   nullptr, 0, 1000));
  EXPECT_EQ(s.lines.size(), 1u) << "one failed command per device object";
}

TEST(FailedCommandLine, QuietOpcodesAndLongWriteAreNotLogged) {
  Selected s(AddressedDrive());
  s.drive->onCommand = [](PassThroughRequest& r) {
    if (r.Cdb[0] == 0x2A) FakeDrive::Check(r, 2, 0x04, 0x08);
    else if (r.Cdb[0] == 0x00) FakeDrive::Check(r, 2, 0x3A, 0x00);
    else return false;
    return true;
  };
  EXPECT_FALSE(s.device.TestUnitReady(5000));
  EXPECT_TRUE(s.lines.empty());
  s.device.ErrorLogDone = false;
  EXPECT_FALSE(s.device.RunCommand(Cdb{0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::None,
                                   nullptr, 0, 1000));
  EXPECT_TRUE(s.lines.empty());
}

TEST(FailedCommandLine, MisalignedBufferIsReported) {
  Selected s(AddressedDrive());
  s.device.ErrorLogDone = true;
  alignas(4) uint8_t buffer[16] = {};
  s.drive->onCommand = [](PassThroughRequest& r) { return r.Cdb[0] == 0x51; };
  EXPECT_TRUE(s.device.ReadDiscInformation(buffer + 1, 8));
  ASSERT_EQ(s.lines.size(), 1u);
  EXPECT_EQ(s.lines[0], "0aaaa" + std::to_string(reinterpret_cast<uintptr_t>(buffer + 1)));
}

TEST(Wrappers, CdbsDirectionsAndTrayHandleRule) {
  Selected s(AddressedDrive());
  s.drive->onCommand = [](PassThroughRequest&) { return true; };
  uint8_t buffer[300] = {};
  s.device.ModeSense10(0x2A, true, buffer, 255);
  s.device.ModeSelect10(buffer, 300);
  s.device.GetConfiguration(2, 0x002F, 114, buffer);
  s.device.ReadTOC(4, buffer, 0, true, 0, 300);
  s.device.Read10(0x00010203, 2, buffer, 300);
  s.device.Blank(0x11);
  s.device.ReadTrackInformation(0x01020304);
  s.device.RequestSense(buffer, 18);
  const std::vector<std::vector<uint8_t>> expected = {
      {0x5A, 0, 0xAA, 0, 0, 0, 0, 0x00, 0xFF, 0},
      {0x55, 0x10, 0, 0, 0, 0, 0, 0x01, 0x2C, 0},
      {0x46, 0x02, 0x00, 0x2F, 0, 0, 0, 0, 114, 0},
      {0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 255, 0},
      {0x28, 0, 0x00, 0x01, 0x02, 0x03, 0, 0, 2, 0},
      {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {0x52, 0x01, 0x01, 0x02, 0x03, 0x04, 0, 0, 40, 0},
      {0x03, 0, 0, 0, 18, 0},
  };
  const size_t first = s.drive->commands.size() - expected.size();
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(s.drive->commands[first + i], expected[i]) << i;
  EXPECT_EQ(s.drive->directions[first + 1], DataDirection::Out);
  EXPECT_EQ(s.drive->directions[first + 5], DataDirection::None);
  EXPECT_EQ(s.drive->timeouts[first + 5], 4800u) << "a blank may run as long as its caller waits";
  EXPECT_EQ(s.drive->timeouts[first], 120u);

  SetSPTICloseAfterCommand(true);
  EXPECT_EQ(s.drive->open, 0);
  EXPECT_TRUE(s.device.PreventAllowRemoval(false));
  EXPECT_EQ(s.drive->commands.back(), (std::vector<uint8_t>{0x1E, 0, 0, 0, 1, 0}));
  EXPECT_FALSE(SPTICloseAfterCommand());
  s.device.TestUnitReady(5000);
  EXPECT_EQ(s.drive->open, 1) << "handles stay open after the lock";
  EXPECT_TRUE(s.device.StartStopUnit(true));
  EXPECT_EQ(s.drive->commands.back(), (std::vector<uint8_t>{0x1B, 0, 0, 0, 2, 0}));
  EXPECT_EQ(s.drive->open, 0) << "the tray command releases the handle";
  EXPECT_FALSE(SPTICloseAfterCommand());
  s.device.StartStopUnit(false);
  EXPECT_EQ(s.drive->commands.back()[4], 3);
  s.device.PreventAllowRemoval(true);
  EXPECT_EQ(s.drive->commands.back()[4], 0);
  EXPECT_EQ(s.drive->open, 0);
}

}  // namespace
}  // namespace brennix
