#include "keepers/score_keeper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "error/exception.h"
#include "keepers/testing.h"
#include "tql/errors.h"

namespace keepers {
namespace {

using htime::usec_time;
using testing::CheckSpec;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::NodeSpec;

const tql::id_t kRoot{0, 1};
const tql::id_t kNode{1, 1};
const tql::id_t kCheck{2, 1};

// A domain with one node (levels as given, no check-ins so that it has no
// status of its own) holding one check.
class CheckTest : public testing::KeeperTest {
 protected:
  void build(const CheckSpec& cs, Thresholds levels = {100, 200, 1000, 1000}) {
    NodeSpec ns;
    ns.frequency.reset();
    ns.levels = levels;
    select(testing::with(testing::domain(kRoot),
                         testing::with(testing::node(kNode, ns), testing::check(kCheck, cs))));
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
  std::vector<std::uint32_t> setStatuses() {
    std::vector<std::uint32_t> out;
    for (const auto& d : sink.data<queues::SET_STATUS>()) out.push_back(d.status);
    return out;
  }
};

TEST_F(CheckTest, ScoreReachesWarnAtTheSecondTheRateSays) {
  build(scored({0, 10, 0}), {100, 200, 150, 300});
  check().setCurState(kStateWarn);
  turn();
  EXPECT_EQ(check().curStatus(), kGood);
  // (100 - 0) * 5.0 / 10 = 50 s to the warn level.
  EXPECT_EQ(check().thresholdRecord().time(), usec_time{kStart + 50});
  sink.events.clear();

  // One accumulation after 49 s adds (49 + 1) * 10 / 5 = 100: WARN.
  advance(49);
  check().setCurState(kStateWarn);
  EXPECT_EQ(check().score(), 100);
  EXPECT_EQ(check().curStatus(), kWarn);
  turn();
  const auto incidents = sink.data<queues::PUT_INCIDENTLOG>();
  ASSERT_EQ(incidents.size(), 1u);
  EXPECT_EQ(incidents[0].time, kStart + 49);
  EXPECT_EQ(incidents[0].host_id, kNode);
  EXPECT_EQ(incidents[0].text, "check Reached WARNING level");
  EXPECT_EQ(incidents[0].level, 2u);
  const auto changes = sink.data<queues::OBJECT_STATUS_CHANGE>();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].object, kCheck);
  EXPECT_EQ(changes[0].node, kNode);
  EXPECT_EQ(changes[0].old_status, kGood);
  EXPECT_EQ(changes[0].new_status, kWarn);
  EXPECT_TRUE(changes[0].user.empty());
  const auto statuses = sink.data<queues::SET_STATUS>();
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].id, kCheck);
  EXPECT_EQ(statuses[0].status, kWarn);
  EXPECT_EQ(statuses[0].entered_warn, kStart + 49);
  EXPECT_EQ(statuses[0].entered_alert, 0);

  // The next level lies above the ceiling: the score stops at 150.
  EXPECT_EQ(check().thresholdRecord().time(), htime::never);
  advance(1000);
  check().setCurState(kStateWarn);
  EXPECT_EQ(check().score(), 150);
  EXPECT_EQ(check().curStatus(), kWarn);
}

TEST_F(CheckTest, ThresholdWakeUpDerivesTheStatusWhenTheScoreCrosses) {
  build(scored({0, 10, 0}), {100, 200, 150, 300});
  check().setCurState(kStateWarn);
  turn();
  runUntil(49);
  EXPECT_EQ(check().curStatus(), kGood);
  runUntil(50);
  // Woken at the deadline: (50 + 1) * 10 / 5 = 102.
  EXPECT_EQ(check().score(), 102);
  EXPECT_EQ(check().curStatus(), kWarn);
  EXPECT_EQ(check().dbmsStatus(), kWarn);
}

TEST_F(CheckTest, FiveSecondsFromWarnToAlertUnlessTheCeilingIsBelow) {
  build(scored({0, 10, 0}), {50, 100, 150, 300});
  check().setCurState(kStateWarn);
  advance(44);
  check().setCurState(kStateWarn);  // 45 * 10 / 5 = 90
  EXPECT_EQ(check().curStatus(), kWarn);
  turn();
  EXPECT_EQ(check().thresholdRecord().time(), usec_time{kStart + 49});
  runUntil(48);
  EXPECT_EQ(check().curStatus(), kWarn);
  runUntil(49);
  // (5 + 1) * 10 / 5 = 12 more: 102.
  EXPECT_EQ(check().score(), 102);
  EXPECT_EQ(check().curStatus(), kAlert);
  EXPECT_EQ(check().thresholdRecord().time(), htime::never);
}

