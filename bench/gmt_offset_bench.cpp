// A GetGmtOffset cache hit beside a bare reading of the system clock, in the
// same run. A hit reads the clock once, takes the cache lock and copies the
// offset: the goal is at most three clock readings' worth.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "gmt/gmt_offset.h"
#include "gmt/gmt_offset_testing.h"
#include "gmt/platform.h"
#include "tests/fake_platform.h"

namespace {

constexpr int64_t HOUR = 3600;

// Fills the cache with one answer from a fake service, stamped with the real
// clock, then puts the real clock back: every later call within the hour is
// a hit against the build's own platform.
void fill_cache() {
  kestrune::gmt_testing::reset_gmt_offset_cache();
  const int64_t now = kestrune::production_platform().clock_now();
  kestrune::fake::FakePlatform fake;
  fake.set_now(now);
  fake.answer(std::to_string(now));
  double offset = 0.0;
  if (GetGmtOffset(static_cast<uint32_t>(now + 5 * HOUR), 1, &offset) !=
      kestrune::GMT_FROM_SERVER)
    std::abort();
}

void BM_clock_reading(benchmark::State& state) {
  const kestrune::PlatformOps& ops = kestrune::platform();
  for (auto _ : state) benchmark::DoNotOptimize(ops.clock_now());
}

void BM_cache_hit(benchmark::State& state) {
  fill_cache();
  const uint32_t wall = static_cast<uint32_t>(kestrune::platform().clock_now() + 5 * HOUR);
  double offset = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetGmtOffset(wall, 1, &offset));
    benchmark::DoNotOptimize(offset);
  }
  if (offset != 5.0) state.SkipWithError("not a cache hit");
}

void BM_clock_only(benchmark::State& state) {
  const uint32_t wall = static_cast<uint32_t>(kestrune::platform().clock_now() + 5 * HOUR);
  double offset = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetGmtOffset(wall, 0, &offset));
    benchmark::DoNotOptimize(offset);
  }
}

BENCHMARK(BM_clock_reading);
BENCHMARK(BM_cache_hit);
BENCHMARK(BM_clock_only);

}  // namespace

BENCHMARK_MAIN();
