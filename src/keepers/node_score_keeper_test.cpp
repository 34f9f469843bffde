#include "keepers/node_score_keeper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "error/exception.h"
#include "keepers/domain_export_score_keeper.h"
#include "keepers/group_keeper.h"
#include "keepers/plan_keeper.h"
#include "keepers/testing.h"

namespace keepers {
namespace {

using htime::usec_time;
using testing::CheckSpec;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::NodeSpec;

const tql::id_t kRoot{0, 1};
const tql::id_t kNode{1, 1};

// The EFatal text of `f`, or "" when it does not throw one.
std::string fatalText(const std::function<void()>& f) {
  try {
    f();
  } catch (const error::EFatal& e) {
    return e.text();
  }
  return "";
}

class NodeTest : public testing::KeeperTest {
 protected:
  NodeScoreKeeper& node(tql::id_t id = kNode) { return keeper<NodeScoreKeeper>(id); }
  std::size_t lateReports() { return sink.data<queues::LATE_CHECKIN>().size(); }
};

TEST_F(NodeTest, ChildrenOfTheWrongClassAreFatal) {
  select(testing::with(
      testing::domain(kRoot), testing::domainExport({1, 9}),
      testing::with(testing::object(tql::cls::NodeClass, {8, 1}),
                    testing::with(testing::object(tql::cls::NodeClassNodeConfig, {8, 2}),
                                  testing::object(tql::cls::Plan, {4, 2}))),
      testing::with(testing::node(kNode), testing::group({3, 1}, "g"),
                    testing::object(tql::cls::Plan, {4, 1}))));
  EXPECT_NE(dynamic_cast<NodeClassNoopKeeper*>(findKeeper(countKeepers, {8, 2})), nullptr);
  EXPECT_NE(findKeeper(planKeepers, {4, 1}), nullptr);
  EXPECT_NE(findKeeper(planKeepers, {4, 2}), nullptr);
  EXPECT_EQ(findKeeper(countKeepers, {4, 1}), nullptr);  // plans are not counted

  auto& domain = keeper<CountKeeper>(kRoot);
  EXPECT_EQ(fatalText([&] {
              domain.createChild(testing::check({9, 1}));
            }),
            "Got Check as child of Domain");
  EXPECT_EQ(fatalText([&] {
              node().createChild(testing::domain({9, 1}));
            }),
            "Got Domain as child of Node");
  EXPECT_EQ(fatalText([&] {
              keeper<CountKeeper>({3, 1}).createChild(testing::object(tql::cls::Plan, {9, 1}));
            }),
            "Got Plan as child of CheckGroup");
  EXPECT_EQ(fatalText([&] {
              keeper<CountKeeper>({1, 9}).createChild(testing::check({9, 1}));
            }),
            "Got Check as child of DomainExport");
}

// A node with checks in an "agentchecks" group (2.1), a group inside that
// one (2.2), another group (2.3) and directly below the node (2.4).
tql::object_ptr agentNode(const NodeSpec& ns = {}) {
  return testing::with(
      testing::node(kNode, ns),
      testing::with(testing::group({3, 1}, "agentchecks"), testing::check({2, 1}),
                    testing::with(testing::group({3, 2}, "inner"), testing::check({2, 2}))),
      testing::with(testing::group({3, 3}, "other"), testing::check({2, 3})),
      testing::check({2, 4}));
}

TEST_F(NodeTest, AgentChecksAreUnknownWhileTheirNodeIsInTrouble) {
  select(testing::with(testing::domain(kRoot), agentNode()));
  EXPECT_TRUE(keeper<GroupKeeper>({3, 2}).agentCheck());
  EXPECT_FALSE(keeper<GroupKeeper>({3, 3}).agentCheck());
  EXPECT_EQ(keeper({2, 3}).thresholdSource(), &node());
  EXPECT_THAT(node().statusWatchers(), ElementsAre(tql::id_t{2, 1}, tql::id_t{2, 2}));

  node().checkin(kStart);
  for (tql::id_t id : {tql::id_t{2, 1}, tql::id_t{2, 2}, tql::id_t{2, 3}, tql::id_t{2, 4}}) {
    keeper(id).setCurState(kStateGood);
  }
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kGood);