TEST_F(CheckTest, CeilingBelowTheAlertLevelArmsNoWakeUp) {
  build(scored({0, 10, 0}), {50, 100, 95, 300});
  check().setCurState(kStateWarn);
  advance(44);
  check().setCurState(kStateWarn);
  turn();
  EXPECT_EQ(check().score(), 90);
  EXPECT_EQ(check().thresholdRecord().time(), htime::never);
  advance(100);
  check().setCurState(kStateWarn);
  EXPECT_EQ(check().score(), 95);
  EXPECT_EQ(check().curStatus(), kWarn);
}

TEST_F(CheckTest, FallingScoreOnTheWarnLevelIsGood) {
  build(scored({0, 10, 0}), {100, 200, 1000, 1000});
  check().setCurState(kStateWarn);
  advance(49);
  check().setCurState(kStateGood);  // accumulated 100 while in warn, now steady
  EXPECT_EQ(check().score(), 100);
  EXPECT_EQ(check().curStatus(), kGood);
  check().setCurState(kStateWarn);  // the same score, rising
  EXPECT_EQ(check().score(), 100);
  EXPECT_EQ(check().curStatus(), kWarn);
}

TEST_F(CheckTest, UnknownStartIsUninitializedForSixtySeconds) {
  build(CheckSpec{});
  EXPECT_EQ(check().curStatus(), kUninitialized);
  EXPECT_EQ(check().graceRecord().time(), usec_time{kStart + 60});
  advance(59);
  check().setCurState(kStateUnknown);
  EXPECT_EQ(check().curStatus(), kUninitialized);
  advance(1);
  check().setCurState(kStateUnknown);
  EXPECT_EQ(check().curStatus(), kUnknown);
  turn();
  EXPECT_THAT(setStatuses(), ElementsAre(kUnknown));
  EXPECT_EQ(check().graceRecord().time(), htime::never);
}

TEST_F(CheckTest, GraceWakeUpTurnsUninitializedIntoUnknown) {
  build(CheckSpec{});
  runUntil(59);
  EXPECT_EQ(check().dbmsStatus(), kUninitialized);
  runUntil(60);
  EXPECT_EQ(check().dbmsStatus(), kUnknown);
  EXPECT_THAT(setStatuses(), ElementsAre(kUnknown));
  EXPECT_EQ(keeper<CountKeeper>(kRoot).unknownCount(), 1u);
}

TEST_F(CheckTest, ReconsideringAfterTheGraceDoesNotFreezeUninitialized) {
  build(CheckSpec{});
  advance(61);
  // The delayed pass reconsiders with the current status before the grace
  // wake-up runs; the wake-up must still end the grace.
  check().setCurStatus(check().curStatus());
  runUntil(61);
  check().setCurState(kStateUnknown);
  EXPECT_EQ(check().curStatus(), kUnknown);
}

TEST_F(CheckTest, InactiveCheckHasNoStatusUntilActivated) {
  CheckSpec cs;
  cs.active = false;
  build(cs);
  EXPECT_EQ(check().describe(), "(1, 0, -1, 1000000.0, 0, 0, 0, 0, 0, 2147483647.0)");
  check().setCurState(kStateAlert);
  EXPECT_EQ(check().dbmsStatus(), kNoStatus);
  EXPECT_EQ(keeper<CountKeeper>(kRoot).alertCount(), 0u);

  advance(10);
  check().setCurState(kStateUnknown);
  cs.active = true;
  patch({kRoot, kNode}, testing::check(kCheck, cs));
  EXPECT_EQ(check().curStatus(), kUninitialized);
  EXPECT_EQ(check().uninitializedSince(), usec_time{kStart + 10});
  EXPECT_EQ(keeper<CountKeeper>(kRoot).unknownCount(), 1u);
}

TEST_F(CheckTest, CheckType8NeverHasAStatus) {
  CheckSpec cs;
  cs.checkType = 8;
  build(cs);
  check().setCurState(kStateAlert);
  turn();
  EXPECT_EQ(check().dbmsStatus(), kNoStatus);
  EXPECT_EQ(check().countedStatus(), kNoStatus);
  EXPECT_EQ(keeper<CountKeeper>(kRoot).alertCount(), 0u);
  EXPECT_THAT(sink.events, IsEmpty());
}

