// kestrune-probe: calls the exports of Kestrune.dll the way a trading terminal
// does (LoadLibrary by name, GetProcAddress by plain name, a stdcall pointer)
// and prints the answers. `selftest` checks every export against known cases
// before a user attaches the DLL to a terminal.
//
// Exit status: 0 answered (or every self-test passed), 1 bad command line,
// 2 the DLL did not load, 3 an export is missing, 4 a self-test failed.
#include <windows.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "tools/stack_probe.h"

namespace {

constexpr int EXIT_USAGE = 1;
constexpr int EXIT_NO_DLL = 2;
constexpr int EXIT_NO_EXPORT = 3;
constexpr int EXIT_SELFTEST_FAILED = 4;

using EntryRule = int32_t(__stdcall*)(double, double, int32_t, int32_t, double,
                                      double, int32_t, double, int32_t);
using TradeTime = int32_t(__stdcall*)(uint32_t);
using GmtOffsetFn = int32_t(__stdcall*)(uint32_t, int32_t, double*);

// ---------------------------------------------------------------------------
// Reading the command line. Whole-string numbers only: "1.3x", "" or "0x10"
// are rejected rather than read in part. from_chars is locale-free and rounds
// correctly.

bool parse_double(const char* text, double& out) {
  std::string_view s(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

bool parse_int32(const char* text, int32_t& out) {
  std::string_view s(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

// Days from 1970-01-01 to a proleptic Gregorian date (Hinnant's
// days_from_civil); the date must already be valid.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;                                    // [0, 399]
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;  // [0, 365]
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;            // [0, 146096]
  return era * 146097 + doe - 719468;
}

bool leap_year(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

// Exactly `width` ASCII digits.
bool digits(std::string_view s, size_t at, size_t width, int& out) {
  out = 0;
  for (size_t i = at; i < at + width; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

bool fits_uint32(int64_t seconds, uint32_t& out) {
  if (seconds < 0 || seconds > int64_t{UINT32_MAX}) return false;
  out = static_cast<uint32_t>(seconds);
  return true;
}

// A time argument: seconds since 1970 as plain digits (0..4294967295), or
// YYYY-MM-DDTHH:MM:SS with an optional Z, read as UTC. No leap seconds.
bool parse_utc_time(const char* text, uint32_t& out) {
  std::string_view s(text);
  if (s.empty()) return false;
  if (s.find_first_not_of("0123456789") == std::string_view::npos) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
  }
  if (s.back() == 'Z') s.remove_suffix(1);
  int y, mo, d, h, mi, sec;
  if (s.size() != 19 || s[4] != '-' || s[7] != '-' || s[10] != 'T' ||
      s[13] != ':' || s[16] != ':' || !digits(s, 0, 4, y) ||
      !digits(s, 5, 2, mo) || !digits(s, 8, 2, d) || !digits(s, 11, 2, h) ||
      !digits(s, 14, 2, mi) || !digits(s, 17, 2, sec))
    return false;
  static constexpr int MONTH_DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (mo < 1 || mo > 12 || d < 1 ||
      d > MONTH_DAYS[mo - 1] + (mo == 2 && leap_year(y)) || h > 23 || mi > 59 ||
      sec > 59)
    return false;
  return fits_uint32(days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec,
                     out);
}

// "now" for GetGmtOffset: this machine's local wall clock counted as if it
// were UTC, as a script passes its own clock reading; with use_server 0 the
// answer is then the machine's own zone offset.
uint32_t local_wall_time() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  uint32_t out = 0;
  fits_uint32(days_from_civil(t.wYear, t.wMonth, t.wDay) * 86400 +
                  t.wHour * 3600 + t.wMinute * 60 + t.wSecond,
              out);
  return out;
}

// The system clock as UTC seconds since 1970.
uint32_t utc_now() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  return static_cast<uint32_t>(ticks / 10000000ull - 11644473600ull);
}

// The moment as Windows' own calendar reads it, for the echo: a second
// opinion beside the DLL's answer.
void print_utc_time(const char* label, uint32_t utc_time) {
  static constexpr const char* WEEKDAYS[] = {"Sunday",   "Monday", "Tuesday",
                                             "Wednesday", "Thursday", "Friday",
                                             "Saturday"};
  const uint64_t ticks = (utc_time + 11644473600ull) * 10000000ull;  // since 1601
  FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME st{};
  FileTimeToSystemTime(&ft, &st);
  std::printf("%s = %lu = %04u-%02u-%02uT%02u:%02u:%02uZ (%s)\n", label,
              static_cast<unsigned long>(utc_time), st.wYear, st.wMonth, st.wDay,
              st.wHour, st.wMinute, st.wSecond, WEEKDAYS[st.wDayOfWeek % 7]);
}

const char* gmt_result_name(int32_t r) {
  switch (r) {
    case 1: return "GMT_FROM_SERVER";
    case 4: return "GMT_FROM_CLOCK";
    default: return "unknown result";
  }
}

// ---------------------------------------------------------------------------
// The DLL.

HMODULE load_dll(int& status) {
  HMODULE dll = LoadLibraryA("Kestrune.dll");
  if (!dll) {
    std::fprintf(stderr,
                 "kestrune-probe: cannot load Kestrune.dll (Windows error %lu);"
                 " put it beside kestrune-probe.exe\n",
                 static_cast<unsigned long>(GetLastError()));
    status = EXIT_NO_DLL;
  }
  return dll;
}

FARPROC resolve(const char* name, int& status) {
  HMODULE dll = load_dll(status);
  if (!dll) return nullptr;
  FARPROC fn = GetProcAddress(dll, name);
  if (!fn) {
    std::fprintf(stderr, "kestrune-probe: Kestrune.dll has no export named %s\n",
                 name);
    status = EXIT_NO_EXPORT;
  }
  return fn;
}

// GetProcAddress hands back a generic pointer; the export's real type is
// known from its name.
template <class Fn>
Fn resolve_as(const char* name, int& status) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(resolve(name, status)));
}

// ---------------------------------------------------------------------------
// One command per export.

struct Args {
  int count;
  char** values;
};

// Each command parses its arguments, then asks for the export, so that a bad
// command line is reported before the DLL is touched.
struct Command {
  const char* name;
  const char* synopsis;
  const char* help;
  int min_args;
  int max_args;
  int (*run)(const Command&, Args);
};

int bad_arg(const Command& c, int index, const char* text, const char* kind) {
  std::fprintf(stderr, "kestrune-probe: %s: argument %d (\"%s\") is not %s\n",
               c.name, index + 1, text, kind);
  return EXIT_USAGE;
}

int run_entry_rule(const Command& c, Args a) {
  double d[5];
  int32_t n[4];
  static constexpr char KINDS[] = "ddiiddidi";  // the argument types in order
  int di = 0, ni = 0;
  for (int i = 0; i < 9; ++i) {
    if (KINDS[i] == 'd') {
      if (!parse_double(a.values[i], d[di++]))
        return bad_arg(c, i, a.values[i], "a number");
    } else if (!parse_int32(a.values[i], n[ni++])) {
      return bad_arg(c, i, a.values[i], "a 32-bit integer");
    }
  }
  int status = 0;
  auto fn = resolve_as<EntryRule>(c.name, status);
  if (!fn) return status;
  const int32_t r = fn(d[0], d[1], n[0], n[1], d[2], d[3], n[2], d[4], n[3]);
  std::printf("%s = %ld\n", c.name, static_cast<long>(r));
  return 0;
}

int run_trade_time(const Command& c, Args a) {
  uint32_t t;
  if (!parse_utc_time(a.values[0], t))
    return bad_arg(c, 0, a.values[0],
                   "seconds since 1970 (0..4294967295) or a UTC time from "
                   "1970-01-01T00:00:00Z to 2106-02-07T06:28:15Z");
  int status = 0;
  auto fn = resolve_as<TradeTime>(c.name, status);
  if (!fn) return status;
  const int32_t r = fn(t);
  print_utc_time("utc_time", t);
  std::printf("%s = %ld\n", c.name, static_cast<long>(r));
  return 0;
}

int run_gmt_offset(const Command& c, Args a) {
  uint32_t wall_time = 0;
  const char* wall = a.count > 0 ? a.values[0] : "now";
  if (std::strcmp(wall, "now") == 0)
    wall_time = local_wall_time();
  else if (!parse_utc_time(wall, wall_time))
    return bad_arg(c, 0, wall,
                   "\"now\", seconds 0..4294967295 or YYYY-MM-DDTHH:MM:SS[Z]");
  int32_t use_server = 1;
  if (a.count > 1 && !parse_int32(a.values[1], use_server))
    return bad_arg(c, 1, a.values[1], "a 32-bit integer");
  int status = 0;
  auto fn = resolve_as<GmtOffsetFn>(c.name, status);
  if (!fn) return status;
  double offset_hours = 0.0;
  const int32_t r = fn(wall_time, use_server, &offset_hours);
  std::printf("%s = %ld (%s), offset_hours = %.2f\n", c.name,
              static_cast<long>(r), gmt_result_name(r), offset_hours);
  return 0;
}

constexpr char ENTRY_ARGS[] =
    "price_a price_b max_spread gate_a signal level distance unit gate_b";

constexpr Command COMMANDS[] = {
    {"open_buy", ENTRY_ARGS,
     "1 when a buy may be opened: spread < max_spread*unit, gate_a, "
     "signal <= -0.12, price_b <= level - unit*distance, gate_b",
     9, 9, run_entry_rule},
    {"open_sell", ENTRY_ARGS,
     "1 when a sell may be opened: spread < max_spread*unit, gate_a, "
     "signal >= 0.12, price_a >= level - unit*distance, gate_b",
     9, 9, run_entry_rule},
    {"trade_time", "TIME",
     "1 inside the UTC window (Mon-Sat 22:00-22:24, Sun 22:30-22:59), "
     "outside 17 and 27 Oct, 1 and 23 Nov",
     1, 1, run_trade_time},
    {"GetGmtOffset", "[TIME|now] [use_server]",
     "hours from GMT in quarter-hour steps; 1 = from the time service, "
     "4 = from this machine's clock (use_server 0: clock only; default 1)",
     0, 2, run_gmt_offset},
};

// ---------------------------------------------------------------------------
// --version: the version resource of the DLL that was loaded.

int show_version() {
  int status = 0;
  HMODULE dll = load_dll(status);
  if (!dll) return status;
  char path[MAX_PATH] = "Kestrune.dll";
  GetModuleFileNameA(dll, path, sizeof path);
  HRSRC info = FindResourceA(dll, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));  // RT_VERSION
  HGLOBAL block = info ? LoadResource(dll, info) : nullptr;
  const auto* bytes = static_cast<const unsigned char*>(block ? LockResource(block) : nullptr);
  const DWORD size = info ? SizeofResource(dll, info) : 0;
  // VS_FIXEDFILEINFO starts with its signature on a 4-byte boundary.
  for (DWORD at = 0; bytes && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, bytes + at, sizeof fixed);
    if (fixed.dwSignature != 0xFEEF04BD) continue;
    std::printf("Kestrune %lu.%lu.%lu (%s)\n",
                static_cast<unsigned long>(HIWORD(fixed.dwFileVersionMS)),
                static_cast<unsigned long>(LOWORD(fixed.dwFileVersionMS)),
                static_cast<unsigned long>(HIWORD(fixed.dwFileVersionLS)), path);
    return 0;
  }
  std::fprintf(stderr, "kestrune-probe: %s carries no version resource\n", path);
  return EXIT_NO_EXPORT;
}

