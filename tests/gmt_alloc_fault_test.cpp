// GetGmtOffset when memory runs out at any step of a service attempt: no
// exception escapes, the caller gets 1 or 4 with the offset written, the
// attempt counts as made, and every handle is closed. Its own program: the
// failing operator new is process-wide.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "gmt/gmt_offset.h"
#include "gmt/gmt_offset_testing.h"
#include "tests/alloc_fault.h"
#include "tests/fake_platform.h"

namespace {

using kestrune::fake::FakePlatform;
namespace gmt_testing = kestrune::gmt_testing;

constexpr int64_t NOW = FakePlatform::DEFAULT_NOW;
constexpr int64_t HOUR = 3600;
// The service's clock is two hours behind ours, so its answer and the
// machine's clock give different offsets for the same wall_time.
constexpr int64_t GMT = NOW - 2 * HOUR;
constexpr int64_t WALL = NOW + 3 * HOUR;
constexpr double FROM_SERVER = 5.0, FROM_CLOCK = 3.0;

TEST(GetGmtOffsetOutOfMemory, EachAllocationOfAnAttemptFailingInTurn) {
  FakePlatform fake;
  fake.answer(std::to_string(GMT));
  long n = 1;
  for (;; ++n) {
    gmt_testing::reset_gmt_offset_cache();
    fake.reset();
    double offset = -9999.0;
    int32_t r = 0;
    bool fired = false;
    {
      alloc_fault::Disarm disarm;
      alloc_fault::fail_nth(n);
      r = GetGmtOffset(static_cast<uint32_t>(WALL), 1, &offset);
      fired = alloc_fault::fired();
    }
    const kestrune::GmtOffsetCache c = gmt_testing::gmt_offset_cache();
    if (r == kestrune::GMT_FROM_SERVER) {
      EXPECT_EQ(offset, FROM_SERVER) << "allocation " << n;
      EXPECT_EQ(c.cached_state, 1) << "allocation " << n;
    } else {
      EXPECT_EQ(r, kestrune::GMT_FROM_CLOCK) << "allocation " << n;
      EXPECT_EQ(offset, FROM_CLOCK) << "allocation " << n;
      EXPECT_EQ(c.cached_state, 0) << "allocation " << n;
    }
    EXPECT_EQ(c.last_attempt, NOW) << "allocation " << n;
    EXPECT_TRUE(fake.still_open().empty()) << "allocation " << n;
    EXPECT_EQ(fake.bad_closes(), 0) << "allocation " << n;
    if (!fired) {
      EXPECT_EQ(r, kestrune::GMT_FROM_SERVER) << "with memory to spare";
      break;
    }
    ASSERT_LT(n, 1000) << "the attempt never stops allocating";
  }
  EXPECT_GT(n, 1) << "an attempt allocates, so some of them failed";
}

TEST(GetGmtOffsetOutOfMemory, EveryAllocationFailingAtOnce) {
  FakePlatform fake;
  fake.answer(std::to_string(GMT));
  gmt_testing::reset_gmt_offset_cache();
  double offset = -9999.0;
  int32_t r = 0;
  {
    alloc_fault::Disarm disarm;
    alloc_fault::fail_above(0);
    r = GetGmtOffset(static_cast<uint32_t>(WALL), 1, &offset);
  }
  EXPECT_EQ(r, kestrune::GMT_FROM_CLOCK);
  EXPECT_EQ(offset, FROM_CLOCK);
  EXPECT_EQ(gmt_testing::gmt_offset_cache().last_attempt, NOW);
  EXPECT_TRUE(fake.still_open().empty());
  gmt_testing::reset_gmt_offset_cache();
}

TEST(GetGmtOffsetOutOfMemory, ACacheHitAllocatesNothing) {
  FakePlatform fake;
  fake.answer(std::to_string(GMT));
  gmt_testing::reset_gmt_offset_cache();
  double offset = 0.0;
  ASSERT_EQ(GetGmtOffset(static_cast<uint32_t>(WALL), 1, &offset),
            kestrune::GMT_FROM_SERVER);
  fake.advance(60);
  int32_t r = 0;
  long allocations = -1;
  {
    alloc_fault::Disarm disarm;
    alloc_fault::fail_above(0);
    r = GetGmtOffset(static_cast<uint32_t>(WALL), 1, &offset);
    allocations = alloc_fault::allocations();
  }
  EXPECT_EQ(r, kestrune::GMT_FROM_SERVER);
  EXPECT_EQ(offset, FROM_SERVER);
  EXPECT_EQ(allocations, 0);
  gmt_testing::reset_gmt_offset_cache();
}

}  // namespace
