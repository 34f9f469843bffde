#include "keepers/plan_calendar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "htime/fake_clock.h"
#include "testkit/matcher.h"
#include "testkit/timezone.h"
#include "tql/errors.h"
#include "tql/schema.h"

namespace keepers {
namespace {

using htime::usec_time;
using tql::object_ptr;

constexpr std::int32_t kHour = 3600;
constexpr std::int32_t kDay = 86400;
// 2024-01-01 00:00 in Central Europe (23:00 UTC the day before), a Monday.
constexpr std::int32_t kMondayMidnight = 1704063600;

// Local time in January 2024 (no daylight saving): days after Monday the
// first, hours and minutes.
constexpr std::int32_t jan(int daysAfterMonday, int hour, int minute = 0) {
  return kMondayMidnight + daysAfterMonday * kDay + hour * kHour + minute * 60;
}

template <class... Children>
object_ptr node(std::uint32_t classNumber, Children... children) {
  auto n = std::make_unique<tql::object_t>();
  n->class_ = classNumber;
  (n->children.push_back(std::move(children)), ...);
  return n;
}

template <class Property, class Value>
object_ptr with(object_ptr n, std::uint32_t number, Value value) {
  n->properties.insert_or_assign(std::make_unique<Property>(number, value));
  return n;
}

object_ptr entry(std::int32_t startTime, std::int32_t duration, bool active = true) {
  object_ptr e = node(tql::cls::Event);
  e = with<tql::property_boolean_t>(std::move(e), tql::prop::active, active);
  e = with<tql::property_int_t>(std::move(e), tql::prop::startTime, startTime);
  return with<tql::property_int_t>(std::move(e), tql::prop::duration, duration);
}

template <class... Entries>
object_ptr weekDay(const std::string& name, Entries... entries) {
  return with<tql::property_string_t>(node(tql::cls::DayPlanner, std::move(entries)...),
                                      tql::prop::name, name);
}

template <class... Entries>
object_ptr datePlanner(std::int64_t date, Entries... entries) {
  return with<tql::property_date_t>(node(tql::cls::DatePlanner, std::move(entries)...),
                                    tql::prop::date, date);
}

object_ptr expected(std::int32_t start, std::int64_t end, bool active = true) {
  object_ptr e = node(tql::cls::ExpectedEvent);
  e = with<tql::property_boolean_t>(std::move(e), tql::prop::active, active);
  e = with<tql::property_int_t>(std::move(e), tql::prop::startTime, start);
  return with<tql::property_date_t>(std::move(e), tql::prop::endTime, end);
}

object_ptr unexpected(std::int64_t end, bool active = true) {
  object_ptr e = node(tql::cls::UnexpectedEvent);
  e = with<tql::property_boolean_t>(std::move(e), tql::prop::active, active);
  return with<tql::property_date_t>(std::move(e), tql::prop::endTime, end);
}

class PlanCalendarTest : public ::testing::Test {
 protected:
  template <class... Elements>
  void setPlan(Elements... elements) {
    plan_ = node(tql::cls::Plan, std::move(elements)...);
  }
  PlanIntervals at(std::int32_t seconds, std::int32_t micros = 0) {
    clock_.set(usec_time(seconds, micros));
    return get_plan_intervals(plan_.get());
  }
  // The element at a child path below the plan: {0, 1} is the second child
  // of the first element.
  const tql::object_t* element(std::initializer_list<std::size_t> path) const {
    const tql::object_t* n = plan_.get();
    for (std::size_t i : path) n = n->children.at(i).get();
    return n;
  }
  void expectInForce(const PlanIntervals& r, std::int32_t until, const tql::object_t* by) {
    EXPECT_TRUE(r.in_force);
    EXPECT_EQ(r.next_change, usec_time(until));
    EXPECT_EQ(r.deciding, by);
  }
  void expectOutOfForce(const PlanIntervals& r, usec_time next, const tql::object_t* by) {
    EXPECT_FALSE(r.in_force);
    EXPECT_EQ(r.next_change, next);
    EXPECT_EQ(r.deciding, by);
  }

