#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "gmt/gmt_offset.h"
#include "gmt/gmt_offset_testing.h"
#include "tests/fake_platform.h"

namespace {

using kestrune::CACHE_LIFETIME;
using kestrune::fetch_gmt_time;
using kestrune::GMT_BODY_LIMIT;
using kestrune::GMT_FROM_CLOCK;
using kestrune::GMT_FROM_SERVER;
using kestrune::GmtOffsetCache;
using kestrune::round_quarter_hour;
using kestrune::scan_gmt_body;
using kestrune::time_diff;
using kestrune::fake::FakePlatform;
using kestrune::fake::Op;
namespace gmt_testing = kestrune::gmt_testing;

// ---- The body, read as "%d" reads it -------------------------------------

struct BodyCase {
  const char* what;
  std::string_view body;  // may hold zero bytes
  int32_t scanned;        // 1 number, 0 no match, -1 ended before a digit
  int32_t value;          // when scanned is 1
};

using namespace std::string_view_literals;

const BodyCase BODY_CASES[] = {
    {"plain seconds", "1718000000"sv, 1, 1718000000},
    {"nginx $msec: read up to the dot", "1718000000.123"sv, 1, 1718000000},
    {"trailing line feed", "1718000000\n"sv, 1, 1718000000},
    {"CR LF before the digits", "\r\n1718000000"sv, 1, 1718000000},
    {"every white-space byte", "\t\n\v\f\r 42"sv, 1, 42},
    {"two spaces, 42, letters", "  42abc"sv, 1, 42},
    {"leading zeros", "007"sv, 1, 7},
    {"hex prefix reads the zero", "0x1A"sv, 1, 0},
    {"plus sign", "+5"sv, 1, 5},
    {"minus sign", "-5"sv, 1, -5},
    {"minus zero", "-0"sv, 1, 0},
    {"space then sign", " -17"sv, 1, -17},
    {"largest int32", "2147483647"sv, 1, 2147483647},
    {"2^31 wraps negative", "2147483648"sv, 1, INT32_MIN},
    {"smallest int32", "-2147483648"sv, 1, INT32_MIN},
    {"below int32 wraps positive", "-2147483649"sv, 1, INT32_MAX},
    {"2^32 wraps to zero", "4294967296"sv, 1, 0},
    {"2^32 + 1", "4294967297"sv, 1, 1},
    {"eleven digits wrap", "99999999999"sv, 1, 1215752191},
    {"digits stop at a zero byte", "12\0" "34"sv, 1, 12},
    // The text ends before a digit: -1.
    {"empty", ""sv, -1, 0},
    {"white space only", " \t\r\n"sv, -1, 0},
    {"plus alone", "+"sv, -1, 0},
    {"minus alone", "-"sv, -1, 0},
    {"space and sign", "  -"sv, -1, 0},
    {"first byte zero", "\0" "123"sv, -1, 0},
    {"zero byte after spaces", "  \0" "123"sv, -1, 0},
    {"zero byte after the sign", "-\0" "5"sv, -1, 0},
    // Another byte where the sign or first digit should be: 0.
    {"a letter", "abc"sv, 0, 0},
    {"an HTML page", "<html><body>502</body></html>"sv, 0, 0},
    {"sign, space, digits", "+ 5"sv, 0, 0},
    {"minus, tab, digits", "-\t5"sv, 0, 0},
    {"two signs", "--5"sv, 0, 0},
    {"plus then minus", "+-5"sv, 0, 0},
    {"a dot first", ".5"sv, 0, 0},
    {"UTF-8 byte-order mark", "\xEF\xBB\xBF" "1718000000"sv, 0, 0},
    {"Latin-1 no-break space", "\xA0" "5"sv, 0, 0},
    {"NEL is no space", "\x85" "5"sv, 0, 0},
    {"file separator is no space", "\x1C" "5"sv, 0, 0},
    {"fullwidth digit one", "\xEF\xBC\x91"sv, 0, 0},
    {"Arabic-Indic digit one", "\xD9\xA1"sv, 0, 0},
    {"superscript two (Latin-1)", "\xB2"sv, 0, 0},
};

class BodyParse : public testing::TestWithParam<BodyCase> {};

TEST_P(BodyParse, ReadsAsPercentD) {
  const BodyCase& c = GetParam();
  int32_t value = 0x5A5A5A5A;
  EXPECT_EQ(scan_gmt_body(c.body, value), c.scanned);
  EXPECT_EQ(value, c.scanned == 1 ? c.value : 0x5A5A5A5A)
      << "value is written only when a number was read";
}

INSTANTIATE_TEST_SUITE_P(Bodies, BodyParse, testing::ValuesIn(BODY_CASES),
                         [](const auto& info) { return std::to_string(info.index); });

// ---- Rounding to a quarter hour -------------------------------------------

struct RoundCase {
  double seconds;
  double hours;
};

const RoundCase ROUND_CASES[] = {
    {0, 0.0},
    {449, 0.0},
    {450, 0.25},       // halfway goes up
    {-450, 0.0},       // ... towards +infinity, also below zero
    {-451, -0.25},
    {1349, 0.25},
    {1350, 0.5},       // 22 min 30 s
    {-1350, -0.25},
    {-1351, -0.5},
    {18000, 5.0},
    {18449, 5.0},      // 5 h 7 min 29 s
    {18450, 5.25},     // 5 h 7 min 30 s
    {-7650, -2.0},     // -2 h 7 min 30 s
    {-7651, -2.25},    // -2 h 7 min 31 s
    {-36000, -10.0},
    {50400 + 2700, 14.75},
    {4294967295.0, 1193046.5},
    {-4294967295.0, -1193046.5},
};

TEST(RoundQuarterHour, Table) {
  for (const RoundCase& c : ROUND_CASES)
    EXPECT_EQ(round_quarter_hour(c.seconds), c.hours) << c.seconds << " s";
}

TEST(RoundQuarterHour, EveryHalfwayPointOfADayRoundsUp) {
  for (int q = -96; q < 96; ++q) {
    const double halfway = q * 900.0 + 450.0;
    EXPECT_EQ(round_quarter_hour(halfway), (q + 1) * 0.25) << halfway;
    EXPECT_EQ(round_quarter_hour(halfway - 1), q * 0.25) << halfway - 1;
  }
}

// ---- time_diff --------------------------------------------------------------

TEST(TimeDiff, Table) {
  struct {
    int64_t later, earlier;
    double diff;
  } cases[] = {
      {10, 3, 7.0},
      {3, 10, -7.0},
      {0, 0, 0.0},
      {-1, 5, 0.0},
      {5, -1, 0.0},
      {-5, -1, 0.0},
      {4294967295, 0, 4294967295.0},
      {0, 4294967295, -4294967295.0},
      {2147483648, 2147483647, 1.0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(time_diff(c.later, c.earlier), c.diff) << c.later << " - " << c.earlier;
}

// ---- GetGmtOffset over a fake clock and a fake service ----------------------

constexpr int64_t NOW = FakePlatform::DEFAULT_NOW;
constexpr int64_t HOUR = 3600;
// What the fake service answers: its GMT clock, a little behind ours.
constexpr int64_t GMT = NOW - 7;

std::u16string widen(std::string_view s) { return {s.begin(), s.end()}; }

// A fresh cache and a fake platform for every test; the service answers GMT
// unless the test says otherwise.
class GetGmtOffsetTest : public testing::Test {
 protected:
  void SetUp() override {
    gmt_testing::reset_gmt_offset_cache();
    fake.answer(std::to_string(GMT));
  }
  void TearDown() override { gmt_testing::reset_gmt_offset_cache(); }

  int32_t call(int64_t wall_time, int32_t use_server = 1) {
    offset = -9999.0;  // written on every path
    return GetGmtOffset(static_cast<uint32_t>(wall_time), use_server, &offset);
  }
  static GmtOffsetCache cache() { return gmt_testing::gmt_offset_cache(); }
  static double clock_answer(int64_t wall_time, int64_t now) {
    return round_quarter_hour(static_cast<double>(wall_time - now));
  }

  FakePlatform fake;
  double offset = 0.0;
};

TEST_F(GetGmtOffsetTest, FirstCallAsksTheServiceAndCachesItsAnswer) {
  EXPECT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER);
  EXPECT_EQ(offset, 5.0);
  EXPECT_EQ(fake.sends(), 1);
  EXPECT_TRUE(fake.still_open().empty());
  const GmtOffsetCache c = cache();
  EXPECT_EQ(c.last_attempt, NOW);
  EXPECT_EQ(c.cached_state, 1);
  EXPECT_EQ(c.cached_offset, 5.0);
}

TEST_F(GetGmtOffsetTest, TheRequestIsAPostToTheServicePath) {
  call(GMT + 5 * HOUR);
  bool connected = false, opened = false;
  for (const auto& c : fake.calls()) {
    if (c.op == Op::http_connect) {
      connected = true;
      EXPECT_EQ(c.text, widen(kestrune::service_host));
    }
    if (c.op == Op::http_open_request) {
      opened = true;
      EXPECT_EQ(c.text, u"POST");
      EXPECT_EQ(c.path, u"/access/gmt.php");
    }
  }
  EXPECT_TRUE(connected && opened);
}

TEST_F(GetGmtOffsetTest, DefaultServiceHostIsUnderInvalid) {
  const std::string_view host = kestrune::service_host;
  EXPECT_TRUE(host.ends_with(".invalid")) << host;
}

TEST_F(GetGmtOffsetTest, CacheHitWithinTheHourTakesOneClockReadingAndNoRequest) {
  ASSERT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER);
  fake.advance(10 * 60);
  fake.reset();
  // Any wall_time, even 0: the cached offset stands.
  for (int64_t wall : {GMT + 5 * HOUR, GMT - 3 * HOUR, int64_t{0}}) {
    EXPECT_EQ(call(wall), GMT_FROM_SERVER);
    EXPECT_EQ(offset, 5.0);
  }
  EXPECT_EQ(fake.ops(), std::vector<Op>(3, Op::clock_now));
}

// The hour counts from the start of the request, not from its answer: here
// the exchange takes 20 s.
TEST_F(GetGmtOffsetTest, ExpiresExactly3600SecondsAfterTheAttemptBegan) {
  fake.take_seconds(20);
  ASSERT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER);
  fake.set_now(NOW + CACHE_LIFETIME - 1);
  EXPECT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER);
  EXPECT_EQ(fake.sends(), 1);
  fake.set_now(NOW + CACHE_LIFETIME);
  EXPECT_EQ(call(GMT + 2 * HOUR), GMT_FROM_SERVER);
  EXPECT_EQ(fake.sends(), 2);
  EXPECT_EQ(cache().last_attempt, NOW + CACHE_LIFETIME);
}

