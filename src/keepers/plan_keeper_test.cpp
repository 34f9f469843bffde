#include "keepers/plan_keeper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "error/exception.h"
#include "keepers/testing.h"
#include "testkit/timezone.h"

namespace keepers {
namespace {

using htime::usec_time;
using testing::CheckSpec;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::NodeSpec;
using ::testing::UnorderedElementsAre;
using testing::with;
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

object_ptr plan(id_t id) { return testing::object(tql::cls::Plan, id); }

void putComment(tql::object_t& o, const std::string& comment) {
  if (!comment.empty()) testing::putString(o, tql::prop::comment, comment);
}
void putDate(tql::object_t& o, std::uint32_t number, std::int64_t value) {
  testing::put<tql::property_date_t>(o, number, value);
}

// An entry of a planner: from the day's start + startTime for duration.
object_ptr entry(id_t id, std::int32_t startTime, std::int32_t duration,
                 const std::string& comment = "", bool active = true) {
  auto o = testing::object(tql::cls::Event, id);
  testing::putBool(*o, tql::prop::active, active);
  testing::putInt(*o, tql::prop::startTime, startTime);
  testing::putInt(*o, tql::prop::duration, duration);
  putComment(*o, comment);
  return o;
}

object_ptr dayPlanner(id_t id) { return testing::object(tql::cls::DayPlanner, id); }

object_ptr weekDay(id_t id, const std::string& name) {
  auto o = testing::object(tql::cls::DayPlanner, id);
  testing::putString(*o, tql::prop::name, name);
  return o;
}

object_ptr expected(id_t id, std::int32_t start, std::int64_t end,
                    const std::string& comment = "") {
  auto o = testing::object(tql::cls::ExpectedEvent, id);
  testing::putBool(*o, tql::prop::active, true);
  testing::putInt(*o, tql::prop::startTime, start);
  putDate(*o, tql::prop::endTime, end);
  putComment(*o, comment);
  return o;
}

object_ptr unexpected(id_t id, std::int64_t end, const std::string& comment = "") {
  auto o = testing::object(tql::cls::UnexpectedEvent, id);
  testing::putBool(*o, tql::prop::active, true);
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

class PlanKeeperTest : public testing::KeeperTest {
 protected:
  PlanKeeperTest() { clock.set(usec_time(jan(1, 0, 30))); }

  void TearDown() override {
    sub.deleteTree();
    EXPECT_TRUE(expiries.empty());
    testing::KeeperTest::TearDown();
  }

  PlanKeeper& planKeeper(id_t id = kPlan) {
    PlanKeeper* p = findKeeper(planKeepers, id);
    if (p == nullptr) throw std::runtime_error("no plan keeper " + id.toString());
    return *p;
  }
  ExpiringSubPlanKeeper& expiring(id_t id) {
    auto* e = dynamic_cast<ExpiringSubPlanKeeper*>(sub.find(id));
    if (e == nullptr) throw std::runtime_error("no expiring keeper " + id.toString());
    return *e;
  }
  std::uint32_t downCount(id_t id) { return keeper<CountKeeper>(id).planDownCount(); }
  usec_time planBoundary(id_t id = kPlan) { return planKeeper(id).boundaryRecord().time(); }

  // The main loop's boundary dispatch: every wake-up due up to `until` at
  // its own time, count keepers first, then plans, with a turn after each.
  void runTo(std::int32_t until) {
    while (BoundaryRecord* b = first()) {
      if (TimeOrder{}(usec_time(until), b->time())) break;
      if (TimeOrder{}(clock.now(), b->time())) clock.set(b->time());
      const id_t owner = b->owner().ownerId();
      if (CountKeeper* k = findKeeper(countKeepers, owner)) {
        k->boundaryReached();
      } else if (PlanKeeper* p = findKeeper(planKeepers, owner)) {
        p->planBoundaryReached();
      }
      reschedule(*b, htime::never);
      turn();
    }
    if (TimeOrder{}(clock.now(), usec_time(until))) clock.set(usec_time(until));
  }

  // The incident texts sent so far, then forgets every recorded event.
  std::vector<std::string> takeIncidents() {
    std::vector<std::string> texts;
    for (const auto& i : sink.data<queues::PUT_INCIDENTLOG>()) texts.push_back(i.text);
    sink.events.clear();
    return texts;
  }

  // The week planner of the subscription: "monday" from 22:00 for 4 hours.
  object_ptr mondayEvenings() {
    return with(plan(kPlan), with(testing::object(tql::cls::WeekPlanner, {5, 1}),
                                  with(weekDay({5, 2}, "monday"),
                                       entry({6, 1}, 22 * kHour, 4 * kHour, "backups"))));
  }

  testkit::ScopedTimeZoneForTest zone_{"CET-1CEST,M3.5.0,M10.5.0/3"};
  testing::RecordingLog log_;
};

// --- Entering and leaving downtime ---

TEST_F(PlanKeeperTest, DayPlannerOnANodeHoldsItsSubtreeInDowntimeDuringItsLocalWindow) {
  // Tuesday 00:30; the window is 01:00 to 03:00 every day.
  select(with(testing::domain(kRoot),
              with(testing::node(kNode, quietNode()), testing::check({2, 1}, labelled("cpu")),
                   testing::check({2, 2}, labelled("disk")), testing::check({2, 3}),
                   with(plan(kPlan),
                        with(dayPlanner({5, 1}), entry({6, 1}, kHour, 2 * kHour, "nightly"))))));
  keeper({2, 1}).setCurState(kStateGood);
  keeper({2, 2}).setCurState(kStateAlert);
  turn();
  EXPECT_FALSE(planKeeper().inForce());
  EXPECT_EQ(downCount(kNode), 0u);
  EXPECT_EQ(planBoundary(), usec_time(jan(1, 1)));
  takeIncidents();

  runTo(jan(1, 2));
  EXPECT_TRUE(planKeeper().inForce());
  EXPECT_EQ(planKeeper().comment(), "nightly");
  for (const id_t& id : {kNode, id_t{2, 1}, id_t{2, 2}, id_t{2, 3}}) {
    EXPECT_EQ(downCount(id), 1u) << id.toString();
  }
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kGoodDowntime);
  EXPECT_EQ(keeper({2, 2}).dbmsStatus(), kAlertDowntime);
  EXPECT_EQ(keeper({2, 3}).dbmsStatus(), kUnknownDowntime);
  EXPECT_EQ(keeper(kNode).dbmsStatus(), kNoStatus);  // nothing to map
  EXPECT_EQ(keeper<CountKeeper>(kRoot).planDownCount(), 0u);
  EXPECT_EQ(planBoundary(), usec_time(jan(1, 3)));
  // Keepers are notified in no particular order within a turn.
  EXPECT_THAT(takeIncidents(), UnorderedElementsAre("cpu Entered downtime [Comment: nightly]",
                                                    "disk Entered downtime [Comment: nightly]",
                                                    "check Entered downtime [Comment: nightly]"));

  runTo(jan(1, 4));
  EXPECT_FALSE(planKeeper().inForce());
  EXPECT_EQ(planKeeper().comment(), "");
  EXPECT_EQ(downCount(kNode), 0u);
  EXPECT_EQ(downCount({2, 2}), 0u);
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kGood);
  EXPECT_EQ(keeper({2, 2}).dbmsStatus(), kAlert);
  EXPECT_EQ(keeper({2, 3}).dbmsStatus(), kUnknown);
  EXPECT_EQ(planBoundary(), usec_time(jan(2, 1)));  // tomorrow's start
  EXPECT_THAT(takeIncidents(),
              UnorderedElementsAre("cpu Left downtime", "disk Left downtime, switched to ALERT",
                                   "check Left downtime"));
}

TEST_F(PlanKeeperTest, DayPlannerKeepsItsRhythmAcrossTheSpringDaylightSavingChange) {
  // Europe moves its clocks from 02:00 CET to 03:00 CEST on 2024-03-31.
  constexpr std::int32_t kMar30 = 1711753200;  // local midnights
  constexpr std::int32_t kMar31 = kMar30 + kDay;
  constexpr std::int32_t kApr1 = kMar31 + kDay - kHour;
  clock.set(usec_time(kMar30 - 12 * kHour));
  select(with(testing::domain(kRoot),
              with(testing::node(kNode, quietNode()),
                   with(plan(kPlan), with(dayPlanner({5, 1}), entry({6, 1}, kHour, 2 * kHour))))));
  turn();

  std::vector<std::pair<std::int32_t, std::uint32_t>> changes;
  while (planBoundary().sec < kApr1 + kDay) {
    runTo(planBoundary().sec);
    changes.emplace_back(clock.now().sec, downCount(kNode));
  }
  // The window is today's midnight + 1 h for 2 h in absolute seconds: on
  // the day of the change it ends at 04:00 CEST. The next day's start is
  // taken as that midnight + 86400 s + 1 h, which is an hour late in the new
  // zone (02:00 CEST); from then on the days are local again.
  EXPECT_THAT(changes,
              ElementsAre(std::pair(kMar30 + kHour, 1u), std::pair(kMar30 + 3 * kHour, 0u),
                          std::pair(kMar31 + kHour, 1u), std::pair(kMar31 + 3 * kHour, 0u),
                          std::pair(kApr1 + 2 * kHour, 1u), std::pair(kApr1 + 3 * kHour, 0u)));
  EXPECT_EQ(planBoundary(), usec_time(kApr1 + kDay + kHour));
}

TEST_F(PlanKeeperTest, WeekPlannerWindowCountsOnlyFromItsOwnDaysMidnight) {
  clock.set(usec_time(jan(0, 23)));  // Monday 23:00
  select(with(testing::domain(kRoot), with(testing::node(kNode, quietNode()), mondayEvenings())));
  turn();
  EXPECT_TRUE(planKeeper().inForce());
  EXPECT_EQ(downCount(kNode), 1u);
  EXPECT_EQ(planBoundary(), usec_time(jan(1, 2)));

  // Tuesday 01:00, the plan delivered again: Monday's window is no longer
  // tried, so the downtime ends early and next Monday is the next change.
  clock.set(usec_time(jan(1, 1)));
  patch({kRoot, kNode}, mondayEvenings());
  turn();
  EXPECT_FALSE(planKeeper().inForce());
  EXPECT_EQ(downCount(kNode), 0u);
  EXPECT_EQ(planBoundary(), usec_time(jan(7, 22)));
}

TEST_F(PlanKeeperTest, UnexpectedEventIsInForceAtOnceUntilItsEnd) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  select(with(testing::domain(kRoot),
              with(testing::node(kNode, quietNode()), testing::check({2, 1}, labelled("cpu")))));
  keeper({2, 1}).setCurState(kStateAlert);
  turn();
  takeIncidents();

