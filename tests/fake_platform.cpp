#include "tests/fake_platform.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <ostream>
#include <tuple>

namespace kestrune::fake {

namespace {
constexpr std::size_t MAX_CALLS = 1 << 15;
constexpr std::size_t MAX_HANDLES = 4096;
constexpr std::size_t TEXT_UNITS = 1 << 16;

enum class Kind : uint8_t { session, connection, request };

struct Slot {
  Kind kind;
  bool open;
  int exchange;       // the exchange's number, 0-based
  std::size_t chunk;  // request: the piece being read
  std::size_t offset;  // request: bytes of it already read
};

// A call as stored while the fake is in use: no allocation.
struct RawCall {
  Op op;
  bool ok;
  HttpHandle handle;
  HttpHandle yielded;
  uint32_t size, count;
  uint32_t text_at, text_len, path_at, path_len;
};
}  // namespace

struct FakePlatform::State {
  mutable std::mutex mutex;
  // script
  std::vector<Exchange> script;
  Exchange fallback;
  int fail_call = 0;
  uint32_t read_cap = UINT32_MAX;
  // Shared, so a send takes its own reference without allocating.
  std::shared_ptr<const std::function<void(int)>> on_send;
  int64_t now = DEFAULT_NOW;
  // records
  std::unique_ptr<RawCall[]> calls{new RawCall[MAX_CALLS]};
  std::size_t call_count = 0;
  std::unique_ptr<Slot[]> slots{new Slot[MAX_HANDLES]};
  std::size_t slot_count = 0;
  std::unique_ptr<HttpHandle[]> closes{new HttpHandle[MAX_CALLS]};
  std::size_t close_count = 0;
  std::unique_ptr<char16_t[]> text{new char16_t[TEXT_UNITS]};
  std::size_t text_used = 0;
  int bad_closes = 0, exchanges = 0, sends = 0, clock_reads = 0, http_calls = 0;
  bool fault_fired = false, overflowed = false;

  const Exchange& exchange(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < script.size()
               ? script[index]
               : fallback;
  }

  // Counts an HTTP call and says whether the script makes it fail.
  bool fails(Op op, int exchange_index) {
    ++http_calls;
    bool fail = false;
    if (fail_call > 0 && http_calls == fail_call) fault_fired = fail = true;
    if (exchange_index != NO_EXCHANGE && exchange(exchange_index).fail == op)
      fail = true;
    return fail;
  }
  static constexpr int NO_EXCHANGE = -2;

  Slot* slot_of(HttpHandle h) {
    auto* s = static_cast<Slot*>(h);
    if (s < slots.get() || s >= slots.get() + slot_count) return nullptr;
    return s;
  }
  int exchange_of(HttpHandle h) {
    Slot* s = slot_of(h);
    return s ? s->exchange : NO_EXCHANGE;
  }

  HttpHandle open_slot(Kind kind, int exchange_index) {
    if (slot_count == MAX_HANDLES) {
      overflowed = true;
      return nullptr;
    }
    Slot& s = slots[slot_count++];
    s = Slot{kind, true, exchange_index, 0, 0};
    return &s;
  }

  std::pair<uint32_t, uint32_t> keep_text(const char16_t* t) {
    if (!t) return {0, 0};
    std::size_t n = 0;
    while (t[n]) ++n;
    if (text_used + n > TEXT_UNITS) {
      overflowed = true;
      return {0, 0};
    }
    std::copy(t, t + n, text.get() + text_used);
    auto at = static_cast<uint32_t>(text_used);
    text_used += n;
    return {at, static_cast<uint32_t>(n)};
  }

  RawCall& record(Op op, HttpHandle handle) {
    static RawCall spill;
    if (call_count == MAX_CALLS) {
      overflowed = true;
      return spill = RawCall{};
    }
    RawCall& c = calls[call_count++];
    c = RawCall{};
    c.op = op;
    c.handle = handle;
    c.ok = true;
    return c;
  }

  // The request's current piece, skipping those read to the end; null when
  // the body is over.
  const std::string* piece(Slot& s) {
    const Exchange& ex = exchange(s.exchange);
    if (ex.chunks.empty()) return nullptr;
    for (std::size_t tries = 0; tries <= ex.chunks.size(); ++tries) {
      if (s.chunk >= ex.chunks.size()) {
        if (!ex.endless) return nullptr;
        s.chunk = 0;
      }
      const std::string& p = ex.chunks[s.chunk];
      if (p.empty() || s.offset < p.size()) return &p;
      ++s.chunk;
      s.offset = 0;
    }
    return nullptr;
  }
};

namespace {

std::atomic<FakePlatform::State*> g_state{nullptr};

FakePlatform::State& state() { return *g_state.load(std::memory_order_acquire); }

HttpHandle fake_open(const char16_t* agent) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  const int ex = s.exchanges++;
  RawCall& c = s.record(Op::http_open, nullptr);
  std::tie(c.text_at, c.text_len) = s.keep_text(agent);
  c.ok = !s.fails(Op::http_open, ex);
  if (c.ok) c.yielded = s.open_slot(Kind::session, ex);
  c.ok = c.yielded != nullptr;
  return c.yielded;
}

HttpHandle fake_connect(HttpHandle session, const char16_t* host) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  RawCall& c = s.record(Op::http_connect, session);
  std::tie(c.text_at, c.text_len) = s.keep_text(host);
  const int ex = s.exchange_of(session);
  c.ok = !s.fails(Op::http_connect, ex);
  Slot* parent = s.slot_of(session);
  if (c.ok && parent && parent->open && parent->kind == Kind::session)
    c.yielded = s.open_slot(Kind::connection, ex);
  c.ok = c.yielded != nullptr;
  return c.yielded;
}