TEST_F(GetGmtOffsetTest, ClockSetBackKeepsTheCacheUntilAnHourAfterTheAttempt) {
  ASSERT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER);
  for (int64_t back : {NOW - 1, NOW - 86400, int64_t{0}, NOW + CACHE_LIFETIME - 1}) {
    fake.set_now(back);
    EXPECT_EQ(call(GMT + 1 * HOUR), GMT_FROM_SERVER) << back;
    EXPECT_EQ(offset, 5.0) << back;
  }
  EXPECT_EQ(fake.sends(), 1);
  fake.set_now(NOW + CACHE_LIFETIME);
  call(GMT + 5 * HOUR);
  EXPECT_EQ(fake.sends(), 2);
}

TEST_F(GetGmtOffsetTest, FailureAnswersFromTheClockAndTheNextCallAsksAgain) {
  fake.fail(Op::http_send_request);
  EXPECT_EQ(call(NOW + 3 * HOUR), GMT_FROM_CLOCK);
  EXPECT_EQ(offset, 3.0);
  GmtOffsetCache c = cache();
  EXPECT_EQ(c.cached_state, 0);
  EXPECT_EQ(c.last_attempt, NOW);
  // Same second: still asks, since nothing is cached.
  fake.fail(std::nullopt);
  EXPECT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER);
  EXPECT_EQ(offset, 5.0);
  EXPECT_EQ(fake.sends(), 2);
}

