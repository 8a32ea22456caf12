#pragma once
// Date-time values: days since 1899-12-30 as a double, the fraction being the time of day.
#include <cstdint>

#include "core/Types.h"

struct TDateParts {
  int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

TDateTime EncodeDateTime(const TDateParts& p);
TDateParts DecodeDateTime(TDateTime t);
// Seconds since 1970-01-01 (any clock) <-> date-time on the same clock.
TDateTime UnixToDateTime(int64_t seconds, int32_t nanoseconds = 0);
int64_t DateTimeToUnix(TDateTime t);
// Windows FILETIME (100 ns since 1601-01-01) <-> date-time on the same clock.
TDateTime FileTimeToDateTime(uint64_t fileTime);
uint64_t DateTimeToFileTime(TDateTime t);
// Packed DOS date (high 16 bits) and time (low 16 bits); 0 outside 1980-2107.
uint32_t DateTimeToDosDateTime(TDateTime t);
