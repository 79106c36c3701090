// A scripted stand-in for the platform table, for tests: HTTP exchanges that
// answer what the test says and fail where it says, and a clock the test sets.
// Every call is recorded in order, and every handle is tracked from open to
// close.
//
//   kestrune::fake::FakePlatform fake;          // installed until destroyed
//   fake.answer("1700000000");                  // every exchange: this body
//   fake.take_seconds(20);                      // ... and the send takes 20 s
//   fake.fail(fake::Op::http_send_request);     // or: no service answers
//   fake.script({{.chunks = {"12", "34"}}, {.fail = fake::Op::http_open}});
//   fake.fail_call(5);                          // the 5th HTTP call fails
//
// The operations themselves allocate no memory (records go to storage taken
// when the fake is made), so a test may fail allocations around them. They
// are safe to call from several threads at once. Only one FakePlatform may
// exist at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gmt/platform.h"

namespace kestrune::fake {

// The table's operations, under the names of its fields.
enum class Op : uint8_t {
  http_open,
  http_connect,
  http_open_request,
  http_send_request,
  http_receive_response,
  http_query_data_available,
  http_read_data,
  http_close_handle,
  clock_now,
};
const char* op_name(Op op);
std::ostream& operator<<(std::ostream& out, Op op);

// What one exchange (one http_open and whatever follows it) meets.
struct Exchange {
  // The body, in the pieces the service hands out: each is reported
  // available whole and read in one go. An empty piece reports 0, which ends
  // the body there, as a platform reporting 0 would.
  std::vector<std::string> chunks = {};
  // This operation fails every time the exchange calls it.
  std::optional<Op> fail = std::nullopt;
  // The fake clock moves on this many seconds during the send.
  int64_t seconds = 0;
  // The chunks repeat for ever: a body that never ends.
  bool endless = false;
};

// One recorded call.
struct Call {
  Op op;
  HttpHandle handle;   // the handle it was given; null for http_open, clock_now
  HttpHandle yielded;  // the handle an opening call yielded (null if it failed)
  uint32_t size;       // query: bytes reported; read: bytes asked for
  uint32_t count;      // read: bytes delivered
  bool ok;             // false when the call failed
  std::u16string text;  // http_open: agent; connect: host; open_request: verb
  std::u16string path;  // open_request: path
};

class FakePlatform {
 public:
  static constexpr int64_t DEFAULT_NOW = 1'700'000'000;  // 2023-11-14 22:13:20

  FakePlatform();  // installs itself with set_platform()
  ~FakePlatform();  // restores the build's own table
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // The script. Set it before the calls it is for.
  void answer(std::string body);                 // every exchange: one chunk
  void answer_chunks(std::vector<std::string> chunks);
  void fail(std::optional<Op> op);               // every exchange
  void take_seconds(int64_t seconds);            // every exchange
  void endless(bool on);                         // every exchange
  // One Exchange for each exchange in turn; after them, the one the calls
  // above describe.
  void script(std::vector<Exchange> exchanges);
  // The n-th HTTP operation called (1-based, counted from the fake's making
  // or its last reset(), clock readings not counted) fails; 0 for none.
  void fail_call(int n);
  // The most bytes one read delivers, whatever it was asked for.
  void deliver_at_most(uint32_t bytes);
  // Run during each send, outside the fake's lock, with the exchange's
  // number (0-based): to sleep, or to wait until the test lets it go on.
  void on_send(std::function<void(int exchange)> hook);

  // The clock.
  void set_now(int64_t seconds);
  void advance(int64_t seconds);
  int64_t now() const;

  // Forgets every record, handle and count (fault_fired too); keeps the
  // script, the clock and the fail_call target.
  void reset();

  // The records.
  std::vector<Call> calls() const;  // in order, clock readings included
  std::vector<Op> ops() const;      // the same, operations only
  std::vector<HttpHandle> opened() const;  // in the order opened
  std::vector<HttpHandle> closed() const;  // every close, in order
  std::vector<HttpHandle> still_open() const;
  int bad_closes() const;   // closes of a handle not open at the time
  int exchanges() const;    // http_open calls
  int sends() const;        // http_send_request calls
  int clock_reads() const;
  int http_calls() const;   // HTTP operations called, as fail_call counts
  bool fault_fired() const;  // a fail_call target was reached
  bool overflowed() const;   // more calls or handles than the records hold

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace kestrune::fake