  patch({kRoot, kNode}, with(plan(kPlan), unexpected({7, 1}, start + kHour, "disk swap")));
  turn();
  EXPECT_TRUE(planKeeper().inForce());
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlertDowntime);
  EXPECT_EQ(planBoundary(), usec_time(start + kHour));
  EXPECT_EQ(expiring({7, 1}).expiryTime(), usec_time(start + kHour));
  const auto entered = sink.data<queues::PUT_INCIDENTLOG>();
  ASSERT_EQ(entered.size(), 1u);
  EXPECT_EQ(entered[0].text, "cpu Entered downtime [Comment: disk swap]");
  EXPECT_EQ(entered[0].host_id, kNode);
  EXPECT_EQ(entered[0].level, 1u);
  takeIncidents();

  runTo(start + kHour + 1);
  EXPECT_FALSE(planKeeper().inForce());
  EXPECT_EQ(downCount({2, 1}), 0u);
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlert);
  EXPECT_EQ(planBoundary(), htime::never);
  const auto left = sink.data<queues::PUT_INCIDENTLOG>();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].text, "cpu Left downtime, switched to ALERT");
  EXPECT_EQ(left[0].level, 4u);
  takeIncidents();

  // Delivered again after its end it stays ignored.
  patch({kRoot, kNode, kPlan}, unexpected({7, 1}, start + kHour, "disk swap"));
  turn();
  EXPECT_FALSE(planKeeper().inForce());
  EXPECT_THAT(takeIncidents(), IsEmpty());
}

