#include "gmt/http_fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/fake_platform.h"

namespace {

using namespace std::string_literals;
using kestrune::FETCH_EXCHANGE_FAILED;
using kestrune::FETCH_OK;
using kestrune::FETCH_OPEN_FAILED;
using kestrune::FetchResult;
using kestrune::HttpHandle;
using kestrune::http_post;
using kestrune::NO_LIMIT;
using kestrune::fake::Call;
using kestrune::fake::FakePlatform;
using kestrune::fake::Op;

const std::string SENTINEL = "left as the caller passed it";

std::u16string widened(const std::string& bytes) {
  std::u16string out;
  for (unsigned char b : bytes) out.push_back(b);
  return out;
}

class HttpPost : public testing::Test {
 protected:
  FetchResult post(std::string& body, std::size_t limit = NO_LIMIT) {
    return http_post("time.example", "/access/gmt.php", body, limit);
  }

  // Every handle opened was closed once, request first, then connection,
  // then session, and nothing else was closed.
  void expect_closed_in_reverse() {
    std::vector<HttpHandle> opened = fake.opened();
    std::reverse(opened.begin(), opened.end());
    EXPECT_EQ(fake.closed(), opened);
    EXPECT_TRUE(fake.still_open().empty());
    EXPECT_EQ(fake.bad_closes(), 0);
  }

  FakePlatform fake;
};

TEST_F(HttpPost, CallsTheOperationsInOrderWithTheGivenArguments) {
  fake.answer_chunks({"12", "34"});
  std::string body = SENTINEL;
  const std::string path = "/caf\xE9?x=1";  // a byte above 0x7F: one unit, unsigned
  ASSERT_EQ(http_post("host.example", path, body), FETCH_OK);
  EXPECT_EQ(body, "1234");

  const std::vector<Op> want = {
      Op::http_open,          Op::http_connect,
      Op::http_open_request,  Op::http_send_request,
      Op::http_receive_response,
      Op::http_query_data_available, Op::http_read_data,
      Op::http_query_data_available, Op::http_read_data,
      Op::http_query_data_available,
      Op::http_close_handle,  Op::http_close_handle, Op::http_close_handle};
  EXPECT_EQ(fake.ops(), want);

  const std::vector<Call> c = fake.calls();
  ASSERT_EQ(c.size(), want.size());
  EXPECT_EQ(c[0].text, widened(kestrune::USER_AGENT));
  EXPECT_EQ(c[1].handle, c[0].yielded);  // connect on the session
  EXPECT_EQ(c[1].text, u"host.example");
  EXPECT_EQ(c[2].handle, c[1].yielded);  // request on the connection
  EXPECT_EQ(c[2].text, u"POST");
  EXPECT_EQ(c[2].path, u"/caf\u00E9?x=1");
  const HttpHandle request = c[2].yielded;
  for (std::size_t i = 3; i < 10; ++i) EXPECT_EQ(c[i].handle, request) << i;
  // Each read asks for exactly what was just reported available.
  EXPECT_EQ(c[6].size, c[5].size);
  EXPECT_EQ(c[8].size, c[7].size);
  EXPECT_EQ(c[10].handle, request);
  EXPECT_EQ(c[11].handle, c[1].yielded);
  EXPECT_EQ(c[12].handle, c[0].yielded);
  expect_closed_in_reverse();
}

// Fail the n-th platform call, for n = 1, 2, ... until no fault fires. Each
// row says what the n-th call is and what http_post must make of its failure.
struct FaultCase {
  Op failing;
  FetchResult result;
  std::string body;  // SENTINEL where the body must be left alone
};

TEST_F(HttpPost, FailingEachCallInTurn) {
  const std::vector<std::string> chunks = {"ab", "\0c"s, "def"};
  const std::string whole = "ab\0cdef"s;
  const std::vector<FaultCase> table = {
      {Op::http_open, FETCH_OPEN_FAILED, SENTINEL},
      {Op::http_connect, FETCH_OPEN_FAILED, SENTINEL},
      {Op::http_open_request, FETCH_OPEN_FAILED, SENTINEL},
      {Op::http_send_request, FETCH_EXCHANGE_FAILED, SENTINEL},
      {Op::http_receive_response, FETCH_EXCHANGE_FAILED, SENTINEL},
      // A failure while reading ends the body where it stands.
      {Op::http_query_data_available, FETCH_OK, ""},
      {Op::http_read_data, FETCH_OK, ""},
      {Op::http_query_data_available, FETCH_OK, "ab"},
      {Op::http_read_data, FETCH_OK, "ab"},
      {Op::http_query_data_available, FETCH_OK, "ab\0c"s},
      {Op::http_read_data, FETCH_OK, "ab\0c"s},
      {Op::http_query_data_available, FETCH_OK, whole},  // the one reporting 0
      // A handle that fails to close changes nothing.
      {Op::http_close_handle, FETCH_OK, whole},
      {Op::http_close_handle, FETCH_OK, whole},
      {Op::http_close_handle, FETCH_OK, whole},
  };

  fake.answer_chunks(chunks);
  std::string clean_body;
  ASSERT_EQ(post(clean_body), FETCH_OK);
  const std::vector<Op> clean = fake.ops();

  std::size_t n = 1;
  for (;; ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n));
    fake.reset();
    fake.fail_call(static_cast<int>(n));
    std::string body = SENTINEL;
    const FetchResult result = post(body);
    if (!fake.fault_fired()) {
      EXPECT_EQ(result, FETCH_OK);
      EXPECT_EQ(body, whole);
      break;
    }
    ASSERT_LE(n, table.size()) << "more calls than the table knows";
    const FaultCase& want = table[n - 1];
    const std::vector<Op> ops = fake.ops();
    ASSERT_GE(ops.size(), n);
    EXPECT_EQ(ops[n - 1], want.failing);
    EXPECT_EQ(result, want.result);
    EXPECT_EQ(body, want.body);
    // Up to the failure the calls are those of a clean run; after it come
    // only the closes.
    EXPECT_TRUE(std::equal(ops.begin(), ops.begin() + n, clean.begin()));
    EXPECT_TRUE(std::all_of(ops.begin() + n, ops.end(),
                            [](Op op) { return op == Op::http_close_handle; }));
    expect_closed_in_reverse();
  }
  EXPECT_EQ(n, table.size() + 1) << "the table lists calls that were never made";
}

