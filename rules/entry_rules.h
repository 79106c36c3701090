#pragma once
#include "module/kestrune.h"

namespace kestrune {

// The double nearest 0.12 (0x3FBEB851EB851EB8); the buy rule uses -0.12.
inline constexpr double SIGNAL_THRESHOLD = 0.12;

}  // namespace kestrune
