// Disc information and the recording start address on virtual media laid out as real discs
// are: capacities, used space, sessions and where the next session begins.
#include <gtest/gtest.h>

#include <cstring>

#include "device/disc_types.h"
#include "disc_vr_fixture.h"
#include "platform/clock.h"

namespace brennix {
namespace {

using test::VirtualDisc;

class DiscOnMedia : public ::testing::Test {
 protected:
  ScopedTestClock clock;
};

TEST_F(DiscOnMedia, BlankMediaReportTheirTypeAndCapacity) {
  struct Case {
    const char* profile;
    int16_t type;
    uint32_t low, high;  // capacity range in sectors
  };
  const Case cases[] = {
      {"cd-r", kDiscCdR, 355000, 360000},          // 80-minute disc, 700 MB
      {"cd-rw", kDiscCdRw, 355000, 360000},
      {"dvd-r", kDiscDvdR, 2295104, 2295104},
      {"dvd+r", kDiscDvdPlusR, 2295104, 2295104},
      {"dvd+r-dl", kDiscDvdPlusRDl, 4173000, 4174000},
      {"dvd-ram", kDiscDvdRam, 2236704, 2295104},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile);
    VirtualDisc disc(c.profile);
    ASSERT_TRUE(disc.Ok());
    TSCSIDevice& d = disc.device;
    EXPECT_EQ(d.GetDiscType(), c.type);
    EXPECT_STRNE(DiscTypeName(c.type), "UNKNOWN");
    const uint32_t capacity = d.DiscCapacity();
    EXPECT_GE(capacity, c.low);
    EXPECT_LE(capacity, c.high);
    EXPECT_EQ(d.UsedSectors(), 0u);
    if (c.type != kDiscDvdRam) {  // a DVD-RAM always reports one complete session
      EXPECT_EQ(d.DiscStatus(), 0);
      EXPECT_EQ(d.SessionCount(), 0);
    }
  }
}

TEST_F(DiscOnMedia, SeventyFourMinuteCd) {
  RecorderOptions o = VirtualDisc::SimulatedOptions();
  o.cdSize = CdSize::Minutes74;
  VirtualDisc disc("cd-r", o);
  ASSERT_TRUE(disc.Ok());
  const uint32_t capacity = disc.device.DiscCapacity();
  EXPECT_GE(capacity, 330000u);
  EXPECT_LE(capacity, 333000u);
}

TEST_F(DiscOnMedia, NoDisc) {
  VirtualDisc disc("none");
  ASSERT_TRUE(disc.Ok());
  EXPECT_EQ(disc.device.GetDiscType(), kDiscUnknown);
  EXPECT_EQ(disc.device.DiscStatus(), -1);
  EXPECT_EQ(disc.device.SessionCount(), 0);
  EXPECT_EQ(disc.device.DiscCapacity(), 0u);
  EXPECT_FALSE(disc.device.WaitReady(10000, 500));
}

TEST_F(DiscOnMedia, CdRSecondSessionStartsAfterLeadOutLeadInAndPregap) {
  VirtualDisc disc("cd-r");
  ASSERT_TRUE(disc.Ok());
  TSCSIDevice& d = disc.device;
  uint32_t start = 99;
  ASSERT_TRUE(d.GetNextWritableAddress(start));
  EXPECT_EQ(start, 0u);
  ASSERT_EQ(disc.WriteTrack(5000, 3), 0);
  EXPECT_EQ(d.DiscStatus(), 1);
  EXPECT_EQ(d.SessionCount(), 1);
  ASSERT_TRUE(d.GetNextWritableAddress(start));
  EXPECT_EQ(start, 5000u + 11400u);
  EXPECT_EQ(d.UsedSectors(), 5000u + 11400u);

  // A second session: the next one starts 6,900 sectors after its end.
  ASSERT_EQ(disc.WriteTrack(1000, 4), 16400);
  EXPECT_EQ(d.SessionCount(), 2);
  ASSERT_TRUE(d.GetNextWritableAddress(start));
  EXPECT_EQ(start, 16400u + 1000u + 6900u);
  EXPECT_TRUE(disc.ReadsBack(0, 5000, 3));
  EXPECT_TRUE(disc.ReadsBack(16400, 1000, 4));
}

TEST_F(DiscOnMedia, DvdSessionsFollowEachOther) {
  // A sequential DVD-RW that holds sessions reports them as a DVD+R does.
  for (const char* profile : {"dvd+r", "dvd-rw-seq"}) {
    SCOPED_TRACE(profile);
    VirtualDisc disc(profile);
    ASSERT_TRUE(disc.Ok());
    TSCSIDevice& d = disc.device;
    ASSERT_EQ(disc.WriteTrack(3000, 5), 0);
    EXPECT_EQ(d.SessionCount(), 1);
    uint32_t start = 0;
    ASSERT_TRUE(d.GetNextWritableAddress(start));
    EXPECT_GT(start, 3000u);  // after the lead-out of the first session
    EXPECT_EQ(d.UsedSectors(), start);
    EXPECT_TRUE(disc.ReadsBack(0, 3000, 5));
  }
}

TEST_F(DiscOnMedia, DvdPlusRwStartsAfterItsVolume) {
  VirtualDisc disc("dvd+rw");
  ASSERT_TRUE(disc.Ok());
  TSCSIDevice& d = disc.device;
  ASSERT_EQ(disc.Erase(1), std::optional<bool>(false));  // formats it
  uint32_t start = 99;
  ASSERT_TRUE(d.GetNextWritableAddress(start));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(d.UsedSectors(), 0u);

  // A volume of 5000 sectors: its primary descriptor at 16.
  std::vector<uint8_t> sector(2048, 0);
  sector[0] = 1;
  std::memcpy(&sector[1], "CD001", 5);
  sector[6] = 1;
  sector[80] = 0x88;
  sector[81] = 0x13;
  ASSERT_TRUE(d.WriteSectors(16, 1, 2048, sector.data())) << d.LastErrorText;
  ASSERT_TRUE(d.SynchronizeCache(30000, false));
  ASSERT_TRUE(d.GetNextWritableAddress(start));
  EXPECT_EQ(start, 5000u);
  EXPECT_EQ(d.UsedSectors(), 5000u);
  EXPECT_EQ(d.DiscCapacity(), 2295104u);
}

}  // namespace
}  // namespace brennix
