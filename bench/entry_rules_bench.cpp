// open_buy / open_sell against an empty function of the same signature and
// the obvious short-circuit if-chains, all called out of line through a
// pointer over the same pre-filled inputs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "rules/entry_rules.h"

namespace {

struct Args {
  double pa, pb;
  int32_t ms, ga;
  double s, lv;
  int32_t d;
  double u;
  int32_t gb;
};

using Rule = int32_t (*)(double, double, int32_t, int32_t, double, double,
                         int32_t, double, int32_t);

__attribute__((noinline)) int32_t empty_rule(double, double, int32_t, int32_t,
                                             double, double, int32_t, double,
                                             int32_t) {
  return 0;
}

// The obvious implementation: the five tests as an if-chain that stops at
// the first failure.
__attribute__((noinline)) int32_t short_circuit_buy(double pa, double pb,
                                                    int32_t ms, int32_t ga,
                                                    double s, double lv,
                                                    int32_t d, double u,
                                                    int32_t gb) {
  if (!(pa - pb < static_cast<double>(ms) * u)) return 0;
  if (ga == 0) return 0;
  if (!(s <= -kestrune::SIGNAL_THRESHOLD)) return 0;
  if (!(pb <= lv - u * static_cast<double>(d))) return 0;
  if (gb == 0) return 0;
  return 1;
}

__attribute__((noinline)) int32_t short_circuit_sell(double pa, double pb,
                                                     int32_t ms, int32_t ga,
                                                     double s, double lv,
                                                     int32_t d, double u,
                                                     int32_t gb) {
  if (!(pa - pb < static_cast<double>(ms) * u)) return 0;
  if (ga == 0) return 0;
  if (!(s >= kestrune::SIGNAL_THRESHOLD)) return 0;
  if (!(pa >= lv - u * static_cast<double>(d))) return 0;
  if (gb == 0) return 0;
  return 1;
}

// Varied cases: each test fails first in about equal shares, so short-circuit
// code would mispredict.
const std::vector<Args>& inputs() {
  static const std::vector<Args> v = [] {
    std::mt19937 rng(7);
    std::vector<Args> out(4096);
    std::uniform_real_distribution<double> price(1.2990, 1.3010), sig(-0.3, 0.3);
    std::uniform_int_distribution<int> coin(0, 7);
    for (Args& a : out)
      a = {price(rng), price(rng), coin(rng) ? 4 : 0, coin(rng) ? 1 : 0,
           sig(rng), 1.3005, coin(rng) - 3, 0.0001, coin(rng) ? 1 : 0};
    return out;
  }();
  return v;
}

void run(benchmark::State& state, Rule rule) {
  benchmark::DoNotOptimize(rule);
  const std::vector<Args>& in = inputs();
  size_t i = 0;
  for (auto _ : state) {
    const Args& a = in[i++ & (in.size() - 1)];
    int32_t r = rule(a.pa, a.pb, a.ms, a.ga, a.s, a.lv, a.d, a.u, a.gb);
    benchmark::DoNotOptimize(r);
  }
}

void BM_empty(benchmark::State& s) { run(s, empty_rule); }
void BM_open_buy(benchmark::State& s) { run(s, open_buy); }
void BM_open_sell(benchmark::State& s) { run(s, open_sell); }
void BM_short_circuit_buy(benchmark::State& s) { run(s, short_circuit_buy); }
void BM_short_circuit_sell(benchmark::State& s) { run(s, short_circuit_sell); }

BENCHMARK(BM_empty);
BENCHMARK(BM_open_buy);
BENCHMARK(BM_open_sell);
BENCHMARK(BM_short_circuit_buy);
BENCHMARK(BM_short_circuit_sell);

}  // namespace

BENCHMARK_MAIN();
