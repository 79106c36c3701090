// Test access to the process-wide GMT offset cache. Not exported from the
// DLL; tests link the core directly.
#pragma once

#include <cstdint>

#include "gmt/gmt_offset.h"

namespace kestrune::gmt_testing {

// Back to the state at load: empty cache, no attempt under way. Call only
// while no GetGmtOffset call is running.
void reset_gmt_offset_cache() noexcept;

// A consistent copy of the cache, taken under its lock.
GmtOffsetCache gmt_offset_cache() noexcept;

// How many callers are waiting for a service attempt that another caller
// made.
int32_t gmt_offset_waiters() noexcept;

}  // namespace kestrune::gmt_testing
