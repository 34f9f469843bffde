#include "keepers/node_score_keeper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "error/exception.h"
#include "testkit/keepers.h"
#include "testkit/matcher.h"

namespace keepers {
namespace {

using testkit::NodeSpec;
namespace tk = testkit;

const tql::id_t kRoot{0, 1};
const tql::id_t kNode{1, 1};

class NodeTest : public tk::KeeperTest {
 protected:
  std::size_t lateReports() { return sink.data<queues::LATE_CHECKIN>().size(); }
};

TEST_F(NodeTest, ChildrenOfTheWrongClassAreFatal) {
  select(tk::with(tk::domain(kRoot), tk::domainExport({1, 9}),
                  tk::with(tk::node(kNode), tk::group({3, 1}, "g"), tk::check({2, 1}))));
  HX_EXPECT_THROW_TEXT(keeper<CountKeeper>(kRoot).createChild(tk::check({9, 1})), error::EFatal,
                       "Got Check as child of Domain");
  HX_EXPECT_THROW_TEXT(keeper<CountKeeper>(kNode).createChild(tk::domain({9, 1})), error::EFatal,
                       "Got Domain as child of Node");
  HX_EXPECT_THROW_TEXT(keeper<CountKeeper>({3, 1}).createChild(tk::object(tql::cls::Plan, {9, 1})),
                       error::EFatal, "Got Plan as child of CheckGroup");
  HX_EXPECT_THROW_TEXT(keeper<CountKeeper>({1, 9}).createChild(tk::check({9, 1})), error::EFatal,
                       "Got Check as child of DomainExport");
  HX_EXPECT_THROW_TEXT(keeper<CountKeeper>({2, 1}).createChild(tk::node({9, 1})), error::EFatal,
                       "Got Node as child of Check(Accumulation)");
}

TEST_F(NodeTest, NeverLateWhileTheLastCheckInIsZero) {
  select(tk::with(tk::domain(kRoot), tk::node(kNode)));
  keeper<NodeScoreKeeper>(kNode).checkin(0);
  turn();
  runUntil(10000);
  EXPECT_EQ(lateReports(), 0u);
}

TEST_F(NodeTest, OnlyANewFrequencyRestartsTheWaitForTheCheckIn) {
  // Waiting from the start: late after 300 * 2.5 + 30 s.
  select(tk::with(tk::domain(kRoot), tk::node(kNode), tk::node({1, 2})));
  turn();
  advance(100);
  patch({kRoot}, tk::node(kNode));  // the same 300 s
  NodeSpec slower;
  slower.frequency = 600;
  patch({kRoot}, tk::node({1, 2}, slower));
  turn();
  runUntil(780);
  ASSERT_EQ(lateReports(), 1u);
  EXPECT_EQ(sink.data<queues::LATE_CHECKIN>()[0].node, kNode);
  runUntil(100 + 1529);
  EXPECT_EQ(lateReports(), 1u);
  runUntil(100 + 1530);
  EXPECT_EQ(lateReports(), 2u);
}

}  // namespace
}  // namespace keepers
