// An independent UTC calendar for the tests: the platform's own conversion
// (the C library natively, the Windows API under mingw). The build picks the
// file, so the library's arithmetic never checks itself.
#pragma once
#include <cstdint>

struct UtcFields {
  int year;
  int month;    // 1 = January
  int day;      // 1-based
  int weekday;  // 0 = Sunday
  int hour, minute, second;
};

UtcFields utc_fields(uint32_t utc_time);
uint32_t utc_seconds(int year, int month, int day, int hour, int minute, int second);
