// The time service body parser against a second, independent reading of the
// same rules: a byte-class state machine that gathers digits in 64 bits and
// folds to 32 only at the end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "gmt/gmt_offset.h"

namespace {

struct Reading {
  int32_t status;  // 1 number, -1 text ended first, 0 another byte first
  int32_t value;
};

Reading reference(const uint8_t* data, size_t size) {
  // Everything from the first zero byte on is invisible.
  size_t end = 0;
  while (end < size && data[end] != 0) ++end;
  enum { SPACE, SIGN, DIGITS } state = SPACE;
  bool negative = false;
  uint64_t magnitude = 0;  // kept modulo 2^32
  size_t digits = 0;
  for (size_t i = 0; i < end; ++i) {
    const uint8_t c = data[i];
    const bool space = c == ' ' || (c >= 9 && c <= 13);
    const bool digit = c >= '0' && c <= '9';
    if (state == SPACE && space) continue;
    if (state == SPACE && (c == '+' || c == '-')) {
      negative = c == '-';
      state = SIGN;
      continue;
    }
    if (digit) {
      magnitude = (magnitude * 10 + (c - '0')) & 0xFFFFFFFFu;
      ++digits;
      state = DIGITS;
      continue;
    }
    break;  // any other byte ends the number, or stands where it should start
  }
  if (digits == 0) {
    // Did the text run out, or did a byte stand in the way?
    size_t i = 0;
    while (i < end && (data[i] == ' ' || (data[i] >= 9 && data[i] <= 13))) ++i;
    if (i < end && (data[i] == '+' || data[i] == '-')) ++i;
    return {i >= end ? -1 : 0, 0};
  }
  uint32_t folded = static_cast<uint32_t>(magnitude);
  if (negative) folded = 0u - folded;
  return {1, static_cast<int32_t>(folded)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Reading want = reference(data, size);
  int32_t value = 0x5A5A5A5A;
  const int32_t got = kestrune::scan_gmt_body(
      std::string_view(reinterpret_cast<const char*>(data), size), value);
  if (got != want.status) std::abort();
  if (got == 1 && value != want.value) std::abort();
  if (got != 1 && value != 0x5A5A5A5A) std::abort();  // written only on success
  return 0;
}
