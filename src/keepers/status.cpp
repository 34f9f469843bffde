#include "keepers/status.h"

#include <limits>

namespace keepers {

namespace {

// 32-bit two's complement arithmetic without the undefined behaviour of
// signed overflow: scores are allowed to wrap as the DBMS side expects.
std::int32_t wrap(std::uint32_t v) { return static_cast<std::int32_t>(v); }
std::int32_t wrappingAdd(std::int32_t a, std::int32_t b) {
  return wrap(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t wrappingMul(std::int32_t a, std::int32_t b) {
  return wrap(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

constexpr std::int32_t kNoCeiling = std::numeric_limits<std::int32_t>::max();

}  // namespace

std::string_view statusName(status_t status) {
  switch (status) {
    case kNoStatus:
      return "NA";
    case kGood:
      return "GOOD";
    case kUninitialized:
      return "UNINITIALIZED";
    case kUnknown:
      return "UNKNOWN";
    case kWarn:
      return "WARN";
    case kAlert:
      return "ALERT";
    default:
      return "(other)";
  }
}

CountClass countClass(status_t status) {
  switch (status) {
    case kNoStatus:
    case kGood:
      return CountClass::kNone;
    case kUninitialized:
    case kUnknown:
      return CountClass::kUnknown;
    case kWarn:
      return CountClass::kWarn;
    case kAlert:
      return CountClass::kAlert;
    default:
      return CountClass::kInvalid;
  }
}

RateAndLimit rateAndLimit(std::uint32_t state, const Rates& rates, const Thresholds& thresholds) {
  switch (state) {
    case kStateGood:
      return {rates.good, 0};
    case kStateWarn:
      return {rates.warn, thresholds.warnCeiling};
    case kStateAlert:
      return {rates.alert, thresholds.alertCeiling};
    default:  // unknown, or a state without meaning
      return {0, 0};
  }
}

std::int32_t elapsedSeconds(htime::usec_time from, htime::usec_time to) {
  // The difference borrows from the seconds when the microseconds run short,
  // so 1.9 s to 3.1 s is one whole second.
  return (to - from).sec;
}

std::int32_t accumulateScore(std::int32_t score, std::int32_t elapsed, std::uint32_t state,
                             const Rates& rates, const Thresholds& thresholds) {
  const RateAndLimit r = rateAndLimit(state, rates, thresholds);
  // One second of elapsed time already counts as two: the extra second is
  // part of how scores have always accumulated.
  const std::int32_t steps = wrappingMul(wrappingAdd(elapsed, 1), r.rate);
  // INT32_MIN / 5 cannot overflow, so plain division truncating toward zero.
  std::int32_t result = wrappingAdd(score, steps / 5);
  if ((r.rate >= 1 && result > r.limit) || (r.rate < 0 && result < r.limit)) result = r.limit;
  return result;
}

Derivation deriveStatus(std::uint32_t alertStrategy, std::uint32_t state, std::int32_t score,
                        const Rates& rates, const Thresholds& thresholds, htime::usec_time now) {
  Derivation d;
  if (alertStrategy == kFollowState) {
    switch (state) {
      case kStateGood:
        d.status = kGood;
        break;
      case kStateUnknown:
        d.status = kUnknown;
        break;
      case kStateWarn:
        d.status = kWarn;
        break;
      case kStateAlert:
        d.status = kAlert;
        break;
      default:
        d.status = kNoStatus;
        break;
    }
    return d;
  }
  if (alertStrategy != kScoreDriven) return d;

  RateAndLimit r = rateAndLimit(state, rates, thresholds);
  if (state == kStateGood || state == kStateUnknown) r.limit = kNoCeiling;
  if (state == kStateUnknown) {
    d.status = kUnknown;
    return d;
  }
  // A score exactly on a level counts upward while rising and downward while
  // falling, so a level is crossed only once in each direction.
  if (r.rate > 0) {
    if (score >= thresholds.alert) {
      d.status = kAlert;
    } else if (score >= thresholds.warn) {
      d.status = kWarn;
      d.nextThreshold = thresholds.alert;
    } else {
      d.status = kGood;
      d.nextThreshold = thresholds.warn;
    }
  } else {
    if (score > thresholds.alert) {
      d.status = kAlert;
      d.nextThreshold = thresholds.alert;
    } else if (score > thresholds.warn) {
      d.status = kWarn;
      d.nextThreshold = thresholds.warn;
    } else {
      d.status = kGood;
    }
  }
  if (d.nextThreshold >= 0 && r.rate != 0 && (r.rate < 0 || d.nextThreshold <= r.limit)) {
    const double seconds =
        (static_cast<double>(d.nextThreshold) - static_cast<double>(score)) * 5.0 / r.rate;
    d.deadline = now + htime::usec_time::fromDouble(seconds);
  }
  return d;
}

status_t downtimeCode(status_t status) {
  switch (status) {
    case kGood:
      return kGoodDowntime;
    case kUninitialized:
    case kUnknown:
      return kUnknownDowntime;
    case kWarn:
      return kWarnDowntime;
    case kAlert:
      return kAlertDowntime;
    default:
      return status;
  }
}

status_t explainedCode(status_t status) {
  switch (status) {
    case kGood:
      return kGoodExplained;
    case kUninitialized:
    case kUnknown:
      return kUnknownExplained;
    case kWarn:
      return kWarnExplained;
    case kAlert:
      return kAlertExplained;
    default:
      return status;
  }
}

bool isDowntimeCode(status_t status) {
  return status == kGoodDowntime || status == kUnknownDowntime || status == kWarnDowntime ||
         status == kAlertDowntime;
}

EnteredTimes updateEnteredTimes(EnteredTimes times, status_t newStatus, status_t oldStatus,
                                std::int64_t nowSeconds) {
  if (newStatus >= kWarn && oldStatus < kWarn) times.warn = nowSeconds;
  if (newStatus < kWarn && oldStatus >= kWarn) times.warn = 0;
  if (newStatus >= kAlert && oldStatus < kAlert) times.alert = nowSeconds;
  if (newStatus < kAlert && oldStatus >= kAlert) times.alert = 0;
  return times;
}

namespace {

// The words after the label in the incident line of a change, or null when
// the change writes none.
const char* incidentWords(status_t newStatus, status_t oldStatus) {
  const bool fromDowntime = isDowntimeCode(oldStatus);
  switch (newStatus) {
    case kNoStatus:
    case kGood:
    case kUnknown:
      if (fromDowntime) return " Left downtime";
      if (oldStatus == kWarn) return " Left warning level";
      if (oldStatus == kAlert) return " Left alert level";
      return nullptr;
    case kGoodDowntime:
    case kUnknownDowntime:
    case kWarnDowntime:
    case kAlertDowntime:
      return fromDowntime ? nullptr : " Entered downtime";
    case kWarn:
      if (fromDowntime) return " Left downtime, switched to WARNING";
      if (oldStatus == kAlert) return " Left alert level";
      return " Reached WARNING level";
    case kAlert:
      if (fromDowntime) return " Left downtime, switched to ALERT";
      return " Reached ALERT level";
    default:
      return fromDowntime ? " Left downtime" : nullptr;
  }
}

}  // namespace

bool writesIncidentText(status_t newStatus, status_t oldStatus) {
  return incidentWords(newStatus, oldStatus) != nullptr;
}

std::string incidentText(std::string_view label, std::string_view downtimeComment,
                         status_t newStatus, status_t oldStatus) {
  const char* words = incidentWords(newStatus, oldStatus);
  if (words == nullptr) return {};
  std::string text(label);
  text += words;
  if (isDowntimeCode(newStatus) && !downtimeComment.empty()) {
    text += " [Comment: ";
    text += downtimeComment;
    text += "]";
  }
  return text;
}

std::uint32_t incidentSeverity(status_t newStatus) {
  if (newStatus == kWarn) return 2;
  if (newStatus == kAlert) return 4;
  return 1;
}

}  // namespace keepers