  node().setCurState(kStateWarn);
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kUnknownExplained);
  EXPECT_EQ(keeper({2, 2}).dbmsStatus(), kUnknownExplained);
  EXPECT_EQ(keeper({2, 3}).dbmsStatus(), kGood);
  EXPECT_EQ(keeper({2, 4}).dbmsStatus(), kGood);

  // A station for the node adds the export and keeps the node as source.
  testing::ExportSpec es;
  es.gid = 4;
  patch({kRoot}, testing::domainExport({1, 9}, es));
  keeper({1, 9}).setCurState(kStateGood);
  NodeSpec located;
  located.locale = 4;
  patch({kRoot}, agentNode(located));
  EXPECT_THAT(keeper({2, 2}).statusSources(), ElementsAre(kNode, tql::id_t{1, 9}));
  EXPECT_THAT(keeper({2, 3}).statusSources(), ElementsAre(tql::id_t{1, 9}));
  node().checkin(kStart);
  turn();
  EXPECT_EQ(keeper({2, 2}).dbmsStatus(), kGood);
}

TEST_F(NodeTest, LateCheckInIsReportedOnceUntilTheNextCheckIn) {
  select(testing::with(testing::domain(kRoot), testing::node(kNode)));
  turn();
  // New frequency of 300 s: waiting from now, late after 300 * 2.5 + 30 s.
  EXPECT_EQ(node().lastCheckin(), kStart);
  EXPECT_EQ(node().lateRecord().time(), usec_time{kStart + 780});
  runUntil(779);
  EXPECT_EQ(lateReports(), 0u);
  runUntil(780);
  ASSERT_EQ(lateReports(), 1u);
  EXPECT_EQ(sink.data<queues::LATE_CHECKIN>()[0].node, kNode);
  EXPECT_TRUE(node().late());
  EXPECT_FALSE(node().lateRecord().scheduled());

  node().boundaryReached();  // woken for something else: no second report
  runUntil(5000);
  EXPECT_EQ(lateReports(), 1u);

  node().checkin(kStart + 5000);
  EXPECT_FALSE(node().late());
  EXPECT_EQ(node().curStatus(), kGood);
  turn();
  EXPECT_EQ(node().lateRecord().time(), usec_time{kStart + 5780});
  runUntil(5780);
  EXPECT_EQ(lateReports(), 2u);
}

TEST_F(NodeTest, NeverLateWhileTheLastCheckInIsZero) {
  select(testing::with(testing::domain(kRoot), testing::node(kNode)));
  node().checkin(0);
  turn();
  runUntil(10000);
  EXPECT_EQ(lateReports(), 0u);
  EXPECT_EQ(node().expectedCheckinTime(), usec_time{kStart + 10000 + 780});
}

TEST_F(NodeTest, NewFrequencyRestartsTheWaitTheSameOneDoesNot) {
  select(testing::with(testing::domain(kRoot), testing::node(kNode)));
  advance(100);
  patch({kRoot}, testing::node(kNode));  // same 300 s
  EXPECT_EQ(node().lastCheckin(), kStart);
  NodeSpec slower;
  slower.frequency = 600;
  patch({kRoot}, testing::node(kNode, slower));
  EXPECT_EQ(node().lastCheckin(), kStart + 100);
  turn();
  EXPECT_EQ(node().lateRecord().time(), usec_time{kStart + 100 + 1530});

  NodeSpec none;
  none.frequency.reset();
  patch({kRoot}, testing::node(kNode, none));
  EXPECT_FALSE(node().active());
  EXPECT_EQ(node().dbmsStatus(), kNoStatus);
  turn();
  EXPECT_FALSE(node().lateRecord().scheduled());
}

