#include "platform/date_time.h"

#include <cmath>
#include <ctime>

namespace brennix {
namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kUnixEpochDays = 25569;  // 1970-01-01 counted from 1899-12-30

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

double FromTm(const std::tm& tm, int ms) {
  DateTimeFields f;
  f.Year = tm.tm_year + 1900;
  f.Month = tm.tm_mon + 1;
  f.Day = tm.tm_mday;
  f.Hour = tm.tm_hour;
  f.Minute = tm.tm_min;
  f.Second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second stays in its minute
  f.Millisecond = ms;
  double value = 0.0;
  EncodeDateTime(f, value);
  return value;
}

}  // namespace

int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool EncodeDateTime(const DateTimeFields& f, double& out) {
  if (f.Year < 1 || f.Year > 9999 || f.Month < 1 || f.Month > 12 || f.Day < 1 ||
      f.Day > DaysInMonth(f.Year, f.Month) || f.Hour < 0 || f.Hour > 23 || f.Minute < 0 ||
      f.Minute > 59 || f.Second < 0 || f.Second > 59 || f.Millisecond < 0 ||
      f.Millisecond > 999) {
    return false;
  }
  const int64_t days = DaysFromCivil(f.Year, f.Month, f.Day) + kUnixEpochDays;
  const double time =
      static_cast<double>(((f.Hour * 60 + f.Minute) * 60 + f.Second) * 1000 + f.Millisecond) /
      static_cast<double>(kMsPerDay);
  // Before the base date the time of day is kept as a positive fraction of a negative day.
  out = days < 0 ? static_cast<double>(days) - time : static_cast<double>(days) + time;
  return true;
}

bool DecodeDateTime(double value, DateTimeFields& out) {
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return false;
  int64_t days = static_cast<int64_t>(std::trunc(value));
  int64_t ms = std::llround(std::fabs(value - std::trunc(value)) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    days += value < 0 ? -1 : 1;
  }
  int64_t y = 0;
  int m = 0, d = 0;
  CivilFromDays(days - kUnixEpochDays, y, m, d);
  if (y < 1 || y > 9999) return false;
  out.Year = static_cast<int>(y);
  out.Month = m;
  out.Day = d;
  out.Hour = static_cast<int>(ms / 3600000);
  out.Minute = static_cast<int>(ms / 60000 % 60);
  out.Second = static_cast<int>(ms / 1000 % 60);
  out.Millisecond = static_cast<int>(ms % 1000);
  return true;
}

uint32_t DosDateTimeFromUnix(time_t seconds) {
  std::tm tm{};
  if (localtime_r(&seconds, &tm) == nullptr) return 0;
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  const int second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  const uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) |
                        (static_cast<uint32_t>(tm.tm_mon + 1) << 5) |
                        static_cast<uint32_t>(tm.tm_mday);
  const uint32_t time = (static_cast<uint32_t>(tm.tm_hour) << 11) |
                        (static_cast<uint32_t>(tm.tm_min) << 5) |
                        static_cast<uint32_t>(second / 2);
  return date << 16 | time;
}

bool DosDateTimeToDateTime(uint32_t dos, double& out) {
  DateTimeFields f;
  const uint32_t date = dos >> 16, time = dos & 0xFFFF;
  f.Year = static_cast<int>(date >> 9) + 1980;
  f.Month = static_cast<int>(date >> 5 & 0x0F);
  f.Day = static_cast<int>(date & 0x1F);
  f.Hour = static_cast<int>(time >> 11);
  f.Minute = static_cast<int>(time >> 5 & 0x3F);
  f.Second = static_cast<int>(time & 0x1F) * 2;
  return EncodeDateTime(f, out);
}

double NowDateTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  return FromTm(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

double UnixToDateTime(time_t seconds) {
  std::tm tm{};
  if (localtime_r(&seconds, &tm) == nullptr) return NowDateTime();
  return FromTm(tm, 0);
}

int32_t TimeZoneBaseBiasMinutes() {
  tzset();
  // `timezone` is the standard offset in seconds west of UTC: daylight saving left out.
  return static_cast<int32_t>(timezone / 60);
}

}  // namespace brennix
