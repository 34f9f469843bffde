#include "keepers/count_keeper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "testkit/keepers.h"

namespace keepers {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testkit::CheckSpec;
using testkit::NodeSpec;
namespace tk = testkit;

const tql::id_t kRoot{0, 1};

NodeSpec silentNode() {
  NodeSpec ns;
  ns.frequency.reset();  // no check-ins: the node has no status of its own
  return ns;
}

class CountTest : public tk::KeeperTest {
 protected:
  CountKeeper& counts(tql::id_t id) { return keeper<CountKeeper>(id); }
};

TEST_F(CountTest, ExportMovesItsStationWithItsGidAndKeepsItWithoutOne) {
  tk::ExportSpec es;
  es.gid = 5;
  NodeSpec at5 = silentNode();
  at5.locale = 5;
  NodeSpec at6 = silentNode();
  at6.locale = 6;
  select(tk::with(tk::domain(kRoot), tk::domainExport({1, 9}, es), tk::node({1, 5}, at5),
                  tk::node({1, 6}, at6)));
  EXPECT_THAT(counts({1, 5}).statusSources(), ElementsAre(tql::id_t{1, 9}));
  EXPECT_THAT(counts({1, 6}).statusSources(), IsEmpty());

  es.gid = 6;
  patch({kRoot}, tk::domainExport({1, 9}, es));
  EXPECT_THAT(counts({1, 5}).statusSources(), IsEmpty());
  EXPECT_THAT(counts({1, 6}).statusSources(), ElementsAre(tql::id_t{1, 9}));

  tk::RecordingLog log;
  patch({kRoot}, tk::domainExport({1, 9}));
  auto nullGid = tk::domainExport({1, 9});
  tk::putNullUint(*nullGid, tql::prop::gid);
  patch({kRoot}, std::move(nullGid));
  EXPECT_THAT(counts({1, 6}).statusSources(), ElementsAre(tql::id_t{1, 9}));
  EXPECT_THAT(log.lines, ElementsAre("0 DomainExport 1.9 has no gid; keeping station number 6",
                                     "0 DomainExport 1.9 has no gid; keeping station number 6"));

  remove({1, 9});
  EXPECT_THAT(counts({1, 6}).statusSources(), IsEmpty());
}

// --- Random sequences: counts always equal a recount of the subtree. ---

class CountModelTest : public CountTest {
 protected:
  // The counted classes of the score keepers at or below k.
  static std::vector<std::uint32_t> recount(CountKeeper& k) {
    std::vector<std::uint32_t> c{0, 0, 0};
    if (auto* s = dynamic_cast<ScoreKeeper*>(&k)) {
      const CountClass cc = countClass(s->countedStatus());
      if (cc == CountClass::kUnknown) ++c[0];
      if (cc == CountClass::kWarn) ++c[1];
      if (cc == CountClass::kAlert) ++c[2];
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
    for (CountKeeper* k : countKeepers) {
      const tql::id_t& id = k->id();
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
      // Dependents may miss links made before this keeper existed, but
      // never name an object that does not depend on it.
      for (const tql::id_t& d : k->dependents()) {
        CountKeeper* dependent = findKeeper(countKeepers, d);
        ASSERT_NE(dependent, nullptr) << step;
        EXPECT_TRUE(dependent->dependencies().contains(id)) << step;
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
    return tk::with(tk::node({1, n}, ns),
                    tk::with(tk::check({2, 10 * n}, scored), tk::accumulation({5, 10 * n})),
                    tk::check({2, 10 * n + 1}),
                    tk::with(tk::group({3, n}, "agentchecks"), tk::check({2, 10 * n + 2}),
                             tk::with(tk::group({6, n}, "inner"), tk::check({2, 10 * n + 3}))),
                    tk::with(tk::group({4, n}, "other"), tk::check({2, 10 * n + 4})));
  }
  static tql::object_ptr exportFor(std::uint32_t n) {
    tk::ExportSpec es;
    es.gid = n;
    return tk::domainExport({7, n}, es);
  }
};

TEST_F(CountModelTest, RandomChangesKeepCountsAndLinksExact) {
  std::mt19937 rng(20240611);
  auto root = tk::domain(kRoot);
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
        std::vector<ScoreKeeper*> scores;
        for (CountKeeper* k : countKeepers)
          if (ScoreKeeper* sk = k->asScoreKeeper()) scores.push_back(sk);
        ScoreKeeper* k = scores[pick(static_cast<std::uint32_t>(scores.size()))];
        const std::uint32_t state = pick(5);
        what = "state " + std::to_string(state) + " for " + k->id().toString();
        k->setCurState(state);
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
void misuseTree(tql::object_ptr tree, void (*misuse)(tk::KeeperSubscriber&)) {
  htime::FakeClock clock;
  tk::RecordingSink sink;
  tk::KeeperSubscriber sub(sink);
  dbms::Return_Tql_Select_Data data;
  data.res.push_back(std::move(tree));
  sub.handleSelect(data);
  misuse(sub);
}

tql::object_ptr domainWithNode() { return tk::with(tk::domain(kRoot), tk::node({1, 1})); }

TEST(CountKeeperDeathTest, BookkeepingErrorsStopTheProcess) {
  EXPECT_DEATH(misuseTree(tk::domain(kRoot),
                          [](tk::KeeperSubscriber&) {
                            findKeeper(countKeepers, kRoot)->propagate(-1, 0, 0);
                          }),
               "Assertion failed: Counting underflow");
  EXPECT_DEATH(
      misuseTree(tk::domain(kRoot),
                 [](tk::KeeperSubscriber&) { findKeeper(countKeepers, kRoot)->adjust(true, ""); }),
      "Assertion failed: plan_down_count below zero");
  EXPECT_DEATH(misuseTree(domainWithNode(),
                          [](tk::KeeperSubscriber&) {
                            findKeeper(scoreKeepers, {1, 1})->updateCounters(kUnknownExplained);
                          }),
               "Assertion failed: Unexpected status \\(5\\) in updateCounters");
  EXPECT_DEATH(misuseTree(domainWithNode(),
                          [](tk::KeeperSubscriber& sub) {
                            findKeeper(countKeepers, {1, 1})->propagate(0, 0, 1);
                            sub.deleteTree();
                          }),
               "Assertion failed: Non-zero counts upon destruction of "
               "CountKeeper\\[1.1\\] parent\\[0.1\\]");
}

}  // namespace
}  // namespace keepers