TEST_F(GetGmtOffsetTest, FailureAfterExpiryEmptiesTheCache) {
  ASSERT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER);
  fake.set_now(NOW + CACHE_LIFETIME);
  fake.answer("<html>captive portal</html>");
  EXPECT_EQ(call(NOW + CACHE_LIFETIME + 2 * HOUR), GMT_FROM_CLOCK);
  EXPECT_EQ(offset, 2.0);
  EXPECT_EQ(cache().cached_state, 0);
  EXPECT_EQ(cache().last_attempt, NOW + CACHE_LIFETIME);
  // No stale answer a minute later: the service is asked again.
  fake.advance(60);
  EXPECT_EQ(call(NOW + CACHE_LIFETIME + 2 * HOUR), GMT_FROM_CLOCK);
  EXPECT_EQ(fake.sends(), 3);
}

// The failure is measured against the first clock reading, even when the
// failed exchange took a while.
TEST_F(GetGmtOffsetTest, ClockAnswerUsesTheReadingTakenBeforeTheAttempt) {
  fake.fail(Op::http_receive_response);
  fake.take_seconds(900);
  EXPECT_EQ(call(NOW + 1 * HOUR), GMT_FROM_CLOCK);
  EXPECT_EQ(offset, 1.0);
}

TEST_F(GetGmtOffsetTest, WallTimeZeroMakesAGoodAnswerUnusable) {
  ASSERT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER);
  fake.set_now(NOW + CACHE_LIFETIME);
  EXPECT_EQ(call(0), GMT_FROM_CLOCK);
  EXPECT_EQ(offset, clock_answer(0, NOW + CACHE_LIFETIME));
  EXPECT_EQ(fake.sends(), 2) << "the service is still asked";
  EXPECT_EQ(cache().cached_state, 0);
  EXPECT_EQ(call(GMT + 4 * HOUR), GMT_FROM_SERVER);
  EXPECT_EQ(offset, 4.0);
  EXPECT_EQ(fake.sends(), 3);
}

