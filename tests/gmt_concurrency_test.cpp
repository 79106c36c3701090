// GetGmtOffset from many threads at once. Run it under ThreadSanitizer too
// (a build with -DKESTRUNE_SANITIZE=thread).
//
// Callers that miss the cache while another caller's request is under way
// wait for that request and take its outcome: one request however many
// callers, and a dead service costs each of them one wait, not one per caller
// ahead of it. The tests hold the fake service's send until every other
// caller is seen waiting, so they prove this by counts and order, not by
// timing.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gmt/gmt_offset.h"
#include "gmt/gmt_offset_testing.h"
#include "tests/fake_platform.h"

namespace {

using kestrune::GMT_FROM_CLOCK;
using kestrune::GMT_FROM_SERVER;
using kestrune::fake::FakePlatform;
using kestrune::fake::Op;
namespace gmt_testing = kestrune::gmt_testing;

constexpr int64_t NOW = FakePlatform::DEFAULT_NOW;
constexpr int64_t HOUR = 3600;
constexpr int CALLERS = 8;

// Holds every send until released, and notes the order of events.
class SendGate {
 public:
  void hold(int /*exchange*/) {
    std::unique_lock<std::mutex> lock(m_);
    ++held_;
    cv_.wait(lock, [&] { return open_; });
    send_done_ = ++events_;
  }
  void release() {
    {
      std::lock_guard<std::mutex> lock(m_);
      open_ = true;
    }
    cv_.notify_all();
  }
  int stamp() {
    std::lock_guard<std::mutex> lock(m_);
    return ++events_;
  }
  int held() {
    std::lock_guard<std::mutex> lock(m_);
    return held_;
  }
  int send_done() {
    std::lock_guard<std::mutex> lock(m_);
    return send_done_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
  int held_ = 0;  // sends that reached the gate
  int events_ = 0;
  int send_done_ = 0;
};

struct Answer {
  int32_t result = 0;
  double offset = -9999.0;
  int returned_at = 0;  // SendGate event number
};

class Concurrent : public testing::Test {
 protected:
  void SetUp() override { gmt_testing::reset_gmt_offset_cache(); }
  void TearDown() override { gmt_testing::reset_gmt_offset_cache(); }

  // CALLERS threads call together; caller i passes walls[i]. Returns once the
  // first request is held and all other callers wait for it, after letting
  // the request go on, with every answer.
  std::vector<Answer> call_together(const std::vector<int64_t>& walls) {
    SendGate gate;
    fake.on_send([&](int exchange) { gate.hold(exchange); });
    std::vector<Answer> answers(walls.size());
    std::latch start(static_cast<std::ptrdiff_t>(walls.size()));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < walls.size(); ++i) {
      threads.emplace_back([&, i] {
        start.arrive_and_wait();
        Answer& a = answers[i];
        a.result = GetGmtOffset(static_cast<uint32_t>(walls[i]), 1, &a.offset);
        a.returned_at = gate.stamp();
      });
    }
    // One caller is in the held send, all the others wait for it. A second
    // send reaching the gate ends the wait too, and fails the test.
    const int others = static_cast<int>(walls.size()) - 1;
    while (gate.held() == 0 ||
           (gate.held() == 1 && gmt_testing::gmt_offset_waiters() < others))
      std::this_thread::yield();
    EXPECT_EQ(gate.held(), 1);
    EXPECT_EQ(gmt_testing::gmt_offset_waiters(), others);
    gate.release();
    for (std::thread& t : threads) t.join();
    for (const Answer& a : answers)
      EXPECT_GT(a.returned_at, gate.send_done()) << "returned before the request ended";
    fake.on_send(nullptr);
    return answers;
  }

