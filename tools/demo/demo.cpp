// A small demonstration of what the process can do so far, run by `make demo`
// until the simulator exists.
#include <cstdio>

#include "time/usec_time.h"

int main() {
  const htime::usec_time t = htime::now();
  std::printf("halcyx: clock reads %s (%s)\n", t.toString().c_str(),
              htime::calendarText(t.sec, "%a %b %d %H:%M:%S %Y", true).c_str());
  return 0;
}
