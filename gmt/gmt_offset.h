// The GMT offset of a clock reading: asked of the time service at most once
// an hour while it answers, else taken from the machine's clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "module/kestrune.h"

namespace kestrune {

// Results of GetGmtOffset: which source the offset rests on.
inline constexpr int32_t GMT_FROM_SERVER = 1;
inline constexpr int32_t GMT_FROM_CLOCK = 4;

// A service answer is used for this many seconds, counted from the start of
// the request that brought it.
inline constexpr int64_t CACHE_LIFETIME = 3600;

inline constexpr char SERVICE_PATH[] = "/access/gmt.php";

// Only the first bytes of the body carry the time; reading stops here, so a
// broken or hostile service cannot make a 32-bit terminal run out of memory.
inline constexpr std::size_t GMT_BODY_LIMIT = 64 * 1024;

// The time service's host name, fixed when the library is built.
extern const char* const service_host;

// The process-wide cache. Every field is read and written under the cache
// lock only: on i686 neither the 64-bit integer nor the double is stored in
// one atomic step.
struct GmtOffsetCache {
  int64_t last_attempt = 0;  // clock at the start of the latest service attempt
  int32_t cached_state = 0;  // 1 when cached_offset holds a service answer
  double cached_offset = 0.0;
};

// Reads one number from the start of a body the way "%d" does: up to the
// first zero byte, white space 0x09-0x0D and 0x20 skipped, one optional sign
// right before the digits, digits gathered modulo 2^32. Returns 1 and sets
// value when a number was read; -1 when the text ends before a digit; 0 when
// another byte stands where the sign or first digit should be.
int32_t scan_gmt_body(std::string_view body, int32_t& value) noexcept;

// Asks the time service. 1: gmt_time holds its answer. -1: the exchange
// failed or the body ends before a digit. 0: the body holds no number.
// gmt_time is written only on 1.
int32_t fetch_gmt_time(int64_t& gmt_time) noexcept;

// later - earlier in seconds; 0 when either is negative.
double time_diff(int64_t later, int64_t earlier) noexcept;

// Seconds to hours in quarter-hour steps; halfway goes towards +infinity.
double round_quarter_hour(double seconds) noexcept;

}  // namespace kestrune
