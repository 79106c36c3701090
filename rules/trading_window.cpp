#include "rules/trading_window.h"

#include <cstdint>

namespace kestrune {
namespace {

// The calendar is worked out for a year that begins on 1 March, as in Howard
// Hinnant's civil_from_days: the leap day is then the year's last day, so
// every date from March to the next February has the same day number in
// every year. The blackout days become fixed day numbers, and neither month
// nor day of month has to be computed.
constexpr uint32_t march_day(MonthDay d) {
  const uint32_t mp = d.month > 2 ? d.month - 3 : d.month + 9;  // [0, 11]
  return (153 * mp + 2) / 5 + d.day - 1;                        // [0, 365]
}

constexpr uint32_t FIRST_BLACKOUT = [] {
  uint32_t first = 365;
  for (MonthDay d : BLACKOUT_DAYS) first = march_day(d) < first ? march_day(d) : first;
  return first;
}();

// One bit per blackout day, counted from the first of them.
constexpr uint64_t BLACKOUT_MASK = [] {
  uint64_t mask = 0;
  for (MonthDay d : BLACKOUT_DAYS) mask |= uint64_t{1} << (march_day(d) - FIRST_BLACKOUT);
  return mask;
}();

constexpr uint32_t BLACKOUT_SPAN = [] {
  uint32_t last = 0;
  for (MonthDay d : BLACKOUT_DAYS) last = march_day(d) > last ? march_day(d) : last;
  return last - FIRST_BLACKOUT;
}();

static_assert(FIRST_BLACKOUT == 230 && BLACKOUT_SPAN == 37 && BLACKOUT_SPAN < 64);
static_assert(BLACKOUT_MASK == (1ull << 0 | 1ull << 10 | 1ull << 15 | 1ull << 37));

constexpr uint32_t SECONDS_PER_DAY = 86400;
constexpr uint32_t DAYS_PER_4_YEARS = 4 * 365 + 1;
constexpr uint32_t CYCLE_SCALE = 2939745;  // ceil(2^32 / 1461)
static_assert(uint64_t{CYCLE_SCALE} * DAYS_PER_4_YEARS - (uint64_t{1} << 32) == 149);

// Between 1970 and 2106 the only Gregorian century rule that applies is that
// 2100 is no leap year, so the days are counted as in the Julian calendar
// from 1 March 1968 (the start of a four-year cycle whose last year is leap),
// with one day skipped for the missing 29 February 2100.
constexpr uint32_t DAYS_1968_03_01_TO_1970_01_01 = 671;
constexpr uint32_t DAYS_1970_01_01_TO_2100_03_01 = 47541;
constexpr uint32_t THURSDAY = 4;  // weekday of 1970-01-01, 0 = Sunday

}  // namespace
}  // namespace kestrune

using namespace kestrune;

// The argument, widened without sign, is a time between 1970 and 2106 whose
// day count fits in 32 bits. The arithmetic stays in 32-bit unsigned
// integers, with one 32 x 32 -> 64-bit product (a single mul on i686);
// nothing is divided in 64 bits, which on i686 would be a library call.
// No branches and no tables: every input costs the same.
extern "C" int32_t KESTRUNE_CALL trade_time(uint32_t utc_time) {
  const uint32_t days = utc_time / SECONDS_PER_DAY;             // [0, 49710]
  const uint32_t second_of_day = utc_time - days * SECONDS_PER_DAY;  // [0, 86399]

  const uint32_t sunday = (days + THURSDAY) % 7 == 0;           // [0, 1]
  const uint32_t open = WEEKDAY_WINDOW_OPEN +
                        sunday * (SUNDAY_WINDOW_OPEN - WEEKDAY_WINDOW_OPEN);
  const uint32_t length = WEEKDAY_WINDOW_LENGTH +
                          sunday * (SUNDAY_WINDOW_LENGTH - WEEKDAY_WINDOW_LENGTH);
  // Wraps to a large value before the window opens.
  const uint32_t in_window = second_of_day - open < length;    // [0, 1]

  // 2100 is skipped as a leap year from 1 March 2100 on: adding the distance
  // to 2^16 carries into bit 16 exactly then, since days < 2^16.
  const uint32_t after_2100_02 =
      (days + (0x10000 - DAYS_1970_01_01_TO_2100_03_01)) >> 16;  // [0, 1]
  const uint32_t julian_day =
      days + DAYS_1968_03_01_TO_1970_01_01 + after_2100_02;      // [671, 50382]
  // Day of the March-based year, after Neri and Schneider: 4 * day + 3 puts
  // the start of the i-th year of a four-year cycle at ceil((1461 i - 3) / 4),
  // giving years of 365, 365, 365 and 366 days, the leap year last, as from
  // 1 March 1968. Multiplied by ceil(2^32 / 1461), the low 32 bits hold the
  // elapsed part of the cycle: (4 * day + 3) mod 1461 in units of 2^32 / 1461,
  // plus an error of at most 149 per elapsed cycle (< 21000 here), far below
  // one unit. Scaled by 1461 / 4, its top bits are the day of the year.
  const uint32_t cycle_part = (4 * julian_day + 3) * CYCLE_SCALE;  // wraps
  const uint32_t march_day =
      static_cast<uint32_t>((uint64_t{cycle_part} * DAYS_PER_4_YEARS) >> 34);  // [0, 365]
  // Counted from the first blackout day. It wraps to a large value before
  // that day, so one unsigned comparison finds every day outside the mask.
  const uint32_t k = march_day - FIRST_BLACKOUT;
  const uint32_t open_day = static_cast<uint32_t>(~BLACKOUT_MASK >> (k & 63)) |
                            (k > BLACKOUT_SPAN);                 // bit 0

  return static_cast<int32_t>(in_window & open_day);
}
