#include "rules/trading_window.h"

#include <cstdint>

namespace kestrune {
namespace {

constexpr uint32_t SECONDS_PER_DAY = 86400;
constexpr uint32_t DAYS_PER_4_YEARS = 4 * 365 + 1;
constexpr uint32_t THURSDAY = 4;  // weekday of 1970-01-01, 0 = Sunday

// The calendar is worked out for a year that begins on 1 March, as in Howard
// Hinnant's civil_from_days: the leap day is then the year's last day, so
// every date from March to the next February has the same day number in
// every year. The blackout days become fixed day numbers, and neither month
// nor day of month has to be computed.
constexpr uint32_t march_day(MonthDay d) {
  const uint32_t mp = d.month > 2 ? d.month - 3 : d.month + 9;  // [0, 11]
  return (153 * mp + 2) / 5 + d.day - 1;                        // [0, 365]
}
static_assert(march_day({3, 1}) == 0 && march_day({10, 17}) == 230 &&
              march_day({2, 29}) == 365);

// What the answer needs besides the arithmetic, fixed at compile time and
// read-only: the window of each kind of day, and which days of the
// March-based year are blackout days.
struct DayWindow {
  uint32_t open;    // second of the UTC day
  uint32_t length;  // seconds; 0 keeps the day shut
};
struct WindowTable {
  DayWindow by_kind[4];  // [sunday + 2 * blackout]
  uint8_t blackout[366];  // 2 on blackout days, else 0; by march_day
};

constexpr WindowTable WINDOW_TABLE = [] {
  WindowTable t{};
  t.by_kind[0] = {WEEKDAY_WINDOW_OPEN, WEEKDAY_WINDOW_LENGTH};
  t.by_kind[1] = {SUNDAY_WINDOW_OPEN, SUNDAY_WINDOW_LENGTH};
  t.by_kind[2] = t.by_kind[3] = {0, 0};
  for (MonthDay d : BLACKOUT_DAYS) t.blackout[march_day(d)] = 2;
  return t;
}();

// utc_time / 86400 is (utc_time / 2^7) / 675, and the division by 675 of a
// dividend below 2^25 is a multiplication by ceil(2^35 / 675) and a shift:
// the rounding error, 675 * DAY_SCALE - 2^35, stays below 2^(35 - 25). The
// factor fits a sign-extended 32-bit immediate, which the compiler's own
// reciprocal of 86400 does not.
constexpr uint64_t DAY_SCALE = 50903317;
static_assert(SECONDS_PER_DAY == 675 << 7);
static_assert(DAY_SCALE == ((uint64_t{1} << 35) + 674) / 675);
static_assert(675 * DAY_SCALE - (uint64_t{1} << 35) < (uint64_t{1} << 10));

// Multiplied by the inverse of 7 modulo 2^32, exactly the multiples of 7
// land in [0, SEVENS_LIMIT].
constexpr uint32_t INVERSE_OF_7 = 0xB6DB6DB7;
constexpr uint32_t SEVENS_LIMIT = 0xFFFFFFFF / 7;
static_assert(INVERSE_OF_7 * 7u == 1);

// Between 1970 and 2106 the only Gregorian century rule that applies is that
// 2100 is no leap year, so the days are counted as in the Julian calendar
// from 1 March 1968 (the start of a four-year cycle whose last year is leap),
// with one day skipped for the missing 29 February 2100.
constexpr uint32_t DAYS_1968_03_01_TO_1970_01_01 = 671;
constexpr uint32_t DAYS_1970_01_01_TO_2100_03_01 = 47541;

constexpr uint32_t CYCLE_SCALE = 2939745;  // ceil(2^32 / 1461)
static_assert(uint64_t{CYCLE_SCALE} * DAYS_PER_4_YEARS - (uint64_t{1} << 32) == 149);

}  // namespace
}  // namespace kestrune

using namespace kestrune;

// The argument, widened without sign, is a time between 1970 and 2106 whose
// day count fits in 32 bits. The arithmetic stays in 32-bit unsigned
// integers, with 32 x 32 -> 64-bit products (a single mul on i686); nothing
// is divided in 64 bits, which on i686 would be a library call. There are no
// branches, and the table is read-only and small enough to stay in L1, so
// every input costs the same. Nothing is written outside the stack.
extern "C" int32_t KESTRUNE_CALL trade_time(uint32_t utc_time) {
  const uint32_t days = static_cast<uint32_t>(
      (uint64_t{utc_time >> 7} * DAY_SCALE) >> 35);                 // [0, 49710]
  const uint32_t second_of_day = utc_time - days * SECONDS_PER_DAY;  // [0, 86399]

  // Sunday when days + 4 is a multiple of 7. The sign of the 64-bit
  // difference is the comparison with SEVENS_LIMIT, read without a flag.
  const uint32_t sunday = static_cast<uint32_t>(
      (uint64_t{(days + THURSDAY) * INVERSE_OF_7} - (SEVENS_LIMIT + 1)) >> 63);  // [0, 1]

  // 2100 is skipped as a leap year from 1 March 2100 on: adding the distance
  // to 2^16 carries into bit 16 exactly then, since days < 2^16.
  const uint32_t after_2100_02 =
      (days + (0x10000 - DAYS_1970_01_01_TO_2100_03_01)) >> 16;      // [0, 1]
  const uint32_t julian_day =
      days + DAYS_1968_03_01_TO_1970_01_01 + after_2100_02;          // [671, 50382]
  // Day of the March-based year, after Neri and Schneider: 4 * day + 3 puts
  // the start of the i-th year of a four-year cycle at ceil((1461 i - 3) / 4),
  // giving years of 365, 365, 365 and 366 days, the leap year last, as from
  // 1 March 1968. Multiplied by ceil(2^32 / 1461), the low 32 bits hold the
  // elapsed part of the cycle: (4 * day + 3) mod 1461 in units of 2^32 / 1461,
  // plus an error of at most 149 per elapsed cycle (< 21000 here), far below
  // one unit. Scaled by 1461 / 4, its top bits are the day of the year.
  const uint32_t cycle_part = (4 * julian_day + 3) * CYCLE_SCALE;   // wraps
  const uint32_t day_of_year = static_cast<uint32_t>(
      (uint64_t{cycle_part} * DAYS_PER_4_YEARS) >> 34);             // [0, 365]

  const DayWindow& window =
      WINDOW_TABLE.by_kind[sunday + WINDOW_TABLE.blackout[day_of_year]];
  // second_of_day - open < length, unsigned: the difference wraps to a large
  // value before the window opens. The sign of the 64-bit difference is the
  // comparison, read without a flag.
  const uint64_t since_open = second_of_day - window.open;           // [0, 2^32)
  return static_cast<int32_t>((since_open - window.length) >> 63);   // [0, 1]
}