HttpHandle fake_open_request(HttpHandle connection, const char16_t* verb,
                             const char16_t* path) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  RawCall& c = s.record(Op::http_open_request, connection);
  std::tie(c.text_at, c.text_len) = s.keep_text(verb);
  std::tie(c.path_at, c.path_len) = s.keep_text(path);
  const int ex = s.exchange_of(connection);
  c.ok = !s.fails(Op::http_open_request, ex);
  Slot* parent = s.slot_of(connection);
  if (c.ok && parent && parent->open && parent->kind == Kind::connection)
    c.yielded = s.open_slot(Kind::request, ex);
  c.ok = c.yielded != nullptr;
  return c.yielded;
}

// An operation on an open request handle: records it and says whether it
// goes through.
bool request_call(FakePlatform::State& s, Op op, HttpHandle request,
                  RawCall*& c, Slot*& slot) {
  c = &s.record(op, request);
  slot = s.slot_of(request);
  const bool valid = slot && slot->open && slot->kind == Kind::request;
  c->ok = !s.fails(op, s.exchange_of(request)) && valid;
  return c->ok;
}

bool fake_send_request(HttpHandle request) {
  auto& s = state();
  std::shared_ptr<const std::function<void(int)>> hook;
  int ex;
  bool ok;
  {
    std::lock_guard lock(s.mutex);
    RawCall* c;
    Slot* slot;
    ok = request_call(s, Op::http_send_request, request, c, slot);
    ++s.sends;
    ex = s.exchange_of(request);
    // The exchange takes its time whether or not it goes through.
    s.now += s.exchange(ex).seconds;
    hook = s.on_send;
  }
  if (hook && *hook) (*hook)(ex < 0 ? -1 : ex);
  return ok;
}

bool fake_receive_response(HttpHandle request) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  RawCall* c;
  Slot* slot;
  return request_call(s, Op::http_receive_response, request, c, slot);
}

bool fake_query_data_available(HttpHandle request, uint32_t* available) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  RawCall* c;
  Slot* slot;
  *available = 0;
  if (!request_call(s, Op::http_query_data_available, request, c, slot))
    return false;
  if (const std::string* p = s.piece(*slot))
    *available = static_cast<uint32_t>(p->size() - slot->offset);
  c->size = *available;
  return true;
}

bool fake_read_data(HttpHandle request, void* buffer, uint32_t size,
                    uint32_t* read) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  RawCall* c;
  Slot* slot;
  *read = 0;
  const bool ok = request_call(s, Op::http_read_data, request, c, slot);
  c->size = size;
  if (!ok) return false;
  if (const std::string* p = s.piece(*slot)) {
    const std::size_t n =
        std::min<std::size_t>({size, p->size() - slot->offset, s.read_cap});
    if (n) std::memcpy(buffer, p->data() + slot->offset, n);
    slot->offset += n;
    *read = c->count = static_cast<uint32_t>(n);
  }
  return true;
}

bool fake_close_handle(HttpHandle handle) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  RawCall& c = s.record(Op::http_close_handle, handle);
  if (s.close_count < MAX_CALLS) s.closes[s.close_count++] = handle;
  else s.overflowed = true;
  Slot* slot = s.slot_of(handle);
  if (!slot || !slot->open) {
    ++s.bad_closes;
    c.ok = false;
    s.fails(Op::http_close_handle, FakePlatform::State::NO_EXCHANGE);
    return false;
  }
  slot->open = false;  // a failed close still counts as the attempt made
  c.ok = !s.fails(Op::http_close_handle, slot->exchange);
  return c.ok;
}

int64_t fake_clock_now() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.record(Op::clock_now, nullptr);
  ++s.clock_reads;
  return s.now;
}

constexpr PlatformOps FAKE_OPS = {
    fake_open,          fake_connect,          fake_open_request,
    fake_send_request,  fake_receive_response, fake_query_data_available,
    fake_read_data,     fake_close_handle,     fake_clock_now,
};

}  // namespace

const char* op_name(Op op) {
  switch (op) {
    case Op::http_open: return "http_open";
    case Op::http_connect: return "http_connect";
    case Op::http_open_request: return "http_open_request";
    case Op::http_send_request: return "http_send_request";
    case Op::http_receive_response: return "http_receive_response";
    case Op::http_query_data_available: return "http_query_data_available";
    case Op::http_read_data: return "http_read_data";
    case Op::http_close_handle: return "http_close_handle";
    case Op::clock_now: return "clock_now";
  }
  return "?";
}