// A negative service time makes the difference 0: only the elapsed seconds
// remain, and the answer is cached like any other.
TEST_F(GetGmtOffsetTest, NegativeAnswerGivesTheRoundedElapsedTimeAndIsCached) {
  struct {
    const char* body;
    int64_t seconds;  // the exchange takes this long
    double hours;
  } cases[] = {
      {"-5", 0, 0.0},
      {"2147483648", 0, 0.0},  // wraps to -2^31
      {"-1", 449, 0.0},
      {"-1", 450, 0.25},
  };
  for (const auto& c : cases) {
    gmt_testing::reset_gmt_offset_cache();
    fake.set_now(NOW);
    fake.answer(c.body);
    fake.take_seconds(c.seconds);
    fake.reset();
    EXPECT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER) << c.body;
    EXPECT_EQ(offset, c.hours) << c.body << " " << c.seconds;
    EXPECT_EQ(cache().cached_state, 1);
    fake.advance(60);
    EXPECT_EQ(call(NOW), GMT_FROM_SERVER);
    EXPECT_EQ(offset, c.hours);
    EXPECT_EQ(fake.sends(), 1) << c.body;
  }
}

TEST_F(GetGmtOffsetTest, ElapsedSecondsOfTheExchangeAreAdded) {
  const int64_t wall = GMT + 5 * HOUR + 7 * 60 + 10;  // 5 h 7 min 10 s
  EXPECT_EQ(call(wall), GMT_FROM_SERVER);
  EXPECT_EQ(offset, 5.0);
  gmt_testing::reset_gmt_offset_cache();
  fake.take_seconds(20);
  EXPECT_EQ(call(wall), GMT_FROM_SERVER);
  EXPECT_EQ(offset, 5.25);
}

