#include "device/erase_plan.h"

#include <gtest/gtest.h>

#include "device/disc_types.h"

namespace brennix {
namespace {

TEST(ErasePlan, EstimatesByMediumAndBlankType) {
  EXPECT_EQ(EraseEstimate(kDiscCdRw, kBlankQuick), 150);
  EXPECT_EQ(EraseEstimate(kDiscCdRw, kBlankFull), 4500);
  EXPECT_EQ(EraseEstimate(kDiscCdR, 4), 4500);
  EXPECT_EQ(EraseEstimate(kDiscDvdRwRestricted, kBlankQuick), 600);
  EXPECT_EQ(EraseEstimate(kDiscDvdRw, kBlankQuick), 180);
  EXPECT_EQ(EraseEstimate(kDiscDvdPlusRw, kBlankFull), 4440);
  EXPECT_EQ(EraseEstimate(kDiscDvdRam, 2), 8880);
}

TEST(ErasePlan, ProgressNeverFallsBackAndStopsShortOf100) {
  EXPECT_EQ(EraseProgressStep(0, 150, 0), 0);
  EXPECT_EQ(EraseProgressStep(75, 150, 0), 50);
  EXPECT_EQ(EraseProgressStep(10, 150, 50), 50);     // a smaller value does not move it back
  EXPECT_EQ(EraseProgressStep(149.9, 150, 0), 99);   // rounds to 100: not yet
  EXPECT_EQ(EraseProgressStep(155, 150, 0), 99);     // loops overshoot the estimate
  EXPECT_EQ(EraseProgressStep(100000, 150, 0), 99);  // an unbounded wait cannot pass 99
  EXPECT_EQ(EraseProgressStep(5, 0, 0), 0);          // no estimate, no division by zero
}

TEST(ErasePlan, DriveProgressOnlyFromValidNotReadySense) {
  // NOT READY, operation in progress, with a valid progress field: half way.
  uint8_t sense[24] = {0x70, 0, 0x02, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0x04, 0x07, 0, 0x80, 0x80};
  EXPECT_EQ(DriveReportedProgress(sense, sizeof sense), 50);
  EXPECT_EQ(DriveReportedProgress(sense, 17), -1);
  sense[15] = 0x00;
  EXPECT_EQ(DriveReportedProgress(sense, sizeof sense), -1);
  sense[15] = 0x80;
  sense[2] = 0x05;
  EXPECT_EQ(DriveReportedProgress(sense, sizeof sense), -1);
  sense[2] = 0x02;
  sense[7] = 6;
  EXPECT_EQ(DriveReportedProgress(sense, sizeof sense), -1);
  EXPECT_EQ(DriveReportedProgress(nullptr, 32), -1);
}

TEST(ErasePlan, SpeedText) {
  EXPECT_EQ(EraseSpeedText(kDiscDvdPlusRw, 5540), "4.0X (5,540 KB/s)");
  EXPECT_EQ(EraseSpeedText(kDiscDvdRam, 1385), "1.0X (1,385 KB/s)");
  EXPECT_EQ(EraseSpeedText(kDiscCdRw, 7056), "40X (7,056 KB/s)");
  EXPECT_EQ(EraseSpeedText(kDiscDvdPlusR, 11080), "63X (11,080 KB/s)");  // outside 6..10
  EXPECT_EQ(EraseSpeedText(kDiscCdRw, 0), "0X (0 KB/s)");
}

}  // namespace
}  // namespace brennix
