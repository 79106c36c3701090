// The lock around the GMT offset cache, and the signal that a service
// attempt has ended. Both need no initialisation when the library loads
// (static initialisers only), so DllMain stays empty. The build picks the
// platform file: cache_lock_win32.cpp (SRWLOCK, CONDITION_VARIABLE) or
// cache_lock_native.cpp (std::mutex, std::condition_variable).
#pragma once

namespace kestrune::cache_lock {

void lock() noexcept;
void unlock() noexcept;
// Called with the lock held: releases it, sleeps until wake_all() (or a
// spurious wake-up), and holds it again on return.
void wait() noexcept;
void wake_all() noexcept;

// Holds the lock for its scope.
class Guard {
 public:
  Guard() noexcept { lock(); }
  ~Guard() { unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
};

}  // namespace kestrune::cache_lock
