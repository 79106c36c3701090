// Calls http_post over the real WinHTTP table for each HOST PATH LIMIT triple
// on its command line (LIMIT "-" for none) and prints one line per call:
//   result=R ms=M body=HEX
// The body starts as SENTINEL, so a failure shows whether it was left alone.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gmt/http_fetch.h"

constexpr char SENTINEL[] = "sentinel";

int main(int argc, char** argv) {
  if (argc < 4 || (argc - 1) % 3 != 0) {
    std::fprintf(stderr, "usage: http_wire_probe HOST PATH LIMIT...\n");
    return 1;
  }
  for (int i = 1; i + 2 < argc; i += 3) {
    const std::string limit_text = argv[i + 2];
    const std::size_t limit = limit_text == "-"
                                  ? kestrune::NO_LIMIT
                                  : std::strtoul(limit_text.c_str(), nullptr, 10);
    std::string body = SENTINEL;
    const auto start = std::chrono::steady_clock::now();
    const kestrune::FetchResult r =
        kestrune::http_post(argv[i], argv[i + 1], body, limit);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("result=%ld ms=%lld body=", static_cast<long>(r),
                static_cast<long long>(ms));
    for (unsigned char b : body) std::printf("%02x", b);
    std::printf("\n");
    std::fflush(stdout);
  }
  return 0;
}
