#include "os/timezone.h"

#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <limits>
#include <optional>

#include "error/check.h"

namespace os {

namespace {

// The TZ the process had on the first use of any zone; nullopt inside when
// TZ was unset. Process-wide on purpose: it is the local zone of the run.
struct InitialZone {
  bool saved = false;
  std::optional<std::string> text;
};

InitialZone& initialZoneStorage() {
  static InitialZone zone;
  return zone;
}

InitialZone& initialZone() {
  InitialZone& zone = initialZoneStorage();
  if (!zone.saved) {
    zone.saved = true;
    const char* tz = ::getenv("TZ");
    zone.text = tz == nullptr ? std::nullopt : std::optional<std::string>(tz);
  }
  return zone;
}

std::string offsetText(zone_t offset) {
  constexpr std::int32_t kMaxOffset = 24 * 3600;  // the widest offset POSIX TZ accepts
  HX_CHECK(offset >= -kMaxOffset && offset <= kMaxOffset,
           "Time zone offset out of range: " + std::to_string(offset));
  // POSIX counts offsets west of UTC as positive: east is written with '-'.
  std::string text = offset >= 0 ? "GMT-" : "GMT";
  const std::int32_t magnitude = offset >= 0 ? offset : -offset;
  const std::int32_t hours = magnitude / 3600;
  const std::int32_t minutes = magnitude / 60 % 60;
  const std::int32_t seconds = magnitude % 60;
  text += std::to_string(hours);
  char field[8];
  // Minutes are written whenever seconds follow: "1:00:05" is not "1:05".
  if (minutes != 0 || seconds != 0) {
    std::snprintf(field, sizeof field, ":%02d", static_cast<int>(minutes));
    text += field;
  }
  if (seconds != 0) {
    std::snprintf(field, sizeof field, ":%02d", static_cast<int>(seconds));
    text += field;
  }
  return text;
}

bool toTimeT(std::int64_t seconds, time_t& out) {
  if constexpr (sizeof(time_t) < sizeof(std::int64_t)) {
    if (seconds < std::numeric_limits<time_t>::min() ||
        seconds > std::numeric_limits<time_t>::max()) {
      return false;
    }
  }
  out = static_cast<time_t>(seconds);
  return true;
}

std::string fieldsText(const std::tm& t) {
  return "(s:" + std::to_string(t.tm_sec) + "m:" + std::to_string(t.tm_min) +
         "h:" + std::to_string(t.tm_hour) + "md:" + std::to_string(t.tm_mday) +
         "mo:" + std::to_string(t.tm_mon) + "yr:" + std::to_string(t.tm_year) +
         "wd:" + std::to_string(t.tm_wday) + "yd:" + std::to_string(t.tm_yday) +
         "i:" + std::to_string(t.tm_isdst);
}

bool sameTime(const std::tm& a, const std::tm& b) {
  return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
         a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year;
}

// mktime answers -1 both for failure and for the last second of 1969; the
// fields it normalised tell the two apart.
bool isLastSecondOf1969(const std::tm& normalised) {
  const time_t minusOne = -1;
  std::tm t{};
  return ::localtime_r(&minusOne, &t) != nullptr && sameTime(t, normalised);
}

}  // namespace

std::string zoneText(zone_t zone) {
  if (zone != kLocalZone) return offsetText(zone);
  return initialZone().text.value_or(std::string());
}

void setZone(zone_t zone) {
  const InitialZone& initial = initialZone();
  int rc;
  if (zone == kLocalZone && !initial.text) {
    // An empty TZ means UTC to the C library; no TZ at all means the
    // system's default zone, which is what the local zone stands for.
    rc = ::unsetenv("TZ");
  } else {
    rc = ::setenv("TZ", zoneText(zone).c_str(), 1);
  }
  HX_CHECK(rc == 0, "Couldn't set TZ environment variable");
  ::tzset();
}

std::tm localTimeInZone(std::int64_t seconds, zone_t zone) {
  setZone(zone);
  std::tm fields{};
  time_t t;
  const bool ok = toTimeT(seconds, t) && ::localtime_r(&t, &fields) != nullptr;
  HX_CHECK(ok, "Couldn't get localtime for time " + std::to_string(seconds));
  return fields;
}

std::int64_t composeTimeInZone(const std::tm& fields, zone_t zone) {
  setZone(zone);
  std::tm work = fields;
  const time_t t = ::mktime(&work);
  HX_CHECK(t != -1 || isLastSecondOf1969(work),
           "Couldn't compose time from tm: " + fieldsText(fields));
  return static_cast<std::int64_t>(t);
}

void forgetInitialZoneForTest() { initialZoneStorage().saved = false; }

}  // namespace os
