// Calls GetGmtOffset of the built Kestrune.dll, loaded by name as a terminal
// loads it, once for each argument, all in one process (one cache):
//
//   gmt_e2e_client CALL...
//   CALL = [N*]WALL:USE_SERVER | handles | winhttp-handles
//   WALL = seconds since 1970 | now | now+S | now-S  (now: this machine's UTC)
//
// With N* the call is made by N threads released together. Each answer is
// printed as one line "result offset_hours", the offset exactly (%.17g), or
// "nan" when the call left the NaN it was given unwritten. The other two
// CALLs report on the process instead of calling:
//   handles          "handles N SOURCE": the process's handle count and how
//                    it was read (every thread and event this program made
//                    for earlier calls is closed by then);
//   winhttp-handles  "winhttp-handles N": how many WinHTTP handles are open.
//                    They live in WinHTTP's own table, which no process
//                    handle count shows. Wine hands out its lowest free slot,
//                    numbered from 1, so with the 32 lowest free slots taken
//                    by probe sessions the highest of them is 32 plus the
//                    slots in use.
// Exit status 0 when every call returned, 2 when the DLL or its export is
// missing, 1 for a bad argument, 3 when the threads for a call cannot be
// started.
#include <windows.h>
#include <winhttp.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using GmtOffsetFn = int32_t(__stdcall*)(uint32_t, int32_t, double*);

struct Call {
  enum { CALL, HANDLES, WINHTTP_HANDLES } kind = CALL;
  int threads = 1;
  uint32_t wall_time = 0;
  int32_t use_server = 0;
};

bool parse_long(const char* s, char** end, long long& out) {
  out = std::strtoll(s, end, 10);
  return *end != s;
}

bool parse_call(const char* text, Call& c) {
  if (std::strcmp(text, "handles") == 0) {
    c.kind = Call::HANDLES;
    return true;
  }
  if (std::strcmp(text, "winhttp-handles") == 0) {
    c.kind = Call::WINHTTP_HANDLES;
    return true;
  }
  const char* p = text;
  char* end = nullptr;
  long long n = 0;
  if (const char* star = std::strchr(p, '*')) {
    if (!parse_long(p, &end, n) || end != star || n < 1 || n > 64) return false;
    c.threads = static_cast<int>(n);
    p = star + 1;
  }
  long long wall = 0;
  if (std::strncmp(p, "now", 3) == 0) {
    wall = static_cast<long long>(std::time(nullptr));
    p += 3;
    if (*p == '+' || *p == '-') {
      if (!parse_long(p, &end, n)) return false;
      wall += n;
      p = end;
    }
  } else {
    if (!parse_long(p, &end, wall)) return false;
    p = end;
  }
  if (*p != ':' || wall < 0 || wall > 0xFFFFFFFFll) return false;
  if (!parse_long(p + 1, &end, n) || *end != '\0') return false;
  c.wall_time = static_cast<uint32_t>(wall);
  c.use_server = static_cast<int32_t>(n);
  return true;
}

struct Worker {
  GmtOffsetFn fn;
  const Call* call;
  HANDLE start;
  int32_t result = 0;
  double offset = NAN;  // the call must overwrite it
};

DWORD WINAPI run_worker(void* arg) {
  Worker& w = *static_cast<Worker*>(arg);
  WaitForSingleObject(w.start, INFINITE);
  w.result = w.fn(w.call->wall_time, w.call->use_server, &w.offset);
  return 0;
}

void print_answer(int32_t result, double offset) {
  if (std::isnan(offset))
    std::printf("%ld nan\n", static_cast<long>(result));
  else
    std::printf("%ld %.17g\n", static_cast<long>(result), offset);
  std::fflush(stdout);
}

// Handle values are multiples of 4 from 4 up. Wine gives out the lowest
// free one, so a process's handles lie packed at the bottom of this range.
constexpr uintptr_t HANDLE_PROBE_END = 0x4000;

// How many handle values below HANDLE_PROBE_END name an open handle. Asks
// about this process alone: NtQuerySystemInformation's table of every
// process's handles can bring Wine 8's wineserver down while other Wine
// processes start and stop.
long probed_handle_count() {
  long count = 0;
  for (uintptr_t value = 4; value < HANDLE_PROBE_END; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

// GetProcessHandleCount, unless it answers 0, which no live process can have:
// Wine (8.0 at least) answers 0 always. Then the handles found by probing.
void print_handles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
    std::printf("handles %lu GetProcessHandleCount\n",
                static_cast<unsigned long>(count));
  } else {
    const long probed = probed_handle_count();
    if (probed > 0)
      std::printf("handles %ld probed\n", probed);
    else
      std::printf("handles unknown\n");
  }
  std::fflush(stdout);
}

// Probe sessions have no proxy, so that they read no proxy setting.
void print_winhttp_handles() {
  constexpr int PROBES = 32;
  HINTERNET probes[PROBES] = {};
  uintptr_t highest = 0;
  bool opened = true;
  for (HINTERNET& p : probes) {
    p = WinHttpOpen(L"probe", WINHTTP_ACCESS_TYPE_NO_PROXY,
                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!p) opened = false;
    if (reinterpret_cast<uintptr_t>(p) > highest)
      highest = reinterpret_cast<uintptr_t>(p);
  }
  for (HINTERNET p : probes)
    if (p) WinHttpCloseHandle(p);
  if (opened && highest >= PROBES)
    std::printf("winhttp-handles %lu\n",
                static_cast<unsigned long>(highest - PROBES));
  else
    std::printf("winhttp-handles unknown\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Call> calls;
  for (int i = 1; i < argc; ++i) {
    Call c;
    if (!parse_call(argv[i], c)) {
      std::fprintf(stderr, "gmt_e2e_client: bad call \"%s\"\n", argv[i]);
      return 1;
    }
    calls.push_back(c);
  }
  HMODULE dll = LoadLibraryA("Kestrune.dll");
  if (!dll) {
    std::fprintf(stderr, "gmt_e2e_client: cannot load Kestrune.dll\n");
    return 2;
  }
  auto fn = reinterpret_cast<GmtOffsetFn>(
      reinterpret_cast<void*>(GetProcAddress(dll, "GetGmtOffset")));
  if (!fn) {
    std::fprintf(stderr, "gmt_e2e_client: no export GetGmtOffset\n");
    return 2;
  }
  for (const Call& c : calls) {
    if (c.kind == Call::HANDLES) {
      print_handles();
      continue;
    }
    if (c.kind == Call::WINHTTP_HANDLES) {
      print_winhttp_handles();
      continue;
    }
    if (c.threads == 1) {
      double offset = NAN;
      const int32_t result = fn(c.wall_time, c.use_server, &offset);
      print_answer(result, offset);
      continue;
    }
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<Worker> workers(c.threads, Worker{fn, &c, start});
    std::vector<HANDLE> threads;
    for (Worker& w : workers) {
      HANDLE t = CreateThread(nullptr, 0, run_worker, &w, 0, nullptr);
      if (!t) {
        std::fprintf(stderr, "gmt_e2e_client: cannot start thread\n");
        return 3;
      }
      threads.push_back(t);
    }
    SetEvent(start);
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(),
                           TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    CloseHandle(start);
    for (const Worker& w : workers) print_answer(w.result, w.offset);
  }
  FreeLibrary(dll);
  return 0;
}
