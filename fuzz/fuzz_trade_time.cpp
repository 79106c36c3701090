// trade_time against the C library's calendar.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "module/kestrune.h"

namespace {

int32_t oracle(uint32_t t) {
  const time_t when = static_cast<time_t>(t);
  struct tm tm;
  if (!gmtime_r(&when, &tm)) std::abort();
  const int month = tm.tm_mon + 1, day = tm.tm_mday;
  if ((month == 10 && (day == 17 || day == 27)) ||
      (month == 11 && (day == 1 || day == 23)))
    return 0;
  if (tm.tm_hour != 22) return 0;
  return tm.tm_wday == 0 ? tm.tm_min >= 30 : tm.tm_min < 25;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every 4 bytes are one time; a short tail is padded with zeros.
  for (size_t at = 0; at < size || at == 0; at += 4) {
    uint8_t bytes[4] = {};
    std::memcpy(bytes, data + at, size - at < 4 ? size - at : 4);
    const uint32_t t = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                       uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    if (trade_time(t) != oracle(t)) std::abort();
    if (size == 0) break;
  }
  return 0;
}
