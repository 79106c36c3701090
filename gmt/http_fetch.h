// One HTTP POST with an empty body, over the platform seam; collects the
// whole response body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace kestrune {

using FetchResult = int32_t;
inline constexpr FetchResult FETCH_OK = 0;               // body holds what could be read
inline constexpr FetchResult FETCH_OPEN_FAILED = 1;      // session, connection or request
inline constexpr FetchResult FETCH_EXCHANGE_FAILED = 2;  // send or receive

inline constexpr char USER_AGENT[] =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; Q312461)";

inline constexpr std::size_t NO_LIMIT = std::numeric_limits<std::size_t>::max();

// POSTs to http://host/path. On FETCH_OK, body is replaced by the response
// body, at most `limit` bytes of it: reading stops there. On 1 or 2 body is
// left as passed. Never throws.
FetchResult http_post(std::string_view host, std::string_view path,
                      std::string& body, std::size_t limit = NO_LIMIT) noexcept;

}  // namespace kestrune
