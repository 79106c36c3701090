#include "gmt/platform.h"

#include <atomic>

namespace kestrune {
namespace {

// Null means the build's own table. Constant-initialised, so nothing runs at
// load; atomic, so a test may swap tables while other threads read it.
constinit std::atomic<const PlatformOps*> g_installed{nullptr};

}  // namespace

const PlatformOps& platform() {
  const PlatformOps* ops = g_installed.load(std::memory_order_acquire);
  return ops ? *ops : production_platform();
}

void set_platform(const PlatformOps* ops) {
  g_installed.store(ops, std::memory_order_release);
}

}  // namespace kestrune
