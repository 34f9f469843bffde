#include "htime/usec_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <ostream>

#include "error/check.h"
#include "os/calendar.h"
#include "os/clock.h"

namespace htime {

namespace {

constexpr std::int32_t kMicrosPerSecond = 1000000;

std::function<usec_time()>& clockOverride() {
  static std::function<usec_time()> clock;
  return clock;
}

std::int32_t wrapToInt32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

}  // namespace

usec_time usec_time::fromDouble(double seconds) {
  HX_CHECK(!std::isnan(seconds), "Cannot convert NaN to usec_time");
  const double whole = std::floor(seconds);
  if (whole > 2147483647.0) return never;
  usec_time t;
  if (whole < -2147483648.0) {
    t.sec = -2147483647 - 1;
    return t;
  }
  t.sec = static_cast<std::int32_t>(whole);
  t.usec = static_cast<std::int32_t>((seconds - whole) * kMicrosPerSecond);
  // A fraction a hair below 1 can round up to a full second (-1e-17 - floor
  // is 1.0 in double arithmetic).
  if (t.usec >= kMicrosPerSecond) {
    t.usec -= kMicrosPerSecond;
    t.sec = wrappingAdd(t.sec, 1);
  }
  return t;
}

usec_time& usec_time::operator+=(const usec_time& b) {
  const std::int32_t before = sec;
  // Microseconds in 64 bits so that even unnormalised operands cannot
  // overflow before the check below.
  std::int64_t micros = std::int64_t{usec} + b.usec;
  sec = wrappingAdd(sec, b.sec);
  if (micros >= kMicrosPerSecond) {
    micros -= kMicrosPerSecond;
    sec = wrappingAdd(sec, 1);
  }
  HX_CHECK(micros < kMicrosPerSecond, "Too big usec in +=");
  usec = static_cast<std::int32_t>(micros);
  if (b.sec >= 0 && sec < before) return *this = never;
  if (b.sec < 0 && sec > before) return *this = zero_time;
  return *this;
}

usec_time operator-(const usec_time& a, const usec_time& b) {
  std::int64_t micros = std::int64_t{a.usec} - b.usec;
  usec_time r;
  r.sec = usec_time::wrappingAdd(a.sec, wrapToInt32(-std::int64_t{b.sec}));
  if (micros < 0) {
    micros += kMicrosPerSecond;
    r.sec = usec_time::wrappingAdd(r.sec, -1);
  }
  HX_CHECK(micros >= 0, "Negative usec");
  r.usec = static_cast<std::int32_t>(micros);
  return r;
}

std::string usec_time::toString() const {
  char buf[48];
  if (sec >= 0) {
    std::snprintf(buf, sizeof buf, "%d.%06d", sec, usec);
  } else if (usec == 0) {
    std::snprintf(buf, sizeof buf, "%d.000000", sec);
  } else {
    // The seconds are the floor of the value: print the magnitude's parts.
    std::snprintf(buf, sizeof buf, "-%lld.%06d", -static_cast<long long>(sec) - 1,
                  kMicrosPerSecond - usec);
  }
  return buf;
}

std::ostream& operator<<(std::ostream& out, const usec_time& t) { return out << t.toString(); }

usec_time now() {
  if (auto& clock = clockOverride()) return clock();
  const os::RealTime t = os::readRealtimeClock();
  usec_time r;
  r.sec = wrapToInt32(t.seconds);
  r.usec = static_cast<std::int32_t>(t.nanoseconds / 1000);
  return r;
}

void setClockForTesting(std::function<usec_time()> clock) { clockOverride() = std::move(clock); }

std::string calendarText(std::int64_t seconds, const char* format, bool utc) {
  std::tm parts{};
  const bool ok = utc ? os::splitUtcTime(seconds, parts) : os::splitLocalTime(seconds, parts);
  if (!ok) return "invalid time";
  char buf[1024];
  // strftime returns 0 both for an empty result and for one that does not
  // fit; either way the text is empty.
  const std::size_t n = std::strftime(buf, sizeof buf, format, &parts);
  return std::string(buf, n);
}

}  // namespace htime
