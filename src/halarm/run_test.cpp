#include "halarm/run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "halarm/driver_testing.h"
#include "halarm/subscription.h"

namespace halarm::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using namespace queues;
using namespace testkit;

const id_t kRoot{0, 1};
const id_t kNode{1, 1};
const id_t kCheck{2, 1};

// Root, one node that checks in every 300 s, one check.
object_ptr smallTree(const CheckSpec& checkSpec = {}, const NodeSpec& nodeSpec = {}) {
  return with(domain(kRoot), with(node(kNode, nodeSpec), check(kCheck, checkSpec)));
}

// (old, new) of a status change notification.
using Change = std::pair<std::uint32_t, std::uint32_t>;

class RunTest : public DriverTest {
 protected:
  // The status changes of `id` among the first `end` events sent.
  std::vector<Change> changesOf(const id_t& id, std::size_t end = SIZE_MAX) const {
    std::vector<Change> out;
    for (std::size_t i = 0; i < std::min(end, sent.size()); ++i) {
      if (sent[i]->type != OBJECT_STATUS_CHANGE) continue;
      const auto& c = dynamic_cast<const devent_t<OBJECT_STATUS_CHANGE>&>(*sent[i]).data;
      if (c.object == id) out.emplace_back(c.old_status, c.new_status);
    }
    return out;
  }
  // Where the first event of `type` (answering `uid`, if given) was sent;
  // sent.size() when none was.
  std::size_t indexOf(event_t type, std::optional<std::uint32_t> uid = {}) const {
    const auto it = std::find_if(sent.begin(), sent.end(), [&](const EventPtr& ev) {
      return ev->type == type && (!uid || ev->inresponse == *uid);
    });
    return static_cast<std::size_t>(it - sent.begin());
  }
  std::size_t replyTo(std::uint32_t uid) const { return indexOf(RETURN_METRIC_UINT64, uid); }
};

// --- Runs in one process ---

// Debug lines need the driver's bit (32) in the log mask.
TEST_F(RunTest, RunsAgainFromAFreshStateInTheSameProcessWithItsOwnLogMask) {
  script.start(smallTree(), 32).state(kCheck, 3);
  ASSERT_EQ(runPipe(), 0);
  EXPECT_THAT(changesOf(kCheck), Contains(Change{10, 13}));
  EXPECT_THAT(testkit::logLines(sent), Contains("32 Processing event: IMMEDIATE_STATE from dbms"));
  EXPECT_TRUE(keepers::countKeepers.empty());
  EXPECT_TRUE(keepers::boundaries.empty());

  script.start(smallTree(), 2);  // another subsystem's bit
  ASSERT_EQ(runPipe(), 0);
  EXPECT_THAT(changesOf(kCheck), ElementsAre(Change{0, 10}));
  for (const std::string& line : testkit::logLines(sent))
    EXPECT_THAT(line, Not(StartsWith("32 "))) << line;
}

// A run that is all the process does: an orderly end exits with 0 at once,
// after the process has sent what it had to; any other end returns as usual
// and leaves the process-wide state empty.
TEST_F(RunTest, EndingTheProcessExitsAfterAnOrderlyEndAndReturnsOtherwise) {
  endProcess = true;
  script.start(smallTree()).state(kCheck, 3);
  EXPECT_EXIT(
      {
        runPipe();
        std::fprintf(stderr, "returned\n");
        std::exit(3);
      },
      ::testing::ExitedWithCode(0), "^$");
  // The main process's stream ends during the configuration dialog. (The
  // script above was played in the child process only.)
  script = testkit::Script();
  EXPECT_EQ(runPipe(), 1);
  EXPECT_THAT(caught, StartsWith("Caught: "));
  EXPECT_TRUE(keepers::countKeepers.empty());

  // Without it, an orderly end returns, the mirror taken down.
  endProcess = false;
  script.start(smallTree()).state(kCheck, 3);
  ASSERT_EQ(runPipe(), 0);
  EXPECT_TRUE(keepers::countKeepers.empty());
}

// --- Time: boundaries come due at their own time ---

TEST_F(RunTest, UnknownCheckShowsUninitializedForItsFirstMinute) {
  script.start(smallTree()).pause(59).probe(100).pause(2).probe(101);
  ASSERT_EQ(runPipe(), 0);
  // UNKNOWN comes at 60 s, inside the second pause: before the event after it.
  EXPECT_THAT(changesOf(kCheck, replyTo(100)), ElementsAre(Change{0, 10}));
  EXPECT_THAT(changesOf(kCheck, replyTo(101)), ElementsAre(Change{0, 10}, Change{10, 11}));
  EXPECT_EQ(changesOf(kCheck), changesOf(kCheck, replyTo(101)));
}

TEST_F(RunTest, BoundaryAlreadyDueComesBeforeFurtherInput) {
  // Checked in long ago: late at once.
  script.start(smallTree()).checkin(kNode, kStart - 10000).probe(100).probe(101);
  ASSERT_EQ(runPipe(), 0);
  EXPECT_LT(indexOf(LATE_CHECKIN), replyTo(100));
}

