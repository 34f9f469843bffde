#include "keepers/plan_calendar.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "error/check.h"
#include "error/exception.h"
#include "os/timezone.h"
#include "tql/property_access.h"
#include "tql/schema.h"

namespace keepers {

namespace {

constexpr std::int64_t kDay = 86400;
// A week planner tries today and the seven days after it.
constexpr int kWeekDaysTried = 8;
// Indexed by the local weekday number, 0 = Sunday. Matched exactly.
constexpr std::array<std::string_view, 7> kWeekdayNames = {
    "sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};

bool isActive(const tql::object_t& element) { return tql::getBoolean(element, tql::prop::active); }

// One evaluation of one plan at one moment. Window bounds are whole seconds,
// so comparing the current seconds alone gives the same order as comparing
// seconds and then microseconds.
class Evaluation {
 public:
  explicit Evaluation(htime::usec_time now) : now_(now.sec) {}

  // Each returns true once a window in force was found: evaluation ends.
  bool unexpectedEvent(const tql::object_t& event);
  bool expectedEvent(const tql::object_t& event);
  bool datePlanner(const tql::object_t& planner);
  bool dayPlanner(const tql::object_t& planner);
  bool weekPlanner(const tql::object_t& planner);

  PlanIntervals result() const;

 private:
  // Puts the plan in force when [start, end) holds now (returns true), or
  // offers start as the next change when it is still to come.
  bool consider(std::int64_t start, std::int64_t end, const tql::object_t& element);
  void offer(std::int64_t start, const tql::object_t& element);

  std::int64_t midnight();
  // Bit k set in mask[w]: today's midnight + k days falls on local weekday w.
  const std::array<std::uint8_t, 7>& weekdayMasks();

  const std::int64_t now_;
  // Both are worked out on first use: most plans need neither. Plain values
  // with a flag rather than std::optional, whose engaged-value read gcc's
  // optimiser reports as possibly uninitialised.
  bool midnight_known_ = false;
  bool weekday_masks_known_ = false;
  std::int64_t midnight_ = 0;
  std::array<std::uint8_t, 7> weekday_masks_{};

  bool in_force_ = false;
  std::int64_t next_change_ = htime::never.sec;
  const tql::object_t* deciding_ = nullptr;
};

bool Evaluation::consider(std::int64_t start, std::int64_t end, const tql::object_t& element) {
  if (now_ >= start && now_ < end) {
    in_force_ = true;
    next_change_ = end;
    deciding_ = &element;
    return true;
  }
  if (now_ < start) offer(start, element);
  return false;
}

void Evaluation::offer(std::int64_t start, const tql::object_t& element) {
  // Strictly earlier: on a tie the element found first stays.
  if (start >= next_change_) return;
  next_change_ = start;
  deciding_ = &element;
}

std::int64_t Evaluation::midnight() {
  if (!midnight_known_) {
    std::tm fields = os::localTimeInZone(now_, os::kLocalZone);
    fields.tm_sec = 0;
    fields.tm_min = 0;
    fields.tm_hour = 0;
    fields.tm_isdst = -1;
    midnight_ = os::composeTimeInZone(fields, os::kLocalZone);
    midnight_known_ = true;
  }
  return midnight_;
}

const std::array<std::uint8_t, 7>& Evaluation::weekdayMasks() {
  if (!weekday_masks_known_) {
    for (int k = 0; k < kWeekDaysTried; ++k) {
      const int weekday = os::localTimeInZone(midnight() + k * kDay, os::kLocalZone).tm_wday;
      weekday_masks_[static_cast<std::size_t>(weekday)] |= static_cast<std::uint8_t>(1u << k);
    }
    weekday_masks_known_ = true;
  }
  return weekday_masks_;
}

bool Evaluation::unexpectedEvent(const tql::object_t& event) {
  if (!isActive(event)) return false;
  // Down from the moment it exists: it has no start still to come.
  return consider(now_, tql::getDate(event, tql::prop::endTime), event);
}

bool Evaluation::expectedEvent(const tql::object_t& event) {
  if (!isActive(event)) return false;
  return consider(tql::getInt(event, tql::prop::startTime), tql::getDate(event, tql::prop::endTime),
                  event);
}

bool Evaluation::datePlanner(const tql::object_t& planner) {
  const std::int64_t date = tql::getDate(planner, tql::prop::date);
  for (const tql::object_ptr& entry : planner.children) {
    if (!isActive(*entry)) continue;
    const std::int64_t start = date + tql::getInt(*entry, tql::prop::startTime);
    if (consider(start, start + tql::getInt(*entry, tql::prop::duration), *entry)) return true;
  }
  return false;
}

bool Evaluation::dayPlanner(const tql::object_t& planner) {
  for (const tql::object_ptr& entry : planner.children) {
    if (!isActive(*entry)) continue;
    const std::int32_t startTime = tql::getInt(*entry, tql::prop::startTime);
    const std::int64_t start = midnight() + startTime;
    if (consider(start, start + tql::getInt(*entry, tql::prop::duration), *entry)) return true;
    // Today's window is over: tomorrow's start is the next change it offers.
    if (now_ >= start) offer(midnight() + kDay + startTime, *entry);
  }
  return false;
}

bool Evaluation::weekPlanner(const tql::object_t& planner) {
  for (const tql::object_ptr& day : planner.children) {
    const std::string& name = tql::getString(*day, tql::prop::name);
    std::uint8_t days = 0;  // bit k: today + k days has this name
    for (std::size_t w = 0; w < kWeekdayNames.size(); ++w) {
      if (name == kWeekdayNames[w]) days = weekdayMasks()[w];
    }
    // A day entry whose name is no weekday's is never looked into.
    if (days == 0) continue;
    for (const tql::object_ptr& entry : day->children) {
      if (!isActive(*entry)) continue;
      const std::int32_t startTime = tql::getInt(*entry, tql::prop::startTime);
      const std::int32_t duration = tql::getInt(*entry, tql::prop::duration);
      for (int k = 0; k < kWeekDaysTried; ++k) {
        if ((days & (1u << k)) == 0) continue;
        const std::int64_t start = midnight() + k * kDay + startTime;
        if (consider(start, start + duration, *entry)) return true;
      }
    }
  }
  return false;
}

PlanIntervals Evaluation::result() const {
  PlanIntervals result;
  result.in_force = in_force_;
  result.nothing_in_force = !in_force_;
  // An end beyond the last representable second is as good as no end.
  result.next_change = next_change_ >= htime::never.sec
                           ? htime::never
                           : htime::usec_time(static_cast<std::int32_t>(next_change_));
  result.deciding = deciding_;
  return result;
}

// Returns true when the element put the plan in force.
bool evaluateElement(Evaluation& evaluation, const tql::object_t& element) {
  switch (element.class_) {
    case tql::cls::UnexpectedEvent:
      return evaluation.unexpectedEvent(element);
    case tql::cls::ExpectedEvent:
      return evaluation.expectedEvent(element);
    case tql::cls::DatePlanner:
      return evaluation.datePlanner(element);
    case tql::cls::DayPlanner:
      return evaluation.dayPlanner(element);
    case tql::cls::WeekPlanner:
      return evaluation.weekPlanner(element);
  }
  throw error::EFatal("Illegal subclass of Plan");
}

}  // namespace

PlanIntervals get_plan_intervals(const tql::object_t* plan) {
  const htime::usec_time now = htime::now();
  HX_CHECK(plan != nullptr && plan->class_ == tql::cls::Plan,
           "get_plan_intervals: illegal plan parameter");
  Evaluation evaluation(now);
  for (const tql::object_ptr& element : plan->children) {
    if (evaluateElement(evaluation, *element)) break;
  }
  return evaluation.result();
}

}  // namespace keepers
