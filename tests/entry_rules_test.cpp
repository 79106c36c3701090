#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "rules/entry_rules.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

struct RuleCase {
  const char* what;
  double price_a, price_b;
  int32_t max_spread, gate_a;
  double signal, level;
  int32_t distance;
  double unit;
  int32_t gate_b;
  int32_t buy, sell;
};

// Defaults chosen so that every test passes for the direction named by the
// signal: spread 0 against a limit of 4 units, level bound 1.0 = 2.0 - 4*0.25.
// Each row then changes what it is about.
const RuleCase CASES[] = {
    // what                               pa      pb      ms  ga  signal  level dist unit   gb buy sell
    {"worked buy example",                1.30020, 1.30000, 4, 1, -0.2,  1.3012, 10, 0.0001, 1, 1, 0},
    {"worked sell example",               1.30030, 1.30010, 4, 1,  0.2,  1.3012, 10, 0.0001, 1, 0, 1},
    // Test 1: strictly less, no tolerance, not made absolute.
    {"spread equal to limit, buy",        1.5,  1.0,  2, 1, -0.2, 2.0, 0, 0.25, 1, 0, 0},
    {"spread equal to limit, sell",       1.5,  1.0,  2, 1,  0.2, 1.0, 0, 0.25, 1, 0, 0},
    {"spread one unit under limit, buy",  1.25, 1.0,  2, 1, -0.2, 2.0, 0, 0.25, 1, 1, 0},
    {"spread one unit under limit, sell", 1.25, 1.0,  2, 1,  0.2, 1.0, 0, 0.25, 1, 0, 1},
    {"computed spread just under 4 units",1.3004, 1.3000, 4, 1, 0.2, 1.0, 0, 0.0001, 1, 0, 1},
    {"negative spread, zero limit",       1.0,  1.25, 0, 1,  0.2, 1.0, 0, 0.25, 1, 0, 1},
    {"zero spread, zero limit",           1.0,  1.0,  0, 1,  0.2, 1.0, 0, 0.25, 1, 0, 0},
    {"negative spread, negative limit",   1.0,  1.5, -1, 1, -0.2, 2.0, 0, 0.25, 1, 1, 0},
    {"spread above limit",                2.0,  1.0,  1, 1, -0.2, 2.0, 0, 0.25, 1, 0, 0},
    // Integers are widened before the multiply: no 32-bit overflow.
    {"largest limit times two",           4294967293.0, 0.0, INT32_MAX, 1, -0.2, 0.0, 0, 2.0, 1, 1, 0},
    {"largest limit times two, equal",    4294967294.0, 0.0, INT32_MAX, 1, -0.2, 0.0, 0, 2.0, 1, 0, 0},
    {"zero limit times infinite unit",    0.0,  1.0,  0, 1,  0.2, 0.0, 0, INF, 1, 0, 0},
    // Test 2 and 5: gates.
    {"gate_a zero",                       1.0,  1.0,  4, 0, -0.2, 2.0, 4, 0.25, 1, 0, 0},
    {"gate_b zero",                       1.0,  1.0,  4, 1,  0.2, 2.0, 4, 0.25, 0, 0, 0},
    {"negative gates pass",               1.0,  1.0,  4, -7, -0.2, 2.0, 4, 0.25, INT32_MIN, 1, 0},
    // Test 3: thresholds are inclusive; nothing between them passes.
    {"signal exactly -0.12",              1.0,  1.0,  4, 1, -0.12, 2.0, 4, 0.25, 1, 1, 0},
    {"signal exactly 0.12",               1.0,  1.0,  4, 1,  0.12, 2.0, 4, 0.25, 1, 0, 1},
    {"signal just above -0.12",           1.0,  1.0,  4, 1, std::nextafter(-0.12, 0.0), 2.0, 4, 0.25, 1, 0, 0},
    {"signal just below 0.12",            1.0,  1.0,  4, 1, std::nextafter(0.12, 0.0), 2.0, 4, 0.25, 1, 0, 0},
    {"signal zero",                       1.0,  1.0,  4, 1,  0.0, 2.0, 4, 0.25, 1, 0, 0},
    {"signal -infinity",                  1.0,  1.0,  4, 1, -INF, 2.0, 4, 0.25, 1, 1, 0},
    {"signal +infinity",                  1.0,  1.0,  4, 1,  INF, 2.0, 4, 0.25, 1, 0, 1},
    // Test 4: the bound level - unit*distance, inclusive, minus in both rules.
    {"price_b on the bound",              1.0,  1.0,  4, 1, -0.2, 2.0, 4, 0.25, 1, 1, 0},
    {"price_b just above the bound",      1.0,  std::nextafter(1.0, 2.0), 4, 1, -0.2, 2.0, 4, 0.25, 1, 0, 0},
    {"price_a on the bound",              1.0,  1.0,  4, 1,  0.2, 2.0, 4, 0.25, 1, 0, 1},
    {"price_a just below the bound",      std::nextafter(1.0, 0.0), 1.0, 4, 1, 0.2, 2.0, 4, 0.25, 1, 0, 0},
    {"sell bound is a minus, not a plus", 2.5,  2.5,  4, 1,  0.2, 2.0, -4, 0.25, 1, 0, 0},
    {"negative distance raises the bound",2.5,  2.5,  4, 1, -0.2, 2.0, -4, 0.25, 1, 1, 0},
    {"negative distance, sell on bound",  3.0,  3.0,  4, 1,  0.2, 2.0, -4, 0.25, 1, 0, 1},
    {"buy tests price_b, not price_a",    1.5,  1.0,  4, 1, -0.2, 2.0, 4, 0.25, 1, 1, 0},
    {"sell tests price_a, not price_b",   1.0,  0.5,  4, 1,  0.2, 2.0, 4, 0.25, 1, 0, 1},
    // NaN anywhere among the doubles: every comparison it reaches is false.
    {"NaN price_a, buy",                  NaN,  1.0,  4, 1, -0.2, 2.0, 4, 0.25, 1, 0, 0},
    {"NaN price_b, sell",                 1.0,  NaN,  4, 1,  0.2, 2.0, 4, 0.25, 1, 0, 0},
    {"NaN signal",                        1.0,  1.0,  4, 1,  NaN, 2.0, 4, 0.25, 1, 0, 0},
    {"NaN level, buy",                    1.0,  1.0,  4, 1, -0.2, NaN, 4, 0.25, 1, 0, 0},
    {"NaN level, sell",                   1.0,  1.0,  4, 1,  0.2, NaN, 4, 0.25, 1, 0, 0},
    {"NaN unit, buy",                     1.0,  1.0,  4, 1, -0.2, 2.0, 4, NaN, 1, 0, 0},
    {"NaN unit, sell",                    1.0,  1.0,  4, 1,  0.2, 2.0, 4, NaN, 1, 0, 0},
};