TEST_F(RunTest, ScoreCrossesItsThresholdsAtTheComputedTimes) {
  CheckSpec scored;
  scored.strategy = keepers::kScoreDriven;
  scored.rates = {0, 10, 10};
  NodeSpec levels;
  levels.levels = {50, 100, 150, 150};
  script.start(smallTree(scored, levels));
  script.state(kCheck, 2).pause(60);  // warn: the score rises by 10 per 5 s from 0
  ASSERT_EQ(runPipe(), 0);
  EXPECT_THAT(changesOf(kCheck),
              ElementsAre(Change{0, 10}, Change{10, 1}, Change{1, 12}, Change{12, 13}));
  const auto statuses = sentOf<SET_STATUS>();
  const auto warn = std::find_if(statuses.begin(), statuses.end(),
                                 [](const auto& s) { return s.id == kCheck && s.status == 12; });
  ASSERT_NE(warn, statuses.end());
  EXPECT_EQ(warn->entered_warn, kStart + 25);
}

// --- Replies the process drops ---

// An expired downtime event is deleted; whatever the DBMS sends with the
// delete's uid is dropped before its type is looked at, but not the same uid
// from another peer.
TEST_F(RunTest, RepliesToADeleteAreDroppedOnlyFromTheDbms) {
  object_ptr expired = object(tql::cls::ExpectedEvent, {7, 1});
  putBool(*expired, tql::prop::active, true);
  putInt(*expired, tql::prop::startTime, kStart - 7200);
  put<tql::property_date_t>(*expired, tql::prop::endTime, kStart - 3600);
  object_ptr tree = smallTree();
  tree->children.at(0)->children.push_back(
      with(object(tql::cls::Plan, {4, 1}), std::move(expired)));
  script.start(std::move(tree)).answer(TQL_DELETE, exevent(QUEUE_DBMS, 0, "no such object"));
  script.answer<SET_STATUS>(TQL_DELETE, QUEUE_DBMS, {}).probe(100);
  script.answer<SET_STATUS>(TQL_DELETE, QUEUE_MAIN, {});
  EXPECT_EQ(runPipe(), 1);
  EXPECT_LT(replyTo(100), sent.size());
  EXPECT_EQ(caught, "Caught: Alarm got unexpected event SET_STATUS inside BROADCAST_WRITE");
}

// --- Shutdown (over a messenger: pipe mode has no shutdown) ---

TEST_F(RunTest, ExitForgetsTheSubscriptionThenStopsNotifyingUntilMainEnds) {
  script.start(smallTree()).send<SYS_EXIT>(QUEUE_MAIN, 0, {});
  script.answer<RETURN_TQL_FORGET>(TQL_FORGET, QUEUE_DBMS, {});
  script.state(kCheck, 3).checkin(kNode, kStart);
  script.pause(1000);  // the late check-in stays unreported
  script.state(kCheck, 0);
  EXPECT_EQ(runMessenger(), 0);
  EXPECT_THAT(caught, IsEmpty());
  EXPECT_EQ(shutdowns, 1);
  EXPECT_THAT(completed, ElementsAre(true));
  const auto forget = sentOf<TQL_FORGET>();
  ASSERT_EQ(forget.size(), 1u);
  EXPECT_EQ(forget[0].req_id_to_forget, requests.select());
  EXPECT_THAT(testkit::logLines(sent), Contains("0 Initiating shutdown"));
  for (const id_t& id : {kNode, kCheck}) EXPECT_THAT(changesOf(id), ElementsAre(Change{0, 10}));
  EXPECT_THAT(sentOf<LATE_CHECKIN>(), IsEmpty());
}

TEST_F(RunTest, MainGoingAwayWithoutExitEndsTheRunToo) {
  script.start(smallTree()).endOf(QUEUE_MAIN);
  script.state(kCheck, 3);  // never read: the loop is over
  EXPECT_EQ(runMessenger(), 0);
  EXPECT_THAT(completed, ElementsAre(false));
  EXPECT_EQ(shutdowns, 0);
  EXPECT_THAT(changesOf(kCheck), ElementsAre(Change{0, 10}));
}

// --- The subscription request ---

// Every place that can carry a plan has its own complete plan pattern, and
// only checks carry a condition.
void expectPlansAndConditions(const tql::pattern_t& p, int& plans) {
  if (p.class_ == tql::cls::Plan) {
    ++plans;
    ASSERT_EQ(p.next.size(), 3u);
    EXPECT_EQ(p.next[2].next.at(0).next.at(0).class_, tql::cls::Event);
  }
  if (p.class_ == tql::cls::Check) {
    ASSERT_EQ(p.where.size(), 1u);
    EXPECT_EQ(p.where.front().rel_op, std::uint32_t(tql::kRelEqual));
    const auto& active = dynamic_cast<const tql::property_boolean_t&>(*p.where.front().prop);
    EXPECT_EQ(active.property, tql::prop::active);
    EXPECT_TRUE(active.value);
  } else {
    EXPECT_THAT(p.where, IsEmpty()) << tql::className(p.class_);
  }
  for (const tql::pattern_t& child : p.next) expectPlansAndConditions(child, plans);
}

TEST(SubscriptionRequestTest, PlansEverywhereAndOnlyActiveChecks) {
  int plans = 0;
  expectPlansAndConditions(subscriptionPattern(), plans);
  // Domain, node class node config, check config, accumulation config,
  // node, check, check accumulation.
  EXPECT_EQ(plans, 7);
}

}  // namespace
}  // namespace halarm::testing
