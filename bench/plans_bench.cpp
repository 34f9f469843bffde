// Downtime plans and the per-event path: state changes on a mirror of
// 10,000 nodes with 10 checks each, without plans and with one plan per
// node (10,000 plans, each with a week planner entry and an announced
// maintenance window, so 10,000 plan wake-ups and 10,000 expiries are
// scheduled); and the cost of changing one plan in mirrors with 100 and
// with 10,000 plans. Debug logging is off, as in production. The clock
// stands on Monday 2024-01-01 12:00 UTC, the zone is UTC.
//
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DHX_BUILD_BENCH=ON
//   cmake --build build-bench --target plans_bench && build-bench/bench/plans_bench
//
// BM_SetCurState/0 has no plans, /1 10,000 plans out of force, /2 the same
// plans in force (every check saves its score and reports downtime codes).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "htime/fake_clock.h"
#include "keepers/domain_keeper.h"
#include "keepers/event_sink.h"
#include "keepers/plan_keeper.h"
#include "keepers/run_state.h"
#include "keepers/score_keeper.h"
#include "meter/log.h"
#include "queues/dbms.h"
#include "testkit/timezone.h"
#include "testkit/tree.h"
#include "tql/schema.h"
#include "tql/subscription/incremental_subscriber.h"

namespace {

constexpr std::uint32_t kChecksPerNode = 10;
constexpr std::int32_t kHour = 3600;
constexpr std::int32_t kMondayNoonUtc = 1704110400;  // 2024-01-01 12:00 UTC

enum class Plans { kNone, kOutOfForce, kInForce };

class NullSink : public keepers::EventSink {
 public:
  void send(const queues::event&) override {}
  std::uint32_t nextUid() override { return ++uid; }
  std::uint32_t uid = 0;
};

class Subscriber : public tql::IncrementalSubscriber {
 public:
  explicit Subscriber(keepers::EventSink& sink) : sink_(sink) {}
  ~Subscriber() override { deleteTree(); }

 protected:
  ObjectPtr createRoot(tql::object_ptr node) override {
    return std::make_unique<keepers::DomainKeeper>(nullptr, std::move(node), sink_);
  }

 private:
  keepers::EventSink& sink_;
};

using testkit::object;
using testkit::putBool;
using testkit::putInt;
using testkit::putString;

tql::object_ptr makeCheck(tql::id_t id) {
  testkit::CheckSpec desc;
  desc.label = "Disk free on volume " + std::to_string(id[1]);
  desc.strategy = keepers::kScoreDriven;
  desc.rates = {-10, 10, 20};
  return testkit::check(id, desc);
}

tql::object_ptr makeNode(tql::id_t id) {
  testkit::NodeSpec desc;
  desc.checkinScore = 1000;
  desc.missedCheckinScore = 1000;
  return testkit::node(id, desc);
}

// The entry of node n's Monday: from `start` for four hours.
tql::object_ptr makeEntry(std::uint32_t n, std::int32_t start) {
  auto o = object(tql::cls::Event, {6, n});
  putBool(*o, tql::prop::active, true);
  putInt(*o, tql::prop::startTime, start);
  putInt(*o, tql::prop::duration, 4 * kHour);
  putString(*o, tql::prop::comment, "weekly backup");
  return o;
}

tql::object_ptr makeWeekDay(std::uint32_t n, std::int32_t start) {
  auto day = object(tql::cls::DayPlanner, {5, n});
  putString(*day, tql::prop::name, "monday");
  day->children.push_back(makeEntry(n, start));
  return day;
}

// Every Monday from `start`, and a window announced for next week.
tql::object_ptr makePlan(std::uint32_t n, std::int32_t start) {
  auto plan = object(tql::cls::Plan, {4, n});
  auto week = object(tql::cls::WeekPlanner, {3, n});
  week->children.push_back(makeWeekDay(n, start));
  plan->children.push_back(std::move(week));
  auto announced = object(tql::cls::ExpectedEvent, {7, n});
  putBool(*announced, tql::prop::active, true);
  putInt(*announced, tql::prop::startTime, kMondayNoonUtc + 7 * 24 * kHour);
  testkit::put<tql::property_date_t>(*announced, tql::prop::endTime,
                                     std::int64_t{kMondayNoonUtc} + 7 * 24 * kHour + kHour);
  plan->children.push_back(std::move(announced));
  return plan;
}

std::int32_t entryStart(Plans plans) {
  return plans == Plans::kInForce ? 11 * kHour : 22 * kHour;  // around noon, or the evening
}

// Ten domains of nodes / 10 nodes below the root, one plan per node unless
// there are none.
tql::object_ptr makeTree(std::uint32_t nodes, Plans plans) {
  auto root = testkit::domain({0, 1});
  for (std::uint32_t d = 0; d < 10; ++d) {
    auto domain = testkit::domain({0, 2 + d});
    for (std::uint32_t i = 0; i < nodes / 10; ++i) {
      const std::uint32_t n = d * (nodes / 10) + i;
      auto node = makeNode({1, n});
      for (std::uint32_t c = 0; c < kChecksPerNode; ++c) {
        node->children.push_back(makeCheck({2, n * kChecksPerNode + c}));
      }
      if (plans != Plans::kNone) node->children.push_back(makePlan(n, entryStart(plans)));
      domain->children.push_back(std::move(node));
    }
    root->children.push_back(std::move(domain));
  }
  return root;
}

// What the driver does with the queues once per turn, minus sending.
void drainQueues() {
  for (keepers::EventTrackerOwner* o : keepers::touched.takeAll()) o->process();
  keepers::count_queue.clear();
  keepers::status_change_queue.clear();
  keepers::notify_queue.clear();
}

struct Mirror {
  Mirror(std::uint32_t nodes, Plans plans) : nodes(nodes) {
    meter::setLogMask(0);
    dbms::Return_Tql_Select_Data data;
    data.res.push_back(makeTree(nodes, plans));
    subscriber.handleSelect(data);
    drainQueues();
    for (keepers::CountKeeper* c : keepers::countKeepers) {
      keepers::ScoreKeeper* k = c->asScoreKeeper();
      if (k == nullptr) continue;
      if (k->id()[0] == 2) checks.push_back(k);
    }
  }
  ~Mirror() {
    subscriber.deleteTree();
    keepers::resetRun();
  }

