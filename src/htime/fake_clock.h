#pragma once
// Test-only: a clock that stands still until the test moves it. While a
// FakeClock exists, htime::now() returns its time; its destruction restores
// the real clock. One at a time.
#include "htime/usec_time.h"

namespace htime {

class FakeClock {
 public:
  explicit FakeClock(usec_time start = usec_time{1000000000}) : now_(start) {
    setClockForTesting([this] { return now_; });
  }
  ~FakeClock() { setClockForTesting({}); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  void set(usec_time t) { now_ = t; }
  void advance(usec_time by) { now_ += by; }
  usec_time now() const { return now_; }

 private:
  usec_time now_;
};

}  // namespace htime
