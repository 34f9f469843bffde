#include "os/clock.h"

#include <time.h>

#include <cstdio>

namespace os {

RealTime readRealtimeClock() {
  timespec ts{};
  if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) {
    // A failed read is reported but does not stop the process; the value is
    // whatever the call left behind.
    std::fputs(
        "(TIME) Error getting system time \n(TIME) This may cause inaccurate measurements \n",
        stderr);
  }
  return {static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int64_t>(ts.tv_nsec)};
}

}  // namespace os
