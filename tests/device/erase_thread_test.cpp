// The erase start and its thread against a scripted drive, on the test clock: what is
// reported when, and that the progress only ever moves forward and ends at 100.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "device/disc_types.h"
#include "device/erase_plan.h"
#include "device/cdb.h"
#include "device/scsi_device.h"
#include "disc_fake_drive.h"
#include "platform/clock.h"
#include "platform/main_thread.h"

namespace brennix {
namespace {

using test::DiscInfoAnswer;
using test::FakeAnswer;
using test::ProfileAnswer;

class EraseStart : public ::testing::Test {
 protected:
  void SetUp() override {
    DiscType = 0;
    PumpMainThread();
    drive = test::AttachFakeDrive(device);
    ASSERT_FALSE(device.Device().empty());
    device.OnEraseDone = [this](TSCSIDevice* sender, bool withError) {
      EXPECT_EQ(sender, &device);
      events.push_back(withError);
      // A failure always carries its reason for the user.
      EXPECT_EQ(withError, !device.EraseErrorText.empty()) << device.EraseErrorText;
      reasons.push_back(device.EraseErrorText);
    };
  }
  void TearDown() override { test::DetachFakeDrives(); }

  // A rewritable disc whose drive reports not ready for `busyCalls` unit-ready checks after
  // the erase command, with progress in the sense data.
  void Rewritable(uint16_t profile, uint8_t eraseOpcode, int busyCalls) {
    drive->Handlers[0x46] = [profile](const uint8_t*, const uint8_t*, uint32_t) {
      return FakeAnswer::Good(ProfileAnswer(profile));
    };
    drive->Handlers[0x51] = [](const uint8_t*, const uint8_t*, uint32_t) {
      return FakeAnswer::Good(DiscInfoAnswer(2, 3, true, 1));
    };
    remaining = 0;
    drive->Handlers[eraseOpcode] = [this, busyCalls](const uint8_t*, const uint8_t*, uint32_t) {
      remaining = busyCalls;
      return FakeAnswer::Good();
    };
    drive->Handlers[0x00] = [this](const uint8_t*, const uint8_t*, uint32_t) {
      if (remaining > 0) {
        --remaining;
        return FakeAnswer::Check(0x02, 0x04, 0x07);
      }
      return FakeAnswer::Good();
    };
  }

  bool WaitForEvent() {
    return PumpMainThreadUntil([this] { return !events.empty(); }, 24u * 3600 * 1000);
  }
  // Starts an erase of `type` and waits for its one event: whether it ended with an error.
  bool ErasedWithError(uint8_t type) {
    events.clear();
    if (!device.StartErase(type)) ADD_FAILURE() << "the erase did not start";
    EXPECT_TRUE(WaitForEvent());
    EXPECT_EQ(events.size(), 1u);
    return !events.empty() && events[0];
  }

  ScopedTestClock clock;
  TSCSIDevice device;
  std::shared_ptr<test::DiscFakeDrive> drive;
  std::vector<bool> events;
  std::vector<std::string> reasons;
  std::atomic<int> remaining{0};
};

TEST_F(EraseStart, RefusedBlankReportsErrorBeforeReturning) {
  Rewritable(0x000A, 0xA1, 0);
  drive->Handlers[0xA1] = [](const uint8_t*, const uint8_t*, uint32_t) {
    return FakeAnswer::Check(0x05, 0x24, 0x00);
  };
  EXPECT_FALSE(device.StartErase(kBlankQuick));
  ASSERT_EQ(events.size(), 1u);  // raised directly, not queued
  EXPECT_TRUE(events[0]);
  EXPECT_EQ(reasons[0], device.LastErrorText);  // the drive's own words
  EXPECT_FALSE(device.Erasing);
  EXPECT_EQ(device.EraseProgress(), 0);
}

TEST_F(EraseStart, DriveNeverReadyAtTheStartGivesFalseAndNoEvent) {
  Rewritable(0x000A, 0xA1, 0);
  drive->Handlers[0x00] = [](const uint8_t*, const uint8_t*, uint32_t) {
    return FakeAnswer::Check(0x02, 0x04, 0x01);
  };
  drive->Handlers[0x51] = drive->Handlers[0x00];
  drive->Handlers[0x03] = drive->Handlers[0x00];
  const uint64_t start = TickCount();
  EXPECT_FALSE(device.StartErase(kBlankQuick));
  EXPECT_GE(TickCount() - start, 30000u);
  EXPECT_EQ(PumpMainThread(), 0u);
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(device.Erasing);
  EXPECT_EQ(drive->CountOf(0xA1), 0u);
}

TEST_F(EraseStart, QuickCdRwProgressRisesTo100OnlyAtTheEnd) {
  Rewritable(0x000A, 0xA1, 40);
  std::atomic<bool> blankDone{false};
  auto unitReady = drive->Handlers[0x00];
  drive->Handlers[0x00] = [&, unitReady](const uint8_t* cdb, const uint8_t* data, uint32_t n) {
    FakeAnswer a = unitReady(cdb, data, n);
    if (a.status == 0 && drive->CountOf(0xA1) > 0) blankDone = true;
    return a;
  };
  EXPECT_EQ(device.EraseProgress(), 0);
  ASSERT_TRUE(device.StartErase(kBlankQuick));
  EXPECT_TRUE(device.Erasing);
  std::vector<int> seen;
  while (events.empty()) {
    const int p = device.EraseProgress();
    if (p == 100) {
      EXPECT_TRUE(blankDone.load()) << "100 before the drive was ready";
    }
    if (device.Erasing) seen.push_back(p);
    PumpMainThread();
    SleepMs(50);
  }
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0]);
  EXPECT_FALSE(device.Erasing);
  EXPECT_EQ(device.EraseProgress(), 0);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i], seen[i - 1]);
  ASSERT_FALSE(seen.empty());
  EXPECT_GT(seen.back(), 0);
  // The BLANK went out quick and immediate; the drive was restored afterwards.
  for (const auto& c : drive->Commands) {
    if (c[0] == 0xA1) {
      EXPECT_EQ(c[1], 0x11);
    }
  }
  EXPECT_GE(drive->CountOf(0x01), 2u);  // rezero twice in the restore
  EXPECT_GE(drive->CountOf(0x12), 1u);  // the transport was started again: drives re-probed
  // A second erase can follow the first.
  EXPECT_FALSE(ErasedWithError(kBlankFull));
}

