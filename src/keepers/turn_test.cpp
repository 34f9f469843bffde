#include "keepers/turn.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "testkit/keepers.h"

namespace keepers {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testkit::check;
using testkit::CheckSpec;
using testkit::domain;
using testkit::domainExport;
using testkit::ExportSpec;
using testkit::group;
using testkit::node;
using testkit::NodeSpec;
using testkit::with;
using tql::id_t;

const id_t kRoot{0, 1};

class TurnTest : public testkit::KeeperTest {};

TEST_F(TurnTest, DelayedPassStopsAfterThreePassesAndLeavesTheRestForTheNextTurn) {
  // Each pass takes one hop, as every watcher sorts before its source:
  // export 1.9 (station 7) fails -> node 1.2 at station 7 -> its agent
  // check 1.1 -> through the counts of the check's group 3.1 to check 2.1,
  // which depends on the group and whose own station export 1.8 failed
  // unnoticed (its queue entries dropped below).
  ExportSpec at7, at9;
  at7.gid = 7;
  at9.gid = 9;
  NodeSpec node7, quiet;
  node7.locale = 7;
  quiet.frequency.reset();
  CheckSpec agent, dependent;
  agent.locale = 8;  // its only source is its node
  dependent.locale = 9;
  dependent.dependsOn = std::set<id_t>{{3, 1}};
  select(with(domain(kRoot), domainExport({1, 9}, at7), domainExport({1, 8}, at9),
              with(node({1, 2}, node7), with(group({3, 1}, "agentchecks"), check({1, 1}, agent))),
              with(node({1, 5}, quiet), check({2, 1}, dependent))));
  for (const id_t& id : {id_t{1, 9}, id_t{1, 8}, id_t{1, 1}, id_t{2, 1}})
    keeper(id).setCurState(kStateGood);
  keeper<NodeScoreKeeper>({1, 2}).checkin(kStart);
  turn();
  ASSERT_EQ(reported({1, 1}), kGood);
  keeper({1, 8}).setCurState(kStateAlert);
  count_queue.clear();
  status_change_queue.clear();

  keeper({1, 9}).setCurState(kStateAlert);
  perform_delayed_computations();
  EXPECT_EQ(keeper({1, 1}).countedStatus(), kUnknown);
  EXPECT_EQ(keeper({2, 1}).countedStatus(), kUnknown);
  // Reconsidered in the third pass: its change waits for the next turn.
  EXPECT_THAT(status_change_queue.ids(), ElementsAre(id_t{2, 1}));
  turn();
  EXPECT_TRUE(status_change_queue.empty());
  EXPECT_TRUE(count_queue.empty());
  for (const id_t& id : {id_t{1, 2}, id_t{1, 1}, id_t{2, 1}})
    EXPECT_EQ(reported(id), kUnknownExplained) << id;
}

TEST_F(TurnTest, NotificationsOfOneTurnGoOutInObjectIdOrder) {
  // Keepers built in shuffled id order, so that their addresses do not
  // follow their ids.
  std::vector<std::uint32_t> numbers(24);
  for (std::uint32_t i = 0; i < numbers.size(); ++i) numbers[i] = i + 1;
  std::shuffle(numbers.begin(), numbers.end(), std::mt19937(7));
  NodeSpec quiet;
  quiet.frequency.reset();
  auto n = node({1, 1}, quiet);
  for (std::uint32_t i : numbers) n->children.push_back(check({2, i}));
  select(with(domain(kRoot), std::move(n)));
  turn();
  sink.events.clear();
  for (std::uint32_t i : numbers) keeper({2, i}).setCurState(kStateAlert);
  turn();
  std::vector<id_t> order;
  for (const auto& c : sink.data<queues::OBJECT_STATUS_CHANGE>()) order.push_back(c.object);
  ASSERT_EQ(order.size(), numbers.size());
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST_F(TurnTest, AKeeperDeletedWhileQueuedIsNotNotifiedAndOneBuiltAgainInTheTurnIsOnce) {
  NodeSpec quiet;
  quiet.frequency.reset();
  const id_t kNode{1, 1};
  select(
      with(domain(kRoot), with(node(kNode, quiet), check({2, 1}), check({2, 2}), check({2, 3}))));
  for (const id_t& id : {id_t{2, 1}, id_t{2, 2}, id_t{2, 3}}) keeper(id).setCurState(kStateGood);
  turn();
  sink.events.clear();
  // 2.1 goes while 2.2 and 2.3 are queued behind it; 2.2 goes and comes
  // back at once (its keeper most likely at the address just freed); 2.3
  // changes twice and reports from its first old status.
  keeper({2, 1}).setCurState(kStateAlert);
  keeper({2, 2}).setCurState(kStateAlert);
  keeper({2, 3}).setCurState(kStateWarn);
  keeper({2, 3}).setCurState(kStateAlert);
  remove({2, 1});
  remove({2, 2});
  patch({kRoot, kNode}, check({2, 2}));
  keeper({2, 2}).setCurState(kStateWarn);
  turn();
  std::vector<std::tuple<id_t, std::uint32_t, std::uint32_t>> changes;
  for (const auto& c : sink.data<queues::OBJECT_STATUS_CHANGE>())
    changes.emplace_back(c.object, c.old_status, c.new_status);
  EXPECT_THAT(changes, ElementsAre(std::tuple(id_t{2, 2}, kNoStatus, kWarn),
                                   std::tuple(id_t{2, 3}, kGood, kAlert)));
  std::vector<id_t> set;
  for (const auto& s : sink.data<queues::SET_STATUS>()) set.push_back(s.id);
  EXPECT_THAT(set, ElementsAre(id_t{2, 2}, id_t{2, 3}));
}

TEST_F(TurnTest, ShuttingDownDropsTheQueuedNotifications) {
  select(with(domain(kRoot), with(node({1, 1}), check({2, 1}))));
  shuttingDown = true;
  keeper({2, 1}).setCurState(kStateAlert);
  turn();
  EXPECT_THAT(sink.events, IsEmpty());
  EXPECT_THAT(notify_queue, IsEmpty());
}

// An owner that no registry knows.
class Stray : public EventTrackerOwner {
 public:
  tql::id_t ownerId() const override { return {9, 9}; }
  void process() override {}
  BoundaryRecord record{*this};
};

TEST_F(TurnTest, BoundaryOfAnUnknownOwnerIsDropped) {
  Stray stray;
  reschedule(stray.record, htime::usec_time{kStart});
  dispatchBoundary(stray.record);
  EXPECT_EQ(first(), nullptr);
  EXPECT_EQ(stray.record.time(), htime::never);
}

}  // namespace
}  // namespace keepers
