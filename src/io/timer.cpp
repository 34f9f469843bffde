#include "io/timer.h"

namespace io {

bool Timer::isReady() {
  const htime::usec_time t = htime::now();
  if (t.sec != deadline_.sec) return t.sec > deadline_.sec;
  return t.usec >= deadline_.usec;
}

}  // namespace io
