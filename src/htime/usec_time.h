#pragma once
// Time values with microsecond resolution: the clock of every timer and
// deadline in the process. Seconds since 1970-01-01 UTC and microseconds,
// both signed 32-bit; `never` stands for "no deadline at all".
//
// The folder's namespace is `htime`: a namespace called `time` cannot share
// the global scope with the C library's time() function.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "error/check.h"

namespace htime {

struct usec_time {
  std::int32_t sec = 0;
  std::int32_t usec = 0;  // 0 to 999999 in every value built by the operations below

  constexpr usec_time() = default;
  // From whole seconds: microseconds 0.
  constexpr explicit usec_time(std::int32_t seconds) : sec(seconds) {}
  // From seconds and microseconds; microseconds of 1000000 or more carry into
  // the seconds. Negative microseconds fail an internal check.
  constexpr usec_time(std::int32_t seconds, std::int32_t micros)
      : sec(wrappingAdd(seconds, micros / 1000000)), usec(micros % 1000000) {
    HX_CHECK(micros >= 0, "Cannot normalize negative microseconds");
  }
  // From a floating-point number of seconds: the floor is the seconds, the
  // fraction gives the microseconds (truncated). Values beyond the 32-bit
  // range saturate to `never` above and to the smallest value below; NaN
  // fails an internal check.
  static usec_time fromDouble(double seconds);

  double toDouble() const { return sec + usec / 1000000.0; }

  // Adds both fields with carry. A sum that runs past the largest time is
  // `never`; one that runs below the smallest is `zero_time`. An operand whose
  // microseconds are not normalised can fail "Too big usec in +=".
  usec_time& operator+=(const usec_time& b);
  friend usec_time operator+(usec_time a, const usec_time& b) { return a += b; }
  // Field-wise difference with borrow; wraps rather than saturates. A
  // microsecond field still negative after the borrow fails "Negative usec".
  friend usec_time operator-(const usec_time& a, const usec_time& b);

  // Ordering compares the values as floating point, as deadlines are compared;
  // for normalised values this is exact (doubles near 2^31 are 2^-22 apart).
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

  // "12.000500". A negative value prints with its sign in front of the
  // magnitude: -2 s plus 250000 us is "-1.750000".
  std::string toString() const;

 private:
  // 32-bit two's complement addition without the undefined behaviour of
  // signed overflow.
  static constexpr std::int32_t wrappingAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
  }
};

// Prints toString(), so test failures show readable times.
std::ostream& operator<<(std::ostream& out, const usec_time& t);

inline constexpr usec_time never{2147483647, 0};
inline constexpr usec_time zero_time{};

// The current time: the process's one clock. Tests substitute it with
// setClockForTesting; an empty function restores the real clock.
usec_time now();
void setClockForTesting(std::function<usec_time()> clock);

// The calendar format of trace lines and debug messages that show a time.
inline constexpr const char* kTraceTimeFormat = "%a %b %d %H:%M:%S %Y";

// Calendar text of a time in seconds, formatted with strftime (at most 1023
// characters) in UTC or in local time under the current TZ setting. A time
// the calendar cannot represent gives "invalid time"; a format that yields
// nothing, or more than fits, gives the empty text.
std::string calendarText(std::int64_t seconds, const char* format = kTraceTimeFormat,
                         bool utc = true);

}  // namespace htime
