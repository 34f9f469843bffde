#include "keepers/count_keeper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "keepers/domain_export_score_keeper.h"
#include "keepers/testing.h"

namespace keepers {
namespace {

using testing::CheckSpec;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::NodeSpec;
using ::testing::UnorderedElementsAre;

const tql::id_t kRoot{0, 1};

NodeSpec silentNode() {
  NodeSpec ns;
  ns.frequency.reset();  // no check-ins: the node has no status of its own
  return ns;
}

class CountTest : public testing::KeeperTest {
 protected:
  CountKeeper& counts(tql::id_t id) { return keeper<CountKeeper>(id); }
  std::vector<std::uint32_t> triple(tql::id_t id) {
    CountKeeper& k = counts(id);
    return {k.unknownCount(), k.warnCount(), k.alertCount()};
  }
  void clearQueues() {
    count_queue.clear();
    status_change_queue.clear();
  }
};

TEST_F(CountTest, CountsMoveAtEveryLevelAndQueueOnlyWorstClassChanges) {
  select(testing::with(testing::domain(kRoot),
                       testing::with(testing::node({1, 1}, silentNode()), testing::check({2, 1}),
                                     testing::check({2, 2}))));
  keeper({2, 1}).setCurState(kStateGood);
  keeper({2, 2}).setCurState(kStateGood);
  EXPECT_EQ(triple(kRoot), (std::vector<std::uint32_t>{0, 0, 0}));
  clearQueues();

  keeper({2, 1}).setCurState(kStateAlert);
  for (tql::id_t id : {tql::id_t{2, 1}, tql::id_t{1, 1}, kRoot}) {
    EXPECT_EQ(triple(id), (std::vector<std::uint32_t>{0, 0, 1})) << id;
  }
  EXPECT_THAT(count_queue, ElementsAre(kRoot, tql::id_t{1, 1}, tql::id_t{2, 1}));
  EXPECT_THAT(status_change_queue, ElementsAre(tql::id_t{2, 1}));
  clearQueues();

  // Hidden below the alert at node and domain: only the check's own class moved.
  keeper({2, 2}).setCurState(kStateWarn);
  EXPECT_EQ(triple(kRoot), (std::vector<std::uint32_t>{0, 1, 1}));
  EXPECT_THAT(count_queue, ElementsAre(tql::id_t{2, 2}));
  clearQueues();

  keeper({2, 2}).setCurState(kStateAlert);
  EXPECT_EQ(triple({1, 1}), (std::vector<std::uint32_t>{0, 0, 2}));
  EXPECT_THAT(count_queue, ElementsAre(tql::id_t{2, 2}));
  clearQueues();

  // The last alert goes: the worst class at node and domain changes.
  keeper({2, 1}).setCurState(kStateGood);
  keeper({2, 2}).setCurState(kStateGood);
  EXPECT_THAT(count_queue, ElementsAre(kRoot, tql::id_t{1, 1}, tql::id_t{2, 1}, tql::id_t{2, 2}));
}

TEST_F(CountTest, UnknownToUninitializedMovesNoCounter) {
  select(testing::with(testing::domain(kRoot),
                       testing::with(testing::node({1, 1}, silentNode()), testing::check({2, 1}))));
  keeper({2, 1}).setCurState(kStateGood);
  keeper({2, 1}).setCurState(kStateUnknown);  // no grace once it had a status
  ASSERT_EQ(keeper({2, 1}).countedStatus(), kUnknown);
  clearQueues();
  keeper({2, 1}).setCurStatus(kUninitialized);
  EXPECT_EQ(keeper({2, 1}).curStatus(), kUninitialized);
  EXPECT_EQ(keeper({2, 1}).countedStatus(), kUnknown);
  EXPECT_THAT(status_change_queue, IsEmpty());
  EXPECT_THAT(count_queue, IsEmpty());
  EXPECT_EQ(triple(kRoot), (std::vector<std::uint32_t>{1, 0, 0}));
}

TEST_F(CountTest, DowntimeReachesTheWholeSubtreeAndNewKeepersStartInIt) {
  select(testing::with(testing::domain(kRoot),
                       testing::with(testing::node({1, 1}, silentNode()), testing::check({2, 1})),
                       testing::node({1, 2}, silentNode())));
  counts({1, 1}).adjust(false, "backup");
  counts({1, 1}).adjust(false, "second plan");
  EXPECT_EQ(counts({1, 1}).planDownCount(), 2u);
  EXPECT_EQ(counts({2, 1}).planDownCount(), 2u);
  EXPECT_EQ(counts({2, 1}).downtimeComment(), "second plan");
  EXPECT_EQ(counts({1, 2}).planDownCount(), 0u);
  EXPECT_EQ(counts(kRoot).planDownCount(), 0u);

  patch({kRoot, {1, 1}}, testing::check({2, 2}));
  EXPECT_EQ(counts({2, 2}).planDownCount(), 2u);
  EXPECT_EQ(keeper({2, 2}).dbmsStatus(), kUnknownDowntime);

  counts({1, 1}).adjust(true, "");
  EXPECT_EQ(keeper({2, 2}).dbmsStatus(), kUnknownDowntime);
  counts({1, 1}).adjust(true, "");
  EXPECT_EQ(keeper({2, 2}).dbmsStatus(), kUninitialized);
}

TEST_F(CountTest, DependencyExplainsTroubleThroughAncestors) {
  // Domain 0.2 depends on node 1.5; check 2.1 lies two levels below 0.2.
  select(testing::with(
      testing::domain(kRoot),
      testing::with(testing::domain({0, 2}, {}, std::set<tql::id_t>{{1, 5}}),
                    testing::with(testing::node({1, 1}, silentNode()), testing::check({2, 1}))),
      testing::with(testing::node({1, 5}, silentNode()), testing::check({2, 5}))));
  EXPECT_THAT(counts({1, 5}).dependents(), ElementsAre(tql::id_t{0, 2}));
  keeper({2, 5}).setCurState(kStateWarn);
  keeper({2, 1}).setCurState(kStateAlert);
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlert);  // a warning does not explain an alert
  keeper({2, 1}).setCurState(kStateWarn);
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kWarnExplained);
  keeper({2, 5}).setCurState(kStateAlert);
  keeper({2, 1}).setCurState(kStateAlert);
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlertExplained);
  sink.events.clear();

  // The dependency recovers: the delayed pass reconsiders 0.2's subtree.
  keeper({2, 5}).setCurState(kStateGood);
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlert);
  const auto changes = sink.data<queues::OBJECT_STATUS_CHANGE>();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].object, (tql::id_t{2, 1}));
  EXPECT_EQ(changes[0].old_status, kAlertExplained);
  EXPECT_EQ(changes[0].new_status, kAlert);
}