class EntryRules : public testing::TestWithParam<RuleCase> {};

TEST_P(EntryRules, AnswersAsTheRulesSay) {
  const RuleCase& c = GetParam();
  EXPECT_EQ(open_buy(c.price_a, c.price_b, c.max_spread, c.gate_a, c.signal,
                     c.level, c.distance, c.unit, c.gate_b),
            c.buy);
  EXPECT_EQ(open_sell(c.price_a, c.price_b, c.max_spread, c.gate_a, c.signal,
                      c.level, c.distance, c.unit, c.gate_b),
            c.sell);
}

INSTANTIATE_TEST_SUITE_P(Table, EntryRules, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<RuleCase>& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p) {
                             if (*p == '-') name += "minus";
                             else if (*p == '+') name += "plus";
                             else name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

TEST(EntryRulesConstants, SignalThresholdIsTheDoubleNearestPoint12) {
  EXPECT_EQ(kestrune::SIGNAL_THRESHOLD, 0.12);
  EXPECT_EQ(std::bit_cast<uint64_t>(kestrune::SIGNAL_THRESHOLD),
            0x3FBEB851EB851EB8ull);
}

// The five tests, one after another, as the rules state them: an oracle for
// the branch-free evaluation over inputs that sit near every boundary.
int32_t stepwise_buy(double pa, double pb, int32_t ms, int32_t ga, double s,
                     double lv, int32_t d, double u, int32_t gb) {
  if (!(pa - pb < static_cast<double>(ms) * u)) return 0;
  if (ga == 0) return 0;
  if (!(s <= -0.12)) return 0;
  if (!(pb <= lv - u * static_cast<double>(d))) return 0;
  if (gb == 0) return 0;
  return 1;
}
int32_t stepwise_sell(double pa, double pb, int32_t ms, int32_t ga, double s,
                      double lv, int32_t d, double u, int32_t gb) {
  if (!(pa - pb < static_cast<double>(ms) * u)) return 0;
  if (ga == 0) return 0;
  if (!(s >= 0.12)) return 0;
  if (!(pa >= lv - u * static_cast<double>(d))) return 0;
  if (gb == 0) return 0;
  return 1;
}

TEST(EntryRulesSweep, MatchesTheStepwiseRulesNearEveryBoundary) {
  std::mt19937_64 rng(20261211);
  const double prices[] = {1.2999, 1.3, 1.3001, 1.3002, 1.3004, 1.3012, NaN};
  const double signals[] = {-0.2, -0.12, std::nextafter(-0.12, 0.0), 0.0,
                            std::nextafter(0.12, 0.0), 0.12, 0.2, NaN};
  const double units[] = {0.0001, 0.00001, 0.25, 0.0, -0.0001, NaN};
  const int32_t ints[] = {-10, -1, 0, 1, 2, 4, 10, INT32_MAX, INT32_MIN};
  auto pick = [&](const auto& arr) {
    return arr[rng() % (sizeof(arr) / sizeof(arr[0]))];
  };
  for (int i = 0; i < 200000; ++i) {
    double pa = pick(prices), pb = pick(prices), s = pick(signals),
           lv = pick(prices), u = pick(units);
    int32_t ms = pick(ints), ga = pick(ints), d = pick(ints), gb = pick(ints);
    int32_t buy = open_buy(pa, pb, ms, ga, s, lv, d, u, gb);
    int32_t sell = open_sell(pa, pb, ms, ga, s, lv, d, u, gb);
    ASSERT_EQ(buy, stepwise_buy(pa, pb, ms, ga, s, lv, d, u, gb)) << i;
    ASSERT_EQ(sell, stepwise_sell(pa, pb, ms, ga, s, lv, d, u, gb)) << i;
    ASSERT_FALSE(buy && sell) << "both directions open at once, case " << i;
  }
}

}  // namespace
