#pragma once
// Calendar conversions in a chosen time zone. Before each conversion the
// process's TZ variable is set for the zone and the C library's zone state is
// refreshed, so a conversion never depends on whatever TZ someone else left
// behind. The TZ found on the first use in the process is kept as the text of
// the local zone for the rest of the run.
//
// Main thread only: this changes the environment and the C library's global
// zone state. Every failure here is a bug or a broken machine, so it fails an
// internal check rather than throwing.
#include <cstdint>
#include <ctime>
#include <string>

namespace os {

// A zone: an offset east of UTC in seconds, or kLocalZone for the machine's
// own local zone.
using zone_t = std::int32_t;
inline constexpr zone_t kLocalZone = 0xFFFFFF;

// The TZ text of a zone. The local zone gives the TZ saved on first use (empty
// when there was none); an offset gives "GMT" with the POSIX sign (minus for
// east of UTC) and hours, plus ":MM" and ":SS" when needed: 19800 is
// "GMT-5:30", -18000 is "GMT5", 0 is "GMT-0".
[[nodiscard]] std::string zoneText(zone_t zone);

// Sets TZ for the zone and refreshes the C library's zone state. The local
// zone with no saved TZ removes the variable, which selects the system's
// default zone. Fails "Couldn't set TZ environment variable".
void setZone(zone_t zone);

// Calendar fields of `seconds` in the zone. Fails "Couldn't get localtime for
// time " + seconds when the year does not fit the fields.
[[nodiscard]] std::tm localTimeInZone(std::int64_t seconds, zone_t zone);

// Absolute seconds of calendar fields in the zone, normalising out-of-range
// fields as mktime does; tm_isdst -1 lets the zone rules decide. Fails
// "Couldn't compose time from tm: (s:..." with every field when the fields
// name no representable time.
[[nodiscard]] std::int64_t composeTimeInZone(const std::tm& fields, zone_t zone);

// Test only: forgets the saved TZ, so that the next use saves the TZ then set.
void forgetInitialZoneForTest();

}  // namespace os
