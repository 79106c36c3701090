#include "gmt/platform.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

using kestrune::platform;
using kestrune::production_platform;
using kestrune::set_platform;

TEST(Platform, IsTheBuildsOwnTableUntilReplaced) {
  EXPECT_EQ(&platform(), &production_platform());
  kestrune::PlatformOps other = production_platform();
  set_platform(&other);
  EXPECT_EQ(&platform(), &other);
  set_platform(nullptr);
  EXPECT_EQ(&platform(), &production_platform());
}

TEST(Platform, ClockIsWholeUtcSecondsSince1970) {
  // time() counts the same seconds, fraction dropped, on both builds.
  const std::time_t before = std::time(nullptr);
  const int64_t now = production_platform().clock_now();
  const std::time_t after = std::time(nullptr);
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}

}  // namespace