TEST_F(CountTest, DependentsSurviveTheDependencyBeingRebuilt) {
  select(testing::with(
      testing::domain(kRoot),
      testing::with(
          testing::node({1, 1},
                        [] {
                          NodeSpec ns = silentNode();
                          ns.dependsOn = std::set<tql::id_t>{{1, 5}, {9, 9}};  // 9.9 never exists
                          return ns;
                        }()),
          testing::check({2, 1}))));
  keeper({2, 1}).setCurState(kStateAlert);
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlert);
  // 1.5 arrives after its dependent, alerting.
  patch({kRoot}, testing::with(testing::node({1, 5}, silentNode()), testing::check({2, 5})));
  keeper({2, 5}).setCurState(kStateAlert);
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlertExplained);
  remove({1, 5});
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlert);
  patch({kRoot}, testing::with(testing::node({1, 5}, silentNode()), testing::check({2, 5})));
  keeper({2, 5}).setCurState(kStateAlert);
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlertExplained);
  EXPECT_THAT(counts({1, 5}).dependents(), ElementsAre(tql::id_t{1, 1}));

  // Dropping the dependency unlinks it.
  NodeSpec plain = silentNode();
  plain.dependsOn = std::set<tql::id_t>{};
  patch({kRoot}, testing::with(testing::node({1, 1}, plain), testing::check({2, 1})));
  EXPECT_THAT(counts({1, 5}).dependents(), IsEmpty());
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kAlert);
}

