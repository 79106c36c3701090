// window-bench: times Kestrune.dll's trade_time against the same predicate
// written on the C runtime's gmtime (msvcrt's _gmtime64), both called through
// stdcall pointers over the same inputs, with QueryPerformanceCounter. It also
// checks that the two agree on every input. Not a test: tools/bench.sh runs
// it for the benchmark report, or run it by hand,
//   cd build/win32 && ../../cmake/wine-run.sh window-bench.exe
//
// Exit status: 0 done and in agreement, 1 the answers differ, 2 the DLL did
// not load or lacks trade_time.
#include <windows.h>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using Predicate = int32_t(__stdcall*)(uint32_t);

int32_t __stdcall empty_predicate(uint32_t) { return 0; }

int32_t __stdcall gmtime_trade_time(uint32_t utc_time) {
  const __time64_t t = utc_time;
  const struct tm* tm = _gmtime64(&t);
  if (!tm) return -1;
  const bool window = tm->tm_wday == 0 ? tm->tm_hour == 22 && tm->tm_min >= 30
                                       : tm->tm_hour == 22 && tm->tm_min < 25;
  const bool blackout =
      (tm->tm_mon == 9 && (tm->tm_mday == 17 || tm->tm_mday == 27)) ||
      (tm->tm_mon == 10 && (tm->tm_mday == 1 || tm->tm_mday == 23));
  return window && !blackout;
}

constexpr size_t INPUTS = 1 << 12;  // a power of two
constexpr int CALLS = 1 << 19;      // per timing
constexpr int ROUNDS = 5;           // the fastest round counts

std::vector<uint32_t> random_times() {
  std::mt19937 rng(3);
  std::vector<uint32_t> out(INPUTS);
  for (uint32_t& t : out) t = static_cast<uint32_t>(rng());
  return out;
}

std::vector<uint32_t> in_window_times() {
  std::mt19937 rng(4);
  std::uniform_int_distribution<uint32_t> day(0, 49709), second(0, 1499);
  std::vector<uint32_t> out;
  while (out.size() < INPUTS) {
    const uint32_t d = day(rng);
    const uint32_t t = d * 86400 + ((d + 4) % 7 == 0 ? 81000 : 79200) + second(rng);
    if (gmtime_trade_time(t) == 1) out.push_back(t);
  }
  return out;
}

double seconds_per_tick() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1.0 / static_cast<double>(f.QuadPart);
}

// Nanoseconds per call; the sum of the answers keeps every call.
double time_calls(Predicate fn, const std::vector<uint32_t>& in, int32_t& sink) {
  asm volatile("" : "+r"(fn));  // an opaque pointer: called out of line
  LARGE_INTEGER a, b;
  int32_t sum = 0;
  QueryPerformanceCounter(&a);
  for (int i = 0; i < CALLS; ++i) sum += fn(in[i & (INPUTS - 1)]);
  QueryPerformanceCounter(&b);
  sink += sum;
  return static_cast<double>(b.QuadPart - a.QuadPart) * seconds_per_tick() * 1e9 / CALLS;
}

}  // namespace

int main() {
  HMODULE dll = LoadLibraryA("Kestrune.dll");
  if (!dll) {
    std::fprintf(stderr, "window-bench: cannot load Kestrune.dll\n");
    return 2;
  }
  const auto trade_time = reinterpret_cast<Predicate>(
      reinterpret_cast<void*>(GetProcAddress(dll, "trade_time")));
  if (!trade_time) {
    std::fprintf(stderr, "window-bench: Kestrune.dll has no trade_time\n");
    return 2;
  }

  struct Set {
    const char* name;
    std::vector<uint32_t> times;
  } sets[] = {{"random", random_times()}, {"in_window", in_window_times()}};

  int status = 0;
  int32_t sink = 0;
  for (const Set& s : sets) {
    size_t differ = 0;
    for (uint32_t t : s.times) differ += trade_time(t) != gmtime_trade_time(t);
    if (differ) {
      std::printf("%s: %zu of %zu answers differ from gmtime's\n", s.name, differ,
                  s.times.size());
      status = 1;
    }
    double empty = 1e30, dll_ns = 1e30, crt_ns = 1e30;
    for (int r = 0; r < ROUNDS; ++r) {
      empty = std::min(empty, time_calls(empty_predicate, s.times, sink));
      dll_ns = std::min(dll_ns, time_calls(trade_time, s.times, sink));
      crt_ns = std::min(crt_ns, time_calls(gmtime_trade_time, s.times, sink));
    }
    std::printf("%-9s  empty %7.2f ns  trade_time %7.2f ns  gmtime %8.2f ns"
                "  trade_time/gmtime %.3f\n",
                s.name, empty, dll_ns, crt_ns, dll_ns / crt_ns);
  }
  std::printf("(%d calls per timing, fastest of %d rounds; checksum %ld)\n", CALLS,
              ROUNDS, static_cast<long>(sink));
  FreeLibrary(dll);
  return status;
}
