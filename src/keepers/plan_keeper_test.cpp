#include "keepers/plan_keeper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keepers/turn.h"
#include "testkit/keepers.h"
#include "testkit/timezone.h"

namespace keepers {
namespace {

using htime::usec_time;
using ::testing::ElementsAre;
using testkit::CheckSpec;
using testkit::NodeSpec;
using testkit::with;
namespace tk = testkit;
using tql::id_t;
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

const id_t kRoot{0, 1};
const id_t kNode{1, 1};
const id_t kPlan{4, 1};

// --- Plan trees ---

object_ptr plan(id_t id) { return tk::object(tql::cls::Plan, id); }

void putComment(tql::object_t& o, const std::string& comment) {
  if (!comment.empty()) tk::putString(o, tql::prop::comment, comment);
}
void putDate(tql::object_t& o, std::uint32_t number, std::int64_t value) {
  tk::put<tql::property_date_t>(o, number, value);
}

// An entry of a planner: from the day's start + startTime for duration.
object_ptr entry(id_t id, std::int32_t startTime, std::int32_t duration,
                 const std::string& comment = "", bool active = true) {
  auto o = tk::object(tql::cls::Event, id);
  tk::putBool(*o, tql::prop::active, active);
  tk::putInt(*o, tql::prop::startTime, startTime);
  tk::putInt(*o, tql::prop::duration, duration);
  putComment(*o, comment);
  return o;
}

object_ptr dayPlanner(id_t id) { return tk::object(tql::cls::DayPlanner, id); }

object_ptr weekDay(id_t id, const std::string& name) {
  auto o = tk::object(tql::cls::DayPlanner, id);
  tk::putString(*o, tql::prop::name, name);
  return o;
}

object_ptr unexpected(id_t id, std::int64_t end, const std::string& comment = "") {
  auto o = tk::object(tql::cls::UnexpectedEvent, id);
  tk::putBool(*o, tql::prop::active, true);
  putDate(*o, tql::prop::endTime, end);
  putComment(*o, comment);
  return o;
}

// A node without a check-in frequency: it has no status and no wake-ups of
// its own, so the plans' boundaries are the only ones.
NodeSpec quietNode() {
  NodeSpec desc;
  desc.frequency.reset();
  return desc;
}

CheckSpec labelled(const std::string& label) {
  CheckSpec desc;
  desc.label = label;
  return desc;
}

class PlanKeeperTest : public tk::KeeperTest {
 protected:
  PlanKeeperTest() { clock.set(usec_time(jan(1, 0, 30))); }

  std::uint32_t downCount(id_t id) { return keeper<CountKeeper>(id).planDownCount(); }
  // The plan's next wake-up; never when it has none.
  usec_time planBoundary(id_t id = kPlan) {
    for (const BoundaryRecord* record : boundaries.ordered()) {
      if (record->owner().ownerId() == id) return record->time();
    }
    return htime::never;
  }
  // Every wake-up due up to the absolute time `until`, as the main loop
  // wakes them.
  void runTo(std::int32_t until) { runUntil(until - kStart); }

  // The incident texts sent so far, then forgets every recorded event.
  std::vector<std::string> takeIncidents() {
    std::vector<std::string> texts;
    for (const auto& i : sink.data<queues::PUT_INCIDENTLOG>()) texts.push_back(i.text);
    sink.events.clear();
    return texts;
  }

  // The week planner of the subscription: "monday" from 22:00 for 4 hours.
  object_ptr mondayEvenings() {
    return with(plan(kPlan), with(tk::object(tql::cls::WeekPlanner, {5, 1}),
                                  with(weekDay({5, 2}, "monday"),
                                       entry({6, 1}, 22 * kHour, 4 * kHour, "backups"))));
  }