TEST_F(GetGmtOffsetTest, UseServerZeroNeitherReadsNorChangesTheCache) {
  ASSERT_EQ(call(GMT + 5 * HOUR), GMT_FROM_SERVER);
  fake.advance(60);
  fake.reset();
  const GmtOffsetCache before = cache();
  EXPECT_EQ(call(NOW + 60 + 2 * HOUR, 0), GMT_FROM_CLOCK);
  EXPECT_EQ(offset, 2.0);
  EXPECT_EQ(call(0, 0), GMT_FROM_CLOCK);
  EXPECT_EQ(offset, clock_answer(0, NOW + 60));
  EXPECT_EQ(fake.ops(), std::vector<Op>(2, Op::clock_now));
  const GmtOffsetCache after = cache();
  EXPECT_EQ(after.last_attempt, before.last_attempt);
  EXPECT_EQ(after.cached_state, before.cached_state);
  EXPECT_EQ(after.cached_offset, before.cached_offset);
}

// A null offset_hours is a script's mistake; it costs the answer, not the
// terminal. The call still behaves as it would otherwise.
TEST_F(GetGmtOffsetTest, NullOffsetPointerIsSurvivedAndTheCacheStillFills) {
  EXPECT_EQ(GetGmtOffset(static_cast<uint32_t>(NOW + 2 * HOUR), 0, nullptr),
            GMT_FROM_CLOCK);
  EXPECT_EQ(GetGmtOffset(static_cast<uint32_t>(GMT + 5 * HOUR), 1, nullptr),
            GMT_FROM_SERVER);
  EXPECT_EQ(fake.sends(), 1);
  EXPECT_EQ(call(0), GMT_FROM_SERVER);  // from the cache the null call filled
  EXPECT_EQ(offset, 5.0);
}

TEST_F(GetGmtOffsetTest, EveryNonzeroUseServerSelectsTheService) {
  for (int32_t use_server : {1, -1, 2, INT32_MIN, INT32_MAX}) {
    gmt_testing::reset_gmt_offset_cache();
    fake.reset();
    EXPECT_EQ(call(GMT + 5 * HOUR, use_server), GMT_FROM_SERVER) << use_server;
    EXPECT_EQ(fake.sends(), 1) << use_server;
  }
}

// 2^31 and more are times after January 2038, never negative.
TEST_F(GetGmtOffsetTest, WallTimesFrom2To31AreLate) {
  for (int64_t wall : {int64_t{1} << 31, int64_t{0xFFFFFFFF}}) {
    gmt_testing::reset_gmt_offset_cache();
    EXPECT_EQ(call(wall), GMT_FROM_SERVER);
    EXPECT_EQ(offset, round_quarter_hour(static_cast<double>(wall - GMT)));
    EXPECT_GT(offset, 100000.0);
    EXPECT_EQ(call(wall, 0), GMT_FROM_CLOCK);
    EXPECT_EQ(offset, clock_answer(wall, NOW));
    EXPECT_GT(offset, 100000.0);
  }
}

// ---- What the service's body makes of the answer ----------------------------

struct ServiceCase {
  const char* what;
  std::vector<std::string> chunks;
  int32_t fetched;  // fetch_gmt_time's return
  int64_t gmt;      // when fetched is 1
};

