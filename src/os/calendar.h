#pragma once
// The C library's calendar conversions, which consult the system's time zone
// data: seconds since 1970 broken down into calendar fields.
#include <cstdint>
#include <ctime>

namespace os {

// UTC fields of a time; false when the year does not fit the fields.
[[nodiscard]] bool splitUtcTime(std::int64_t seconds, std::tm& out);

// Local-time fields under the TZ setting current at the call (re-read each
// time, so a changed TZ variable takes effect); false as above.
[[nodiscard]] bool splitLocalTime(std::int64_t seconds, std::tm& out);

}  // namespace os
