#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "platform/date_time.h"

namespace brennix {
namespace {

DateTimeFields Fields(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  DateTimeFields f;
  f.Year = y, f.Month = mo, f.Day = d, f.Hour = h, f.Minute = mi, f.Second = s, f.Millisecond = ms;
  return f;
}

TEST(DateTime, DaysCountFromTheBaseDate) {
  double v = -1;
  ASSERT_TRUE(EncodeDateTime(Fields(1899, 12, 30), v));
  EXPECT_EQ(v, 0.0);
  ASSERT_TRUE(EncodeDateTime(Fields(1970, 1, 1, 12), v));
  EXPECT_DOUBLE_EQ(v, 25569.5);
  ASSERT_TRUE(EncodeDateTime(Fields(2000, 2, 29), v));
  EXPECT_EQ(v, 36585.0);
  EXPECT_FALSE(EncodeDateTime(Fields(2001, 2, 29), v));
  EXPECT_FALSE(EncodeDateTime(Fields(2001, 13, 1), v));
  EXPECT_FALSE(EncodeDateTime(Fields(2001, 1, 1, 24), v));
}

TEST(DateTime, RoundTripsToTheMillisecond) {
  for (const DateTimeFields& f : {Fields(2007, 3, 2, 9, 5, 7, 45), Fields(1980, 1, 1),
                                  Fields(2107, 12, 31, 23, 59, 59, 999), Fields(1850, 6, 1, 18, 30)}) {
    double v = 0;
    ASSERT_TRUE(EncodeDateTime(f, v));
    DateTimeFields back;
    ASSERT_TRUE(DecodeDateTime(v, back));
    EXPECT_EQ(back.Year, f.Year);
    EXPECT_EQ(back.Month, f.Month);
    EXPECT_EQ(back.Day, f.Day);
    EXPECT_EQ(back.Hour, f.Hour);
    EXPECT_EQ(back.Minute, f.Minute);
    EXPECT_EQ(back.Second, f.Second);
    EXPECT_EQ(back.Millisecond, f.Millisecond);
  }
  DateTimeFields out;
  EXPECT_FALSE(DecodeDateTime(1e300, out));
  EXPECT_FALSE(DecodeDateTime(std::nan(""), out));
}

TEST(DateTime, DosDateTimes) {
  double v = 0;
  // 2007-03-02 09:05:06 packed.
  const uint32_t dos = (27u << 25) | (3u << 21) | (2u << 16) | (9u << 11) | (5u << 5) | 3u;
  ASSERT_TRUE(DosDateTimeToDateTime(dos, v));
  DateTimeFields f;
  ASSERT_TRUE(DecodeDateTime(v, f));
  EXPECT_EQ(f.Year, 2007);
  EXPECT_EQ(f.Second, 6);
  EXPECT_FALSE(DosDateTimeToDateTime(0, v));  // month 0
  setenv("TZ", "UTC", 1);
  EXPECT_EQ(DosDateTimeFromUnix(0), 0u);  // 1970 has no DOS form
  const uint32_t packed = DosDateTimeFromUnix(1172826307);  // 2007-03-02 09:05:07 UTC
  EXPECT_EQ(packed >> 16, (27u << 9) | (3u << 5) | 2u);
  EXPECT_EQ(packed & 0x1F, 3u);  // two-second units
  unsetenv("TZ");
  tzset();
}

TEST(DateTime, BiasLeavesDaylightSavingOut) {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  EXPECT_EQ(TimeZoneBaseBiasMinutes(), -60);
  setenv("TZ", "EST5EDT", 1);
  EXPECT_EQ(TimeZoneBaseBiasMinutes(), 300);
  unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace brennix
