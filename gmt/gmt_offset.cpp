#include "gmt/gmt_offset.h"

#include <cmath>
#include <string>

#include "gmt/cache_lock.h"
#include "gmt/gmt_offset_testing.h"
#include "gmt/http_fetch.h"
#include "gmt/platform.h"

namespace kestrune {

// Set by the build (the KESTRUNE_SERVICE_HOST cache option).
const char* const service_host = KESTRUNE_SERVICE_HOST;

namespace {

// Everything here is guarded by the cache lock. Besides the cache itself it
// records whether a service attempt is under way, so that callers who miss
// the cache meanwhile wait for that attempt instead of sending their own.
struct CacheRecord {
  GmtOffsetCache cache;
  bool attempt_under_way = false;
  uint32_t attempts_ended = 0;  // changes when an attempt's outcome is stored
  int32_t waiters = 0;
};
constinit CacheRecord record;

bool is_space(unsigned char c) { return c == 0x20 || (c >= 0x09 && c <= 0x0D); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

double clock_offset(int64_t wall_time, int64_t now) {
  return round_quarter_hour(time_diff(wall_time, now));
}

struct Outcome {
  int32_t state;  // 1: offset is from the service; 0: the attempt failed
  double offset;
};

// One request to the service, made with no lock held. An answer is unusable
// when wall_time is 0.
Outcome ask_service(int64_t wall_time, int64_t now) noexcept {
  int64_t gmt_time = 0;
  if (fetch_gmt_time(gmt_time) < 1 || wall_time == 0) return {0, 0.0};
  // Whole seconds by which the clock advanced during the exchange.
  const double elapsed = time_diff(platform().clock_now(), now);
  return {1, round_quarter_hour(time_diff(wall_time, gmt_time) + elapsed)};
}

enum class Plan { ANSWERED, FROM_CLOCK, ASK_SERVICE };

// Under the cache lock: answer from the cache, wait for another caller's
// attempt and take its outcome, or claim the attempt for this caller.
Plan consult_cache(int64_t now, double& offset_hours) noexcept {
  cache_lock::Guard held;
  GmtOffsetCache& cache = record.cache;
  if (time_diff(now, cache.last_attempt) < CACHE_LIFETIME &&
      cache.cached_state > 0) {
    offset_hours = cache.cached_offset;
    return Plan::ANSWERED;
  }
  if (record.attempt_under_way) {
    const uint32_t ended = record.attempts_ended;
    ++record.waiters;
    while (record.attempts_ended == ended) cache_lock::wait();
    --record.waiters;
    if (cache.cached_state > 0) {
      offset_hours = cache.cached_offset;
      return Plan::ANSWERED;
    }
    return Plan::FROM_CLOCK;
  }
  // Noted before the service is asked, whatever the outcome.
  cache.last_attempt = now;
  record.attempt_under_way = true;
  return Plan::ASK_SERVICE;
}

void store_outcome(const Outcome& outcome) noexcept {
  {
    cache_lock::Guard held;
    record.cache.cached_state = outcome.state;
    if (outcome.state > 0) record.cache.cached_offset = outcome.offset;
    record.attempt_under_way = false;
    ++record.attempts_ended;
  }
  cache_lock::wake_all();
}

int32_t gmt_offset(int64_t wall_time, int32_t use_server,
                   double& offset_hours) noexcept {
  const int64_t now = platform().clock_now();
  if (use_server != 0) {
    switch (consult_cache(now, offset_hours)) {
      case Plan::ANSWERED:
        return GMT_FROM_SERVER;
      case Plan::FROM_CLOCK:
        break;
      case Plan::ASK_SERVICE: {
        const Outcome outcome = ask_service(wall_time, now);
        store_outcome(outcome);
        if (outcome.state > 0) {
          offset_hours = outcome.offset;
          return GMT_FROM_SERVER;
        }
        break;
      }
    }
  }
  // The first clock reading, even after a failed attempt.
  offset_hours = clock_offset(wall_time, now);
  return GMT_FROM_CLOCK;
}

}  // namespace

int32_t scan_gmt_body(std::string_view body, int32_t& value) noexcept {
  const std::size_t zero = body.find('\0');
  if (zero != std::string_view::npos) body = body.substr(0, zero);
  std::size_t i = 0;
  const std::size_t n = body.size();
  while (i < n && is_space(static_cast<unsigned char>(body[i]))) ++i;
  if (i == n) return -1;
  const bool negative = body[i] == '-';
  if (body[i] == '-' || body[i] == '+') {
    if (++i == n) return -1;
  }
  if (!is_digit(static_cast<unsigned char>(body[i]))) return 0;
  // Unsigned, so that overflow wraps modulo 2^32 as "%d" does in practice.
  uint32_t v = 0;
  for (; i < n && is_digit(static_cast<unsigned char>(body[i])); ++i)
    v = v * 10u + static_cast<uint32_t>(body[i] - '0');
  if (negative) v = 0u - v;
  value = static_cast<int32_t>(v);
  return 1;
}

int32_t fetch_gmt_time(int64_t& gmt_time) noexcept {
  std::string body;
  if (http_post(service_host, SERVICE_PATH, body, GMT_BODY_LIMIT) > FETCH_OK)
    return -1;
  int32_t value = 0;
  const int32_t scanned = scan_gmt_body(body, value);
  if (scanned == 1) gmt_time = value;
  return scanned;
}

double time_diff(int64_t later, int64_t earlier) noexcept {
  if (later < 0 || earlier < 0) return 0.0;
  return static_cast<double>(later - earlier);
}

double round_quarter_hour(double seconds) noexcept {
  return std::floor(seconds / 3600.0 * 4.0 + 0.5) * 0.25;
}

namespace gmt_testing {

void reset_gmt_offset_cache() noexcept {
  cache_lock::Guard held;
  record.cache = GmtOffsetCache{};
  record.attempt_under_way = false;
  record.waiters = 0;
}

GmtOffsetCache gmt_offset_cache() noexcept {
  cache_lock::Guard held;
  return record.cache;
}

int32_t gmt_offset_waiters() noexcept {
  cache_lock::Guard held;
  return record.waiters;
}

}  // namespace gmt_testing
}  // namespace kestrune

extern "C" int32_t KESTRUNE_CALL GetGmtOffset(uint32_t wall_time,
                                              int32_t use_server,
                                              double* offset_hours) {
  // A script that passes no place for the answer must not bring the terminal
  // down: the call still runs (and may fill the cache), the answer is dropped.
  double answer = 0.0;
  const int32_t result = kestrune::gmt_offset(wall_time, use_server, answer);
  if (offset_hours) *offset_hours = answer;
  return result;
}