TEST_F(PlanKeeperTest, ExpectedEventBeforeALaterDayWindowDecidesFirst) {
  clock.set(usec_time(jan(1, 7)));
  select(with(
      testing::domain(kRoot),
      with(testing::node(kNode, quietNode()), testing::check({2, 1}, labelled("cpu")),
           with(plan(kPlan), with(dayPlanner({5, 1}), entry({6, 1}, 10 * kHour, kHour, "daily")),
                expected({7, 1}, jan(1, 8), jan(1, 9), "upgrade")))));
  keeper({2, 1}).setCurState(kStateGood);
  turn();
  EXPECT_EQ(planBoundary(), usec_time(jan(1, 8)));
  takeIncidents();

  runTo(jan(1, 8, 30));
  EXPECT_EQ(planKeeper().comment(), "upgrade");
  runTo(jan(1, 9, 30));
  EXPECT_FALSE(planKeeper().inForce());
  EXPECT_EQ(planBoundary(), usec_time(jan(1, 10)));
  runTo(jan(1, 10, 30));
  EXPECT_EQ(planKeeper().comment(), "daily");
  EXPECT_THAT(takeIncidents(),
              ElementsAre("cpu Entered downtime [Comment: upgrade]", "cpu Left downtime",
                          "cpu Entered downtime [Comment: daily]"));
}

