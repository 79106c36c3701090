// http_post when memory runs out: no exception escapes, every handle opened is
// closed, and the body is either left alone or holds what was read.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gmt/http_fetch.h"
#include "tests/alloc_fault.h"
#include "tests/fake_platform.h"

namespace {

using kestrune::FETCH_OK;
using kestrune::FETCH_OPEN_FAILED;
using kestrune::FetchResult;
using kestrune::HttpHandle;
using kestrune::fake::FakePlatform;
using kestrune::fake::Op;

const std::string SENTINEL = "left as the caller passed it";
// Longer than any short-string buffer, so their copies take memory.
const std::string HOST = "a-host-name-longer-than-a-short-string.example";
const std::string PATH = "/a/path/longer/than/a/short/string.php";

class HttpPostOutOfMemory : public testing::Test {
 protected:
  FetchResult post_armed(std::string& body) {
    alloc_fault::Disarm disarm;
    return kestrune::http_post(HOST, PATH, body);
  }

  void expect_closed_in_reverse() {
    std::vector<HttpHandle> opened = fake.opened();
    std::reverse(opened.begin(), opened.end());
    EXPECT_EQ(fake.closed(), opened);
    EXPECT_TRUE(fake.still_open().empty());
    EXPECT_EQ(fake.bad_closes(), 0);
  }

  FakePlatform fake;
};

TEST_F(HttpPostOutOfMemory, ChunkBufferThatCannotBeHadEndsTheBody) {
  fake.answer_chunks({"ab", std::string(100000, 'y'), "cd"});
  std::string body = SENTINEL;
  alloc_fault::fail_above(50000);
  const FetchResult result = post_armed(body);
  EXPECT_TRUE(alloc_fault::fired());
  EXPECT_EQ(result, FETCH_OK);
  EXPECT_EQ(body, "ab");
  // The big chunk was reported, then the loop ended without reading it.
  const std::vector<Op> ops = fake.ops();
  const std::vector<Op> want = {
      Op::http_open,         Op::http_connect,
      Op::http_open_request, Op::http_send_request,
      Op::http_receive_response,
      Op::http_query_data_available, Op::http_read_data,
      Op::http_query_data_available,
      Op::http_close_handle, Op::http_close_handle, Op::http_close_handle};
  EXPECT_EQ(ops, want);
  expect_closed_in_reverse();
}

// Fail allocation n, for n = 1, 2, ... until no allocation fails.
TEST_F(HttpPostOutOfMemory, FailingEachAllocationInTurn) {
  fake.answer_chunks({"0123456789abcdefghij", "KLMNOPQRSTUVWXYZ0123456789", "tail"});
  const std::string whole =
      "0123456789abcdefghijKLMNOPQRSTUVWXYZ0123456789tail";
  bool saw_open_failure = false, saw_partial_body = false;
  for (long n = 1;; ++n) {
    SCOPED_TRACE("failing allocation " + std::to_string(n));
    ASSERT_LT(n, 100) << "allocations never stop";
    fake.reset();
    std::string body = SENTINEL;
    alloc_fault::fail_nth(n);
    const FetchResult result = post_armed(body);
    if (!alloc_fault::fired()) {
      EXPECT_EQ(result, FETCH_OK);
      EXPECT_EQ(body, whole);
      break;
    }
    if (result == FETCH_OPEN_FAILED) {
      // No room for the names: nothing was sent.
      saw_open_failure = true;
      EXPECT_EQ(body, SENTINEL);
      const std::vector<Op> ops = fake.ops();
      EXPECT_EQ(std::count(ops.begin(), ops.end(), Op::http_send_request), 0);
    } else {
      ASSERT_EQ(result, FETCH_OK);
      saw_partial_body = true;
      EXPECT_LT(body.size(), whole.size());
      EXPECT_EQ(body, whole.substr(0, body.size())) << "not what was read until then";
    }
    expect_closed_in_reverse();
  }
  EXPECT_TRUE(saw_open_failure);
  EXPECT_TRUE(saw_partial_body);
}

}  // namespace
