#pragma once
// Test-only: runs a test under a fixed TZ and puts the process's TZ back
// afterwards. The zone routine's saved initial TZ is forgotten on the way in
// and on the way out, so the test's TZ becomes the local zone and the next
// user sees the restored one. Never include from library code.
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

#include "os/timezone.h"

namespace testkit {

class ScopedTimeZoneForTest {
 public:
  explicit ScopedTimeZoneForTest(const char* tz) {
    if (const char* old = ::getenv("TZ")) previous_ = old;
    apply(tz);
  }
  ~ScopedTimeZoneForTest() { apply(previous_ ? previous_->c_str() : nullptr); }
  ScopedTimeZoneForTest(const ScopedTimeZoneForTest&) = delete;
  ScopedTimeZoneForTest& operator=(const ScopedTimeZoneForTest&) = delete;

 private:
  // nullptr removes TZ.
  static void apply(const char* tz) {
    if (tz == nullptr) {
      ::unsetenv("TZ");
    } else {
      ::setenv("TZ", tz, 1);
    }
    ::tzset();
    os::forgetInitialZoneForTest();
  }

  std::optional<std::string> previous_;
};

}  // namespace testkit