std::ostream& operator<<(std::ostream& out, Op op) { return out << op_name(op); }

FakePlatform::FakePlatform() : state_(new State) {
  State* expected = nullptr;
  if (!g_state.compare_exchange_strong(expected, state_.get())) std::abort();
  set_platform(&FAKE_OPS);
}

FakePlatform::~FakePlatform() {
  set_platform(nullptr);
  g_state.store(nullptr);
}

void FakePlatform::answer(std::string body) {
  answer_chunks({std::move(body)});
}
void FakePlatform::answer_chunks(std::vector<std::string> chunks) {
  std::lock_guard lock(state_->mutex);
  state_->fallback.chunks = std::move(chunks);
}
void FakePlatform::fail(std::optional<Op> op) {
  std::lock_guard lock(state_->mutex);
  state_->fallback.fail = op;
}
void FakePlatform::take_seconds(int64_t seconds) {
  std::lock_guard lock(state_->mutex);
  state_->fallback.seconds = seconds;
}
void FakePlatform::endless(bool on) {
  std::lock_guard lock(state_->mutex);
  state_->fallback.endless = on;
}
void FakePlatform::script(std::vector<Exchange> exchanges) {
  std::lock_guard lock(state_->mutex);
  state_->script = std::move(exchanges);
}
void FakePlatform::fail_call(int n) {
  std::lock_guard lock(state_->mutex);
  state_->fail_call = n;
}
void FakePlatform::deliver_at_most(uint32_t bytes) {
  std::lock_guard lock(state_->mutex);
  state_->read_cap = bytes;
}
void FakePlatform::on_send(std::function<void(int)> hook) {
  std::lock_guard lock(state_->mutex);
  state_->on_send =
      std::make_shared<const std::function<void(int)>>(std::move(hook));
}

void FakePlatform::set_now(int64_t seconds) {
  std::lock_guard lock(state_->mutex);
  state_->now = seconds;
}
void FakePlatform::advance(int64_t seconds) {
  std::lock_guard lock(state_->mutex);
  state_->now += seconds;
}
int64_t FakePlatform::now() const {
  std::lock_guard lock(state_->mutex);
  return state_->now;
}

void FakePlatform::reset() {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  s.call_count = s.slot_count = s.close_count = s.text_used = 0;
  s.bad_closes = s.exchanges = s.sends = s.clock_reads = s.http_calls = 0;
  s.fault_fired = s.overflowed = false;
}

std::vector<Call> FakePlatform::calls() const {
  std::lock_guard lock(state_->mutex);
  const State& s = *state_;
  std::vector<Call> out;
  out.reserve(s.call_count);
  for (std::size_t i = 0; i < s.call_count; ++i) {
    const RawCall& r = s.calls[i];
    out.push_back(Call{r.op, r.handle, r.yielded, r.size, r.count, r.ok,
                       std::u16string(s.text.get() + r.text_at, r.text_len),
                       std::u16string(s.text.get() + r.path_at, r.path_len)});
  }
  return out;
}

std::vector<Op> FakePlatform::ops() const {
  std::vector<Op> out;
  for (const Call& c : calls()) out.push_back(c.op);
  return out;
}

std::vector<HttpHandle> FakePlatform::opened() const {
  std::lock_guard lock(state_->mutex);
  std::vector<HttpHandle> out;
  for (std::size_t i = 0; i < state_->slot_count; ++i)
    out.push_back(&state_->slots[i]);
  return out;
}

std::vector<HttpHandle> FakePlatform::closed() const {
  std::lock_guard lock(state_->mutex);
  return std::vector<HttpHandle>(state_->closes.get(),
                                 state_->closes.get() + state_->close_count);
}

std::vector<HttpHandle> FakePlatform::still_open() const {
  std::lock_guard lock(state_->mutex);
  std::vector<HttpHandle> out;
  for (std::size_t i = 0; i < state_->slot_count; ++i)
    if (state_->slots[i].open) out.push_back(&state_->slots[i]);
  return out;
}

int FakePlatform::bad_closes() const {
  std::lock_guard lock(state_->mutex);
  return state_->bad_closes;
}
int FakePlatform::exchanges() const {
  std::lock_guard lock(state_->mutex);
  return state_->exchanges;
}
int FakePlatform::sends() const {
  std::lock_guard lock(state_->mutex);
  return state_->sends;
}
int FakePlatform::clock_reads() const {
  std::lock_guard lock(state_->mutex);
  return state_->clock_reads;
}
int FakePlatform::http_calls() const {
  std::lock_guard lock(state_->mutex);
  return state_->http_calls;
}
bool FakePlatform::fault_fired() const {
  std::lock_guard lock(state_->mutex);
  return state_->fault_fired;
}
bool FakePlatform::overflowed() const {
  std::lock_guard lock(state_->mutex);
  return state_->overflowed;
}

}  // namespace kestrune::fake