TEST_F(NodeTest, RecursiveResetZeroesTheNodeAndItsChecksOnly) {
  NodeSpec ns;
  ns.strategy = kScoreDriven;
  ns.missedCheckinScore = 10;
  CheckSpec cs;
  cs.strategy = kScoreDriven;
  cs.rates = {0, 10, 10};
  select(
      testing::with(testing::domain(kRoot),
                    testing::with(testing::node(kNode, ns), testing::check({2, 1}, cs),
                                  testing::with(testing::group({3, 1}, "g"),
                                                testing::with(testing::check({2, 2}, cs),
                                                              testing::accumulation({2, 3}, cs)))),
                    testing::with(testing::node({1, 2}, ns), testing::check({2, 9}, cs))));
  for (tql::id_t id : {kNode, tql::id_t{2, 1}, tql::id_t{2, 2}, tql::id_t{2, 3}, tql::id_t{2, 9}}) {
    keeper(id).setCurState(kStateWarn);
  }
  advance(100);
  turn();
  sink.events.clear();
  node().resetAllScores({6, 6}, "fresh start");
  for (tql::id_t id : {kNode, tql::id_t{2, 1}, tql::id_t{2, 2}, tql::id_t{2, 3}}) {
    EXPECT_EQ(keeper(id).score(), 0) << id;
    EXPECT_EQ(keeper(id).pendingUser(), (tql::id_t{6, 6})) << id;
  }
  keeper({2, 9}).setCurState(kStateWarn);
  EXPECT_GT(keeper({2, 9}).score(), 0);

  // A check is not a node: resets and check-ins only leave a log line.
  testing::RecordingLog log;
  keeper({2, 9}).resetAllScores({6, 6}, "");
  EXPECT_GT(keeper({2, 9}).score(), 0);
  keeper({2, 9}).checkin(kStart);
  EXPECT_EQ(keeper({2, 9}).state(), kStateWarn);
  EXPECT_THAT(log.lines, ElementsAre("0 Recursive score reset for 2.9 ignored: not a node",
                                     "0 Checkin for 2.9 ignored: not a node"));
  EXPECT_EQ(keeper({2, 9}).asNode(), nullptr);
  EXPECT_EQ(node().asNode(), &node());
}

TEST_F(NodeTest, ResetUserTravelsWithTheNotification) {
  NodeSpec ns;
  ns.strategy = kScoreDriven;
  ns.missedCheckinScore = 10;
  ns.levels = {100, 200, 1000, 1000};
  select(testing::with(testing::domain(kRoot), testing::node(kNode, ns)));
  node().setCurState(kStateWarn);
  advance(99);
  node().setCurState(kStateWarn);  // 200: ALERT
  turn();
  sink.events.clear();
  node().resetAllScores({6, 6}, "fresh start");
  turn();
  const auto changes = sink.data<queues::OBJECT_STATUS_CHANGE>();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].old_status, kAlert);
  EXPECT_EQ(changes[0].new_status, kGood);
  EXPECT_EQ(changes[0].user, (tql::id_t{6, 6}));
  EXPECT_EQ(changes[0].comment, "fresh start");
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>()[0].text, "Checkin Left alert level");
  EXPECT_EQ(sink.data<queues::PUT_INCIDENTLOG>()[0].host_id, kNode);
}

TEST_F(NodeTest, DescribeAddsTheLastCheckIn) {
  select(testing::with(testing::domain(kRoot), testing::node(kNode)));
  node().checkin(kStart + 3);
  EXPECT_THAT(node().describe(), ::testing::EndsWith(", 1000003"));
  EXPECT_THAT(node().describe(), ::testing::StartsWith("(0, 0, -1, 1000000.0, 1, 1, 1, 0, 0, "));
}

TEST_F(NodeTest, ExportStatusIsNotifiedButNotLogged) {
  testing::ExportSpec es;
  es.gid = 3;
  select(testing::with(testing::domain(kRoot), testing::domainExport({1, 9}, es)));
  turn();
  sink.events.clear();
  keeper({1, 9}).setCurState(kStateAlert);
  turn();
  EXPECT_THAT(sink.takeTypes(), ElementsAre(queues::OBJECT_STATUS_CHANGE, queues::SET_STATUS));
}

}  // namespace
}  // namespace keepers
