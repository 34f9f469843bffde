#include "os/timezone.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <climits>
#include <string>

#include "testkit/timezone.h"

namespace os {
namespace {

using testkit::ScopedTimeZoneForTest;

constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

std::tm fields(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return t;
}

TEST(TimeZone, OffsetTextsUsePosixSigns) {
  EXPECT_EQ(zoneText(19800), "GMT-5:30");
  EXPECT_EQ(zoneText(-18000), "GMT5");
  EXPECT_EQ(zoneText(0), "GMT-0");
  EXPECT_EQ(zoneText(-(3 * 3600 + 45 * 60)), "GMT3:45");
  EXPECT_EQ(zoneText(3605), "GMT-1:00:05");
}

TEST(TimeZone, OffsetZonesConvertBothWays) {
  ScopedTimeZoneForTest tz(kCentralEurope);
  const std::tm t = localTimeInZone(0, 19800);
  EXPECT_EQ(t.tm_hour, 5);
  EXPECT_EQ(t.tm_min, 30);
  EXPECT_EQ(composeTimeInZone(fields(1970, 1, 1, 5, 30, 0), 19800), 0);
  EXPECT_EQ(localTimeInZone(0, -18000).tm_hour, 19);
  // Back to the local zone after an offset zone was set.
  EXPECT_EQ(localTimeInZone(0, kLocalZone).tm_hour, 1);
}

TEST(TimeZone, LocalZoneIsTheTzOfTheFirstUse) {
  ScopedTimeZoneForTest tz(kCentralEurope);
  EXPECT_EQ(zoneText(kLocalZone), kCentralEurope);
  // Someone else changing TZ later does not move the local zone.
  ::setenv("TZ", "UTC0", 1);
  EXPECT_EQ(localTimeInZone(0, kLocalZone).tm_hour, 1);
  EXPECT_STREQ(::getenv("TZ"), kCentralEurope);
}

TEST(TimeZone, LocalZoneWithoutTzLeavesTzUnset) {
  // An empty TZ would mean UTC, not the system's default zone.
  ScopedTimeZoneForTest tz(nullptr);
  EXPECT_EQ(zoneText(kLocalZone), "");
  setZone(3600);
  EXPECT_STREQ(::getenv("TZ"), "GMT-1");
  setZone(kLocalZone);
  EXPECT_EQ(::getenv("TZ"), nullptr);
}

TEST(TimeZone, ComposeFollowsDaylightSavingAndNormalises) {
  ScopedTimeZoneForTest tz(kCentralEurope);
  // 2024-07-01 00:00 CEST is 2024-06-30 22:00 UTC.
  EXPECT_EQ(composeTimeInZone(fields(2024, 7, 1, 0, 0, 0), kLocalZone), 1719784800);
  // Day 32 of January is the first of February.
  EXPECT_EQ(composeTimeInZone(fields(2024, 1, 32, 0, 0, 0), kLocalZone),
            composeTimeInZone(fields(2024, 2, 1, 0, 0, 0), kLocalZone));
}

TEST(TimeZone, LastSecondOf1969IsNoFailure) {
  ScopedTimeZoneForTest tz("UTC0");
  EXPECT_EQ(composeTimeInZone(fields(1969, 12, 31, 23, 59, 59), kLocalZone), -1);
}

TEST(TimeZoneDeathTest, UnrepresentableTimesAreFatal) {
  ScopedTimeZoneForTest tz("UTC0");
  EXPECT_DEATH((void)localTimeInZone(1000000000000000000, kLocalZone),
               "Assertion failed: Couldn't get localtime for time 1000000000000000000\n");
  std::tm huge = fields(2000, 1, 1, 0, 0, 0);
  huge.tm_year = INT_MAX;
  huge.tm_mon = INT_MAX;  // carries past the largest year
  EXPECT_DEATH((void)composeTimeInZone(huge, kLocalZone),
               "Assertion failed: Couldn't compose time from tm: "
               "\\(s:0m:0h:0md:1mo:2147483647yr:2147483647wd:0yd:0i:-1\n");
  EXPECT_DEATH((void)zoneText(90000), "Assertion failed: Time zone offset out of range: 90000");
}

}  // namespace
}  // namespace os