// ---------------------------------------------------------------------------
// selftest: every export against known answers, and each export's argument
// block measured on the stack.

struct SelfTest {
  int passed = 0, failed = 0;
  void check(bool ok, const char* what, const char* detail = "") {
    std::printf("%s  %s%s\n", ok ? "pass" : "FAIL", what, detail);
    (ok ? passed : failed) += 1;
  }
};

int selftest() {
  int status = 0;
  HMODULE dll = load_dll(status);
  if (!dll) return status;
  const char* names[] = {"open_buy", "open_sell", "trade_time", "GetGmtOffset"};
  for (const char* name : names)
    if (!GetProcAddress(dll, name)) {
      std::fprintf(stderr, "kestrune-probe: Kestrune.dll has no export named %s\n", name);
      return EXIT_NO_EXPORT;
    }
  auto open_buy = resolve_as<EntryRule>("open_buy", status);
  auto open_sell = resolve_as<EntryRule>("open_sell", status);
  auto trade_time = resolve_as<TradeTime>("trade_time", status);
  auto get_gmt_offset = resolve_as<GmtOffsetFn>("GetGmtOffset", status);
  SelfTest t;

  // The calling convention: each export removes exactly its own arguments.
  {
    ArgBlock entry;
    entry.add(1.3002).add(1.3).add(int32_t{4}).add(int32_t{1}).add(-0.2)
        .add(1.3012).add(int32_t{10}).add(0.0001).add(int32_t{1});
    ArgBlock window;
    window.add(uint32_t{1704751800});
    double offset = 0;
    ArgBlock gmt;
    gmt.add(uint32_t{0}).add(int32_t{0}).add(&offset);
    t.check(call_measuring_esp(reinterpret_cast<const void*>(open_buy), entry).removed == 56,
            "open_buy removes its 56 bytes of arguments (stdcall)");
    t.check(call_measuring_esp(reinterpret_cast<const void*>(open_sell), entry).removed == 56,
            "open_sell removes its 56 bytes of arguments (stdcall)");
    t.check(call_measuring_esp(reinterpret_cast<const void*>(trade_time), window).removed == 4,
            "trade_time removes its 4 bytes of arguments (stdcall)");
    t.check(call_measuring_esp(reinterpret_cast<const void*>(get_gmt_offset), gmt).removed == 12,
            "GetGmtOffset removes its 12 bytes of arguments (stdcall)");
  }

  const double NaN = std::numeric_limits<double>::quiet_NaN();
  struct Rule {
    const char* what;
    double pa, pb;
    int32_t ms, ga;
    double s, lv;
    int32_t d;
    double u;
    int32_t gb, buy, sell;
  } rules[] = {
      {"buy example", 1.3002, 1.3, 4, 1, -0.2, 1.3012, 10, 0.0001, 1, 1, 0},
      {"sell example", 1.3003, 1.3001, 4, 1, 0.2, 1.3012, 10, 0.0001, 1, 0, 1},
      {"spread equal to the limit", 1.5, 1.0, 2, 1, -0.2, 2.0, 0, 0.25, 1, 0, 0},
      {"computed spread just under 4 units", 1.3004, 1.3, 4, 1, 0.2, 1.0, 0, 0.0001, 1, 0, 1},
      {"signal exactly -0.12", 1.0, 1.0, 4, 1, -0.12, 2.0, 4, 0.25, 1, 1, 0},
      {"signal exactly 0.12", 1.0, 1.0, 4, 1, 0.12, 2.0, 4, 0.25, 1, 0, 1},
      {"price on the level bound", 1.0, 1.0, 4, 1, -0.2, 2.0, 4, 0.25, 1, 1, 0},
      {"gate_b zero", 1.0, 1.0, 4, 1, -0.2, 2.0, 4, 0.25, 0, 0, 0},
      {"NaN signal", 1.0, 1.0, 4, 1, NaN, 2.0, 4, 0.25, 1, 0, 0},
  };
  char detail[96];
  for (const Rule& r : rules) {
    const int32_t buy = open_buy(r.pa, r.pb, r.ms, r.ga, r.s, r.lv, r.d, r.u, r.gb);
    const int32_t sell = open_sell(r.pa, r.pb, r.ms, r.ga, r.s, r.lv, r.d, r.u, r.gb);
    std::snprintf(detail, sizeof detail, ": open_buy %ld, open_sell %ld",
                  static_cast<long>(buy), static_cast<long>(sell));
    char what[96];
    std::snprintf(what, sizeof what, "entry rules, %s", r.what);
    t.check(buy == r.buy && sell == r.sell, what, detail);
  }

  struct Window {
    const char* what;
    uint32_t time;
    int32_t answer;
  } windows[] = {
      {"Monday 2024-01-08 21:59:59", 1704751199u, 0},
      {"Monday 2024-01-08 22:00:00", 1704751200u, 1},
      {"Monday 2024-01-08 22:24:59", 1704752699u, 1},
      {"Monday 2024-01-08 22:25:00", 1704752700u, 0},
      {"Sunday 2024-01-07 22:29:59", 1704666599u, 0},
      {"Sunday 2024-01-07 22:30:00", 1704666600u, 1},
      {"Sunday 2024-01-07 22:59:59", 1704668399u, 1},
      {"Saturday 2024-01-06 22:10:00", 1704579000u, 1},
      {"blackout Tuesday 2023-10-17 22:10:00", 1697580600u, 0},
      {"blackout Thursday 2023-11-23 22:10:00", 1700777400u, 0},
      {"leap day Thursday 2024-02-29 22:10:00", 1709244600u, 1},
      {"Tuesday 2040-01-03 22:10:00 (after 2038)", 2209241400u, 1},
      {"largest time, Sunday 2106-02-07 06:28:15", 4294967295u, 0},
      {"0, Thursday 1970-01-01 00:00:00", 0u, 0},
  };
  for (const Window& w : windows) {
    const int32_t r = trade_time(w.time);
    std::snprintf(detail, sizeof detail, ": %ld", static_cast<long>(r));
    char what[96];
    std::snprintf(what, sizeof what, "trade_time, %s", w.what);
    t.check(r == w.answer, what, detail);
  }

  // The machine's clock only (use_server 0): no network. Offsets away from
  // a quarter-hour halfway point, so a second ticking over changes nothing.
  struct Offset {
    const char* what;
    int32_t seconds;
    double hours;
  } offsets[] = {
      {"clock + 5 h", 5 * 3600, 5.0},
      {"clock - 3 h 30 min", -(3 * 3600 + 30 * 60), -3.5},
      {"clock + 5 h 45 min 20 s", 5 * 3600 + 45 * 60 + 20, 5.75},
      {"clock", 0, 0.0},
  };
  for (const Offset& o : offsets) {
    double hours = NaN;
    const int32_t r = get_gmt_offset(utc_now() + o.seconds, 0, &hours);
    std::snprintf(detail, sizeof detail, ": %ld (%s), %.2f h", static_cast<long>(r),
                  gmt_result_name(r), hours);
    char what[96];
    std::snprintf(what, sizeof what, "GetGmtOffset without the service, %s", o.what);
    t.check(r == 4 && hours == o.hours, what, detail);
  }

  std::printf("%d passed, %d failed\n", t.passed, t.failed);
  return t.failed ? EXIT_SELFTEST_FAILED : 0;
}

