#include "time/usec_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "error/check.h"
#include "os/clock.h"

namespace htime {

namespace {

std::function<usec_time()>& clockOverride() {
  static std::function<usec_time()> clock;
  return clock;
}

}  // namespace

usec_time::usec_time(std::int32_t seconds, std::int32_t micros) : sec(seconds), usec(micros) {
  HX_CHECK(micros >= 0, "Cannot normalize negative microseconds");
  sec += micros / 1000000;
  usec = micros % 1000000;
}

usec_time usec_time::fromDouble(double seconds) {
  const double whole = std::floor(seconds);
  usec_time t;
  t.sec = static_cast<std::int32_t>(whole);
  t.usec = static_cast<std::int32_t>((seconds - whole) * 1000000.0);
  return t;
}

usec_time& usec_time::operator+=(const usec_time& b) {
  const std::int32_t before = sec;
  // Wrapping 32-bit addition, then the saturation rules below.
  sec = static_cast<std::int32_t>(static_cast<std::uint32_t>(sec) + static_cast<std::uint32_t>(b.sec));
  usec += b.usec;
  if (usec >= 1000000) {
    usec -= 1000000;
    sec = static_cast<std::int32_t>(static_cast<std::uint32_t>(sec) + 1u);
  }
  HX_CHECK(usec < 1000000, "Too big usec in +=");
  if (b.sec >= 0 && sec < before) return *this = never;
  if (b.sec < 0 && sec > before) return *this = zero_time;
  return *this;
}

usec_time operator-(const usec_time& a, const usec_time& b) {
  usec_time r;
  r.sec = static_cast<std::int32_t>(static_cast<std::uint32_t>(a.sec) - static_cast<std::uint32_t>(b.sec));
  r.usec = a.usec - b.usec;
  if (r.usec < 0) {
    r.usec += 1000000;
    r.sec = static_cast<std::int32_t>(static_cast<std::uint32_t>(r.sec) - 1u);
  }
  HX_CHECK(r.usec >= 0, "Negative usec");
  return r;
}

std::string usec_time::toString() const {
  char buf[40];
  if (sec >= 0) {
    std::snprintf(buf, sizeof buf, "%d.%06d", sec, usec);
  } else if (usec == 0) {
    std::snprintf(buf, sizeof buf, "%d.000000", sec);
  } else {
    // -2 s plus a quarter second is -1.75 s: print the magnitude's parts.
    std::snprintf(buf, sizeof buf, "-%lld.%06d", -static_cast<long long>(sec) - 1, 1000000 - usec);
  }
  return buf;
}

usec_time now() {
  if (auto& clock = clockOverride()) return clock();
  const os::RealTime t = os::readRealtimeClock();
  usec_time r;
  r.sec = static_cast<std::int32_t>(t.seconds);
  r.usec = static_cast<std::int32_t>(t.nanoseconds / 1000);
  return r;
}

void setClockForTesting(std::function<usec_time()> clock) { clockOverride() = std::move(clock); }

std::string calendarText(std::int64_t seconds, const char* format, bool utc) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  const bool ok = utc ? gmtime_r(&t, &parts) != nullptr : localtime_r(&t, &parts) != nullptr;
  if (!ok) return "invalid time";
  char buf[1024];
  const std::size_t n = std::strftime(buf, sizeof buf, format, &parts);
  return std::string(buf, n);
}

}  // namespace htime
