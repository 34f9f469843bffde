// Speed of the subscription mirror: building it from one full select result
// of about 100,000 and 1,000,000 objects, and applying one small replace
// patch deep in each, which must cost the same whatever the mirror's size.
//
// The tree has the shape of a monitored domain: the root, 100 domains,
// nodes under them, and under every node one check group of 8 checks
// (10 objects per node).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "tql/property.h"
#include "tql/subscription/incremental_subscriber.h"

namespace {

using tql::id_t;
using tql::object_ptr;
using tql::object_t;

constexpr std::uint32_t kDomains = 100;
constexpr std::uint32_t kChecksPerNode = 8;

object_ptr makeNode(id_t id, std::uint32_t cls) {
  auto n = std::make_unique<object_t>();
  n->id = id;
  n->class_ = cls;
  return n;
}

// Ids: domains 1.d, nodes 2.n, groups 3.n, checks 4.(n * 8 + c).
id_t checkId(std::uint32_t node, std::uint32_t check) { return {4, node * kChecksPerNode + check}; }

struct Shape {
  std::uint32_t nodes;  // in all
  std::uint32_t nodesPerDomain() const { return nodes / kDomains; }
  std::uint32_t domainOf(std::uint32_t node) const { return node / nodesPerDomain(); }
};

Shape shapeFor(std::int64_t objects) {
  return {static_cast<std::uint32_t>(objects / (2 + kChecksPerNode)) / kDomains * kDomains};
}

object_ptr makeTree(const Shape& shape) {
  auto root = makeNode({0, 1}, 3);
  for (std::uint32_t d = 0; d < kDomains; ++d) {
    auto domain = makeNode({1, d}, 3);
    for (std::uint32_t i = 0; i < shape.nodesPerDomain(); ++i) {
      const std::uint32_t n = d * shape.nodesPerDomain() + i;
      auto node = makeNode({2, n}, 4);
      auto group = makeNode({3, n}, 22);
      for (std::uint32_t c = 0; c < kChecksPerNode; ++c) {
        group->children.push_back(makeNode(checkId(n, c), 1));
      }
      node->children.push_back(std::move(group));
      domain->children.push_back(std::move(node));
    }
    root->children.push_back(std::move(domain));
  }
  return root;
}

std::size_t countObjects(const object_t& n) {
  std::size_t count = 1;
  for (const auto& c : n.children) count += countObjects(*c);
  return count;
}

// A new version of one check with a few properties and one child, as the
// chain from the root that the DBMS sends.
object_ptr makeCheckPatch(const Shape& shape, std::uint32_t node, std::uint32_t check,
                          std::int32_t value) {
  auto target = makeNode(checkId(node, check), 1);
  for (std::uint32_t p : {502u, 504u, 505u, 506u}) {
    target->properties.insert_or_assign(std::make_unique<tql::property_int_t>(p, value));
  }
  target->children.push_back(makeNode({5, node * kChecksPerNode + check}, 33));
  auto group = makeNode({3, node}, 22);
  group->children.push_back(std::move(target));
  auto parent = makeNode({2, node}, 4);
  parent->children.push_back(std::move(group));
  auto domain = makeNode({1, shape.domainOf(node)}, 3);
  domain->children.push_back(std::move(parent));
  auto root = makeNode({0, 1}, 3);
  root->children.push_back(std::move(domain));
  return root;
}

void BM_BuildFromSelect(benchmark::State& state) {
  const Shape shape = shapeFor(state.range(0));
  std::size_t objects = 0;
  for (auto _ : state) {
    state.PauseTiming();
    tql::IncrementalSubscriber s;
    dbms::Return_Tql_Select_Data reply;
    reply.res.push_back(makeTree(shape));
    objects = countObjects(*reply.res.front());
    state.ResumeTiming();

    s.handleSelect(reply);
    benchmark::DoNotOptimize(s.root());

    state.PauseTiming();
    s.deleteTree();
    state.ResumeTiming();
  }
  state.counters["objects"] = static_cast<double>(objects);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(objects));
}
BENCHMARK(BM_BuildFromSelect)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Patches target random checks, so that in the large mirror the objects on
// the way are rarely in cache; patches are prepared in batches outside the
// timing.
void BM_ReplaceDeepCheck(benchmark::State& state) {
  const Shape shape = shapeFor(state.range(0));
  tql::IncrementalSubscriber s;
  dbms::Return_Tql_Select_Data reply;
  reply.res.push_back(makeTree(shape));
  s.handleSelect(reply);

  constexpr std::size_t kBatch = 4096;
  std::mt19937 rng(7);
  std::vector<dbms::Return_Tql_Select_Patch_Data> batch(kBatch);
  std::size_t next = kBatch;
  std::int32_t value = 0;
  for (auto _ : state) {
    if (next == kBatch) {
      state.PauseTiming();
      for (auto& p : batch) {
        const std::uint32_t node = rng() % shape.nodes;
        const std::uint32_t check = rng() % kChecksPerNode;
        p.id = checkId(node, check);
        p.patch = makeCheckPatch(shape, node, check, ++value);
      }
      next = 0;
      state.ResumeTiming();
    }
    s.handlePatch(batch[next++]);
  }
  state.counters["objects"] = static_cast<double>(s.index().size());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReplaceDeepCheck)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