TEST_F(CheckTest, AcknowledgementClearsAStickyWarnButUnknownDoesNotStick) {
  CheckSpec cs;
  cs.ack = true;
  build(cs);
  check().setCurState(kStateWarn);
  check().setCurState(kStateGood);
  EXPECT_EQ(check().curStatus(), kGood);
  EXPECT_EQ(check().stickyStatus(), kWarn);
  EXPECT_EQ(check().dbmsStatus(), kWarn);
  turn();
  sink.events.clear();

  check().acknowledgeAlert({7, 7}, "seen it");
  EXPECT_EQ(check().dbmsStatus(), kGood);
  turn();
  const auto changes = sink.data<queues::OBJECT_STATUS_CHANGE>();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].old_status, kWarn);
  EXPECT_EQ(changes[0].new_status, kGood);
  EXPECT_EQ(changes[0].user, (tql::id_t{7, 7}));
  EXPECT_EQ(changes[0].comment, "seen it");
  ASSERT_EQ(sink.data<queues::PUT_INCIDENTLOG>().size(), 1u);
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>()[0].text, "check Left warning level");
  EXPECT_TRUE(check().pendingUser().empty());

  check().setCurState(kStateUnknown);
  EXPECT_EQ(check().dbmsStatus(), kUnknown);
  check().setCurState(kStateGood);
  EXPECT_EQ(check().dbmsStatus(), kGood);
}

TEST_F(CheckTest, AcknowledgingAnAlertingScoreStartsItAgainFromZero) {
  build(scored({0, 0, 50}, true), {100, 200, 1000, 1000});
  check().setCurState(kStateAlert);
  advance(30);
  check().setCurState(kStateAlert);  // 31 * 50 / 5 = 310
  EXPECT_EQ(check().curStatus(), kAlert);
  check().acknowledgeAlert({7, 7}, "");
  EXPECT_EQ(check().score(), 0);
  EXPECT_EQ(check().state(), kStateGood);
  EXPECT_EQ(check().stickyStatus(), kGood);
  EXPECT_EQ(check().dbmsStatus(), kGood);
  check().setCurState(kStateAlert);
  advance(4);
  check().setCurState(kStateAlert);
  EXPECT_EQ(check().score(), 50);  // (4 + 1) * 50 / 5 from zero
}

TEST_F(CheckTest, TroubleDuringDowntimeShowsButDoesNotStick) {
  CheckSpec cs;
  cs.ack = true;
  build(cs);
  check().setCurState(kStateGood);
  keeper<CountKeeper>(kNode).adjust(false, "maintenance");
  EXPECT_EQ(check().planDownCount(), 1u);
  EXPECT_EQ(check().dbmsStatus(), kGoodDowntime);
  check().setCurState(kStateAlert);
  EXPECT_EQ(check().dbmsStatus(), kAlertDowntime);
  EXPECT_EQ(check().stickyStatus(), kGood);
  check().setCurState(kStateGood);
  EXPECT_EQ(check().dbmsStatus(), kGoodDowntime);
  keeper<CountKeeper>(kNode).adjust(true, "");
  EXPECT_EQ(check().dbmsStatus(), kGood);
}

TEST_F(CheckTest, DowntimeClearsEnteredAlertAndLeavingSetsItAnew) {
  build(CheckSpec{});
  check().setCurState(kStateAlert);
  turn();
  EXPECT_EQ(check().enteredAlert(), kStart);
  sink.events.clear();
  advance(100);
  keeper<CountKeeper>(kNode).adjust(false, "patching");
  turn();
  EXPECT_EQ(check().dbmsStatus(), kAlertDowntime);
  EXPECT_EQ(check().enteredAlert(), 0);
  ASSERT_EQ(sink.data<queues::PUT_INCIDENTLOG>().size(), 1u);
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>()[0].text,
            "check Entered downtime [Comment: patching]");
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>()[0].level, 1u);
  sink.events.clear();
  advance(100);
  keeper<CountKeeper>(kNode).adjust(true, "");
  turn();
  EXPECT_EQ(check().dbmsStatus(), kAlert);
  EXPECT_EQ(check().enteredAlert(), kStart + 200);
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>()[0].text, "check Left downtime, switched to ALERT");
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>()[0].level, 4u);
}

TEST_F(CheckTest, DowntimeKeepsTheScoreItStartedWith) {
  build(scored({0, 10, 0}), {100, 200, 1000, 1000});
  check().setCurState(kStateWarn);
  advance(44);
  check().setCurState(kStateWarn);
  EXPECT_EQ(check().score(), 90);
  // Entering downtime accumulates once more (one extra second: 2 points)
  // before the score is saved.
  keeper<CountKeeper>(kNode).adjust(false, "");
  EXPECT_EQ(check().savedScore(), 92);
  advance(100);
  check().setCurState(kStateWarn);
  EXPECT_GT(check().score(), 90);
  keeper<CountKeeper>(kNode).adjust(true, "");
  EXPECT_EQ(check().score(), 92);
  EXPECT_EQ(check().savedScore(), -1);
}