TEST_F(CountTest, StationLocaleLinksTheExportAndNullInheritsAgain) {
  testing::ExportSpec es;
  es.gid = 7;
  NodeSpec located = silentNode();
  located.locale = 7;
  select(testing::with(testing::domain(kRoot), testing::domainExport({1, 9}, es),
                       testing::with(testing::node({1, 1}, located), testing::check({2, 1}))));
  EXPECT_THAT(counts({1, 1}).statusSources(), ElementsAre(tql::id_t{1, 9}));
  EXPECT_THAT(counts({2, 1}).statusSources(), ElementsAre(tql::id_t{1, 9}));
  EXPECT_THAT(counts({1, 9}).statusWatchers(), ElementsAre(tql::id_t{1, 1}, tql::id_t{2, 1}));
  EXPECT_EQ(counts({2, 1}).locale(), 7u);

  // The export fails: the good check is reported as unknown, explained.
  keeper({2, 1}).setCurState(kStateGood);
  keeper({1, 9}).setCurState(kStateAlert);
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kUnknownExplained);
  EXPECT_EQ(keeper({2, 1}).countedStatus(), kUnknown);
  keeper({1, 9}).setCurState(kStateGood);
  turn();
  EXPECT_EQ(keeper({2, 1}).dbmsStatus(), kGood);

  auto nullLocale = testing::node({1, 1}, silentNode());
  testing::putNullUint(*nullLocale, tql::prop::stationLocale);
  patch({kRoot}, testing::with(std::move(nullLocale), testing::check({2, 1})));
  EXPECT_EQ(counts({2, 1}).locale(), 0u);
  EXPECT_THAT(counts({2, 1}).statusSources(), IsEmpty());
  EXPECT_THAT(counts({1, 9}).statusWatchers(), IsEmpty());
}

TEST_F(CountTest, ChangingAnExportsGidMovesItsStation) {
  testing::ExportSpec es;
  es.gid = 5;
  NodeSpec at5 = silentNode();
  at5.locale = 5;
  NodeSpec at6 = silentNode();
  at6.locale = 6;
  select(testing::with(testing::domain(kRoot), testing::domainExport({1, 9}, es),
                       testing::node({1, 5}, at5), testing::node({1, 6}, at6)));
  EXPECT_EQ(counts(kRoot).gidMap(), (std::map<std::uint32_t, tql::id_t>{{5, {1, 9}}}));
  EXPECT_THAT(counts({1, 5}).statusSources(), ElementsAre(tql::id_t{1, 9}));
  EXPECT_THAT(counts({1, 6}).statusSources(), IsEmpty());

  es.gid = 6;
  patch({kRoot}, testing::domainExport({1, 9}, es));
  EXPECT_EQ(counts(kRoot).gidMap(), (std::map<std::uint32_t, tql::id_t>{{6, {1, 9}}}));
  EXPECT_THAT(counts({1, 5}).statusSources(), IsEmpty());
  EXPECT_THAT(counts({1, 6}).statusSources(), ElementsAre(tql::id_t{1, 9}));

  remove({1, 9});
  EXPECT_THAT(counts(kRoot).gidMap(), IsEmpty());
  EXPECT_THAT(counts({1, 6}).statusSources(), IsEmpty());
}

TEST_F(CountTest, ExportWithoutGidKeepsItsStationAndSaysSo) {
  testing::ExportSpec es;
  es.gid = 5;
  select(testing::with(testing::domain(kRoot), testing::domainExport({1, 9}, es)));
  testing::RecordingLog log;
  auto noGid = testing::domainExport({1, 9});
  patch({kRoot}, std::move(noGid));
  auto nullGid = testing::domainExport({1, 9});
  testing::putNullUint(*nullGid, tql::prop::gid);
  patch({kRoot}, std::move(nullGid));
  EXPECT_EQ(keeper<DomainExportScoreKeeper>({1, 9}).gid(), 5u);
  EXPECT_EQ(counts(kRoot).gidMap(), (std::map<std::uint32_t, tql::id_t>{{5, {1, 9}}}));
  EXPECT_THAT(log.lines, ElementsAre("0 DomainExport 1.9 has no gid; keeping station number 5",
                                     "0 DomainExport 1.9 has no gid; keeping station number 5"));
}

