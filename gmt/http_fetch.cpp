#include "gmt/http_fetch.h"

#include <array>
#include <memory>
#include <new>
#include <string>

#include "gmt/platform.h"

namespace kestrune {
namespace {

// The agent string as UTF-16, made at compile time from the one definition.
constexpr auto USER_AGENT_16 = [] {
  std::array<char16_t, sizeof(USER_AGENT)> wide{};
  for (std::size_t i = 0; i < sizeof(USER_AGENT); ++i)
    wide[i] = static_cast<unsigned char>(USER_AGENT[i]);
  return wide;
}();

// One code unit per byte, of the byte's value. May throw std::bad_alloc.
std::u16string widen(std::string_view text) {
  std::u16string wide(text.size(), u'\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    wide[i] = static_cast<unsigned char>(text[i]);
  return wide;
}

// The handles of one exchange. Closing them on the way out of every path, in
// the order request, connection, session, is this object's one job.
class Handles {
 public:
  explicit Handles(const PlatformOps& ops) : ops_(ops) {}
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() {
    if (request) ops_.http_close_handle(request);
    if (connection) ops_.http_close_handle(connection);
    if (session) ops_.http_close_handle(session);
  }

  HttpHandle session = nullptr;
  HttpHandle connection = nullptr;
  HttpHandle request = nullptr;

 private:
  const PlatformOps& ops_;
};

// Appends the response body to `body` chunk by chunk, each of the size the
// platform reports available, until the body ends, a call fails, no chunk
// buffer can be had, `body` cannot grow, or `limit` bytes are held. None of
// these is an error of the exchange: what was read stays.
void read_body(const PlatformOps& ops, HttpHandle request, std::string& body,
               std::size_t limit) noexcept {
  while (body.size() < limit) {
    uint32_t available = 0;
    if (!ops.http_query_data_available(request, &available) || available == 0)
      return;
    const std::size_t room = limit - body.size();
    const uint32_t want =
        available <= room ? available : static_cast<uint32_t>(room);
    std::unique_ptr<char[]> chunk(new (std::nothrow) char[want]);
    if (!chunk) return;
    uint32_t read = 0;
    const bool ok = ops.http_read_data(request, chunk.get(), want, &read);
    // Never trust a count beyond the buffer: bytes past it are not ours.
    if (read > want) read = want;
    if (ok && read > 0) {
      try {
        body.append(chunk.get(), read);  // by count: zero bytes are data
      } catch (...) {                    // bad_alloc, length_error
        return;
      }
    }
    if (!ok || read == 0) return;
  }
}

}  // namespace

FetchResult http_post(std::string_view host, std::string_view path,
                      std::string& body, std::size_t limit) noexcept {
  const PlatformOps& ops = platform();
  Handles h(ops);

  h.session = ops.http_open(USER_AGENT_16.data());
  if (!h.session) return FETCH_OPEN_FAILED;

  // No memory for the names: the connection cannot be opened.
  std::u16string host_16, path_16;
  try {
    host_16 = widen(host);
    path_16 = widen(path);
  } catch (...) {
    return FETCH_OPEN_FAILED;
  }

  h.connection = ops.http_connect(h.session, host_16.c_str());
  if (!h.connection) return FETCH_OPEN_FAILED;
  h.request = ops.http_open_request(h.connection, u"POST", path_16.c_str());
  if (!h.request) return FETCH_OPEN_FAILED;

  // Resolving and connecting happen here, so their failures are exchange
  // failures, not open failures.
  if (!ops.http_send_request(h.request)) return FETCH_EXCHANGE_FAILED;
  if (!ops.http_receive_response(h.request)) return FETCH_EXCHANGE_FAILED;

  body.clear();
  read_body(ops, h.request, body, limit);
  return FETCH_OK;
}

}  // namespace kestrune
