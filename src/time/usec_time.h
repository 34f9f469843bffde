#pragma once
// Time values with microsecond resolution: the clock of every timer and
// deadline in the process. Seconds since 1970-01-01 UTC and microseconds,
// both signed 32-bit; `never` stands for "no deadline at all".
//
// The folder's namespace is `htime`: a namespace called `time` cannot share
// the global scope with the C library's time() function.
#include <cstdint>
#include <functional>
#include <string>

namespace htime {

struct usec_time {
  std::int32_t sec = 0;
  std::int32_t usec = 0;

  constexpr usec_time() = default;
  // From whole seconds: microseconds 0.
  constexpr explicit usec_time(std::int32_t seconds) : sec(seconds) {}
  // From seconds and microseconds; microseconds of 1000000 or more carry into
  // the seconds. Negative microseconds fail an internal check.
  usec_time(std::int32_t seconds, std::int32_t micros);
  // From a floating-point number of seconds (microseconds truncated).
  static usec_time fromDouble(double seconds);

  double toDouble() const { return sec + usec / 1000000.0; }

  usec_time& operator+=(const usec_time& b);
  friend usec_time operator+(usec_time a, const usec_time& b) { return a += b; }
  friend usec_time operator-(const usec_time& a, const usec_time& b);

  // Ordering compares the values as floating point, as deadlines are compared.
  friend bool operator<=(const usec_time& a, const usec_time& b) {
    return a.toDouble() <= b.toDouble();
  }
  friend bool operator<(const usec_time& a, const usec_time& b) {
    return a.toDouble() < b.toDouble();
  }
  friend bool operator>=(const usec_time& a, const usec_time& b) { return b <= a; }
  friend bool operator>(const usec_time& a, const usec_time& b) { return b < a; }
  friend bool operator==(const usec_time& a, const usec_time& b) {
    return a.sec == b.sec && a.usec == b.usec;
  }

  // "12.000500"; negative values print as described by toString's comment.
  std::string toString() const;
};

inline constexpr usec_time never_time() {
  usec_time t;
  t.sec = 2147483647;
  return t;
}
inline constexpr usec_time never = never_time();
inline constexpr usec_time zero_time{};

// The current time: the process's one clock. Tests substitute it with
// setClockForTesting; an empty function restores the real clock.
usec_time now();
void setClockForTesting(std::function<usec_time()> clock);

// Calendar text of a time in seconds, formatted with strftime in UTC or local
// time; "invalid time" when it cannot be converted.
std::string calendarText(std::int64_t seconds, const char* format, bool utc);

}  // namespace htime
