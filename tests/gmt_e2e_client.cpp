// Calls GetGmtOffset of the built Kestrune.dll, loaded by name as a terminal
// loads it, once for each argument, all in one process (one cache):
//
//   gmt_e2e_client CALL...
//   CALL = [N*]WALL:USE_SERVER
//   WALL = seconds since 1970 | now | now+S | now-S  (now: this machine's UTC)
//
// With N* the call is made by N threads released together. Each answer is
// printed as one line "result offset_hours". Exit status 0 when every call
// returned, 2 when the DLL or its export is missing, 1 for a bad argument.
#include <windows.h>

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
  int threads = 1;
  uint32_t wall_time = 0;
  int32_t use_server = 0;
};

bool parse_long(const char* s, char** end, long long& out) {
  out = std::strtoll(s, end, 10);
  return *end != s;
}

bool parse_call(const char* text, Call& c) {
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
  double offset = 0.0;
};

DWORD WINAPI run_worker(void* arg) {
  Worker& w = *static_cast<Worker*>(arg);
  WaitForSingleObject(w.start, INFINITE);
  w.result = w.fn(w.call->wall_time, w.call->use_server, &w.offset);
  return 0;
}

void print_answer(int32_t result, double offset) {
  std::printf("%ld %.2f\n", static_cast<long>(result), offset);
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
    if (c.threads == 1) {
      double offset = -999.0;
      const int32_t result = fn(c.wall_time, c.use_server, &offset);
      print_answer(result, offset);
      continue;
    }
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<Worker> workers(c.threads, Worker{fn, &c, start});
    std::vector<HANDLE> threads;
    for (Worker& w : workers)
      threads.push_back(CreateThread(nullptr, 0, run_worker, &w, 0, nullptr));
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
