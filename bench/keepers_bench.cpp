// State changes on a mirror of 10,000 nodes with 10 checks each, and the
// memory that mirror takes. Debug logging is off, as in production.
//
//   build/bench/keepers_bench
//
// The memory figures come from counting every heap allocation of the
// process (this program replaces the global operator new), reported as
// counters of the Build benchmark:
//   objects_per_check  the tql::object_t trees as delivered by the DBMS;
//   mirror_per_check   everything the mirror with its keepers adds on top
//                      (subscription objects, keepers, registries, index);
//   total_per_check    the two together, nodes' and domains' share included;
//   plain_mirror_per_check  what plain subscription objects would add, so
//                      that mirror - plain is the keepers' own share.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "keepers/domain_keeper.h"
#include "keepers/event_sink.h"
#include "keepers/run_state.h"
#include "keepers/score_keeper.h"
#include "meter/log.h"
#include "queues/dbms.h"
#include "testkit/tree.h"
#include "tql/schema.h"
#include "tql/subscription/incremental_subscriber.h"

namespace {

std::size_t live_bytes = 0;  // the benchmarks run on one thread

}  // namespace

// Every allocation carries its size in front, so that deletes of unknown
// size are counted too.
void* operator new(std::size_t n) {
  void* p = std::malloc(n + 16);
  if (p == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(p) = n;
  live_bytes += n;
  return static_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  char* block = static_cast<char*>(p) - 16;
  live_bytes -= *reinterpret_cast<std::size_t*>(block);
  std::free(block);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr std::uint32_t kNodes = 10000;
constexpr std::uint32_t kChecksPerNode = 10;

class NullSink : public keepers::EventSink {
 public:
  void send(const queues::event&) override { ++sent; }
  std::uint32_t nextUid() override { return ++uid; }
  std::size_t sent = 0;
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

// What the DBMS delivers for a check: the required properties and a check
// type; a long label as real checks have.
tql::object_ptr makeCheck(tql::id_t id) {
  testkit::CheckSpec desc;
  desc.label = "Disk free on volume " + std::to_string(id[1] % 100);
  desc.strategy = keepers::kScoreDriven;
  desc.rates = {-10, 10, 20};
  desc.checkType = 3;
  return testkit::check(id, desc);
}

tql::object_ptr makeNode(tql::id_t id) {
  testkit::NodeSpec desc;
  desc.checkinScore = 10;
  desc.missedCheckinScore = 10;
  return testkit::node(id, desc);
}

// Ten domains of 1,000 nodes below the root.
tql::object_ptr makeTree(std::uint32_t nodes = kNodes) {
  auto root = testkit::domain({0, 1});
  for (std::uint32_t d = 0; d < 10; ++d) {
    auto domain = testkit::domain({0, 2 + d});
    for (std::uint32_t n = 0; n < nodes / 10; ++n) {
      const std::uint32_t node = d * (nodes / 10) + n;
      auto nodeObject = makeNode({1, node});
      for (std::uint32_t c = 0; c < kChecksPerNode; ++c) {
        nodeObject->children.push_back(makeCheck({2, node * kChecksPerNode + c}));
      }
      domain->children.push_back(std::move(nodeObject));
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

void sendNotifications() {
  keepers::notify_queue.drain(
      [](keepers::ScoreKeeper& keeper, std::uint32_t old) { keeper.notifyStatusChange(old); });
}

struct Mirror {
  explicit Mirror(std::uint32_t nodes) {
    meter::setLogMask(0);
    dbms::Return_Tql_Select_Data data;
    data.res.push_back(makeTree(nodes));
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

  NullSink sink;
  Subscriber subscriber{sink};
  std::vector<keepers::ScoreKeeper*> checks;
};

void BM_Build(benchmark::State& state) {
  for (auto _ : state) {
    const std::size_t before = live_bytes;
    auto tree = makeTree();
    const std::size_t objects = live_bytes - before;
    dbms::Return_Tql_Select_Data data;
    data.res.push_back(std::move(tree));
    NullSink sink;
    Subscriber subscriber(sink);
    subscriber.handleSelect(data);
    drainQueues();
    const std::size_t total = live_bytes - before;
    const double checks = kNodes * kChecksPerNode;
    state.counters["objects_per_check"] = static_cast<double>(objects) / checks;
    state.counters["mirror_per_check"] = static_cast<double>(total - objects) / checks;
    state.counters["total_per_check"] = static_cast<double>(total) / checks;
    state.counters["check_keeper_sizeof"] = sizeof(keepers::CheckScoreKeeper);
    subscriber.deleteTree();
    keepers::resetRun();

    // The same tree mirrored by plain subscription objects: what the
    // subscription costs without keepers.
    const std::size_t plainBefore = live_bytes;
    dbms::Return_Tql_Select_Data plainData;
    plainData.res.push_back(makeTree());
    tql::IncrementalSubscriber plain;
    plain.handleSelect(plainData);
    state.counters["plain_mirror_per_check"] =
        static_cast<double>(live_bytes - plainBefore - objects) / checks;
    plain.deleteTree();
  }
}
BENCHMARK(BM_Build)->Unit(benchmark::kMillisecond)->Iterations(1);

// Built once per size: the benchmark runs its function several times to
// size the loop, and a rebuild each time would dominate the profile. Only
// one mirror exists at a time, as the registries are process-wide.
Mirror& sharedMirror(std::uint32_t nodes) {
  static std::unique_ptr<Mirror> mirror;
  static std::uint32_t size = 0;
  if (mirror == nullptr || size != nodes) {
    mirror.reset();
    mirror = std::make_unique<Mirror>(nodes);
    size = nodes;
  }
  return *mirror;
}

// setCurState on random checks, cycling good, warn, alert, good, unknown;
// the queues are drained every 1,000 changes as the driver would between
// events.
void BM_SetCurState(benchmark::State& state) {
  Mirror& mirror = sharedMirror(static_cast<std::uint32_t>(state.range(0)));
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
}
// 10,000 nodes: the full mirror, far larger than the caches; 100 nodes:
// the same work on a mirror that stays in cache.
BENCHMARK(BM_SetCurState)->Arg(kNodes)->Arg(100);

// The same with the notifications of each batch sent, as the main loop does.
void BM_SetCurStateAndNotify(benchmark::State& state) {
  Mirror& mirror = sharedMirror(static_cast<std::uint32_t>(state.range(0)));
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::size_t> pick(0, mirror.checks.size() - 1);
  std::size_t n = 0;
  for (auto _ : state) {
    mirror.checks[pick(rng)]->setCurState(static_cast<std::uint32_t>(n % 4));
    if (++n % 1000 == 0) {
      sendNotifications();
      drainQueues();
    }
  }
  sendNotifications();
  drainQueues();
  state.SetItemsProcessed(static_cast<std::int64_t>(n));
}
BENCHMARK(BM_SetCurStateAndNotify)->Arg(kNodes)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
