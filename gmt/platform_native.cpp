// The native build's table: the system clock, and no HTTP client at all. The
// product is the Windows DLL; native programs reach HTTP only through the test
// doubles, so every HTTP operation here fails.
#include <chrono>

#include "gmt/platform.h"

namespace kestrune {
namespace {

HttpHandle no_open(const char16_t*) { return nullptr; }
HttpHandle no_connect(HttpHandle, const char16_t*) { return nullptr; }
HttpHandle no_open_request(HttpHandle, const char16_t*, const char16_t*) {
  return nullptr;
}
bool no_send_request(HttpHandle) { return false; }
bool no_receive_response(HttpHandle) { return false; }
bool no_query_data_available(HttpHandle, uint32_t* available) {
  *available = 0;
  return false;
}
bool no_read_data(HttpHandle, void*, uint32_t, uint32_t* read) {
  *read = 0;
  return false;
}
bool no_close_handle(HttpHandle) { return false; }

int64_t utc_seconds() {
  using namespace std::chrono;
  // floor, not the default truncation toward zero, so that the fraction is
  // dropped the same way on both sides of 1970.
  return floor<seconds>(system_clock::now()).time_since_epoch().count();
}

constexpr PlatformOps NATIVE_OPS = {
    no_open,           no_connect,          no_open_request,
    no_send_request,   no_receive_response, no_query_data_available,
    no_read_data,      no_close_handle,     utc_seconds,
};

}  // namespace

const PlatformOps& production_platform() { return NATIVE_OPS; }

}  // namespace kestrune
