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

constexpr Command COMMANDS[] = {
    {"open_buy",
     "price_a price_b max_spread gate_a signal level distance unit gate_b", 9,
     run_entry_rule},
    {"open_sell",
     "price_a price_b max_spread gate_a signal level distance unit gate_b", 9,
     run_entry_rule},
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
