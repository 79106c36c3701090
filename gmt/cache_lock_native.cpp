// The cache lock natively: std::mutex is constant-initialised; the condition
// variable is a plain static as well.
#include <condition_variable>
#include <mutex>

#include "gmt/cache_lock.h"

namespace kestrune::cache_lock {
namespace {
constinit std::mutex cache_mutex;
std::condition_variable attempt_ended;
}  // namespace

void lock() noexcept { cache_mutex.lock(); }
void unlock() noexcept { cache_mutex.unlock(); }
void wait() noexcept {
  // The caller holds the mutex; hand it to the wait and take it back.
  std::unique_lock<std::mutex> held(cache_mutex, std::adopt_lock);
  attempt_ended.wait(held);
  held.release();
}
void wake_all() noexcept { attempt_ended.notify_all(); }

}  // namespace kestrune::cache_lock
