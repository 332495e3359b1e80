// Erasing real (virtual) media on the test clock: afterwards the disc is blank or holds no
// volume, and a new recording on it reads back.
#include <gtest/gtest.h>

#include "device/disc_types.h"
#include "device/tray_lock.h"
#include "device/erase_plan.h"
#include "disc_vr_fixture.h"
#include "platform/clock.h"

namespace brennix {
namespace {

using test::VirtualDisc;

struct EraseCase {
  const char* profile;
  int16_t type;
  uint8_t blankType;
};

class EraseMedia : public ::testing::TestWithParam<EraseCase> {
 protected:
  ScopedTestClock clock;
};

TEST_P(EraseMedia, LeavesTheDiscEmptyAndWritableAgain) {
  const EraseCase c = GetParam();
  VirtualDisc disc(c.profile);
  ASSERT_TRUE(disc.Ok());
  TSCSIDevice& d = disc.device;
  ASSERT_EQ(d.GetDiscType(), c.type);

  const bool overwritable = c.type == kDiscDvdPlusRw || c.type == kDiscDvdRam ||
                            c.type == kDiscDvdRwRestricted;
  if (c.type == kDiscDvdPlusRw) {
    // A DVD+RW out of the box must be formatted before anything can be written.
    ASSERT_EQ(disc.Erase(kBlankQuick), std::optional<bool>(false));
  }
  // Something to erase: a volume descriptor and data.
  const long long first = disc.WriteTrack(64, 1);
  ASSERT_GE(first, 0) << d.LastErrorText;
  ASSERT_TRUE(disc.ReadsBack(static_cast<uint32_t>(first), 64, 1));
  if (!overwritable) {
    EXPECT_NE(d.DiscStatus(), 0);
  }

  EXPECT_EQ(d.EraseProgress(), 0);
  const auto result = disc.Erase(c.blankType);
  ASSERT_TRUE(result.has_value()) << "no end-of-erase event";
  EXPECT_FALSE(*result);
  EXPECT_FALSE(d.Erasing);
  EXPECT_EQ(d.EraseProgress(), 0);

  if (overwritable) {
    // The old data is gone from the start of the disc.
    // (A blanked DVD-RW has no readable sectors at all until it is written again.)
    std::vector<uint8_t> sector(2048, 0xEE);
    if (d.Read10(static_cast<uint32_t>(first), 1, sector.data(), 2048)) {
      EXPECT_EQ(sector, std::vector<uint8_t>(2048, 0));
    } else {
      EXPECT_EQ(c.type, kDiscDvdRwRestricted) << d.LastErrorText;
    }
    EXPECT_EQ(d.ReadVolumeSize(), 0u);
  } else {
    EXPECT_EQ(d.DiscStatus(), 0);
    EXPECT_EQ(d.SessionCount(), 0);
    uint32_t start = 99;
    EXPECT_TRUE(d.GetNextWritableAddress(start));
    EXPECT_EQ(start, 0u);
  }
  EXPECT_TRUE(d.IsErasable() || c.type == kDiscDvdRam);

  const long long again = disc.WriteTrack(40, 9);
  ASSERT_GE(again, 0) << d.LastErrorText;
  EXPECT_EQ(again, 0);
  EXPECT_TRUE(disc.ReadsBack(static_cast<uint32_t>(again), 40, 9));
}

INSTANTIATE_TEST_SUITE_P(
    QuickAndFull, EraseMedia,
    ::testing::Values(EraseCase{"cd-rw", kDiscCdRw, kBlankQuick},
                      EraseCase{"cd-rw", kDiscCdRw, kBlankFull},
                      EraseCase{"dvd-rw-ro", kDiscDvdRwRestricted, kBlankQuick},
                      EraseCase{"dvd-rw-ro", kDiscDvdRwRestricted, kBlankFull},
                      EraseCase{"dvd-rw-seq", kDiscDvdRwSequential, kBlankQuick},
                      EraseCase{"dvd-rw-seq", kDiscDvdRwSequential, kBlankFull},
                      EraseCase{"dvd+rw", kDiscDvdPlusRw, kBlankQuick},
                      EraseCase{"dvd+rw", kDiscDvdPlusRw, kBlankFull},
                      EraseCase{"dvd-ram", kDiscDvdRam, kBlankQuick},
                      EraseCase{"dvd-ram", kDiscDvdRam, kBlankFull}),
    [](const auto& param) {
      std::string name = std::string(param.param.profile) +
                         (param.param.blankType == kBlankQuick ? "_quick" : "_full");
      for (char& ch : name)
        if (ch == '-' || ch == '+') ch = ch == '+' ? 'P' : '_';
      return name;
    });

TEST(EraseRefusals, CdRIsNotBlankedAndReportsTheRefusal) {
  ScopedTestClock clock;
  VirtualDisc disc("cd-r");
  ASSERT_TRUE(disc.Ok());
  EXPECT_FALSE(disc.device.IsErasable());
  bool raised = false, withError = false;
  disc.device.OnEraseDone = [&](TSCSIDevice*, bool e) {
    raised = true;
    withError = e;
  };
  EXPECT_FALSE(disc.device.StartErase(kBlankQuick));
  EXPECT_TRUE(raised);
  EXPECT_TRUE(withError);
  EXPECT_FALSE(disc.device.Erasing);
}

TEST(EraseRefusals, AHeldRecorderIsNamedAndLeftAlone) {
  ScopedTestClock clock;
  VirtualDisc disc("cd-rw");
  ASSERT_TRUE(disc.Ok());
  ASSERT_GE(disc.WriteTrack(16, 3), 0);
  {
    TDriveHold burning(disc.device);  // a recording of another window holds the drive
    ASSERT_TRUE(burning.Held());
    EXPECT_TRUE(disc.Recorder().RemovalPrevented());
    EXPECT_EQ(disc.Erase(kBlankQuick), std::optional<bool>(true));
    EXPECT_EQ(disc.device.LastErrorText.rfind("THE RECORDER IS IN USE BY ", 0), 0u)
        << disc.device.LastErrorText;
    EXPECT_TRUE(disc.ReadsBack(0, 16, 3));
  }
  EXPECT_FALSE(disc.Recorder().RemovalPrevented());
  EXPECT_EQ(disc.Erase(kBlankQuick), std::optional<bool>(false));
  // The erase let go of the drive and of its tray.
  EXPECT_FALSE(disc.Recorder().RemovalPrevented());
  EXPECT_TRUE(TDriveHold(disc.device).Held());
}

}  // namespace
}  // namespace brennix
