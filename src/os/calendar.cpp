#include "os/calendar.h"

#include <time.h>

#include <limits>

namespace os {

namespace {

bool toTimeT(std::int64_t seconds, time_t& out) {
  if constexpr (sizeof(time_t) < sizeof(std::int64_t)) {
    if (seconds < std::numeric_limits<time_t>::min() ||
        seconds > std::numeric_limits<time_t>::max()) {
      return false;
    }
  }
  out = static_cast<time_t>(seconds);
  return true;
}

}  // namespace

bool splitUtcTime(std::int64_t seconds, std::tm& out) {
  time_t t;
  return toTimeT(seconds, t) && ::gmtime_r(&t, &out) != nullptr;
}

bool splitLocalTime(std::int64_t seconds, std::tm& out) {
  time_t t;
  if (!toTimeT(seconds, t)) return false;
  // localtime_r, unlike localtime, need not look at TZ again.
  ::tzset();
  return ::localtime_r(&t, &out) != nullptr;
}

}  // namespace os
