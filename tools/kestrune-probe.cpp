// kestrune-probe: calls one export of Kestrune.dll the way a trading terminal
// does (LoadLibrary by name, GetProcAddress by plain name, a stdcall pointer)
// and prints the answer.
//
// Exit status: 0 answered, 1 bad command line, 2 the DLL did not load,
// 3 the export is missing from the DLL.
#include <windows.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr int EXIT_USAGE = 1;
constexpr int EXIT_NO_DLL = 2;
constexpr int EXIT_NO_EXPORT = 3;

using EntryRule = int32_t(__stdcall*)(double, double, int32_t, int32_t, double,
                                      double, int32_t, double, int32_t);
using TradeTime = int32_t(__stdcall*)(uint32_t);

// Whole-string numbers only: "1.3x", "" or "0x10" are rejected rather than
// read in part. from_chars is locale-free and rounds correctly.
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

// Fixed-width decimal field: exactly `width` ASCII digits.
bool digits(std::string_view s, size_t at, size_t width, int& out) {
  out = 0;
  for (size_t i = at; i < at + width; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

// Seconds since 1970 as plain digits (0..4294967295), or a UTC time written
// YYYY-MM-DDTHH:MM:SSZ within the same range. No leap seconds.
bool parse_utc_time(const char* text, uint32_t& out) {
  std::string_view s(text);
  if (s.empty()) return false;
  if (s.find_first_not_of("0123456789") == std::string_view::npos) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
  }
  int y, mo, d, h, mi, sec;
  if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' ||
      s[13] != ':' || s[16] != ':' || s[19] != 'Z' || !digits(s, 0, 4, y) ||
      !digits(s, 5, 2, mo) || !digits(s, 8, 2, d) || !digits(s, 11, 2, h) ||
      !digits(s, 14, 2, mi) || !digits(s, 17, 2, sec))
    return false;
  static constexpr int MONTH_DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (mo < 1 || mo > 12 || d < 1 ||
      d > MONTH_DAYS[mo - 1] + (mo == 2 && leap_year(y)) || h > 23 || mi > 59 ||
      sec > 59)
    return false;
  const int64_t t = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec;
  if (t < 0 || t > int64_t{UINT32_MAX}) return false;
  out = static_cast<uint32_t>(t);
  return true;
}

// The moment as Windows' own calendar reads it, for the echo: a second
// opinion beside the DLL's answer.
void print_utc_time(uint32_t utc_time) {
  static constexpr const char* WEEKDAYS[] = {"Sunday",   "Monday", "Tuesday",
                                             "Wednesday", "Thursday", "Friday",
                                             "Saturday"};
  const uint64_t ticks = (utc_time + 11644473600ull) * 10000000ull;  // since 1601
  FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME st{};
  FileTimeToSystemTime(&ft, &st);
  std::printf("utc_time = %lu = %04u-%02u-%02uT%02u:%02u:%02uZ (%s)\n",
              static_cast<unsigned long>(utc_time), st.wYear, st.wMonth, st.wDay,
              st.wHour, st.wMinute, st.wSecond, WEEKDAYS[st.wDayOfWeek % 7]);
}

struct Args {
  int count;
  char** values;
};

// Each command parses its arguments, then asks for the export, so that a bad
// command line is reported before the DLL is touched.
struct Command {
  const char* name;
  const char* synopsis;
  int arg_count;
  int (*run)(const Command&, Args);
};

FARPROC resolve(const char* name, int& status);

// GetProcAddress hands back a generic pointer; the export's real type is
// known from its name.
template <class Fn>
Fn resolve_as(const char* name, int& status) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(resolve(name, status)));
}

bool bad_arg(const Command& c, int index, const char* text, const char* kind) {
  std::fprintf(stderr, "kestrune-probe: %s: argument %d (\"%s\") is not %s\n",
               c.name, index + 1, text, kind);
  return false;
}

int run_entry_rule(const Command& c, Args a) {
  double d[5];
  int32_t n[4];
  // Argument kinds in order: d d i i d d i d i
  static constexpr char kinds[] = "ddiiddidi";
  int di = 0, ni = 0;
  for (int i = 0; i < 9; ++i) {
    if (kinds[i] == 'd') {
      if (!parse_double(a.values[i], d[di++]))
        return bad_arg(c, i, a.values[i], "a number"), EXIT_USAGE;
    } else {
      if (!parse_int32(a.values[i], n[ni++]))
        return bad_arg(c, i, a.values[i], "a 32-bit integer"), EXIT_USAGE;
    }
  }
  int status = 0;
  auto fn = resolve_as<EntryRule>(c.name, status);
  if (!fn) return status;
  int32_t r = fn(d[0], d[1], n[0], n[1], d[2], d[3], n[2], d[4], n[3]);
  std::printf("%s = %ld\n", c.name, static_cast<long>(r));
  return 0;
}

int run_trade_time(const Command& c, Args a) {
  uint32_t t;
  if (!parse_utc_time(a.values[0], t))
    return bad_arg(c, 0, a.values[0],
                   "seconds since 1970 (0..4294967295) or a UTC time from "
                   "1970-01-01T00:00:00Z to 2106-02-07T06:28:15Z"),
           EXIT_USAGE;
  int status = 0;
  auto fn = resolve_as<TradeTime>(c.name, status);
  if (!fn) return status;
  const int32_t r = fn(t);
  print_utc_time(t);
  std::printf("%s = %ld\n", c.name, static_cast<long>(r));
  return 0;
}

constexpr Command COMMANDS[] = {
    {"open_buy",
     "price_a price_b max_spread gate_a signal level distance unit gate_b", 9,
     run_entry_rule},
    {"open_sell",
     "price_a price_b max_spread gate_a signal level distance unit gate_b", 9,
     run_entry_rule},
    {"trade_time", "utc_time (seconds since 1970, or YYYY-MM-DDTHH:MM:SSZ)", 1,
     run_trade_time},
};

void usage(FILE* to) {
  std::fprintf(to, "usage: kestrune-probe EXPORT ARGS...\n");
  for (const Command& c : COMMANDS)
    std::fprintf(to, "  kestrune-probe %s %s\n", c.name, c.synopsis);
}

FARPROC resolve(const char* name, int& status) {
  HMODULE dll = LoadLibraryA("Kestrune.dll");
  if (!dll) {
    std::fprintf(stderr,
                 "kestrune-probe: cannot load Kestrune.dll (Windows error %lu);"
                 " put it beside kestrune-probe.exe\n",
                 static_cast<unsigned long>(GetLastError()));
    status = EXIT_NO_DLL;
    return nullptr;
  }
  FARPROC fn = GetProcAddress(dll, name);
  if (!fn) {
    std::fprintf(stderr, "kestrune-probe: Kestrune.dll has no export named %s\n",
                 name);
    status = EXIT_NO_EXPORT;
  }
  return fn;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage(stderr);
    return EXIT_USAGE;
  }
  for (const Command& c : COMMANDS) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    if (argc - 2 != c.arg_count) {
      std::fprintf(stderr, "kestrune-probe: %s takes %d arguments, got %d\n"
                           "usage: kestrune-probe %s %s\n",
                   c.name, c.arg_count, argc - 2, c.name, c.synopsis);
      return EXIT_USAGE;
    }
    return c.run(c, Args{argc - 2, argv + 2});
  }
  std::fprintf(stderr, "kestrune-probe: unknown export \"%s\"\n", argv[1]);
  usage(stderr);
  return EXIT_USAGE;
}
