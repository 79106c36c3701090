#include "rules/entry_rules.h"

#include <bit>
#include <cstdint>

namespace kestrune {
static_assert(std::bit_cast<std::uint64_t>(SIGNAL_THRESHOLD) ==
              0x3FBEB851EB851EB8ull);
}  // namespace kestrune

using kestrune::SIGNAL_THRESHOLD;

// The five tests have no side effects, so all of them are evaluated and
// combined with '&': the answer equals the short-circuit one, and varied
// inputs cost no mispredicted branches. Every comparison is an ordered one,
// so a NaN anywhere makes it false and the answer 0.

extern "C" int32_t KESTRUNE_CALL open_buy(double price_a, double price_b,
                                          int32_t max_spread, int32_t gate_a,
                                          double signal, double level,
                                          int32_t distance, double unit,
                                          int32_t gate_b) {
  const double spread_limit = static_cast<double>(max_spread) * unit;
  const double bound = level - unit * static_cast<double>(distance);
  return static_cast<int32_t>((price_a - price_b < spread_limit) &
                              (gate_a != 0) & (signal <= -SIGNAL_THRESHOLD) &
                              (price_b <= bound) & (gate_b != 0));
}

extern "C" int32_t KESTRUNE_CALL open_sell(double price_a, double price_b,
                                           int32_t max_spread, int32_t gate_a,
                                           double signal, double level,
                                           int32_t distance, double unit,
                                           int32_t gate_b) {
  const double spread_limit = static_cast<double>(max_spread) * unit;
  const double bound = level - unit * static_cast<double>(distance);
  return static_cast<int32_t>((price_a - price_b < spread_limit) &
                              (gate_a != 0) & (signal >= SIGNAL_THRESHOLD) &
                              (price_a >= bound) & (gate_b != 0));
}
