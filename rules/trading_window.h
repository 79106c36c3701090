// The nightly UTC trading window and its blackout days, as fixed constants.
// trade_time itself is declared in module/kestrune.h.
#pragma once
#include <cstdint>

#include "module/kestrune.h"

namespace kestrune {

// Window bounds as seconds of the UTC day; a window is [open, open + length),
// so seconds within the last minute still count.
inline constexpr uint32_t WEEKDAY_WINDOW_OPEN = 22 * 3600;            // 22:00:00
inline constexpr uint32_t WEEKDAY_WINDOW_LENGTH = 25 * 60;            // to 22:24:59
inline constexpr uint32_t SUNDAY_WINDOW_OPEN = 22 * 3600 + 30 * 60;  // 22:30:00
inline constexpr uint32_t SUNDAY_WINDOW_LENGTH = 30 * 60;             // to 22:59:59

struct MonthDay {
  uint32_t month;  // 1 = January
  uint32_t day;    // 1-based
};

// The window stays shut all day on these dates, whatever the weekday.
inline constexpr MonthDay BLACKOUT_DAYS[] = {{10, 17}, {10, 27}, {11, 1}, {11, 23}};

}  // namespace kestrune
