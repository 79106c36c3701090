// The Windows DLL's table: WinHTTP, called exactly as the fetch needs it, and
// the system clock.
#include <windows.h>
#include <winhttp.h>

#include "gmt/platform.h"

namespace kestrune {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

LPCWSTR wide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }

HttpHandle win_open(const char16_t* agent) {
  // The machine's static WinHTTP proxy setting, no discovery; flags 0 keeps
  // every later call synchronous.
  return WinHttpOpen(wide(agent), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
}

HttpHandle win_connect(HttpHandle session, const char16_t* host) {
  // Port 0 is INTERNET_DEFAULT_PORT: 80 for plain HTTP.
  return WinHttpConnect(session, wide(host), INTERNET_DEFAULT_PORT, 0);
}

HttpHandle win_open_request(HttpHandle connection, const char16_t* verb,
                            const char16_t* path) {
  // A null list of media types: the request carries no Accept header.
  return WinHttpOpenRequest(connection, wide(verb), wide(path), nullptr,
                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                            0);
}

bool win_send_request(HttpHandle request) {
  return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != FALSE;
}

bool win_receive_response(HttpHandle request) {
  return WinHttpReceiveResponse(request, nullptr) != FALSE;
}

bool win_query_data_available(HttpHandle request, uint32_t* available) {
  DWORD count = 0;
  const bool ok = WinHttpQueryDataAvailable(request, &count) != FALSE;
  *available = ok ? count : 0;
  return ok;
}

bool win_read_data(HttpHandle request, void* buffer, uint32_t size,
                   uint32_t* read) {
  DWORD count = 0;
  const bool ok = WinHttpReadData(request, buffer, size, &count) != FALSE;
  *read = ok ? count : 0;
  return ok;
}

bool win_close_handle(HttpHandle handle) {
  return WinHttpCloseHandle(handle) != FALSE;
}

int64_t utc_seconds() {
  // 100-ns ticks since 1601-01-01 UTC; 1970 lies 11644473600 s later.
  constexpr int64_t TICKS_PER_SECOND = 10'000'000;
  constexpr int64_t EPOCH_1970 = 11'644'473'600LL * TICKS_PER_SECOND;
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t ticks = static_cast<int64_t>(
      (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  const int64_t since = ticks - EPOCH_1970;
  // Floor division: the fraction is dropped toward the past, also before 1970.
  return since / TICKS_PER_SECOND - (since % TICKS_PER_SECOND < 0 ? 1 : 0);
}

constexpr PlatformOps WINHTTP_OPS = {
    win_open,           win_connect,          win_open_request,
    win_send_request,   win_receive_response, win_query_data_available,
    win_read_data,      win_close_handle,     utc_seconds,
};

}  // namespace

const PlatformOps& production_platform() { return WINHTTP_OPS; }

}  // namespace kestrune