TEST_F(PlanKeeperTest, OverlappingPlansAddUpAndTheNodeLeavesDowntimeWithTheLast) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  select(with(testing::domain(kRoot),
              with(testing::node(kNode, quietNode()), testing::check({2, 1}, labelled("cpu")),
                   with(plan(kPlan), unexpected({7, 1}, start + kHour)),
                   with(plan({4, 2}), unexpected({7, 2}, start + 2 * kHour)))));
  keeper({2, 1}).setCurState(kStateWarn);
  turn();
  EXPECT_EQ(downCount(kNode), 2u);
  EXPECT_EQ(downCount({2, 1}), 2u);
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kWarnDowntime);

  runTo(start + kHour + 60);
  EXPECT_FALSE(planKeeper().inForce());
  EXPECT_EQ(downCount({2, 1}), 1u);
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kWarnDowntime);

  runTo(start + 2 * kHour + 60);
  EXPECT_EQ(downCount({2, 1}), 0u);
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kWarn);
  EXPECT_THAT(takeIncidents(),
              ElementsAre("cpu Entered downtime", "cpu Left downtime, switched to WARNING"));
}

TEST_F(PlanKeeperTest, DeletingAnInForcePlanEndsTheDowntimeAndRestoresTheSavedScore) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  CheckSpec scored = labelled("cpu");
  scored.strategy = kScoreDriven;
  scored.rates = {-10, 10, 20};
  NodeSpec levels = quietNode();
  levels.levels = {100, 200, 1000, 1000};
  select(with(testing::domain(kRoot),
              with(testing::node(kNode, levels), testing::check({2, 1}, scored))));
  ScoreKeeper& check = keeper({2, 1});
  check.setCurState(kStateWarn);
  advance(19);
  check.setCurState(kStateWarn);  // (19 + 1) * 10 / 5
  ASSERT_EQ(check.score(), 40);
  turn();

  // Entering downtime accumulates once more (a step of no time still counts
  // one second: + 2) and saves that.
  patch({kRoot, kNode}, with(plan(kPlan), unexpected({7, 1}, start + kDay)));
  turn();
  EXPECT_EQ(check.savedScore(), 42);
  advance(99);
  check.setCurState(kStateWarn);  // + (99 + 1) * 10 / 5: alert level passed
  EXPECT_EQ(check.score(), 242);
  EXPECT_EQ(check.dbmsStatus(), kAlertDowntime);
  turn();
  takeIncidents();

  remove(kPlan);
  turn();
  EXPECT_EQ(findKeeper(planKeepers, kPlan), nullptr);
  EXPECT_EQ(downCount({2, 1}), 0u);
  EXPECT_EQ(check.score(), 42);
  EXPECT_EQ(check.savedScore(), -1);
  EXPECT_EQ(check.dbmsStatus(), kGood);
  EXPECT_THAT(takeIncidents(), ElementsAre("cpu Left downtime"));
  EXPECT_TRUE(expiries.empty());
}

TEST_F(PlanKeeperTest, CommentIsTakenOnlyWhenThePlanEntersForce) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  select(with(testing::domain(kRoot),
              with(testing::node(kNode, quietNode()), testing::check({2, 1}, labelled("cpu")),
                   with(plan(kPlan), unexpected({7, 1}, start + kHour, "first")))));
  turn();
  EXPECT_EQ(planKeeper().comment(), "first");
  EXPECT_EQ(keeper<CountKeeper>({2, 1}).downtimeComment(), "first");
  takeIncidents();

  advance(60);
  patch({kRoot, kNode, kPlan}, unexpected({7, 1}, start + kHour, "second"));
  turn();
  EXPECT_TRUE(planKeeper().inForce());
  EXPECT_EQ(planKeeper().comment(), "first");
  EXPECT_EQ(keeper<CountKeeper>({2, 1}).downtimeComment(), "first");
  EXPECT_THAT(takeIncidents(), IsEmpty());

  // Leaving and entering again takes the comment as it is now.
  runTo(start + kHour);
  patch({kRoot, kNode, kPlan}, unexpected({7, 1}, start + 2 * kHour, "third"));
  turn();
  EXPECT_EQ(planKeeper().comment(), "third");
  EXPECT_THAT(takeIncidents(),
              ElementsAre("cpu Left downtime", "cpu Entered downtime [Comment: third]"));
}