TEST_F(EraseStart, AnEventStillQueuedIsDeliveredAfterTheNextEraseStarts) {
  Rewritable(0x000A, 0xA1, 0);
  ASSERT_TRUE(device.StartErase(kBlankQuick));
  while (device.Erasing) SleepMs(10);  // finished, its event not yet pumped
  ASSERT_TRUE(device.StartErase(kBlankQuick));
  ASSERT_TRUE(PumpMainThreadUntil([this] { return events.size() == 2; }, 24u * 3600 * 1000));
  EXPECT_FALSE(events[0]);
  EXPECT_FALSE(events[1]);
}

TEST_F(EraseStart, AFailedBlankOrADriveThatNeverFinishesIsAnError) {
  Rewritable(0x000A, 0xA1, 0);
  std::atomic<int> calls{0};
  auto ready = drive->Handlers[0x00];
  // The blank fails: the drive says so once, as a deferred medium error.
  drive->Handlers[0x00] = [&, ready](const uint8_t* cdb, const uint8_t* data, uint32_t n) {
    if (drive->CountOf(0xA1) > 0 && calls++ == 0) return FakeAnswer::Check(0x03, 0x0C, 0x00);
    return ready(cdb, data, n);
  };
  EXPECT_TRUE(ErasedWithError(kBlankQuick));

  // Not ready for ever: the loops give up at the estimate and the erase ends with an error.
  Rewritable(0x000A, 0xA1, 1 << 30);
  EXPECT_TRUE(ErasedWithError(kBlankQuick));
}

TEST_F(EraseStart, DvdRwDriveThatIsNeverBusyEndsItsFirstLoopAtOnce) {
  Rewritable(0x0013, 0xA1, 0);
  ASSERT_TRUE(device.StartErase(kBlankQuick));
  const uint64_t start = TickCount();
  ASSERT_TRUE(WaitForEvent());
  EXPECT_FALSE(events[0]);
  // One pass, the 5 s pause and one more pass: no 2 s naps for a drive that is ready.
  EXPECT_LT(TickCount() - start, 20000u);

  // A drive that stays busy is given up on once the estimate (600 s) has really passed.
  Rewritable(0x0013, 0xA1, 1 << 30);
  const uint64_t busyStart = TickCount();
  EXPECT_TRUE(ErasedWithError(kBlankQuick));
  EXPECT_GT(TickCount() - busyStart, 600000u);
  EXPECT_LT(TickCount() - busyStart, 700000u);
}

