// Date-times as the image tree keeps them: a double of days since 1899-12-30 00:00 local
// time, the time of day as the fraction. Also the packed DOS date-time of directory listings
// and the time zone's standard offset.
#pragma once

#include <cstdint>
#include <ctime>

namespace brennix {

struct DateTimeFields {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar (month 1 to 12).
int64_t DaysFromCivil(int64_t year, int month, int day);

// Fields outside the calendar give false and leave `out` alone.
bool EncodeDateTime(const DateTimeFields& fields, double& out);
// The time of day is rounded to the nearest millisecond; days before 1899-12-30 keep their
// time of day positive. Values too large to be a date give false.
bool DecodeDateTime(double value, DateTimeFields& out);

// Packed DOS date-time (date in the high 16 bits, 2-second resolution), local time.
uint32_t DosDateTimeFromUnix(time_t seconds);  // 0 when the time has no DOS form
bool DosDateTimeToDateTime(uint32_t dos, double& out);

// The current local time.
double NowDateTime();
double UnixToDateTime(time_t seconds);

// Minutes to add to local standard time to get UTC (west of GMT positive), without
// daylight saving.
int32_t TimeZoneBaseBiasMinutes();

}  // namespace brennix