TEST_F(PlanKeeperTest, DebugLinesNameThePlanAndItsTarget) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  meter::setLogMask(meter::kAlarmDebug);
  select(with(testing::domain(kRoot), with(testing::node(kNode, quietNode()),
                                           with(plan(kPlan), unexpected({7, 1}, start + 1)))));
  turn();
  meter::setLogMask(0);
  EXPECT_THAT(log_.lines, ::testing::IsSupersetOf({"32 PlanKeeper::adjust[4.1]",
                                                   "32 CountKeeper::adjust[1.1] from 0 inc",
                                                   "32 in PlanKeeper process"}));
}

// --- Changes below the plan ---

TEST_F(PlanKeeperTest, ChangesDeepBelowThePlanReachItsEvaluation) {
  clock.set(usec_time(jan(0, 12)));  // Monday noon
  select(with(testing::domain(kRoot), with(testing::node(kNode, quietNode()), mondayEvenings())));
  turn();
  EXPECT_FALSE(planKeeper().inForce());

  // The entry moved to cover noon: only the entry is patched.
  patch({kRoot, kNode, kPlan, {5, 1}, {5, 2}}, entry({6, 1}, 11 * kHour, 2 * kHour, "moved"));
  turn();
  EXPECT_TRUE(planKeeper().inForce());
  EXPECT_EQ(planBoundary(), usec_time(jan(0, 13)));

  // The entry deleted: nothing left to be in force.
  remove({6, 1});
  turn();
  EXPECT_FALSE(planKeeper().inForce());
  EXPECT_EQ(planBoundary(), htime::never);

  // A new entry inserted below the day entry, then an event below the plan.
  patch({kRoot, kNode, kPlan, {5, 1}, {5, 2}}, entry({6, 2}, 11 * kHour, 2 * kHour));
  EXPECT_TRUE(planKeeper().inForce());
  patch({kRoot, kNode, kPlan}, unexpected({7, 1}, jan(0, 18)));
  remove({5, 1});
  turn();
  EXPECT_TRUE(planKeeper().inForce());
  EXPECT_EQ(downCount(kNode), 1u);
  EXPECT_EQ(planBoundary(), usec_time(jan(0, 18)));
}

TEST_F(PlanKeeperTest, ClockPassingAnEdgeBeforeProcessingWakesThePlanAtOnce) {
  clock.set(usec_time(jan(1, 2, 59) + 59));
  select(with(testing::domain(kRoot),
              with(testing::node(kNode, quietNode()),
                   with(plan(kPlan), with(dayPlanner({5, 1}), entry({6, 1}, kHour, 2 * kHour))))));
  EXPECT_TRUE(planKeeper().inForce());
  // The window ends between the evaluation and the turn's processing.
  clock.set(usec_time(jan(1, 3)));
  turn();
  EXPECT_EQ(planBoundary(), usec_time(jan(1, 3)));
  runTo(jan(1, 3));
  EXPECT_FALSE(planKeeper().inForce());
  EXPECT_EQ(downCount(kNode), 0u);
  EXPECT_EQ(planBoundary(), usec_time(jan(2, 1)));
}

TEST_F(PlanKeeperTest, PlanOnADomainReachesNodesAddedDuringTheDowntime) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  select(with(testing::domain(kRoot), with(plan(kPlan), unexpected({7, 1}, start + kHour))));
  patch({kRoot}, with(testing::node(kNode, quietNode()), testing::check({2, 1})));
  keeper({2, 1}).setCurState(kStateAlert);
  turn();
  EXPECT_EQ(downCount({2, 1}), 1u);
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlertDowntime);
  runTo(start + kHour);
  EXPECT_EQ(downCount({2, 1}), 0u);
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlert);
}

