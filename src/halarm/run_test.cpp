#include "halarm/run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

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

// (object, old, new) of every status change notification.
struct Change {
  id_t object;
  std::uint32_t from;
  std::uint32_t to;
  friend bool operator==(const Change&, const Change&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Change& c) {
    return out << c.object.toString() << ": " << c.from << " -> " << c.to;
  }
};

class RunTest : public DriverTest {
 protected:
  std::vector<Change> changes() const {
    std::vector<Change> out;
    for (const auto& c : sentOf<OBJECT_STATUS_CHANGE>())
      out.push_back({c.object, c.old_status, c.new_status});
    return out;
  }
  std::vector<Change> changesOf(const id_t& id) const {
    std::vector<Change> out = changes();
    std::erase_if(out, [&](const Change& c) { return c.object != id; });
    return out;
  }
  std::ptrdiff_t replyTo(std::uint32_t uid) const {
    for (std::size_t i = 0; i < sent.size(); ++i) {
      if (sent[i]->type == RETURN_METRIC_UINT64 && sent[i]->inresponse == uid)
        return std::ptrdiff_t(i);
    }
    ADD_FAILURE() << "no reply to " << uid;
    return -1;
  }
  // Position of the first event of type N from `from` on whose payload
  // satisfies `pred`; -1 when there is none.
  template <event_t N, class Pred>
  std::ptrdiff_t positionOf(Pred pred, std::ptrdiff_t from = 0) const {
    for (std::size_t i = std::size_t(from); i < sent.size(); ++i) {
      if (sent[i]->type != N) continue;
      if (pred(dynamic_cast<const devent_t<N>&>(*sent[i]).data)) return std::ptrdiff_t(i);
    }
    return -1;
  }
};

// --- Runs in one process ---

// Debug lines need the driver's bit (32) in the log mask.
TEST_F(RunTest, RunsAgainFromAFreshStateInTheSameProcessWithItsOwnLogMask) {
  script.start(smallTree(), 32).state(kCheck, 3);
  ASSERT_EQ(runPipe(), 0);
  EXPECT_THAT(changesOf(kCheck), Contains(Change{kCheck, 10, 13}));
  EXPECT_THAT(testkit::logLines(sent), Contains("32 Processing event: IMMEDIATE_STATE from dbms"));
  EXPECT_TRUE(keepers::countKeepers.empty());
  EXPECT_TRUE(keepers::boundaries.empty());

  sent.clear();
  keepers::resetRun();
  script.start(smallTree(), 2);  // another subsystem's bit
  ASSERT_EQ(runPipe(), 0);
  EXPECT_THAT(changesOf(kCheck), ElementsAre(Change{kCheck, 0, 10}));
  for (const std::string& line : testkit::logLines(sent))
    EXPECT_THAT(line, Not(StartsWith("32 "))) << line;
}

// --- Time: boundaries come due at their own time ---

TEST_F(RunTest, UnknownCheckShowsUninitializedForItsFirstMinute) {
  script.start(smallTree()).pause(59).probe(100).pause(2).probe(101);
  ASSERT_EQ(runPipe(), 0);
  EXPECT_THAT(changesOf(kCheck), ElementsAre(Change{kCheck, 0, 10}, Change{kCheck, 10, 11}));
  // UNKNOWN comes at 60 s, inside the second pause: before the event after it.
  const auto unknownAt =
      positionOf<OBJECT_STATUS_CHANGE>([](const auto& c) { return c.new_status == 11; });
  EXPECT_GT(unknownAt, replyTo(100));
  EXPECT_LT(unknownAt, replyTo(101));
}

TEST_F(RunTest, BoundaryAlreadyDueComesBeforeFurtherInput) {
  // Checked in long ago: late at once.
  script.start(smallTree()).checkin(kNode, kStart - 10000).probe(100).probe(101);
  ASSERT_EQ(runPipe(), 0);
  const auto late = positionOf<LATE_CHECKIN>([](const auto&) { return true; });
  ASSERT_GE(late, 0);
  EXPECT_LT(late, replyTo(100));
}

TEST_F(RunTest, ScoreCrossesItsThresholdsAtTheComputedTimes) {
  CheckSpec scored;
  scored.label = "disk";
  scored.strategy = keepers::kScoreDriven;
  scored.rates = {0, 10, 10};
  NodeSpec levels;
  levels.levels = {50, 100, 150, 150};
  script.start(smallTree(scored, levels));
  script.state(kCheck, 2).pause(60);  // warn: the score rises by 10 per 5 s from 0
  ASSERT_EQ(runPipe(), 0);
  EXPECT_THAT(changesOf(kCheck), ElementsAre(Change{kCheck, 0, 10}, Change{kCheck, 10, 1},
                                             Change{kCheck, 1, 12}, Change{kCheck, 12, 13}));
  std::vector<std::string> texts;
  for (const auto& i : sentOf<PUT_INCIDENTLOG>()) texts.push_back(i.text);
  EXPECT_THAT(texts, ElementsAre("disk Reached WARNING level", "disk Reached ALERT level"));
  const auto warnAt = sentOf<SET_STATUS>();
  const auto warn =
      std::find_if(warnAt.begin(), warnAt.end(), [](const auto& s) { return s.status == 12; });
  ASSERT_NE(warn, warnAt.end());
  EXPECT_EQ(warn->entered_warn, kStart + 25);
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
  EXPECT_EQ(forget[0].req_id_to_forget, requestUids().select());
  EXPECT_THAT(testkit::logLines(sent), Contains("0 Initiating shutdown"));
  EXPECT_THAT(changes(), ElementsAre(Change{kNode, 0, 10}, Change{kCheck, 0, 10}));
  EXPECT_THAT(sentOf<LATE_CHECKIN>(), IsEmpty());
}

TEST_F(RunTest, MainGoingAwayWithoutExitEndsTheRunToo) {
  script.start(smallTree()).endOf(QUEUE_MAIN);
  script.state(kCheck, 3);  // never read: the loop is over
  EXPECT_EQ(runMessenger(), 0);
  EXPECT_THAT(completed, ElementsAre(false));
  EXPECT_EQ(shutdowns, 0);
  EXPECT_THAT(changesOf(kCheck), ElementsAre(Change{kCheck, 0, 10}));
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
