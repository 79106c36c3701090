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
using GmtOffsetFn = int32_t(__stdcall*)(uint32_t, int32_t, double*);

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

bool parse_uint32(const char* text, uint32_t& out) {
  std::string_view s(text);
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool fits_uint32(int64_t seconds, uint32_t& out) {
  if (seconds < 0 || seconds > 0xFFFFFFFFll) return false;
  out = static_cast<uint32_t>(seconds);
  return true;
}

// "YYYY-MM-DDTHH:MM:SS", a space allowed for the T and a trailing Z, read as
// UTC the way the library reads every wall_time.
bool parse_iso8601(const char* text, uint32_t& out) {
  std::string_view s(text);
  if (!s.empty() && s.back() == 'Z') s.remove_suffix(1);
  if (s.size() != 19 || s[4] != '-' || s[7] != '-' ||
      (s[10] != 'T' && s[10] != ' ') || s[13] != ':' || s[16] != ':')
    return false;
  auto field = [&](std::size_t at, std::size_t len, unsigned lo, unsigned hi,
                   unsigned& v) {
    auto [end, ec] = std::from_chars(s.data() + at, s.data() + at + len, v);
    return ec == std::errc() && end == s.data() + at + len && v >= lo && v <= hi;
  };
  unsigned y, mo, d, h, mi, se;
  if (!field(0, 4, 1970, 2106, y) || !field(5, 2, 1, 12, mo) ||
      !field(8, 2, 1, 31, d) || !field(11, 2, 0, 23, h) ||
      !field(14, 2, 0, 59, mi) || !field(17, 2, 0, 59, se))
    return false;
  static constexpr unsigned month_days[] = {31, 29, 31, 30, 31, 30,
                                            31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > month_days[mo - 1] || (mo == 2 && d == 29 && !leap)) return false;
  return fits_uint32(days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + se,
                     out);
}

// "now": this machine's local wall clock, counted as if it were UTC, as a
// script passes its own clock reading; with use_server 0 the answer is then
// the machine's own zone offset.
uint32_t local_wall_time() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  uint32_t out = 0;
  fits_uint32(days_from_civil(t.wYear, t.wMonth, t.wDay) * 86400 +
                  t.wHour * 3600 + t.wMinute * 60 + t.wSecond,
              out);
  return out;
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
  int min_args;
  int max_args;
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

const char* gmt_result_name(int32_t r) {
  switch (r) {
    case 1: return "GMT_FROM_SERVER";
    case 4: return "GMT_FROM_CLOCK";
    default: return "unknown result";
  }
}

// [wall_time|now|ISO-8601] [use_server]: wall_time defaults to now,
// use_server to 1 (ask the time service, as a script usually does).
int run_gmt_offset(const Command& c, Args a) {
  uint32_t wall_time = 0;
  const char* wall = a.count > 0 ? a.values[0] : "now";
  if (std::strcmp(wall, "now") == 0) {
    wall_time = local_wall_time();
  } else if (!parse_uint32(wall, wall_time) && !parse_iso8601(wall, wall_time)) {
    return bad_arg(c, 0, wall,
                   "\"now\", seconds 0..4294967295 or YYYY-MM-DDTHH:MM:SS"),
           EXIT_USAGE;
  }
  int32_t use_server = 1;
  if (a.count > 1 && !parse_int32(a.values[1], use_server))
    return bad_arg(c, 1, a.values[1], "a 32-bit integer"), EXIT_USAGE;
  int status = 0;
  auto fn = resolve_as<GmtOffsetFn>(c.name, status);
  if (!fn) return status;
  double offset_hours = 0.0;
  int32_t r = fn(wall_time, use_server, &offset_hours);
  std::printf("%s = %ld (%s), offset_hours = %.2f\n", c.name,
              static_cast<long>(r), gmt_result_name(r), offset_hours);
  return 0;
}

constexpr Command COMMANDS[] = {
    {"open_buy",
     "price_a price_b max_spread gate_a signal level distance unit gate_b", 9,
     9, run_entry_rule},
    {"open_sell",
     "price_a price_b max_spread gate_a signal level distance unit gate_b", 9,
     9, run_entry_rule},
    {"GetGmtOffset", "[wall_time|now|YYYY-MM-DDTHH:MM:SS] [use_server]", 0, 2,
     run_gmt_offset},
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
    const int given = argc - 2;
    if (given < c.min_args || given > c.max_args) {
      if (c.min_args == c.max_args)
        std::fprintf(stderr, "kestrune-probe: %s takes %d arguments, got %d\n",
                     c.name, c.min_args, given);
      else
        std::fprintf(stderr,
                     "kestrune-probe: %s takes %d to %d arguments, got %d\n",
                     c.name, c.min_args, c.max_args, given);
      std::fprintf(stderr, "usage: kestrune-probe %s %s\n", c.name, c.synopsis);
      return EXIT_USAGE;
    }
    return c.run(c, Args{given, argv + 2});
  }
  std::fprintf(stderr, "kestrune-probe: unknown export \"%s\"\n", argv[1]);
  usage(stderr);
  return EXIT_USAGE;
}
