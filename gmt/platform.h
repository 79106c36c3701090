// The GMT subsystem's one seam to the platform: WinHTTP's eight operations
// and the UTC clock, as a table of plain function pointers. The build picks
// the production table (platform_win32.cpp over WinHTTP; natively a table with
// a real clock and no HTTP client). Tests swap in doubles with set_platform().
#pragma once

#include <cstdint>

namespace kestrune {

using HttpHandle = void*;

struct PlatformOps {
  // WinHttpOpen(agent, default proxy, no proxy name, no bypass, flags 0).
  HttpHandle (*http_open)(const char16_t* agent);
  // WinHttpConnect(session, host, port 0 = 80, 0).
  HttpHandle (*http_connect)(HttpHandle session, const char16_t* host);
  // WinHttpOpenRequest(connection, verb, path, default version, no referrer,
  // no accept types, flags 0).
  HttpHandle (*http_open_request)(HttpHandle connection, const char16_t* verb,
                                  const char16_t* path);
  // WinHttpSendRequest(request, no headers, no data, 0, 0, 0).
  bool (*http_send_request)(HttpHandle request);
  // WinHttpReceiveResponse(request, nullptr).
  bool (*http_receive_response)(HttpHandle request);
  // WinHttpQueryDataAvailable: bytes readable now, 0 at the end of the body.
  bool (*http_query_data_available)(HttpHandle request, uint32_t* available);
  // WinHttpReadData: reads up to size bytes, *read is 0 when it fails.
  bool (*http_read_data)(HttpHandle request, void* buffer, uint32_t size,
                         uint32_t* read);
  // WinHttpCloseHandle.
  bool (*http_close_handle)(HttpHandle handle);
  // The system clock as whole UTC seconds since 1970, fraction dropped.
  int64_t (*clock_now)();
};

// The table in force.
const PlatformOps& platform();
// The build's own table.
const PlatformOps& production_platform();
// Replaces the table in force (tests only); nullptr restores the build's own.
void set_platform(const PlatformOps* ops);

}  // namespace kestrune
