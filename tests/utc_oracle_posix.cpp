// The C library's calendar: gmtime_r and timegm.
#include <time.h>

#include "tests/utc_oracle.h"

UtcFields utc_fields(uint32_t utc_time) {
  const time_t t = static_cast<time_t>(utc_time);
  struct tm tm {};
  gmtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_wday,
          tm.tm_hour, tm.tm_min, tm.tm_sec};
}

uint32_t utc_seconds(int year, int month, int day, int hour, int minute, int second) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<uint32_t>(timegm(&tm));
}
