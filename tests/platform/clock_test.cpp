#include <gtest/gtest.h>

#include <atomic>

#include "platform/clock.h"
#include "platform/main_thread.h"
#include "platform/thread.h"

namespace brennix {
namespace {

TEST(TestClock, SleepAdvancesVirtualTimeAtOnce) {
  ScopedTestClock scoped;
  const uint64_t start = TickCount();
  SleepMs(30000);
  EXPECT_EQ(TickCount() - start, 30000u);
}

TEST(TestClock, RestoresTheSystemClock) {
  { ScopedTestClock scoped; }
  EXPECT_NE(dynamic_cast<SystemClock*>(&CurrentClock()), nullptr);
}

class CountingThread : public TThread {
 public:
  std::atomic<int> runs{0};

 protected:
  void Execute() override { runs.fetch_add(1); }
};

TEST(TThread, StartsSuspendedAndRunsOnceResumed) {
  CountingThread t;
  EXPECT_FALSE(t.Started());
  t.Resume();
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(t.runs.load(), 1);
  EXPECT_TRUE(t.Finished());
}

TEST(MainThread, TasksPostedFromAWorkerRunWhenPumped) {
  int delivered = 0;
  CountingThread t;
  t.OnTerminate = [&delivered] { PostToMainThread([&delivered] { ++delivered; }); };
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(delivered, 0);
  EXPECT_TRUE(PumpMainThreadUntil([&] { return delivered == 1; }, 1000));
}

}  // namespace
}  // namespace brennix
