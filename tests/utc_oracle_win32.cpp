// The Windows calendar: FILETIME (100 ns ticks since 1601) and SYSTEMTIME.
#include <windows.h>

#include "tests/utc_oracle.h"

namespace {
constexpr uint64_t TICKS_PER_SECOND = 10000000;
constexpr uint64_t SECONDS_1601_TO_1970 = 11644473600;
}  // namespace

UtcFields utc_fields(uint32_t utc_time) {
  const uint64_t ticks = (utc_time + SECONDS_1601_TO_1970) * TICKS_PER_SECOND;
  FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME st{};
  FileTimeToSystemTime(&ft, &st);
  return {st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond};
}

uint32_t utc_seconds(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  const uint64_t ticks = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  return static_cast<uint32_t>(ticks / TICKS_PER_SECOND - SECONDS_1601_TO_1970);
}