// --- Random sequences: counts always equal a recount of the subtree. ---

class CountModelTest : public CountTest {
 protected:
  // The counted classes of the score keepers at or below k.
  static std::vector<std::uint32_t> recount(CountKeeper& k) {
    std::vector<std::uint32_t> c{0, 0, 0};
    if (auto* s = dynamic_cast<ScoreKeeper*>(&k)) {
      switch (countClass(s->countedStatus())) {
        case CountClass::kUnknown:
          ++c[0];
          break;
        case CountClass::kWarn:
          ++c[1];
          break;
        case CountClass::kAlert:
          ++c[2];
          break;
        default:
          break;
      }
    }
    for (auto& entry : k.children) {
      if (auto* child = dynamic_cast<CountKeeper*>(entry.second.get())) {
        const auto sub = recount(*child);
        for (int i = 0; i < 3; ++i) c[i] += sub[i];
      }
    }
    return c;
  }

  void expectConsistent(const std::string& step) {
    for (const auto& [id, k] : countKeepers) {
      EXPECT_EQ(recount(*k),
                (std::vector<std::uint32_t>{k->unknownCount(), k->warnCount(), k->alertCount()}))
          << id << " after " << step;
      for (const tql::id_t& s : k->statusSources()) {
        CountKeeper* source = findKeeper(countKeepers, s);
        ASSERT_NE(source, nullptr) << step;
        EXPECT_TRUE(source->statusWatchers().contains(id)) << step;
      }
      for (const tql::id_t& w : k->statusWatchers()) {
        CountKeeper* watcher = findKeeper(countKeepers, w);
        ASSERT_NE(watcher, nullptr) << step;
        EXPECT_TRUE(watcher->statusSources().contains(id)) << step;
      }
      for (const tql::id_t& d : k->dependencies()) {
        const auto it = dependentsIndex.find(d);
        EXPECT_TRUE(it != dependentsIndex.end() && it->second.contains(id)) << step;
      }
    }
    for (const auto& [target, dependents] : dependentsIndex) {
      for (const tql::id_t& d : dependents) {
        CountKeeper* k = findKeeper(countKeepers, d);
        ASSERT_NE(k, nullptr) << step;
        EXPECT_TRUE(k->dependencies().contains(target)) << step;
      }
    }
  }

  // Node n (1.n) with an "agentchecks" group (3.n) and a plain group
  // (4.n), checks 2.(10n+i) directly below, accumulations below checks.
  static tql::object_ptr nodeTree(std::uint32_t n) {
    NodeSpec ns;
    ns.frequency = n % 2 == 0 ? std::optional<std::uint32_t>(60) : std::nullopt;
    ns.locale = n;
    ns.dependsOn = std::set<tql::id_t>{{1, n % 4 + 1}};
    CheckSpec scored;
    scored.strategy = kScoreDriven;
    scored.rates = {-20, 20, 40};
    scored.ack = n % 3 == 0;
    return testing::with(
        testing::node({1, n}, ns),
        testing::with(testing::check({2, 10 * n}, scored), testing::accumulation({5, 10 * n})),
        testing::check({2, 10 * n + 1}),
        testing::with(
            testing::group({3, n}, "agentchecks"), testing::check({2, 10 * n + 2}),
            testing::with(testing::group({6, n}, "inner"), testing::check({2, 10 * n + 3}))),
        testing::with(testing::group({4, n}, "other"), testing::check({2, 10 * n + 4})));
  }
  static tql::object_ptr exportFor(std::uint32_t n) {
    testing::ExportSpec es;
    es.gid = n;
    return testing::domainExport({7, n}, es);
  }
};

