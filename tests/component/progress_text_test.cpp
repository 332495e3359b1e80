#include "component/progress_text.h"

#include <gtest/gtest.h>

namespace brennix {
namespace {

TEST(ProgressText, QueueSizeUsesTheUnitsOfMBWritten) {
  EXPECT_EQ(QueueSizeText(0), "0 bytes");
  EXPECT_EQ(QueueSizeText(1023), "1023 bytes");
  EXPECT_EQ(QueueSizeText(1024), "1.00 KB");
  EXPECT_EQ(QueueSizeText(1048575), "1024.00 KB");
  EXPECT_EQ(QueueSizeText(1048576), "1.00 MB");
  EXPECT_EQ(QueueSizeText(4832165888.0), "4.50 GB");  // 4,608.29 MB
  EXPECT_EQ(QueueSizeText(-5), "0 bytes");
}

TEST(ProgressText, MBWrittenHasGroupsAndTwoDecimals) {
  EXPECT_EQ(MBWrittenText(0, 300), "MB Written: 0.00/0.59");
  EXPECT_EQ(MBWrittenText(1048576, 512), "MB Written: 1.00/1.00");
  // 4.7 GB disc: thousands separators in both figures.
  EXPECT_EQ(MBWrittenText(int64_t{1500} * 1048576, 2295104), "MB Written: 1,500.00/4,482.62");
}

TEST(ProgressText, PositionFollowsSectorsAndStopsAtNinetyPercent) {
  EXPECT_EQ(ProgressPosition(2048 * 100, 1000), 100);
  EXPECT_EQ(ProgressPosition(2048 * 900, 1000), 900);
  EXPECT_EQ(ProgressPosition(2048 * 901, 1000), 900);
  EXPECT_EQ(ProgressPosition(2048 * 1000, 1000), 900);
  EXPECT_EQ(ProgressPosition(2048 * 300, 301), 270);  // integer part of 270.9
  EXPECT_EQ(ProgressPosition(0, 0), 0);
}

TEST(ProgressText, BufferFillAndSpeed) {
  EXPECT_EQ(BufferFillPercent(0, 0), -1);
  EXPECT_EQ(BufferFillPercent(1000, 250), 75);
  EXPECT_EQ(BufferFillPercent(1000, 5000), 0);  // a drive reporting more free than it has
  EXPECT_EQ(BufferFillPercent(0xFFFFFFFFu, 0), 100);
  EXPECT_EQ(XSpeedText(11, 22160.0 * 1024), "16.0x");
  EXPECT_EQ(XSpeedText(2, 7056.0 * 1024), "40x");
  EXPECT_EQ(XSpeedText(2, -1), "0x");
}

}  // namespace
}  // namespace brennix