const ServiceCase SERVICE_CASES[] = {
    {"nginx $msec", {"1699999993.120"}, 1, GMT},
    {"digits across chunks", {"16999", "99993"}, 1, GMT},
    {"two spaces, 42, letters", {"  42abc"}, 1, 42},
    {"CR LF first", {"\r\n1699999993"}, 1, GMT},
    {"2^31 reads negative", {"2147483648"}, 1, INT32_MIN},
    {"a letter first", {"x1699999993"}, 0, 0},
    {"an error page", {"<h1>404 Not Found</h1>"}, 0, 0},
    {"sign, space, digits", {"- 5"}, 0, 0},
    {"byte-order mark", {"\xEF\xBB\xBF" "1699999993"}, 0, 0},
    {"empty", {}, -1, 0},
    {"white space only", {"  \r\n"}, -1, 0},
    {"sign alone", {"+"}, -1, 0},
    {"first byte zero", {std::string("\0" "1699999993", 11)}, -1, 0},
};

class ServiceBody : public testing::TestWithParam<ServiceCase> {
 protected:
  void SetUp() override { gmt_testing::reset_gmt_offset_cache(); }
  void TearDown() override { gmt_testing::reset_gmt_offset_cache(); }
  FakePlatform fake;
};

TEST_P(ServiceBody, FetchAndResult) {
  const ServiceCase& c = GetParam();
  fake.answer_chunks(c.chunks);
  int64_t gmt = -42;
  EXPECT_EQ(fetch_gmt_time(gmt), c.fetched);
  EXPECT_EQ(gmt, c.fetched == 1 ? c.gmt : -42) << "written only on success";

  double offset = -9999.0;
  const int32_t r = GetGmtOffset(static_cast<uint32_t>(NOW + 2 * HOUR), 1, &offset);
  EXPECT_EQ(r, c.fetched == 1 ? GMT_FROM_SERVER : GMT_FROM_CLOCK);
  if (r == GMT_FROM_CLOCK) {
    EXPECT_EQ(offset, 2.0);
  }
  EXPECT_TRUE(fake.still_open().empty());
}

INSTANTIATE_TEST_SUITE_P(Bodies, ServiceBody, testing::ValuesIn(SERVICE_CASES),
                         [](const auto& info) { return std::to_string(info.index); });

TEST(FetchGmtTime, EveryFailedStepGivesMinusOneAndClosesWhatItOpened) {
  for (Op op : {Op::http_open, Op::http_connect, Op::http_open_request,
                Op::http_send_request, Op::http_receive_response,
                Op::http_query_data_available, Op::http_read_data}) {
    FakePlatform fake;
    fake.answer("1699999993");
    fake.fail(op);
    int64_t gmt = -42;
    EXPECT_EQ(fetch_gmt_time(gmt), -1) << op;
    EXPECT_EQ(gmt, -42) << op;
    EXPECT_TRUE(fake.still_open().empty()) << op;
    EXPECT_EQ(fake.bad_closes(), 0) << op;
  }
}

// The time is in the first bytes; a service that sends without end (or a
// portal's huge page) is read no further than 64 KiB, and the handles are
// closed.
TEST(FetchGmtTime, ReadsAtMost64KiBOfAnEndlessBody) {
  FakePlatform fake;
  fake.answer_chunks({"1699999993 ", std::string(4000, 'x')});
  fake.endless(true);
  int64_t gmt = 0;
  EXPECT_EQ(fetch_gmt_time(gmt), 1);
  EXPECT_EQ(gmt, GMT);
  uint64_t delivered = 0;
  for (const auto& c : fake.calls())
    if (c.op == Op::http_read_data) delivered += c.count;
  EXPECT_EQ(delivered, GMT_BODY_LIMIT);
  EXPECT_TRUE(fake.still_open().empty());
}

TEST(FetchGmtTime, NothingPast64KiBIsRead) {
  FakePlatform fake;
  // The digits start one byte past the bound: all that is read is spaces.
  fake.answer_chunks({std::string(GMT_BODY_LIMIT, ' '), "1699999993"});
  int64_t gmt = -42;
  EXPECT_EQ(fetch_gmt_time(gmt), -1);
  fake.answer_chunks({std::string(GMT_BODY_LIMIT - 1, ' '), "1699999993"});
  EXPECT_EQ(fetch_gmt_time(gmt), 1);
  EXPECT_EQ(gmt, 1) << "only the first digit fits";
}

}  // namespace
