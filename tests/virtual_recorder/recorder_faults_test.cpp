// Scripted faults: what the device layer's retry and time-out logic is tested against.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "recorder_harness.h"

namespace brennix::testing {
namespace {

class RecorderFaults : public ::testing::Test {
 protected:
  ScopedTestClock clock;
  TempFolder folder;
};

TEST_F(RecorderFaults, BusyForACountOfCommands) {
  RecorderOptions options;
  options.faults.push_back({RecorderFault::Kind::Busy, 0x2A, 2, 0});
  Drive drive(folder.File("disc"), MediaProfile::CdR, options);
  ASSERT_TRUE(drive.ok());
  EXPECT_TRUE(drive.TestUnitReady().Good()) << "another operation code is not affected";
  for (int i = 0; i < 2; ++i) {
    const Answer busy = drive.Write(0, 1);
    EXPECT_TRUE(busy.answered);
    EXPECT_EQ(busy.status, 0x08);
    EXPECT_EQ(busy.transferred, 0u);
  }
  EXPECT_TRUE(drive.Write(0, 1).Good());
  EXPECT_EQ(drive.recorder().Disc().tracks.size(), 1u) << "busy writes record nothing";
}

TEST_F(RecorderFaults, NotReadyForADurationOnTheClock) {
  Drive drive(folder.File("disc"), MediaProfile::CdR);
  ASSERT_TRUE(drive.ok());
  drive.recorder().AddFault({RecorderFault::Kind::NotReady, -1, 0, 30000, 0, 0, 0x01});
  EXPECT_TRUE(drive.TestUnitReady().Sense(0x02, 0x04, 0x01));
  EXPECT_TRUE(drive.DiscInformation().Sense(0x02, 0x04, 0x01));
  EXPECT_TRUE(drive.In({0x12, 0, 0, 0, 36, 0}, 36).Good()) << "INQUIRY still answers";
  const Answer sense = drive.In({0x03, 0, 0, 0, 18, 0}, 18);
  ASSERT_TRUE(sense.Good());
  EXPECT_EQ(sense.data[12], 0x04);
  SleepMs(29000);
  EXPECT_TRUE(drive.TestUnitReady().Sense(0x02, 0x04, 0x01));
  SleepMs(1000);
  EXPECT_TRUE(drive.TestUnitReady().Good());
}

TEST_F(RecorderFaults, GivenSenseForTheNextCommandsOfOneOperationCode) {
  Drive drive(folder.File("disc"), MediaProfile::CdR);
  ASSERT_TRUE(drive.ok());
  // GET CONFIGURATION refused, as on drives older than the feature set.
  drive.recorder().AddFault({RecorderFault::Kind::Sense, 0x46, 3, 0, 0x05, 0x20, 0x00});
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(drive.In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114).Sense(0x05, 0x20, 0x00));
    EXPECT_TRUE(drive.DiscInformation().Good());
  }
  EXPECT_TRUE(drive.In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114).Good());
}

TEST_F(RecorderFaults, NoAnswerWaitsTheTimeOutAndFails) {
  Drive drive(folder.File("disc"), MediaProfile::CdR);
  ASSERT_TRUE(drive.ok());
  drive.recorder().AddFault({RecorderFault::Kind::NoAnswer, 0x00, 1, 0});
  const uint64_t start = TickCount();
  const Answer lost = drive.None({0x00, 0, 0, 0, 0, 0}, 10);
  EXPECT_FALSE(lost.answered);
  EXPECT_EQ(TickCount() - start, 10000u);
  EXPECT_TRUE(drive.TestUnitReady().Good());
}

TEST_F(RecorderFaults, SlowAnswersAsUsualAfterItsDelayOrNotAtAllPastTheTimeOut) {
  Drive drive(folder.File("disc"), MediaProfile::CdR);
  ASSERT_TRUE(drive.ok());
  RecorderFault slow{RecorderFault::Kind::Slow, 0x00, 2, 0};
  slow.delayMs = 4000;
  drive.recorder().AddFault(slow);
  uint64_t start = TickCount();
  EXPECT_TRUE(drive.TestUnitReady().Good());
  EXPECT_EQ(TickCount() - start, 4000u);
  start = TickCount();
  EXPECT_FALSE(drive.None({0x00, 0, 0, 0, 0, 0}, 3).answered);
  EXPECT_EQ(TickCount() - start, 3000u);
  start = TickCount();
  EXPECT_TRUE(drive.TestUnitReady().Good());
  EXPECT_EQ(TickCount() - start, 0u);
}

TEST_F(RecorderFaults, FaultsApplyInOrderAndExpire) {
  Drive drive(folder.File("disc"), MediaProfile::CdR);
  drive.recorder().AddFault({RecorderFault::Kind::Busy, -1, 1, 0});
  drive.recorder().AddFault({RecorderFault::Kind::Sense, -1, 1, 0, 0x03, 0x0C, 0x00});
  EXPECT_EQ(drive.TestUnitReady().status, 0x08);
  EXPECT_TRUE(drive.TestUnitReady().Sense(0x03, 0x0C, 0x00));
  EXPECT_TRUE(drive.TestUnitReady().Good());
  drive.recorder().AddFault({RecorderFault::Kind::Busy, -1, 5, 0});
  drive.recorder().ClearFaults();
  EXPECT_TRUE(drive.TestUnitReady().Good());
}

TEST_F(RecorderFaults, HandlesAreCheckedAndAddressIsConfigurable) {
  RecorderOptions options;
  options.address = ScsiAddress{3, 0, 2, 0};
  Drive drive(folder.File("disc"), MediaProfile::CdR, options);
  VirtualDrive& backend = drive.drive();
  EXPECT_TRUE(backend.IsOpticalDrive());
  const DriveHandle handle = backend.Open();
  ASSERT_NE(handle, kInvalidDriveHandle);
  ScsiAddress address;
  ASSERT_TRUE(backend.QueryAddress(handle, address));
  EXPECT_EQ(address.PortNumber, 3);
  EXPECT_EQ(address.TargetId, 2);
  EXPECT_TRUE(backend.Close(handle));
  EXPECT_FALSE(backend.Close(handle));
  PassThroughRequest request;
  request.CdbLength = 6;
  EXPECT_FALSE(backend.PassThrough(handle, request)) << "a closed handle runs nothing";
  EXPECT_FALSE(backend.QueryAddress(handle, address));
}

}  // namespace
}  // namespace brennix::testing
