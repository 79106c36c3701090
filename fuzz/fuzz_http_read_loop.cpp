// http_post's result codes, read loop and handle discipline, over a platform
// table whose failures, chunk sizes and bytes come from the fuzz input.
//
// Input: [fail][limit] then records [kind][length][bytes...]. fail % 8 picks
// an opening or exchange operation that fails (6 and 7: none). Each record is
// one piece of body the platform reports available; kind % 4: 0 whole, 1 the
// availability query fails, 2 the read fails, 3 reads deliver at most half.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gmt/http_fetch.h"
#include "gmt/platform.h"

namespace {

struct Piece {
  uint8_t kind;
  std::string bytes;
};

struct Script {
  int fail = 6;
  std::vector<Piece> pieces;
  size_t piece = 0, offset = 0;
  // handles: 1 session, 2 connection, 3 request
  bool open[4] = {};
  std::vector<int> closes;
  std::string stream;  // what a reader that stops at the first failure gets
  bool ended = false;
} s;

int handle_of(kestrune::HttpHandle h) {
  return static_cast<int>(reinterpret_cast<uintptr_t>(h));
}
kestrune::HttpHandle make(int n) {
  s.open[n] = true;
  return reinterpret_cast<kestrune::HttpHandle>(static_cast<uintptr_t>(n));
}

kestrune::HttpHandle op_open(const char16_t*) { return s.fail == 0 ? nullptr : make(1); }
kestrune::HttpHandle op_connect(kestrune::HttpHandle h, const char16_t*) {
  if (handle_of(h) != 1 || !s.open[1]) std::abort();
  return s.fail == 1 ? nullptr : make(2);
}
kestrune::HttpHandle op_request(kestrune::HttpHandle h, const char16_t*, const char16_t*) {
  if (handle_of(h) != 2 || !s.open[2]) std::abort();
  return s.fail == 2 ? nullptr : make(3);
}
bool op_send(kestrune::HttpHandle h) {
  if (handle_of(h) != 3 || !s.open[3]) std::abort();
  return s.fail != 3;
}
bool op_receive(kestrune::HttpHandle h) {
  if (handle_of(h) != 3) std::abort();
  return s.fail != 4;
}
bool op_query(kestrune::HttpHandle h, uint32_t* available) {
  if (handle_of(h) != 3) std::abort();
  if (s.piece >= s.pieces.size()) return *available = 0, true;
  const Piece& p = s.pieces[s.piece];
  if (p.kind == 1) return false;
  *available = static_cast<uint32_t>(p.bytes.size() - s.offset);
  return true;
}
bool op_read(kestrune::HttpHandle h, void* buffer, uint32_t size, uint32_t* read) {
  if (handle_of(h) != 3) std::abort();
  *read = 0;
  if (s.piece >= s.pieces.size()) return true;
  const Piece& p = s.pieces[s.piece];
  if (p.kind == 2) return false;
  size_t left = p.bytes.size() - s.offset;
  size_t n = size < left ? size : left;
  if (p.kind == 3 && n > 1) n /= 2;
  std::memcpy(buffer, p.bytes.data() + s.offset, n);
  s.offset += n;
  if (s.offset == p.bytes.size()) s.piece++, s.offset = 0;
  *read = static_cast<uint32_t>(n);
  return true;
}
bool op_close(kestrune::HttpHandle h) {
  const int n = handle_of(h);
  if (n < 1 || n > 3 || !s.open[n]) std::abort();  // unopened or twice
  s.open[n] = false;
  s.closes.push_back(n);
  return true;
}
int64_t op_clock() { return 0; }

const kestrune::PlatformOps OPS = {op_open,    op_connect, op_request, op_send,
                                   op_receive, op_query,   op_read,    op_close,
                                   op_clock};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  s = Script{};
  if (size < 2) return 0;
  s.fail = data[0] % 8;
  const size_t limit = data[1] == 0 ? kestrune::NO_LIMIT : data[1] * 3u;
  for (size_t at = 2; at + 2 <= size;) {
    Piece p{static_cast<uint8_t>(data[at] % 4), {}};
    size_t len = data[at + 1];
    at += 2;
    if (len > size - at) len = size - at;
    p.bytes.assign(reinterpret_cast<const char*>(data + at), len);
    at += len;
    if (p.bytes.empty()) break;  // reported as 0: the end of the body
    s.pieces.push_back(std::move(p));
  }
  // What a correct reader collects: every piece until one whose query or
  // read fails.
  std::string expect;
  for (const Piece& p : s.pieces) {
    if (p.kind == 1 || p.kind == 2) break;
    expect += p.bytes;
  }
  if (expect.size() > limit) expect.resize(limit);

  kestrune::set_platform(&OPS);
  std::string body = "untouched";
  const kestrune::FetchResult r = kestrune::http_post("example.invalid", "/p", body, limit);
  kestrune::set_platform(nullptr);

  const int want = s.fail <= 2 ? kestrune::FETCH_OPEN_FAILED
                 : s.fail <= 4 ? kestrune::FETCH_EXCHANGE_FAILED
                               : kestrune::FETCH_OK;
  if (r != want) std::abort();
  if (r != kestrune::FETCH_OK && body != "untouched") std::abort();
  if (r == kestrune::FETCH_OK && body != expect) std::abort();
  for (bool still_open : s.open)
    if (still_open) std::abort();
  // Request, then connection, then session: each handle that was opened.
  for (size_t i = 1; i < s.closes.size(); ++i)
    if (s.closes[i] > s.closes[i - 1]) std::abort();
  return 0;
}
