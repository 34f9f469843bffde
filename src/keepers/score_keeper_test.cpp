#include "keepers/score_keeper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testkit/keepers.h"

namespace keepers {
namespace {

using ::testing::IsEmpty;
using testkit::CheckSpec;
using testkit::NodeSpec;

const tql::id_t kRoot{0, 1};
const tql::id_t kNode{1, 1};
const tql::id_t kCheck{2, 1};

// A domain with one node (levels as given, no check-ins so that it has no
// status of its own) holding one check.
class CheckTest : public testkit::KeeperTest {
 protected:
  void build(const CheckSpec& cs, Thresholds levels = {100, 200, 1000, 1000}) {
    NodeSpec ns;
    ns.frequency.reset();
    ns.levels = levels;
    select(testkit::with(testkit::domain(kRoot),
                         testkit::with(testkit::node(kNode, ns), testkit::check(kCheck, cs))));
    turn();
    sink.events.clear();
  }
  static CheckSpec scored(Rates rates, bool ack = false) {
    CheckSpec cs;
    cs.strategy = kScoreDriven;
    cs.rates = rates;
    cs.ack = ack;
    return cs;
  }
  ScoreKeeper& check() { return keeper(kCheck); }
  CountKeeper& counts(tql::id_t id) { return keeper<CountKeeper>(id); }
  // Sets the state and settles, as a turn with one event does.
  void state(std::uint32_t s) {
    check().setCurState(s);
    turn();
  }
};

TEST_F(CheckTest, ThresholdWakeUpComesWhenTheScoreReachesALevelAndNotAboveTheCeiling) {
  // (100 - 0) * 5.0 / 10 = 50 s to the warn level; the ceiling 150 keeps
  // the score below the alert level for good.
  build(scored({0, 10, 0}), {100, 200, 150, 300});
  state(kStateWarn);
  runUntil(49);
  EXPECT_EQ(reported(kCheck), kGood);
  runUntil(50);
  EXPECT_EQ(reported(kCheck), kWarn);
  const auto incidents = sink.data<queues::PUT_INCIDENTLOG>();
  ASSERT_EQ(incidents.size(), 1u);
  EXPECT_EQ(incidents[0].time, kStart + 50);
  EXPECT_EQ(incidents[0].host_id, kNode);
  EXPECT_EQ(incidents[0].text, "check Reached WARNING level");
  EXPECT_EQ(incidents[0].level, 2u);
  EXPECT_EQ(sink.data<queues::SET_STATUS>().back().entered_warn, kStart + 50);
  runUntil(5000);
  state(kStateWarn);
  EXPECT_EQ(reported(kCheck), kWarn);
}

// Only strategies 0 and 1 derive a status; any other value, however large,
// derives none (the keeper keeps the strategy in a byte).
TEST_F(CheckTest, OnlyFollowStateAndScoreDrivenStrategiesDeriveAStatus) {
  const struct {
    std::uint32_t strategy;
    status_t expected;
  } cases[] = {{kFollowState, kAlert}, {kScoreDriven, kGood}, {2, kNoStatus},
               {256, kNoStatus},       {257, kNoStatus},      {UINT32_MAX, kNoStatus}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.strategy);
    CheckSpec cs;
    cs.strategy = c.strategy;
    build(cs);
    state(kStateAlert);
    EXPECT_EQ(check().curStatus(), c.expected);
    sub.deleteTree();
    turn();
  }
}

TEST_F(CheckTest, UnknownIsUninitializedUntilTheGraceWakeUpEvenAfterAReconsideration) {
  build(CheckSpec{});
  advance(59);
  state(kStateUnknown);
  EXPECT_EQ(reported(kCheck), kUninitialized);
  advance(2);
  // The delayed pass reconsiders with the current status before the grace
  // wake-up runs; the wake-up must still end the grace.
  check().setCurStatus(check().curStatus());
  runUntil(61);
  EXPECT_EQ(reported(kCheck), kUnknown);
  EXPECT_EQ(counts(kRoot).unknownCount(), 1u);
}

TEST_F(CheckTest, InactiveCheckAndCheckType8HaveNoStatusAndCountNothing) {
  CheckSpec inactive;
  inactive.active = false;
  build(inactive);
  state(kStateAlert);
  EXPECT_EQ(counts(kRoot).alertCount(), 0u);
  EXPECT_THAT(sink.events, IsEmpty());
  CheckSpec type8;
  type8.checkType = 8;
  patch({kRoot, kNode}, testkit::check(kCheck, type8));
  state(kStateAlert);
  EXPECT_EQ(counts(kRoot).alertCount(), 0u);
  EXPECT_THAT(sink.events, IsEmpty());
}

TEST_F(CheckTest, DowntimeShowsTroubleWithoutStickingAndClearsTheEnteredTimes) {
  CheckSpec sticky;
  sticky.ack = true;
  build(sticky);
  state(kStateAlert);
  state(kStateGood);
  EXPECT_EQ(reported(kCheck), kAlert);  // sticks until acknowledged
  check().acknowledgeAlert({7, 7}, "");
  advance(100);
  counts(kNode).adjust(false, "patching");
  state(kStateAlert);
  EXPECT_EQ(reported(kCheck), kAlertDowntime);
  EXPECT_EQ(sink.data<queues::SET_STATUS>().back().entered_alert, 0);
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>().back().text,
            "check Entered downtime [Comment: patching]");
  state(kStateGood);
  EXPECT_EQ(reported(kCheck), kGoodDowntime);
  state(kStateAlert);
  advance(100);
  counts(kNode).adjust(true, "");
  turn();
  EXPECT_EQ(reported(kCheck), kAlert);
  EXPECT_EQ(sink.data<queues::SET_STATUS>().back().entered_alert, kStart + 200);
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>().back().text,
            "check Left downtime, switched to ALERT");
}

TEST_F(CheckTest, AStateChangeReadsTheClockOnce) {
  // The score accumulates up to the instant from which the new state
  // counts; a second reading would lose the time between the two.
  CheckSpec inactive;
  inactive.active = false;
  const struct {
    const char* name;
    CheckSpec shape;
  } cases[] = {
      {"state-driven", CheckSpec{}}, {"score-driven", scored({0, 10, 0})}, {"inactive", inactive}};
  build(CheckSpec{});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    patch({kRoot, kNode}, testkit::check(kCheck, c.shape));
    turn();
    int reads = 0;
    htime::setClockForTesting([&] {
      ++reads;
      return clock.now();
    });
    check().setCurState(kStateWarn);
    htime::setClockForTesting([this] { return clock.now(); });
    EXPECT_EQ(reads, 1);
    turn();
  }
}

TEST_F(CheckTest, DeletingACheckWithdrawsItsCountsAndPendingNotification) {
  build(CheckSpec{});
  check().setCurState(kStateAlert);
  EXPECT_EQ(counts(kRoot).alertCount(), 1u);
  remove(kCheck);
  EXPECT_EQ(counts(kNode).alertCount(), 0u);
  EXPECT_EQ(counts(kRoot).alertCount(), 0u);
  EXPECT_TRUE(notify_queue.empty());
  turn();
  EXPECT_THAT(sink.events, IsEmpty());
}

}  // namespace
}  // namespace keepers