  tk::ScopedTimeZoneForTest zone_{"CET-1CEST,M3.5.0,M10.5.0/3"};
};

// --- Entering and leaving downtime ---

TEST_F(PlanKeeperTest, DayPlannerOnANodeHoldsItsSubtreeInDowntimeDuringItsLocalWindow) {
  // Tuesday 00:30; the window is 01:00 to 03:00 every day.
  select(with(tk::domain(kRoot),
              with(tk::node(kNode, quietNode()), tk::check({2, 1}, labelled("cpu")),
                   tk::check({2, 2}, labelled("disk")), tk::check({2, 3}),
                   with(plan(kPlan),
                        with(dayPlanner({5, 1}), entry({6, 1}, kHour, 2 * kHour, "nightly"))))));
  keeper({2, 1}).setCurState(kStateGood);
  keeper({2, 2}).setCurState(kStateAlert);
  turn();
  EXPECT_EQ(downCount(kNode), 0u);
  EXPECT_EQ(planBoundary(), usec_time(jan(1, 1)));
  takeIncidents();

  // Woken by the main loop's dispatch, the plan puts the subtree down.
  runTo(jan(1, 2));
  for (const id_t& id : {kNode, id_t{2, 1}, id_t{2, 2}, id_t{2, 3}}) {
    EXPECT_EQ(downCount(id), 1u) << id.toString();
  }
  EXPECT_EQ(downCount(kRoot), 0u);
  EXPECT_EQ(reported({2, 1}), kGoodDowntime);
  EXPECT_EQ(reported({2, 2}), kAlertDowntime);
  EXPECT_EQ(reported({2, 3}), kUnknownDowntime);
  EXPECT_EQ(planBoundary(), usec_time(jan(1, 3)));
  EXPECT_THAT(takeIncidents(), ElementsAre("cpu Entered downtime [Comment: nightly]",
                                           "disk Entered downtime [Comment: nightly]",
                                           "check Entered downtime [Comment: nightly]"));

  runTo(jan(1, 4));
  EXPECT_EQ(reported({2, 2}), kAlert);
  EXPECT_EQ(planBoundary(), usec_time(jan(2, 1)));  // tomorrow's start
}

TEST_F(PlanKeeperTest, OverlappingPlansAddUpAndTheCheckLeavesDowntimeWithTheLast) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  select(with(tk::domain(kRoot),
              with(tk::node(kNode, quietNode()), tk::check({2, 1}, labelled("cpu")),
                   with(plan(kPlan), unexpected({7, 1}, start + kHour)),
                   // The last plan to enter force names the downtime.
                   with(plan({4, 2}), unexpected({7, 2}, start + 2 * kHour, "swap")))));
  keeper({2, 1}).setCurState(kStateWarn);
  turn();
  EXPECT_EQ(downCount({2, 1}), 2u);
  runTo(start + kHour + 60);
  EXPECT_EQ(downCount({2, 1}), 1u);
  runTo(start + 2 * kHour + 60);
  EXPECT_EQ(downCount({2, 1}), 0u);
  EXPECT_THAT(takeIncidents(), ElementsAre("cpu Entered downtime [Comment: swap]",
                                           "cpu Left downtime, switched to WARNING"));
}

TEST_F(PlanKeeperTest, DeletingAnInForcePlanEndsTheDowntimeAndRestoresTheSavedScore) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  CheckSpec scored = labelled("cpu");
  scored.strategy = kScoreDriven;
  scored.rates = {-10, 10, 20};
  NodeSpec levels = quietNode();
  levels.levels = {100, 200, 1000, 1000};
  select(with(tk::domain(kRoot), with(tk::node(kNode, levels), tk::check({2, 1}, scored))));
  ScoreKeeper& check = keeper({2, 1});
  check.setCurState(kStateWarn);
  advance(19);
  check.setCurState(kStateWarn);  // (19 + 1) * 10 / 5 = 40
  turn();

  patch({kRoot, kNode}, with(plan(kPlan), unexpected({7, 1}, start + kDay)));
  turn();
  advance(99);
  check.setCurState(kStateWarn);  // + (99 + 1) * 10 / 5: the alert level passed
  turn();
  EXPECT_EQ(reported({2, 1}), kAlertDowntime);
  takeIncidents();

  remove(kPlan);
  turn();
  EXPECT_TRUE(planKeepers.empty());
  EXPECT_EQ(downCount({2, 1}), 0u);
  EXPECT_EQ(reported({2, 1}), kGood);  // back to the score saved at 42
  EXPECT_THAT(takeIncidents(), ElementsAre("cpu Left downtime"));
}

// --- Changes below the plan and of its target ---

TEST_F(PlanKeeperTest, ChangesDeepBelowThePlanReachItsEvaluation) {
  clock.set(usec_time(jan(0, 12)));  // Monday noon
  select(with(tk::domain(kRoot), with(tk::node(kNode, quietNode()), mondayEvenings())));
  turn();
  EXPECT_EQ(downCount(kNode), 0u);

  // The entry moved to cover noon: only the entry is patched.
  patch({kRoot, kNode, kPlan, {5, 1}, {5, 2}}, entry({6, 1}, 11 * kHour, 2 * kHour, "moved"));
  turn();
  EXPECT_EQ(downCount(kNode), 1u);
  EXPECT_EQ(planBoundary(), usec_time(jan(0, 13)));

  // The entry deleted: nothing left to be in force.
  remove({6, 1});
  turn();
  EXPECT_EQ(downCount(kNode), 0u);
  EXPECT_EQ(planBoundary(), htime::never);

  // A new entry inserted below the day entry, then an event below the plan.
  patch({kRoot, kNode, kPlan, {5, 1}, {5, 2}}, entry({6, 2}, 11 * kHour, 2 * kHour));
  EXPECT_EQ(downCount(kNode), 1u);
  patch({kRoot, kNode, kPlan}, unexpected({7, 1}, jan(0, 18)));
  remove({5, 1});
  turn();
  EXPECT_EQ(downCount(kNode), 1u);
  EXPECT_EQ(planBoundary(), usec_time(jan(0, 18)));
}

TEST_F(PlanKeeperTest, ClockPassingAnEdgeBeforeProcessingWakesThePlanAtOnce) {
  clock.set(usec_time(jan(1, 2, 59) + 59));
  select(with(tk::domain(kRoot),
              with(tk::node(kNode, quietNode()),
                   with(plan(kPlan), with(dayPlanner({5, 1}), entry({6, 1}, kHour, 2 * kHour))))));
  EXPECT_EQ(downCount(kNode), 1u);
  // The window ends between the evaluation and the turn's processing.
  clock.set(usec_time(jan(1, 3)));
  turn();
  EXPECT_EQ(planBoundary(), usec_time(jan(1, 3)));
  runTo(jan(1, 3));
  EXPECT_EQ(downCount(kNode), 0u);
  EXPECT_EQ(planBoundary(), usec_time(jan(2, 1)));
}

}  // namespace
}  // namespace keepers