// Bodies as the service may hand them out, and the limit.
struct BodyCase {
  const char* what;
  std::vector<std::string> chunks;
  std::string want;
  std::size_t limit = NO_LIMIT;
  uint32_t read_cap = UINT32_MAX;  // most bytes one read delivers
  bool endless = false;
};

class HttpPostBody : public HttpPost,
                     public testing::WithParamInterface<BodyCase> {};

TEST_P(HttpPostBody, IsReturnedAsRead) {
  const BodyCase& c = GetParam();
  fake.answer_chunks(c.chunks);
  fake.deliver_at_most(c.read_cap);
  fake.endless(c.endless);
  std::string body = SENTINEL;
  EXPECT_EQ(post(body, c.limit), FETCH_OK);
  EXPECT_EQ(body, c.want);
  // No read asks for more than the room left under the limit.
  std::size_t held = 0;
  for (const Call& call : fake.calls()) {
    if (call.op != Op::http_read_data) continue;
    EXPECT_LE(call.size, c.limit - held) << "asked beyond the limit";
    held += call.count;
  }
  expect_closed_in_reverse();
}

const std::string MIB(1 << 20, 'x');

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpPostBody,
    testing::Values(
        BodyCase{"empty", {}, ""},
        BodyCase{"one_chunk", {"1700000000"}, "1700000000"},
        BodyCase{"several_chunks_in_order", {"a", "bc", "def", "ghij"}, "abcdefghij"},
        BodyCase{"zero_bytes_inside", {"\0"s, "x\0\0y"s, "\0"s}, "\0x\0\0y\0"s},
        BodyCase{"only_zero_bytes", {"\0\0\0"s}, "\0\0\0"s},
        BodyCase{"large_chunk", {MIB, "end"}, MIB + "end"},
        // Reads that deliver less than reported: appended by the count read.
        BodyCase{"short_reads", {"abcdef", "gh"}, "abcdefgh", NO_LIMIT, 4},
        BodyCase{"one_byte_reads", {"ab\0c"s}, "ab\0c"s, NO_LIMIT, 1},
        // The limit: never more than it, and reading stops when it is held.
        BodyCase{"limit_zero", {"abc"}, "", 0},
        BodyCase{"limit_inside_a_chunk", {"abc", "def"}, "abcd", 4},
        BodyCase{"limit_at_a_chunk_end", {"abc", "def"}, "abc", 3},
        BodyCase{"limit_equal_to_body", {"abc", "def"}, "abcdef", 6},
        BodyCase{"limit_above_body", {"abc", "def"}, "abcdef", 7},
        BodyCase{"limit_with_short_reads", {"abcdef"}, "abcde", 5, 2},
        BodyCase{"limit_ends_an_endless_body", {"0123456789"},
                 repeat("0123456789", 10), 100, UINT32_MAX, true}),
    [](const testing::TestParamInfo<BodyCase>& info) { return info.param.what; });