  testkit::ScopedTimeZoneForTest zone_{"CET-1CEST,M3.5.0,M10.5.0/3"};
  htime::FakeClock clock_;
  object_ptr plan_;
};

TEST_F(PlanCalendarTest, DayPlannerBeforeDuringAndAfterItsLocalWindow) {
  setPlan(node(tql::cls::DayPlanner, entry(kHour, 2 * kHour)));
  const tql::object_t* e = element({0, 0});
  expectOutOfForce(at(jan(1, 0, 30)), usec_time(jan(1, 1)), e);
  expectInForce(at(jan(1, 1)), jan(1, 3), e);
  expectInForce(at(jan(1, 2)), jan(1, 3), e);
  expectInForce(at(jan(1, 2, 59) + 59, 999999), jan(1, 3), e);
  // The end is exclusive; past it, tomorrow's start is the next change.
  expectOutOfForce(at(jan(1, 3)), usec_time(jan(2, 1)), e);
  expectOutOfForce(at(jan(1, 4)), usec_time(jan(2, 1)), e);
}

TEST_F(PlanCalendarTest, WeekPlannerTriesWindowsFromTodaysMidnightOnly) {
  // Monday 22:00 for four hours, and Monday 20:00 for one hour.
  setPlan(node(tql::cls::WeekPlanner, weekDay("monday", entry(22 * kHour, 4 * kHour)),
               weekDay("monday", entry(20 * kHour, kHour))));
  const tql::object_t* late = element({0, 0, 0});
  const tql::object_t* early = element({0, 1, 0});
  expectOutOfForce(at(jan(0, 10)), usec_time(jan(0, 20)), early);
  expectInForce(at(jan(0, 23)), jan(1, 2), late);
  // Tuesday 01:00: yesterday's window still runs, but it began before
  // today's midnight, so the plan waits for next Monday.
  expectOutOfForce(at(jan(1, 1)), usec_time(jan(7, 20)), early);
  // Once Monday's only window is over, the eighth day tried is next Monday.
  setPlan(node(tql::cls::WeekPlanner, weekDay("monday", entry(20 * kHour, kHour))));
  expectOutOfForce(at(jan(0, 21, 30)), usec_time(jan(7, 20)), element({0, 0, 0}));
}

// The walk reads an entry only on a day that has its day entry's name, and
// stops reading at the first window in force: an entry without startTime in
// any other place is never read.
TEST_F(PlanCalendarTest, WeekPlannerReadsOnlyEntriesItsWalkReaches) {
  const auto unreadable = [] {
    return with<tql::property_boolean_t>(node(tql::cls::Event), tql::prop::active, true);
  };
  setPlan(node(tql::cls::WeekPlanner, weekDay("Monday", unreadable()),
               weekDay("MONDAY", unreadable()), weekDay("monday ", unreadable()),
               weekDay("", unreadable())));
  for (int day = 0; day < 7; ++day) expectOutOfForce(at(jan(day, 12)), htime::never, nullptr);

  // Past the first window in force, in the same planner and in the next.
  setPlan(node(tql::cls::WeekPlanner, weekDay("monday", entry(0, kDay)),
               weekDay("monday", unreadable())),
          node(tql::cls::WeekPlanner, weekDay("tuesday", unreadable())));
  expectInForce(at(jan(0, 12)), jan(1, 0), element({0, 0, 0}));
  EXPECT_THROW(at(jan(1, 12)), errors::tql);
}

TEST_F(PlanCalendarTest, UnexpectedEventIsInForceUntilItsEnd) {
  setPlan(unexpected(jan(0, 18)), unexpected(jan(0, 20), false));
  expectInForce(at(jan(0, 9)), jan(0, 18), element({0}));
  expectOutOfForce(at(jan(0, 18)), htime::never, nullptr);
  // An end beyond the last representable second is no end.
  setPlan(unexpected(std::int64_t{1} << 40));
  expectInForce(at(jan(0, 9)), htime::never.sec, element({0}));
}

TEST_F(PlanCalendarTest, EarliestStartToComeIsTheNextChange) {
  // An expected event at 10:00 and a day window at 14:00, in either order.
  setPlan(expected(jan(0, 10), jan(0, 11)), node(tql::cls::DayPlanner, entry(14 * kHour, kHour)));
  expectOutOfForce(at(jan(0, 8)), usec_time(jan(0, 10)), element({0}));
  expectInForce(at(jan(0, 10, 30)), jan(0, 11), element({0}));
  expectOutOfForce(at(jan(0, 11)), usec_time(jan(0, 14)), element({1, 0}));
  setPlan(node(tql::cls::DayPlanner, entry(14 * kHour, kHour)), expected(jan(0, 10), jan(0, 11)));
  expectOutOfForce(at(jan(0, 8)), usec_time(jan(0, 10)), element({1}));
  // On equal starts the element found first stays.
  setPlan(expected(jan(0, 14), jan(0, 15)), node(tql::cls::DayPlanner, entry(14 * kHour, kHour)));
  expectOutOfForce(at(jan(0, 8)), usec_time(jan(0, 14)), element({0}));
}

TEST_F(PlanCalendarTest, FirstWindowInForceInChildOrderDecides) {
  setPlan(node(tql::cls::DayPlanner, entry(9 * kHour, kHour)), expected(jan(0, 8), jan(0, 20)));
  expectInForce(at(jan(0, 9, 30)), jan(0, 10), element({0, 0}));
  setPlan(expected(jan(0, 8), jan(0, 20)), node(tql::cls::DayPlanner, entry(9 * kHour, kHour)));
  expectInForce(at(jan(0, 9, 30)), jan(0, 20), element({0}));
}

TEST_F(PlanCalendarTest, InactiveEntriesAndEventsAreSkipped) {
  setPlan(expected(jan(0, 8), jan(0, 20), false),
          node(tql::cls::DayPlanner, entry(0, kDay, false), entry(15 * kHour, kHour)),
          datePlanner(jan(0, 0), entry(0, kDay, false)),
          node(tql::cls::WeekPlanner, weekDay("monday", entry(0, kDay, false))));
  expectOutOfForce(at(jan(0, 12)), usec_time(jan(0, 15)), element({1, 1}));
}

TEST_F(PlanCalendarTest, DatePlannerWindowsFollowTheDate) {
  setPlan(datePlanner(jan(3, 0), entry(kHour, 30 * 60), entry(2 * kHour, 30 * 60)));
  expectOutOfForce(at(jan(0, 12)), usec_time(jan(3, 1)), element({0, 0}));
  expectInForce(at(jan(3, 1, 10)), jan(3, 1, 30), element({0, 0}));
  expectOutOfForce(at(jan(3, 1, 30)), usec_time(jan(3, 2)), element({0, 1}));
  expectOutOfForce(at(jan(3, 3)), htime::never, nullptr);
}

TEST_F(PlanCalendarTest, LaterDaysAreWholeDaysAfterTodaysMidnight) {
  // 04:00 for two hours, every day.
  setPlan(node(tql::cls::DayPlanner, entry(4 * kHour, 2 * kHour)));
  const tql::object_t* e = element({0, 0});
  // Saturday 2024-03-30 12:00 CET. Clocks go forward that night, so
  // Saturday's midnight + 86400 s is Sunday 01:00 CEST and the next change
  // is Sunday 05:00 CEST (03:00 UTC), not 04:00.
  expectOutOfForce(at(1711796400), usec_time(1711854000), e);
  // On Sunday itself midnight is recomputed: 04:30 CEST is still before
  // the window, which opens at 00:00 CET + 4 h = 05:00 CEST.
  expectOutOfForce(at(1711852200), usec_time(1711854000), e);
  expectInForce(at(1711854000), 1711854000 + 2 * kHour, e);
  // Saturday 2024-10-26 12:00 CEST. Clocks go back that night: the next
  // change is Sunday 03:00 CET (02:00 UTC), an hour early.
  expectOutOfForce(at(1729936800), usec_time(1729994400), e);
}

TEST_F(PlanCalendarTest, BadElementsThrow) {
  setPlan(node(tql::cls::Event));
  HX_EXPECT_THROW_TEXT(at(jan(0, 12)), error::EFatal, "Illegal subclass of Plan");
  // An entry without `active`: the required-property error of the lookup.
  object_ptr bare = node(tql::cls::Event);
  bare = with<tql::property_int_t>(std::move(bare), tql::prop::startTime, 0);
  setPlan(node(tql::cls::DayPlanner, std::move(bare)));
  const auto missing = testkit::thrown<errors::tql>([&] { at(jan(0, 12)); });
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->code(), errors::tql::kRequiredPropertyMissing);
  // An expected event whose end is an int, not a date.
  object_ptr wrong = node(tql::cls::ExpectedEvent);
  wrong = with<tql::property_boolean_t>(std::move(wrong), tql::prop::active, true);
  wrong = with<tql::property_int_t>(std::move(wrong), tql::prop::startTime, 0);
  wrong = with<tql::property_int_t>(std::move(wrong), tql::prop::endTime, 0);
  setPlan(std::move(wrong));
  const auto mistyped = testkit::thrown<errors::tql>([&] { at(jan(0, 12)); });
  ASSERT_TRUE(mistyped);
  EXPECT_EQ(mistyped->code(), errors::tql::kIllegalType);
}

TEST(PlanCalendarDeathTest, PlanMustBeAPlan) {
  const htime::FakeClock clock;
  EXPECT_DEATH(get_plan_intervals(nullptr),
               "Assertion failed: get_plan_intervals: illegal plan parameter");
  const object_ptr notAPlan = node(tql::cls::DayPlanner);
  EXPECT_DEATH(get_plan_intervals(notAPlan.get()),
               "Assertion failed: get_plan_intervals: illegal plan parameter");
}

}  // namespace
}  // namespace keepers
