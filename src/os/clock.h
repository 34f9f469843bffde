#pragma once
// The system's wall clock.
#include <cstdint>

namespace os {

struct RealTime {
  std::int64_t seconds;
  std::int64_t nanoseconds;
};

// CLOCK_REALTIME: seconds and nanoseconds since 1970-01-01 UTC.
[[nodiscard]] RealTime readRealtimeClock();

}  // namespace os