  std::uint32_t nodes;
  NullSink sink;
  Subscriber subscriber{sink};
  std::vector<keepers::ScoreKeeper*> checks;
};

// One clock, zone and mirror at a time: the registries are process-wide.
// Built once per shape, as the benchmark runs its function several times.
Mirror& sharedMirror(std::uint32_t nodes, Plans plans) {
  static htime::FakeClock clock{htime::usec_time{kMondayNoonUtc}};
  static testkit::ScopedTimeZoneForTest zone{"UTC0"};
  static std::unique_ptr<Mirror> mirror;
  static std::pair<std::uint32_t, Plans> shape{0, Plans::kNone};
  if (mirror == nullptr || shape != std::pair(nodes, plans)) {
    mirror.reset();
    mirror = std::make_unique<Mirror>(nodes, plans);
    shape = {nodes, plans};
  }
  return *mirror;
}

// setCurState on random checks, cycling good, warn, alert, good, unknown;
// the queues are drained every 1,000 changes as the driver would between
// events.
void BM_SetCurState(benchmark::State& state) {
  Mirror& mirror = sharedMirror(10000, static_cast<Plans>(state.range(0)));
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::size_t> pick(0, mirror.checks.size() - 1);
  constexpr std::uint32_t kStates[] = {keepers::kStateGood, keepers::kStateWarn,
                                       keepers::kStateAlert, keepers::kStateGood,
                                       keepers::kStateUnknown};
  std::size_t n = 0;
  for (auto _ : state) {
    mirror.checks[pick(rng)]->setCurState(kStates[n % 5]);
    if (++n % 1000 == 0) drainQueues();
  }
  drainQueues();
  state.SetItemsProcessed(static_cast<std::int64_t>(n));
  state.counters["plans"] = static_cast<double>(keepers::planKeepers.size());
  state.counters["in_downtime"] = static_cast<double>(mirror.checks.front()->planDownCount());
}
BENCHMARK(BM_SetCurState)->Arg(0)->Arg(1)->Arg(2);

// Delivers node n's Monday entry anew, from `start`, as a patch of the entry
// alone (the chain from the root down to it), then the turn's processing.
void patchEntry(Mirror& mirror, std::uint32_t n, std::int32_t start) {
  dbms::Return_Tql_Select_Patch_Data patch = testkit::selectPatch(
      {{0, 1}, {0, 2 + n / (mirror.nodes / 10)}, {1, n}, {4, n}, {3, n}, {5, n}},
      makeEntry(n, start));
  mirror.subscriber.handlePatch(patch);
  drainQueues();
}

// The DBMS changes one plan's Monday entry, alternately putting its node
// into downtime and taking it out. Only that plan and its node's subtree
// do any work: 100 times the plans may cost a few ordered-tree levels and
// cache misses more, never a walk over the other plans.
void BM_PlanEntryPatch(benchmark::State& state) {
  const auto nodes = static_cast<std::uint32_t>(state.range(0));
  Mirror& mirror = sharedMirror(nodes, Plans::kOutOfForce);
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::uint32_t> pick(0, nodes - 1);
  std::vector<bool> inForce(nodes, false);
  for (auto _ : state) {
    const std::uint32_t n = pick(rng);
    inForce[n] = !inForce[n];
    patchEntry(mirror, n, entryStart(inForce[n] ? Plans::kInForce : Plans::kOutOfForce));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  // Leave the shared mirror as built for whoever uses it next.
  for (std::uint32_t n = 0; n < nodes; ++n) {
    if (inForce[n]) patchEntry(mirror, n, entryStart(Plans::kOutOfForce));
  }
}
BENCHMARK(BM_PlanEntryPatch)->Arg(100)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
