#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <random>
#include <string>
#include <iterator>
#include <ostream>

#include "rules/trading_window.h"
#include "tests/utc_oracle.h"

namespace {

enum Weekday { SUN, MON, TUE, WED, THU, FRI, SAT };

// The rules as stated, applied to the oracle's calendar fields.
int32_t by_the_rules(const UtcFields& f) {
  const bool window = f.weekday == SUN ? f.hour == 22 && f.minute >= 30
                                       : f.hour == 22 && f.minute < 25;
  const bool blackout = (f.month == 10 && (f.day == 17 || f.day == 27)) ||
                        (f.month == 11 && (f.day == 1 || f.day == 23));
  return window && !blackout;
}

struct WindowCase {
  const char* what;
  uint32_t utc_time;
  int weekday;  // as the case states it, checked against the oracle
  int32_t answer;
};

uint32_t at(int y, int mo, int d, int h, int mi, int s) {
  return utc_seconds(y, mo, d, h, mi, s);
}

const WindowCase CASES[] = {
    // Monday to Saturday: 22:00:00 to 22:24:59; seconds are not looked at.
    {"Monday 21:59:59", at(2024, 1, 8, 21, 59, 59), MON, 0},
    {"Monday 22:00:00", at(2024, 1, 8, 22, 0, 0), MON, 1},
    {"Monday 22:24:00", at(2024, 1, 8, 22, 24, 0), MON, 1},
    {"Monday 22:24:59", at(2024, 1, 8, 22, 24, 59), MON, 1},
    {"Monday 22:25:00", at(2024, 1, 8, 22, 25, 0), MON, 0},
    {"Monday 23:00:00", at(2024, 1, 8, 23, 0, 0), MON, 0},
    {"Saturday 22:10:00", at(2024, 1, 6, 22, 10, 0), SAT, 1},
    // Sunday: 22:30:00 to 22:59:59 instead.
    {"Sunday 22:10:00", at(2024, 1, 7, 22, 10, 0), SUN, 0},
    {"Sunday 22:29:59", at(2024, 1, 7, 22, 29, 59), SUN, 0},
    {"Sunday 22:30:00", at(2024, 1, 7, 22, 30, 0), SUN, 1},
    {"Sunday 22:59:59", at(2024, 1, 7, 22, 59, 59), SUN, 1},
    {"Sunday 23:00:00", at(2024, 1, 7, 23, 0, 0), SUN, 0},
    // Blackout days close the window on any weekday...
    {"Tuesday 2023-10-17", at(2023, 10, 17, 22, 10, 0), TUE, 0},
    {"Friday 2023-10-27", at(2023, 10, 27, 22, 10, 0), FRI, 0},
    {"Monday 2022-10-17", at(2022, 10, 17, 22, 10, 0), MON, 0},
    {"Wednesday 2023-11-01", at(2023, 11, 1, 22, 10, 0), WED, 0},
    {"Thursday 2023-11-23", at(2023, 11, 23, 22, 10, 0), THU, 0},
    {"Monday 2023-10-16 is open", at(2023, 10, 16, 22, 10, 0), MON, 1},
    {"Wednesday 2023-10-18 is open", at(2023, 10, 18, 22, 10, 0), WED, 1},
    {"Thursday 2023-10-26 is open", at(2023, 10, 26, 22, 10, 0), THU, 1},
    {"Tuesday 2023-10-31 is open", at(2023, 10, 31, 22, 10, 0), TUE, 1},
    {"Wednesday 2023-11-22 is open", at(2023, 11, 22, 22, 10, 0), WED, 1},
    {"Friday 2023-11-24 is open", at(2023, 11, 24, 22, 10, 0), FRI, 1},
    // ...Sundays included.
    {"Sunday 2021-10-17", at(2021, 10, 17, 22, 45, 0), SUN, 0},
    {"Sunday 2019-10-27", at(2019, 10, 27, 22, 45, 0), SUN, 0},
    {"Sunday 2020-11-01", at(2020, 11, 1, 22, 45, 0), SUN, 0},
    {"Sunday 2025-11-23", at(2025, 11, 23, 22, 45, 0), SUN, 0},
    {"Sunday 2020-10-18 is open", at(2020, 10, 18, 22, 45, 0), SUN, 1},
    // Blackout days in leap years and after 2100, which is no leap year.
    {"Thursday 2024-10-17", at(2024, 10, 17, 22, 10, 0), THU, 0},
    {"Friday 2000-10-27", at(2000, 10, 27, 22, 10, 0), FRI, 0},
    {"Saturday 2100-10-16 is open", at(2100, 10, 16, 22, 10, 0), SAT, 1},
    {"Sunday 2100-10-17", at(2100, 10, 17, 22, 45, 0), SUN, 0},
    {"Monday 2100-11-01", at(2100, 11, 1, 22, 10, 0), MON, 0},
    {"Sunday 2105-11-22 is open", at(2105, 11, 22, 22, 45, 0), SUN, 1},
    {"Monday 2105-11-23", at(2105, 11, 23, 22, 10, 0), MON, 0},
    // The ends of the range; 2^31 and above are after 2038, never negative.
    {"zero, Thursday 1970-01-01 00:00:00", 0, THU, 0},
    {"Thursday 1970-01-01 22:10:00", at(1970, 1, 1, 22, 10, 0), THU, 1},
    {"2 to the 31, Tuesday 2038-01-19 03:14:08", 2147483648u, TUE, 0},
    {"Tuesday 2038-01-19 22:10:00", at(2038, 1, 19, 22, 10, 0), TUE, 1},
    {"Tuesday 2040-01-03", at(2040, 1, 3, 22, 10, 0), TUE, 1},
    {"Saturday 2106-02-06", at(2106, 2, 6, 22, 10, 0), SAT, 1},
    {"2 to the 32 minus 1, Sunday 2106-02-07 06:28:15", 4294967295u, SUN, 0},
    // Leap years.
    {"Thursday 2024-02-29", at(2024, 2, 29, 22, 10, 0), THU, 1},
    {"Sunday 2100-02-28", at(2100, 2, 28, 22, 10, 0), SUN, 0},
    {"Monday 2100-03-01", at(2100, 3, 1, 22, 10, 0), MON, 1},
};

void PrintTo(const WindowCase& c, std::ostream* os) {
  *os << c.what << " (" << c.utc_time << ')';
}

class TradingWindow : public testing::TestWithParam<WindowCase> {};

TEST_P(TradingWindow, AnswersAsTheRulesSay) {
  const WindowCase& c = GetParam();
  ASSERT_EQ(utc_fields(c.utc_time).weekday, c.weekday) << "the case's weekday is wrong";
  EXPECT_EQ(trade_time(c.utc_time), c.answer);
}

INSTANTIATE_TEST_SUITE_P(Table, TradingWindow, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<WindowCase>& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

// Every day from 1970-01-01 to 2106-02-07, at each edge of both windows, at
// the ends of the day and at two random seconds, against the oracle.
TEST(TradingWindowSweep, EveryDayAtTheWindowEdges) {
  constexpr uint32_t EDGES[] = {
      0,                      // 00:00:00
      21 * 3600 + 59 * 60 + 59, 22 * 3600,  // weekday opening
      22 * 3600 + 24 * 60 + 59, 22 * 3600 + 25 * 60,  // weekday closing
      22 * 3600 + 29 * 60 + 59, 22 * 3600 + 30 * 60,  // Sunday opening
      22 * 3600 + 59 * 60 + 59, 23 * 3600,  // Sunday closing
      86399,                  // 23:59:59
  };
  std::mt19937 rng(1970);
  std::uniform_int_distribution<uint32_t> second_of_day(0, 86399);
  std::uniform_int_distribution<uint32_t> window_second(22 * 3600, 23 * 3600 - 1);
  uint32_t open = 0;
  for (uint64_t day = 0; day * 86400 <= UINT32_MAX; ++day) {
    uint32_t offsets[std::size(EDGES) + 2];
    std::copy(std::begin(EDGES), std::end(EDGES), offsets);
    offsets[std::size(EDGES)] = second_of_day(rng);
    offsets[std::size(EDGES) + 1] = window_second(rng);
    for (uint32_t offset : offsets) {
      const uint64_t t = day * 86400 + offset;
      if (t > UINT32_MAX) continue;
      const UtcFields f = utc_fields(static_cast<uint32_t>(t));
      const int32_t want = by_the_rules(f);
      open += want;
      ASSERT_EQ(trade_time(static_cast<uint32_t>(t)), want)
          << t << " = " << f.year << '-' << f.month << '-' << f.day << ' '
          << f.hour << ':' << f.minute << ':' << f.second << " weekday " << f.weekday;
    }
  }
  // Not a vacuous sweep: every day but the blackout days is open at two of
  // the edges above.
  EXPECT_GT(open, 90000u);
}

}  // namespace