TEST_F(PlanKeeperTest, DeletingTheTargetWithItsInForcePlanLeavesNothingBehind) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  select(with(testing::domain(kRoot),
              with(testing::node(kNode, quietNode()), testing::check({2, 1}),
                   with(plan({0, 9}), unexpected({7, 1}, start + kHour)),  // before the check
                   with(plan(kPlan), unexpected({7, 2}, start + kHour)), testing::check({9, 1}))));
  keeper({2, 1}).setCurState(kStateAlert);
  keeper({9, 1}).setCurState(kStateWarn);
  turn();
  ASSERT_EQ(downCount({9, 1}), 2u);
  remove(kNode);
  turn();
  EXPECT_EQ(keeper<CountKeeper>(kRoot).alertCount(), 0u);
  EXPECT_EQ(keeper<CountKeeper>(kRoot).warnCount(), 0u);
  EXPECT_TRUE(planKeepers.empty());
  EXPECT_TRUE(expiries.empty());
  EXPECT_TRUE(boundaries.empty());
}

TEST_F(PlanKeeperTest, MalformedPlanFailsWithoutLeavingAKeeperBehind) {
  select(with(testing::domain(kRoot), testing::node(kNode, quietNode())));
  try {
    patch({kRoot, kNode}, with(plan(kPlan), testing::check({2, 1})));
    ADD_FAILURE() << "no exception";
  } catch (const error::EFatal& e) {
    EXPECT_EQ(e.text(), "Illegal subclass of Plan");
  }
  EXPECT_TRUE(planKeepers.empty());
  EXPECT_EQ(sub.find(kPlan), nullptr);
  EXPECT_EQ(downCount(kNode), 0u);
}

// --- Expiry of one-off events ---

TEST_F(PlanKeeperTest, OneOffEventsAreScheduledAtTheirEndAndFollowItsChanges) {
  const std::int32_t start = jan(1, 10);
  clock.set(usec_time(start));
  select(with(testing::domain(kRoot),
              with(testing::node(kNode, quietNode()),
                   with(plan(kPlan), expected({7, 1}, start + kHour, start + 3 * kHour),
                        unexpected({7, 2}, start + 3 * kHour), unexpected({7, 3}, start + kHour),
                        with(dayPlanner({5, 1}), entry({6, 1}, kHour, kHour))))));
  // By time, equal times in the order delivered; planners do not expire.
  std::vector<std::pair<std::int32_t, id_t>> due;
  for (const auto& [at, e] : expiries) due.emplace_back(at.sec, e->object->id);
  EXPECT_THAT(due, ElementsAre(std::pair(start + kHour, id_t{7, 3}),
                               std::pair(start + 3 * kHour, id_t{7, 1}),
                               std::pair(start + 3 * kHour, id_t{7, 2})));

  // The same end again keeps the entry in its place before 7.2.
  patch({kRoot, kNode, kPlan}, expected({7, 1}, start + kHour, start + 3 * kHour, "again"));
  EXPECT_EQ(std::next(expiries.begin())->second, &expiring({7, 1}));
  // A new end moves it.
  patch({kRoot, kNode, kPlan}, expected({7, 1}, start + kHour, start + 2 * kHour));
  EXPECT_EQ(expiring({7, 1}).expiryTime(), usec_time(start + 2 * kHour));
  EXPECT_EQ(expiries.size(), 3u);
  EXPECT_EQ(std::next(expiries.begin())->second, &expiring({7, 1}));

  // The driver took 7.3 out and asked for its deletion; delivered again
  // before the delete arrives, it is scheduled again.
  ExpiringSubPlanKeeper& taken = expiring({7, 3});
  expiries.erase(expiries.begin());
  taken.expiryTaken();
  EXPECT_FALSE(taken.scheduled());
  patch({kRoot, kNode, kPlan}, unexpected({7, 3}, start + kHour));
  EXPECT_TRUE(expiring({7, 3}).scheduled());
  EXPECT_EQ(expiries.size(), 3u);

  // Without an end there is nothing to expire; deleted, it leaves.
  auto noEnd = unexpected({7, 2}, 0);
  noEnd->properties.erase(tql::prop::endTime);
  testing::putBool(*noEnd, tql::prop::active, false);
  patch({kRoot, kNode, kPlan}, std::move(noEnd));
  EXPECT_FALSE(expiring({7, 2}).scheduled());
  remove({7, 1});
  EXPECT_EQ(expiries.size(), 1u);
}

}  // namespace
}  // namespace keepers
