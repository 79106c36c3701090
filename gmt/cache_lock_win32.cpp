// The cache lock on Windows: a slim reader/writer lock and a condition
// variable, both set up by their static initialisers (all zero), so nothing
// runs at load and nothing needs freeing at unload.
#include <windows.h>

#include "gmt/cache_lock.h"

namespace kestrune::cache_lock {
namespace {
SRWLOCK cache_srw = SRWLOCK_INIT;
CONDITION_VARIABLE attempt_ended = CONDITION_VARIABLE_INIT;
}  // namespace

void lock() noexcept { AcquireSRWLockExclusive(&cache_srw); }
void unlock() noexcept { ReleaseSRWLockExclusive(&cache_srw); }
void wait() noexcept {
  SleepConditionVariableSRW(&attempt_ended, &cache_srw, INFINITE, 0);
}
void wake_all() noexcept { WakeAllConditionVariable(&attempt_ended); }

}  // namespace kestrune::cache_lock
