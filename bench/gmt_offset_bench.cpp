// GetGmtOffset beside an empty function of the same signature and a bare
// reading of the system clock, in the same run: a cache hit, and use_server 0.
// A hit reads the clock once, takes the cache lock and copies the offset: the
// goal is at most three clock readings' worth.
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

using GmtFunction = int32_t (*)(uint32_t, int32_t, double*);

__attribute__((noinline)) int32_t empty_get_gmt_offset(uint32_t, int32_t,
                                                       double*) {
  return 0;
}

// Fills the cache with one answer from a fake service, stamped with the real
// clock, then puts the real clock back: every later call within the hour is
// a hit against the build's own platform. Done once per process, so that an
// instruction count over all calls holds a single miss.
void fill_cache_once() {
  static const bool filled = [] {
    kestrune::gmt_testing::reset_gmt_offset_cache();
    const int64_t now = kestrune::production_platform().clock_now();
    kestrune::fake::FakePlatform fake;
    fake.set_now(now);
    fake.answer(std::to_string(now));
    double offset = 0.0;
    return GetGmtOffset(static_cast<uint32_t>(now + 5 * HOUR), 1, &offset) ==
           kestrune::GMT_FROM_SERVER;
  }();
  if (!filled) std::abort();
}

uint32_t wall_time() {
  return static_cast<uint32_t>(kestrune::platform().clock_now() + 5 * HOUR);
}

// Calls fn out of line through a pointer, as a script calls an export.
double run(benchmark::State& state, GmtFunction fn, int32_t use_server) {
  benchmark::DoNotOptimize(fn);
  const uint32_t wall = wall_time();
  double offset = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(fn(wall, use_server, &offset));
    benchmark::DoNotOptimize(offset);
  }
  return offset;
}

void BM_clock_reading(benchmark::State& state) {
  const kestrune::PlatformOps& ops = kestrune::platform();
  for (auto _ : state) benchmark::DoNotOptimize(ops.clock_now());
}

void BM_empty(benchmark::State& state) { run(state, empty_get_gmt_offset, 1); }

void BM_cache_hit(benchmark::State& state) {
  fill_cache_once();
  if (run(state, GetGmtOffset, 1) != 5.0) state.SkipWithError("not a cache hit");
}

void BM_clock_only(benchmark::State& state) {
  if (run(state, GetGmtOffset, 0) != 5.0) state.SkipWithError("wrong clock offset");
}

BENCHMARK(BM_clock_reading);
BENCHMARK(BM_empty);
BENCHMARK(BM_cache_hit);
BENCHMARK(BM_clock_only);

}  // namespace

BENCHMARK_MAIN();
