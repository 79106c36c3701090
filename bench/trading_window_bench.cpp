// trade_time against the same predicate written on gmtime_r (the obvious
// way) and an empty function of the same signature, all called out of line
// through a pointer over the same pre-filled inputs: random 32-bit times, and
// times that all fall inside the window.
//
// tools/bench.sh runs this beside the other benchmarks and counts each
// function's instructions per call with tools/callgrind_per_call.py.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>
#include <random>
#include <vector>

#include "rules/trading_window.h"

namespace {

using Predicate = int32_t (*)(uint32_t);

__attribute__((noinline)) int32_t empty_predicate(uint32_t) { return 0; }

// The window and blackout days on top of the C library's UTC breakdown.
__attribute__((noinline)) int32_t gmtime_trade_time(uint32_t utc_time) {
  const time_t t = static_cast<time_t>(utc_time);
  struct tm tm;
  gmtime_r(&t, &tm);
  const bool window = tm.tm_wday == 0 ? tm.tm_hour == 22 && tm.tm_min >= 30
                                      : tm.tm_hour == 22 && tm.tm_min < 25;
  const bool blackout = (tm.tm_mon == 9 && (tm.tm_mday == 17 || tm.tm_mday == 27)) ||
                        (tm.tm_mon == 10 && (tm.tm_mday == 1 || tm.tm_mday == 23));
  return window && !blackout;
}

constexpr size_t INPUTS = 4096;  // a power of two

const std::vector<uint32_t>& random_times() {
  static const std::vector<uint32_t> v = [] {
    std::mt19937 rng(3);
    std::vector<uint32_t> out(INPUTS);
    for (uint32_t& t : out) t = static_cast<uint32_t>(rng());
    return out;
  }();
  return v;
}

// Random days between 1970 and 2105, at a random second of that day's window;
// days whose window is closed are drawn again.
const std::vector<uint32_t>& in_window_times() {
  static const std::vector<uint32_t> v = [] {
    std::mt19937 rng(4);
    std::uniform_int_distribution<uint32_t> day(0, 49709), second(0, 1499);
    std::vector<uint32_t> out;
    while (out.size() < INPUTS) {
      const uint32_t d = day(rng);
      const bool sunday = (d + 4) % 7 == 0;
      const uint32_t t = d * 86400 + (sunday ? 81000 : 79200) + second(rng);
      if (gmtime_trade_time(t)) out.push_back(t);
    }
    return out;
  }();
  return v;
}

void run(benchmark::State& state, Predicate fn, const std::vector<uint32_t>& in) {
  benchmark::DoNotOptimize(fn);
  size_t i = 0;
  for (auto _ : state) {
    int32_t r = fn(in[i++ & (INPUTS - 1)]);
    benchmark::DoNotOptimize(r);
  }
}

void BM_empty(benchmark::State& s, const std::vector<uint32_t>& (*in)()) {
  run(s, empty_predicate, in());
}
void BM_trade_time(benchmark::State& s, const std::vector<uint32_t>& (*in)()) {
  run(s, trade_time, in());
}
void BM_gmtime_r(benchmark::State& s, const std::vector<uint32_t>& (*in)()) {
  run(s, gmtime_trade_time, in());
}

BENCHMARK_CAPTURE(BM_empty, random, random_times);
BENCHMARK_CAPTURE(BM_trade_time, random, random_times);
BENCHMARK_CAPTURE(BM_gmtime_r, random, random_times);
BENCHMARK_CAPTURE(BM_empty, in_window, in_window_times);
BENCHMARK_CAPTURE(BM_trade_time, in_window, in_window_times);
BENCHMARK_CAPTURE(BM_gmtime_r, in_window, in_window_times);

}  // namespace

BENCHMARK_MAIN();
