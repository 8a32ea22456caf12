#include "core/DateTime.h"

#include <cmath>

// Days from 1970-01-01 for a proleptic Gregorian date (Howard Hinnant's algorithm).
static int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

static void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

static constexpr int64_t kUnixEpochDays = 25569;  // 1970-01-01 as a date-time

TDateTime EncodeDateTime(const TDateParts& p) {
  int64_t days = DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) + kUnixEpochDays;
  double frac = (p.Hour * 3600000.0 + p.Minute * 60000.0 + p.Second * 1000.0 + p.MilliSecond) / 86400000.0;
  // Before 1899-12-30 the time of day counts away from zero (the sign applies to the day only).
  return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

TDateParts DecodeDateTime(TDateTime t) {
  TDateParts p;
  double whole = std::trunc(t);
  double frac = std::fabs(t - whole);
  int64_t ms = static_cast<int64_t>(std::llround(frac * 86400000.0));
  int64_t days = static_cast<int64_t>(whole);
  if (ms >= 86400000) { ms -= 86400000; days += (t >= 0 ? 1 : -1); }
  CivilFromDays(days - kUnixEpochDays, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.MilliSecond = static_cast<int>(ms % 1000);
  return p;
}

TDateTime UnixToDateTime(int64_t seconds, int32_t nanoseconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t rest = seconds - days * 86400;
  TDateParts p;
  CivilFromDays(days, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(rest / 3600);
  p.Minute = static_cast<int>(rest / 60 % 60);
  p.Second = static_cast<int>(rest % 60);
  p.MilliSecond = nanoseconds / 1000000;
  return EncodeDateTime(p);
}

int64_t DateTimeToUnix(TDateTime t) {
  TDateParts p = DecodeDateTime(t);
  return DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) * 86400 + p.Hour * 3600 +
         p.Minute * 60 + p.Second;
}

static constexpr int64_t kFileTimeUnixOffset = 11644473600LL;  // seconds 1601-01-01 .. 1970-01-01

TDateTime FileTimeToDateTime(uint64_t ft) {
  int64_t secs = static_cast<int64_t>(ft / 10000000ULL) - kFileTimeUnixOffset;
  int32_t ns = static_cast<int32_t>(ft % 10000000ULL) * 100;
  return UnixToDateTime(secs, ns);
}

uint64_t DateTimeToFileTime(TDateTime t) {
  TDateParts p = DecodeDateTime(t);
  int64_t secs = DateTimeToUnix(t);
  return static_cast<uint64_t>(secs + kFileTimeUnixOffset) * 10000000ULL + static_cast<uint64_t>(p.MilliSecond) * 10000ULL;
}

uint32_t DateTimeToDosDateTime(TDateTime t) {
  TDateParts p = DecodeDateTime(t);
  if (p.Year < 1980 || p.Year > 2107) return 0;
  uint32_t date = static_cast<uint32_t>(p.Day + p.Month * 32 + (p.Year - 1980) * 512);
  uint32_t time = static_cast<uint32_t>(p.Second / 2 + p.Minute * 32 + p.Hour * 2048);
  return date << 16 | time;
}
