// Two components working on two recorders at once (the writer on one, the erase on another)
// share the transport but nothing else: each keeps its own results and buffers.
#include <gtest/gtest.h>

#include <thread>

#include "device/scsi_device.h"
#include "transport/fake_drive_backend.h"

namespace brennix {
namespace {

using testing::Address;
using testing::FakeDrive;
using testing::ScopedFakeDrives;

TEST(TwoDevices, CommandsOnTwoDrivesFromTwoThreadsKeepTheirOwnResults) {
  auto ready = std::make_shared<FakeDrive>("FAKE", "READY");
  ready->address = Address(0, 0);
  ready->modePages[0x2A] = testing::CapabilitiesPage(1, 1, 0, 1000, 2000, 2000);
  auto empty = std::make_shared<FakeDrive>("FAKE", "EMPTY");
  empty->address = Address(0, 1);
  empty->onCommand = [](PassThroughRequest& r) {
    if (r.Cdb[0] != 0x00) return false;
    FakeDrive::Check(r, 2, 0x3A, 0x00);
    return true;
  };
  ScopedFakeDrives drives({ready, empty});
  TSCSIDevice first, second;
  ASSERT_EQ(first.Devices.size(), 2u);
  first.SetDevice(first.Devices[0]);
  second.SetDevice(second.Devices[1]);

  int firstFailures = 0, secondSuccesses = 0;
  std::thread a([&] {
    for (int i = 0; i < 200; ++i) {
      if (!first.TestUnitReady(5000) || first.QueryCurrentWriteSpeed() != 2000) ++firstFailures;
    }
  });
  std::thread b([&] {
    for (int i = 0; i < 200; ++i) {
      if (second.TestUnitReady(5000)) ++secondSuccesses;
      if (second.LastErrorText != "NOT READY (MEDIUM NOT PRESENT)") ++secondSuccesses;
    }
  });
  a.join();
  b.join();
  EXPECT_EQ(firstFailures, 0);
  EXPECT_EQ(secondSuccesses, 0);
  EXPECT_EQ(first.LastErrorText, "");
  EXPECT_EQ(ready->open + empty->open, 0);
}

}  // namespace
}  // namespace brennix