TEST_F(CountModelTest, RandomChangesKeepCountsAndLinksExact) {
  std::mt19937 rng(20240611);
  auto root = testing::domain(kRoot);
  for (std::uint32_t n = 1; n <= 4; ++n) root->children.push_back(nodeTree(n));
  root->children.push_back(exportFor(1));
  root->children.push_back(exportFor(2));
  select(std::move(root));
  expectConsistent("select");

  auto pick = [&](std::uint32_t bound) {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(rng);
  };
  for (int step = 0; step < 400; ++step) {
    const std::uint32_t n = pick(4) + 1;
    std::string what;
    switch (pick(10)) {
      case 0:
      case 1:
      case 2:
      case 3: {
        // A state for any score keeper that exists.
        auto it = scoreKeepers.begin();
        std::advance(it, pick(static_cast<std::uint32_t>(scoreKeepers.size())));
        const std::uint32_t state = pick(5);
        what = "state " + std::to_string(state) + " for " + it->first.toString();
        it->second->setCurState(state);
        break;
      }
      case 4:
        what = "delete node " + std::to_string(n);
        remove({1, n});
        break;
      case 5:
        what = "rebuild node " + std::to_string(n);
        patch({kRoot}, nodeTree(n));
        break;
      case 6: {
        const std::uint32_t e = pick(3) + 1;
        if (pick(2) == 0) {
          what = "delete export " + std::to_string(e);
          remove({7, e});
        } else {
          what = "export " + std::to_string(e);
          patch({kRoot}, exportFor(e));
        }
        break;
      }
      case 7: {
        // Downtime on and off again on a node that exists.
        if (CountKeeper* k = findKeeper(countKeepers, {1, n})) {
          what = "downtime on node " + std::to_string(n);
          k->adjust(false, "x");
          if (pick(2) == 0) k->adjust(true, "");
        }
        break;
      }
      case 8:
        what = "time";
        advance(static_cast<std::int32_t>(pick(90)));
        break;
      default:
        what = "turn";
        if (pick(2) == 0) {
          if (auto* k = dynamic_cast<NodeScoreKeeper*>(findKeeper(scoreKeepers, {1, n}))) {
            k->acknowledgeAlert({8, 8}, "ack");
            k->checkin(clock.now().sec);
          }
        }
        runUntil(clock.now().sec - kStart + 5);
        break;
    }
    expectConsistent(std::to_string(step) + ": " + what);
    if (HasFailure()) return;
  }
  turn();
  sub.deleteTree();
  // The fixture checks that nothing is left registered; nothing is counted
  // either, or a keeper's destructor would have stopped the process.
}

// Builds a tree, then runs `misuse` on it; the tree is deleted after.
void misuseTree(tql::object_ptr tree, void (*misuse)(testing::KeeperSubscriber&)) {
  htime::FakeClock clock;
  testing::RecordingSink sink;
  testing::KeeperSubscriber sub(sink);
  dbms::Return_Tql_Select_Data data;
  data.res.push_back(std::move(tree));
  sub.handleSelect(data);
  misuse(sub);
}

tql::object_ptr domainWithNode() {
  return testing::with(testing::domain(kRoot), testing::node({1, 1}));
}

TEST(CountKeeperDeathTest, BookkeepingErrorsStopTheProcess) {
  EXPECT_DEATH(misuseTree(testing::domain(kRoot),
                          [](testing::KeeperSubscriber&) {
                            findKeeper(countKeepers, kRoot)->propagate(-1, 0, 0);
                          }),
               "Assertion failed: Counting underflow");
  EXPECT_DEATH(misuseTree(testing::domain(kRoot),
                          [](testing::KeeperSubscriber&) {
                            findKeeper(countKeepers, kRoot)->adjust(true, "");
                          }),
               "Assertion failed: plan_down_count below zero");
  EXPECT_DEATH(misuseTree(domainWithNode(),
                          [](testing::KeeperSubscriber&) {
                            findKeeper(scoreKeepers, {1, 1})->updateCounters(kUnknownExplained);
                          }),
               "Assertion failed: Unexpected status \\(5\\) in updateCounters");
  EXPECT_DEATH(misuseTree(domainWithNode(),
                          [](testing::KeeperSubscriber& sub) {
                            findKeeper(countKeepers, {1, 1})->propagate(0, 0, 1);
                            sub.deleteTree();
                          }),
               "Assertion failed: Non-zero counts upon destruction of "
               "CountKeeper\\[1.1\\] parent\\[0.1\\]");
}

}  // namespace
}  // namespace keepers