// ---------------------------------------------------------------------------

void usage(FILE* to) {
  std::fprintf(to,
               "usage: kestrune-probe EXPORT ARGS...   call one export of Kestrune.dll\n"
               "       kestrune-probe selftest         check every export against known answers\n"
               "       kestrune-probe --version        the version of the Kestrune.dll loaded\n"
               "       kestrune-probe --help\n\n"
               "Kestrune.dll is loaded from the probe's own folder. TIME is seconds since\n"
               "1970 (0..4294967295) or YYYY-MM-DDTHH:MM:SSZ (UTC).\n\n");
  for (const Command& c : COMMANDS)
    std::fprintf(to, "  %s %s\n      %s\n", c.name, c.synopsis, c.help);
  std::fprintf(to,
               "\nexit status: 0 answered, 1 bad command line, 2 Kestrune.dll did not load,\n"
               "3 an export is missing, 4 a self-test failed\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "kestrune-probe: name an export, selftest or --version; try --help\n");
    return EXIT_USAGE;
  }
  const std::string_view verb = argv[1];
  if (verb == "--help" || verb == "-h" || verb == "help") {
    usage(stdout);
    return 0;
  }
  if ((verb == "--version" || verb == "selftest") && argc > 2) {
    std::fprintf(stderr, "kestrune-probe: %s takes no arguments\n", argv[1]);
    return EXIT_USAGE;
  }
  if (verb == "--version") return show_version();
  if (verb == "selftest") return selftest();
  for (const Command& c : COMMANDS) {
    if (verb != c.name) continue;
    const int n = argc - 2;
    if (n < c.min_args || n > c.max_args) {
      if (c.min_args == c.max_args)
        std::fprintf(stderr, "kestrune-probe: %s takes %d argument%s, got %d: %s %s\n",
                     c.name, c.min_args, c.min_args == 1 ? "" : "s", n, c.name,
                     c.synopsis);
      else
        std::fprintf(stderr, "kestrune-probe: %s takes %d to %d arguments, got %d: %s %s\n",
                     c.name, c.min_args, c.max_args, n, c.name, c.synopsis);
      return EXIT_USAGE;
    }
    return c.run(c, Args{n, argv + 2});
  }
  std::fprintf(stderr, "kestrune-probe: unknown export \"%s\"; try --help\n", argv[1]);
  return EXIT_USAGE;
}
