// A writer thread and a user-interface thread on one drive at the same time: the recorder
// serialises them; the buffer figures stay consistent while the writer fills it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "recorder_harness.h"

namespace brennix::testing {
namespace {

TEST(RecorderThreads, WriterAndPollerShareTheDrive) {
  ScopedTestClock clock;
  TempFolder folder;
  RecorderOptions options;
  options.speed = SpeedModel::Simulated;
  Drive drive(folder.File("disc"), MediaProfile::DvdPlusR, options);
  ASSERT_TRUE(drive.ok());
  std::atomic<bool> writing{true};
  std::atomic<int> failures{0};
  std::thread writer([&] {
    for (uint32_t lba = 0; lba < 64 * 32; lba += 32) {
      if (!drive.Write(lba, 32).Good()) failures.fetch_add(1);
    }
    if (!drive.None({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Good()) failures.fetch_add(1);
    writing.store(false);
  });
  int polls = 0;
  while (writing.load()) {
    const Answer buffer = drive.In({0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12);
    EXPECT_TRUE(buffer.Good());
    EXPECT_LE(Be32(buffer.data, 8), Be32(buffer.data, 4));
    EXPECT_TRUE(drive.DiscInformation().answered);
    ++polls;
  }
  writer.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(polls, 0);
  EXPECT_EQ(drive.recorder().Disc().tracks.at(0).recorded, 64u * 32);
}

}  // namespace
}  // namespace brennix::testing
