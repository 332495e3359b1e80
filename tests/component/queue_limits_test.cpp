// The tree from the queue stops at its limits, and says which limit and how many the sources
// hold; the command line's limits are those of the format, the dialog keeps its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "component/burn_job.h"
#include "component/image_job.h"
#include "component/queue_tree.h"
#include "support/temp_folder.h"

namespace brennix {
namespace {

namespace fs = std::filesystem;

class QueueLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 3 folders below the source, 4 files: 7 entries.
    for (const char* rel : {"a/1.txt", "a/b/2.txt", "c/3.txt", "4.txt"}) {
      const fs::path p = root_ / rel;
      fs::create_directories(p.parent_path());
      std::ofstream(p) << rel;
    }
  }

  QueueBuild Build(QueueLimits limits) {
    return BuildTreeFromQueue(image_, std::vector<std::string>{root_.string()}, SavePathMode::None,
                              {}, limits);
  }

  brennix::test::TempFolder temp_{"limits"};
  fs::path root_ = temp_.path();
  TIsoImage image_;
};

TEST_F(QueueLimitsTest, WithinTheLimitsEverythingIsTaken) {
  const QueueBuild build = Build(QueueLimits{7, 3});
  EXPECT_EQ(build.Error, "");
  EXPECT_EQ(image_.DirCount(), 3);
  EXPECT_EQ(image_.FileCount(), 7);
}

TEST_F(QueueLimitsTest, PastALimitTheRefusalNamesItAndTheCount) {
  EXPECT_EQ(Build(QueueLimits{100, 2}).Error,
            "too many folders: the sources hold 3, the image holds at most 2");
  EXPECT_EQ(Build(QueueLimits{6, 100}).Error,
            "too many files and folders: the sources hold 7 entries, the image holds at most 6");
}

TEST_F(QueueLimitsTest, TheCommandLineTakesWhatTheFormatHoldsAndTheDialogItsOwn) {
  EXPECT_EQ(kFormatLimits.Folders, 65535);
  EXPECT_GE(kFormatLimits.Entries, 2000000);
  EXPECT_EQ(TImageOptions{}.Limits.Folders, kFormatLimits.Folders);
  EXPECT_EQ(TImageOptions{}.Limits.Entries, kFormatLimits.Entries);
  // The dialog's: 600,000 entries and 20,000 folders with the root.
  EXPECT_EQ(TBurnOptions{}.Limits.Entries, kQueueMaxFiles);
  EXPECT_EQ(TBurnOptions{}.Limits.Folders + 1, kQueueMaxDirs);
  EXPECT_EQ(GroupedCount(65536), "65,536");
  EXPECT_EQ(GroupedCount(2000000), "2,000,000");
  EXPECT_EQ(GroupedCount(999), "999");
}

}  // namespace
}  // namespace brennix
