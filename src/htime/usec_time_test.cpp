#include "htime/usec_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

namespace htime {
namespace {

constexpr std::int32_t kMaxSec = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMinSec = std::numeric_limits<std::int32_t>::min();

// Builds a value field by field, bypassing normalisation.
usec_time raw(std::int32_t sec, std::int32_t usec) {
  usec_time t;
  t.sec = sec;
  t.usec = usec;
  return t;
}

TEST(UsecTime, MicrosecondsCarryIntoSeconds) {
  EXPECT_EQ(usec_time(1, 2500000), raw(3, 500000));
  EXPECT_EQ(usec_time(0, 999999), raw(0, 999999));
  EXPECT_EQ(usec_time(-1, 1000000), raw(0, 0));
  static_assert(never.sec == kMaxSec && never.usec == 0);
}

TEST(UsecTime, FromDoubleTakesFloorAndTruncatedFraction) {
  EXPECT_EQ(usec_time::fromDouble(1.25), raw(1, 250000));
  EXPECT_EQ(usec_time::fromDouble(-1.75), raw(-2, 250000));
  EXPECT_EQ(usec_time::fromDouble(3.0), raw(3, 0));
  // The fraction of -1e-17 is 1.0 after rounding: it must carry, not give
  // a microsecond field of 1000000.
  EXPECT_EQ(usec_time::fromDouble(-1e-17), raw(0, 0));
  EXPECT_EQ(usec_time::fromDouble(1e12), never);
  EXPECT_EQ(usec_time::fromDouble(-1e12), raw(kMinSec, 0));
  EXPECT_DOUBLE_EQ(usec_time(7, 125000).toDouble(), 7.125);
}

TEST(UsecTime, AdditionCarriesAndSaturates) {
  EXPECT_EQ(usec_time(1, 700000) + usec_time(0, 500000), raw(2, 200000));
  EXPECT_EQ(usec_time(1, 999999) + usec_time(0, 1), raw(2, 0));
  usec_time t(10, 0);
  t += usec_time(-3, 500000);  // -2.5 s
  EXPECT_EQ(t, raw(7, 500000));
  // Past the end is never.
  EXPECT_EQ(never + usec_time(1), never);
  EXPECT_EQ(never + zero_time, never);
  EXPECT_EQ(usec_time(kMaxSec - 1, 0) + usec_time(kMaxSec), never);
  // Only the carry runs past the end.
  EXPECT_EQ(raw(kMaxSec, 600000) + usec_time(0, 500000), never);
  // The largest sum that still fits is kept as it is.
  EXPECT_EQ(usec_time(kMaxSec - 1, 0) + usec_time(1, 999999), raw(kMaxSec, 999999));
  // Below the start is zero time.
  EXPECT_EQ(usec_time(kMinSec + 1) + usec_time(-5), zero_time);
  EXPECT_EQ(usec_time(kMinSec + 5) + usec_time(-5), usec_time(kMinSec));
  EXPECT_EQ(usec_time(3) + usec_time(-5), usec_time(-2));
}

TEST(UsecTime, SubtractionBorrows) {
  EXPECT_EQ(usec_time(5, 100) - usec_time(1, 200), raw(3, 999900));
  EXPECT_EQ(zero_time - usec_time(1, 250000), raw(-2, 750000));
  // A difference wraps instead of saturating.
  EXPECT_EQ(usec_time(kMinSec) - usec_time(1), usec_time(kMaxSec));
}

TEST(UsecTime, OrderingFollowsTheValue) {
  EXPECT_LT(usec_time(1, 999999), usec_time(2, 0));
  EXPECT_LT(raw(kMaxSec - 1, 999999), never);
  EXPECT_LT(raw(-2, 750000), raw(-1, 0));
  EXPECT_GT(usec_time(4, 6), usec_time(4, 5));
}

TEST(UsecTime, PrintsSecondsAndSixDigitMicroseconds) {
  EXPECT_EQ(usec_time(12, 500).toString(), "12.000500");
  EXPECT_EQ(never.toString(), "2147483647.000000");
  EXPECT_EQ(zero_time.toString(), "0.000000");
  EXPECT_EQ(usec_time(-3).toString(), "-3.000000");
  std::ostringstream out;
  out << usec_time(1, 20);
  EXPECT_EQ(out.str(), "1.000020");
  // Negative values print their magnitude.
  EXPECT_EQ(usec_time(-2, 250000).toString(), "-1.750000");
  EXPECT_EQ(usec_time(-1, 250000).toString(), "-0.750000");
  EXPECT_EQ(usec_time(-1, 999999).toString(), "-0.000001");
  EXPECT_EQ(raw(kMinSec, 1).toString(), "-2147483647.999999");
}

TEST(CalendarText, FormatsInUtcOrSaysWhyNot) {
  EXPECT_EQ(calendarText(0), "Thu Jan 01 00:00:00 1970");
  EXPECT_EQ(calendarText(1700000000, "%Y-%m-%d %H:%M:%S", true), "2023-11-14 22:13:20");
  EXPECT_EQ(calendarText(-1, "%Y-%m-%d %H:%M:%S", true), "1969-12-31 23:59:59");
  EXPECT_EQ(calendarText(std::numeric_limits<std::int64_t>::max()), "invalid time");
  EXPECT_EQ(calendarText(std::numeric_limits<std::int64_t>::min(), "%Y", false), "invalid time");
  // An empty or oversized result is empty.
  EXPECT_EQ(calendarText(0, "", true), "");
  std::string huge;
  for (int i = 0; i < 300; ++i) huge += "%Y";  // 1200 characters
  EXPECT_EQ(calendarText(0, huge.c_str(), true), "");
  std::string fits;
  for (int i = 0; i < 255; ++i) fits += "%Y";  // 1020 characters
  EXPECT_EQ(calendarText(0, fits.c_str(), true).size(), 1020u);
}

TEST(UsecTimeDeathTest, UnnormalisedValuesFail) {
  EXPECT_DEATH(usec_time(1, -1), "Assertion failed: Cannot normalize negative microseconds");
  EXPECT_DEATH(raw(0, 1500000) + usec_time(0, 600000), "Assertion failed: Too big usec in \\+=");
  EXPECT_DEATH(raw(1, -2000000) - zero_time, "Assertion failed: Negative usec");
  EXPECT_DEATH(usec_time::fromDouble(std::numeric_limits<double>::quiet_NaN()),
               "Assertion failed: Cannot convert NaN to usec_time");
}

}  // namespace
}  // namespace htime