TEST_F(EraseStart, DvdPlusRwFormatsThenZeroFillsAndCloses) {
  Rewritable(0x001A, 0x04, 3);
  std::vector<uint8_t> formatList;
  drive->Handlers[0x04] = [&](const uint8_t* cdb, const uint8_t* data, uint32_t n) {
    EXPECT_EQ(cdb[1], 0x11);
    formatList.assign(data, data + n);
    remaining = 3;
    return FakeAnswer::Good();
  };
  drive->Handlers[0x51] = [this](const uint8_t*, const uint8_t*, uint32_t) {
    if (remaining > 0) {
      --remaining;
      return FakeAnswer::Check(0x02, 0x04, 0x04);
    }
    return FakeAnswer::Good(DiscInfoAnswer(2, 3, true, 1));
  };
  std::atomic<bool> nonZero{false};
  drive->Handlers[0x2A] = [&](const uint8_t*, const uint8_t* data, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
      if (data[i] != 0) nonZero = true;
    return FakeAnswer::Good();
  };
  drive->Handlers[0x35] = [](const uint8_t*, const uint8_t*, uint32_t) { return FakeAnswer::Good(); };
  drive->Handlers[0x5B] = drive->Handlers[0x35];
  device.TransferBuffer.assign(device.TransferBuffer.size(), 0xEE);  // old data in the buffer
  EXPECT_FALSE(ErasedWithError(kBlankQuick));
  const std::vector<uint8_t> expected(kDvdPlusRwFormatList.begin(), kDvdPlusRwFormatList.end());
  EXPECT_EQ(formatList, expected);
  EXPECT_EQ(drive->CountOf(0x2A), 65u);
  EXPECT_FALSE(nonZero.load()) << "old buffer bytes reached the disc";
  bool closed = false;
  for (const auto& c : drive->Commands) {
    if (c[0] == 0x5B) closed = c[1] == 0 && c[2] == 3;
  }
  EXPECT_TRUE(closed);
}

TEST_F(EraseStart, DvdPlusRwFailedZeroFillEndsWithError) {
  Rewritable(0x001A, 0x04, 0);
  drive->Handlers[0x2A] = [](const uint8_t*, const uint8_t*, uint32_t) {
    return FakeAnswer::Check(0x03, 0x0C, 0x00);
  };
  EXPECT_TRUE(ErasedWithError(kBlankQuick));
  EXPECT_NE(reasons[0], "ERASE FAILED");  // the drive's words, not a stand-in
  EXPECT_EQ(drive->CountOf(0x2A), 1u);
}

// The user stops a full erase during its zero fill: the fill ends after the block being
// written, the drive still closes its format, and the erase reports an error.
TEST_F(EraseStart, StoppedZeroFillEndsEarlyClosesAndReportsAnError) {
  Rewritable(0x001A, 0x04, 0);
  std::atomic<int> writes{0};
  std::atomic<bool> stoppableWhileFilling{false};
  drive->Handlers[0x2A] = [&](const uint8_t*, const uint8_t*, uint32_t) {
    if (++writes == 3) {
      stoppableWhileFilling = device.EraseStoppable();
      device.StopErase();
    }
    return FakeAnswer::Good();
  };
  drive->Handlers[0x35] = [](const uint8_t*, const uint8_t*, uint32_t) {
    return FakeAnswer::Good();
  };
  drive->Handlers[0x5B] = drive->Handlers[0x35];
  EXPECT_TRUE(ErasedWithError(kBlankFull));
  EXPECT_TRUE(stoppableWhileFilling.load());
  EXPECT_FALSE(device.EraseStoppable());
  EXPECT_EQ(writes.load(), 3);
  EXPECT_EQ(drive->CountOf(0x5B), 1u);
}

TEST_F(EraseStart, DvdPlusRwThatNeverFinishesFormattingIsGivenUpOn) {
  Rewritable(0x001A, 0x04, 0);
  drive->Handlers[0x51] = [](const uint8_t*, const uint8_t*, uint32_t) {
    return FakeAnswer::Check(0x02, 0x04, 0x04);
  };
  std::atomic<bool> formatted{false};
  drive->Handlers[0x04] = [&](const uint8_t*, const uint8_t*, uint32_t) {
    formatted = true;
    return FakeAnswer::Good();
  };
  // Ready until the format starts, so the start goes through.
  drive->Handlers[0x00] = [&](const uint8_t*, const uint8_t*, uint32_t) {
    return formatted ? FakeAnswer::Check(0x02, 0x04, 0x04) : FakeAnswer::Good();
  };
  drive->Handlers[0x46] = [](const uint8_t*, const uint8_t*, uint32_t) {
    return FakeAnswer::Good(ProfileAnswer(0x001A));
  };
  const uint64_t start = TickCount();
  EXPECT_TRUE(ErasedWithError(kBlankQuick));
  EXPECT_EQ(drive->CountOf(0x2A), 0u);
  EXPECT_GE(TickCount() - start, 3600u * 1000);
}

TEST_F(EraseStart, DestroyingTheDeviceDuringAnEraseStopsTheThreadWithoutAnEvent) {
  auto other = std::make_unique<TSCSIDevice>();
  other->SetDevice(device.Device());
  bool raised = false;
  other->OnEraseDone = [&](TSCSIDevice*, bool) { raised = true; };
  Rewritable(0x000A, 0xA1, 1000000);  // busy far beyond the estimate
  ASSERT_TRUE(other->StartErase(kBlankFull));
  SleepMs(10000);
  other.reset();  // must not hang
  PumpMainThread();
  EXPECT_FALSE(raised);
}

}  // namespace
}  // namespace brennix