TEST_F(HttpPost, StopsReadingOnceTheLimitIsHeld) {
  fake.answer_chunks({"abc", "def"});
  std::string body;
  ASSERT_EQ(post(body, 3), FETCH_OK);
  const std::vector<Op> ops = fake.ops();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), Op::http_query_data_available), 1);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), Op::http_read_data), 1);
}

// Data reported available, then a read that succeeds with nothing: the body
// ends there rather than asking for ever.
TEST_F(HttpPost, ReadThatDeliversNothingEndsTheBody) {
  fake.answer_chunks({"ab", "cd"});
  fake.deliver_at_most(0);
  std::string body = SENTINEL;
  ASSERT_EQ(post(body), FETCH_OK);
  EXPECT_EQ(body, "");
  const std::vector<Op> ops = fake.ops();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), Op::http_read_data), 1);
  expect_closed_in_reverse();
}

TEST_F(HttpPost, EachCallUsesItsOwnHandles) {
  fake.answer("x");
  std::string first, second;
  ASSERT_EQ(post(first), FETCH_OK);
  ASSERT_EQ(post(second), FETCH_OK);
  EXPECT_EQ(second, "x");
  EXPECT_EQ(fake.exchanges(), 2);
  const std::vector<HttpHandle> h = fake.opened();
  ASSERT_EQ(h.size(), 6u);
  EXPECT_EQ(fake.closed(),
            (std::vector<HttpHandle>{h[2], h[1], h[0], h[5], h[4], h[3]}));
  EXPECT_TRUE(fake.still_open().empty());
}

// The fake as other suites drive it: a script of exchanges taken in turn, the
// clock moving during each send, and a hook run in it.
TEST(FakePlatformScript, ExchangesInTurnThenTheDefault) {
  FakePlatform fake;
  fake.answer("default");
  fake.script({{.chunks = {"first"}, .seconds = 20},
               {.fail = Op::http_send_request, .seconds = 5}});
  std::vector<int> sends;
  fake.on_send([&](int exchange) { sends.push_back(exchange); });
  const kestrune::PlatformOps& ops = kestrune::platform();
  const int64_t start = ops.clock_now();
  EXPECT_EQ(start, FakePlatform::DEFAULT_NOW);

  std::string a, b = "kept", c;
  EXPECT_EQ(http_post("h", "/p", a), FETCH_OK);
  EXPECT_EQ(a, "first");
  EXPECT_EQ(ops.clock_now() - start, 20);
  EXPECT_EQ(http_post("h", "/p", b), FETCH_EXCHANGE_FAILED);
  EXPECT_EQ(b, "kept");
  EXPECT_EQ(ops.clock_now() - start, 25);
  EXPECT_EQ(http_post("h", "/p", c), FETCH_OK);
  EXPECT_EQ(c, "default");
  EXPECT_EQ(sends, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(fake.exchanges(), 3);
  EXPECT_EQ(fake.sends(), 3);
  EXPECT_EQ(fake.clock_reads(), 3);
  EXPECT_FALSE(fake.overflowed());
}

// Calls share nothing: threads posting at once each get the whole body.
TEST_F(HttpPost, SeveralThreadsAtOnce) {
  fake.answer_chunks({"12", "\0"s, "34"});
  constexpr int THREADS = 4, CALLS = 50;
  std::vector<int> good(THREADS, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < CALLS; ++i) {
        std::string body;
        if (post(body) == FETCH_OK && body == "12\0"s + "34") ++good[t];
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good, std::vector<int>(THREADS, CALLS));
  EXPECT_EQ(fake.opened().size(), 3u * THREADS * CALLS);
  EXPECT_TRUE(fake.still_open().empty());
  EXPECT_EQ(fake.bad_closes(), 0);
}

}  // namespace