  FakePlatform fake;
};

TEST_F(Concurrent, CallersMissingTogetherShareOneFailedRequest) {
  fake.answer("1699999993");
  fake.fail(Op::http_receive_response);
  std::vector<int64_t> walls;
  for (int i = 0; i < CALLERS; ++i) walls.push_back(NOW + i * HOUR);
  const std::vector<Answer> answers = call_together(walls);
  EXPECT_EQ(fake.sends(), 1);
  // Each gets its own clock answer.
  for (int i = 0; i < CALLERS; ++i) {
    EXPECT_EQ(answers[i].result, GMT_FROM_CLOCK) << i;
    EXPECT_EQ(answers[i].offset, static_cast<double>(i)) << i;
  }
  EXPECT_EQ(gmt_testing::gmt_offset_cache().cached_state, 0);
  EXPECT_EQ(gmt_testing::gmt_offset_cache().last_attempt, NOW);
  EXPECT_EQ(gmt_testing::gmt_offset_waiters(), 0);
  // Nothing is cached after a failure: the next caller asks again.
  fake.fail(std::nullopt);
  double offset = 0.0;
  EXPECT_EQ(GetGmtOffset(static_cast<uint32_t>(NOW + 5 * HOUR), 1, &offset),
            GMT_FROM_SERVER);
  EXPECT_EQ(fake.sends(), 2);
}

TEST_F(Concurrent, CallersMissingTogetherShareOneGoodAnswer) {
  fake.answer(std::to_string(NOW));
  const std::vector<int64_t> walls(CALLERS, NOW + 5 * HOUR);
  const std::vector<Answer> answers = call_together(walls);
  EXPECT_EQ(fake.sends(), 1);
  for (const Answer& a : answers) {
    EXPECT_EQ(a.result, GMT_FROM_SERVER);
    EXPECT_EQ(a.offset, 5.0);
  }
  EXPECT_EQ(gmt_testing::gmt_offset_cache().cached_state, 1);
}

// Calls without the service go straight past a held request: they take no
// lock and never wait.
TEST_F(Concurrent, UseServerZeroDoesNotWaitForARequestUnderWay) {
  fake.answer(std::to_string(NOW));
  SendGate gate;
  fake.on_send([&](int exchange) { gate.hold(exchange); });
  std::thread asker([] {
    double offset = 0.0;
    GetGmtOffset(static_cast<uint32_t>(NOW + 5 * HOUR), 1, &offset);
  });
  while (gate.held() < 1) std::this_thread::yield();
  double offset = -9999.0;
  EXPECT_EQ(GetGmtOffset(static_cast<uint32_t>(NOW + 2 * HOUR), 0, &offset),
            GMT_FROM_CLOCK);
  EXPECT_EQ(offset, 2.0);
  gate.release();
  asker.join();
  fake.on_send(nullptr);
}

// Many threads over hours of fake time, hits and expiries interleaved, with
// calls that skip the service mixed in. Every answer is consistent, and the
// service is asked at most once per hour of clock time.
TEST_F(Concurrent, ManyCallersOverManyHours) {
  constexpr int THREADS = 6, CALLS = 3000, STEP = 60, STEPS = 600;
  fake.answer(std::to_string(NOW));  // the service's clock stands still
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread clock([&] {
    for (int i = 0; i < STEPS && !done; ++i) {
      fake.advance(STEP);
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> callers;
  for (int t = 0; t < THREADS; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < CALLS; ++i) {
        double offset = -9999.0;
        const int32_t use_server = (i + t) % 5 == 0 ? 0 : 1;
        const int32_t r = GetGmtOffset(static_cast<uint32_t>(NOW + 5 * HOUR),
                                       use_server, &offset);
        // From the service: 5 h plus the seconds the clock moved on during
        // the exchange that brought the answer. From the clock: 5 h less the
        // time the clock has moved on. Never anything torn or in between.
        const double drift = STEP * STEPS / 3600.0 + 0.25;
        const bool in_steps = offset * 4 == static_cast<double>(static_cast<int>(offset * 4));
        const bool ok =
            in_steps &&
            (r == GMT_FROM_SERVER ? use_server != 0 && offset >= 5.0 && offset <= 5.0 + drift
                                  : r == GMT_FROM_CLOCK && use_server == 0 &&
                                        offset <= 5.0 && offset >= 5.0 - drift);
        if (!ok) ++bad;
      }
    });
  }
  for (std::thread& t : callers) t.join();
  done = true;
  clock.join();
  EXPECT_EQ(bad.load(), 0);
  const int64_t hours_passed = (fake.now() - NOW) / HOUR;
  EXPECT_GE(fake.sends(), 1);
  EXPECT_LE(fake.sends(), hours_passed + 1);
}

}  // namespace