TEST_F(CheckTest, ChangeAndChangeBackWithinATurnReportsNothing) {
  build(CheckSpec{});
  check().setCurState(kStateGood);
  turn();
  sink.events.clear();
  check().setCurState(kStateWarn);
  check().setCurState(kStateGood);
  turn();
  EXPECT_THAT(sink.events, IsEmpty());

  const std::uint64_t sent = statusNotificationCount();
  check().setCurState(kStateWarn);
  check().setCurState(kStateAlert);
  turn();
  EXPECT_EQ(statusNotificationCount(), sent + 1);
  const auto changes = sink.data<queues::OBJECT_STATUS_CHANGE>();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].old_status, kGood);
  EXPECT_EQ(changes[0].new_status, kAlert);
  EXPECT_THAT(setStatuses(), ElementsAre(kAlert));
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>()[0].text, "check Reached ALERT level");
}

TEST_F(CheckTest, DeletingACheckWithdrawsItsCountsAndPendingNotification) {
  build(CheckSpec{});
  check().setCurState(kStateAlert);
  EXPECT_EQ(keeper<CountKeeper>(kRoot).alertCount(), 1u);
  EXPECT_EQ(notify_queue.size(), 1u);
  remove(kCheck);
  EXPECT_EQ(keeper<CountKeeper>(kNode).alertCount(), 0u);
  EXPECT_EQ(keeper<CountKeeper>(kRoot).alertCount(), 0u);
  EXPECT_TRUE(notify_queue.empty());
  EXPECT_EQ(findKeeper(scoreKeepers, kCheck), nullptr);
  turn();
  EXPECT_THAT(sink.events, IsEmpty());
}

TEST_F(CheckTest, AccumulationsAndPlansAreTheOnlyChildrenOfACheck) {
  build(CheckSpec{});
  patch({kRoot, kNode, kCheck}, testing::accumulation({2, 2}, scored({0, 10, 0})));
  patch({kRoot, kNode, kCheck}, testing::object(tql::cls::Plan, {4, 1}));
  auto& acc = keeper({2, 2});
  EXPECT_NE(dynamic_cast<CheckScoreKeeper*>(&acc), nullptr);
  EXPECT_EQ(acc.thresholdSource(), check().thresholdSource());
  EXPECT_NE(findKeeper(planKeepers, {4, 1}), nullptr);
  try {
    check().createChild(testing::node({5, 5}));
    FAIL() << "no exception";
  } catch (const error::EFatal& e) {
    EXPECT_EQ(e.text(), "Got Node as child of Check(Accumulation)");
  }
}

TEST_F(CheckTest, MissingRequiredPropertyFailsTheUpdate) {
  build(CheckSpec{});
  auto broken = testing::check(kCheck);
  broken->properties.erase(tql::prop::warnScore);
  try {
    patch({kRoot, kNode}, std::move(broken));
    FAIL() << "no exception";
  } catch (const errors::tql& e) {
    EXPECT_EQ(e.code(), errors::tql::kRequiredPropertyMissing);
    EXPECT_EQ(e.text(), "Property warnScore not found in class Check");
  }
  // The keeper stays frozen half-way; the run would end here. Let the tree
  // go as the process would on its way out.
  while (check().freezeDepth() != 0) check().unfreeze();
}

TEST_F(CheckTest, DebugLinesTellTheStoryOfAStateChange) {
  build(CheckSpec{});
  testing::RecordingLog log;
  meter::setLogMask(meter::kAlarmDebug);
  check().setCurState(kStateWarn);
  meter::setLogMask(0);
  EXPECT_THAT(log.lines,
              ElementsAre("32 ScoreKeeper::setCurState[2.1](2)", "32 *Calling setCurStatus",
                          "32 setCurStatus[2.1](WARN), cur: UNINITIALIZED, sticky: UNINITIALIZED",
                          "32 Updated counts for 2.1 becoming (0, 1, 0)",
                          "32 Updated counts for 1.1 becoming (0, 1, 0)",
                          "32 Updated counts for 0.1 becoming (0, 1, 0)",
                          "32 New status differs from dbms status - will queue for notify",
                          "32 After cur: WARN, sticky: WARN", "32 *Calling touched"));
  log.lines.clear();
  check().setCurState(kStateWarn);
  EXPECT_THAT(log.lines, IsEmpty());  // mask off: nothing built, nothing sent
}

}  // namespace
}  // namespace keepers
