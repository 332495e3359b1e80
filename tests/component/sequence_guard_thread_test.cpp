#include "component/sequence_guard.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace brennix {
namespace {

TEST(DriveGuard, OneHolderPerDriveAndFreeAgainWhenReleased) {
  TDriveGuard burning = TDriveGuard::TryAcquire("0:1:0,E: VIRTUAL", "burning");
  ASSERT_TRUE(burning.Held());
  EXPECT_EQ(TDriveGuard::Holder("0:1:0,E: VIRTUAL"), "burning");
  EXPECT_FALSE(TDriveGuard::TryAcquire("0:1:0,E: VIRTUAL", "reading the disc").Held());
  EXPECT_TRUE(TDriveGuard::TryAcquire("0:1:1,F: OTHER", "erasing").Held());
  EXPECT_FALSE(TDriveGuard::TryAcquire("", "nothing").Held());

  TDriveGuard moved = std::move(burning);
  EXPECT_FALSE(burning.Held());  // NOLINT(bugprone-use-after-move): the move empties it
  EXPECT_FALSE(TDriveGuard::TryAcquire("0:1:0,E: VIRTUAL", "again").Held());
  moved.Release();
  EXPECT_EQ(TDriveGuard::Holder("0:1:0,E: VIRTUAL"), "");
  EXPECT_TRUE(TDriveGuard::TryAcquire("0:1:0,E: VIRTUAL", "again").Held());
}

TEST(DriveGuard, ThreadsRacingForOneDriveNeverHoldItTogether) {
  std::atomic<int> holders{0}, most{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        TDriveGuard guard = TDriveGuard::TryAcquire("race", "worker");
        if (!guard.Held()) continue;
        const int now = ++holders;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        --holders;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(most.load(), 1);
}

}  // namespace
}  // namespace brennix
