#pragma once
// The vocabulary every keeper computes with: status codes and their names,
// check states, how a score accumulates over time and turns into a status,
// when the next threshold will be crossed, how downtime and explanations
// recode a status for the DBMS, and the incident texts of a status change.
//
// Everything here is a pure function of its arguments; the keepers own the
// state and decide when to apply which rule.
#include <cstdint>
#include <string>
#include <string_view>

#include "htime/usec_time.h"

namespace keepers {

using status_t = std::uint32_t;

// Plain statuses: what a keeper computes as its current and sticky status.
inline constexpr status_t kNoStatus = 0;
inline constexpr status_t kGood = 1;
inline constexpr status_t kUninitialized = 10;
inline constexpr status_t kUnknown = 11;
inline constexpr status_t kWarn = 12;
inline constexpr status_t kAlert = 13;
// Codes that only the DBMS sees: the plain status in scheduled downtime, or
// explained by a dependency or a failed status source.
inline constexpr status_t kGoodDowntime = 2;
inline constexpr status_t kGoodExplained = 3;
inline constexpr status_t kUnknownDowntime = 4;
inline constexpr status_t kUnknownExplained = 5;
inline constexpr status_t kWarnDowntime = 6;
inline constexpr status_t kWarnExplained = 7;
inline constexpr status_t kAlertDowntime = 8;
inline constexpr status_t kAlertExplained = 9;

// Check states as delivered with IMMEDIATE_STATE. Other values are carried
// but map to no status.
inline constexpr std::uint32_t kStateGood = 0;
inline constexpr std::uint32_t kStateUnknown = 1;
inline constexpr std::uint32_t kStateWarn = 2;
inline constexpr std::uint32_t kStateAlert = 3;

// Alert strategies: the status follows the check state, or a score.
inline constexpr std::uint32_t kFollowState = 0;
inline constexpr std::uint32_t kScoreDriven = 1;

// An object that starts out unknown shows UNINITIALIZED this long.
inline constexpr std::int32_t kUninitializedGraceSeconds = 60;

// "GOOD", "WARN", ...; "NA" for 0 and "(other)" for the downtime and
// explained codes and anything unknown.
std::string_view statusName(status_t status);

// The counter class of a plain status: which of the unknown, warn and alert
// counters it belongs to.
enum class CountClass { kNone, kUnknown, kWarn, kAlert, kInvalid };
CountClass countClass(status_t status);

// Per-state scoring parameters of one object: rates are score points per
// five seconds.
struct Rates {
  std::int32_t good = 0;
  std::int32_t warn = 0;
  std::int32_t alert = 0;
};
// The levels and ceilings of a threshold source.
struct Thresholds {
  std::int32_t warn = 0;
  std::int32_t alert = 0;
  std::int32_t warnCeiling = 0;
  std::int32_t alertCeiling = 0;
};

// The rate at which the score moves in `state` and the limit it moves
// towards (0 in good and unknown state).
struct RateAndLimit {
  std::int32_t rate = 0;
  std::int32_t limit = 0;
};
RateAndLimit rateAndLimit(std::uint32_t state, const Rates& rates, const Thresholds& thresholds);

// The score after `elapsedSeconds` whole seconds in `state`:
// score + ((elapsed + 1) * rate) / 5 in wrapping 32-bit arithmetic, the
// division truncating toward zero, then clamped at the state's limit in the
// direction of travel.
std::int32_t accumulateScore(std::int32_t score, std::int32_t elapsedSeconds, std::uint32_t state,
                             const Rates& rates, const Thresholds& thresholds);

// Whole seconds from `from` to `to`, the microseconds borrowed and dropped.
std::int32_t elapsedSeconds(htime::usec_time from, htime::usec_time to);

// The status a score or state gives, the next level the score will cross
// (-1 for none) and when it will cross it (never for not at all).
struct Derivation {
  status_t status = kNoStatus;
  std::int32_t nextThreshold = -1;
  htime::usec_time deadline = htime::never;
};
Derivation deriveStatus(std::uint32_t alertStrategy, std::uint32_t state, std::int32_t score,
                        const Rates& rates, const Thresholds& thresholds, htime::usec_time now);

// The DBMS code of a plain status during downtime and when explained.
status_t downtimeCode(status_t status);
status_t explainedCode(status_t status);
bool isDowntimeCode(status_t status);

// The times a DBMS status last rose to WARN or above and to ALERT, moved on
// by a change from `oldStatus` to `newStatus` at `nowSeconds`.
struct EnteredTimes {
  std::int64_t warn = 0;
  std::int64_t alert = 0;
};
EnteredTimes updateEnteredTimes(EnteredTimes times, status_t newStatus, status_t oldStatus,
                                std::int64_t nowSeconds);

// The incident-log line of a DBMS status change, or "" when the change is
// not worth an incident.
std::string incidentText(std::string_view label, std::string_view downtimeComment,
                         status_t newStatus, status_t oldStatus);
// Whether incidentText gives a line for the change (the label and comment
// aside), so that a caller need not look the label up for nothing.
bool writesIncidentText(status_t newStatus, status_t oldStatus);
std::uint32_t incidentSeverity(status_t newStatus);

}  // namespace keepers
