// The mirror against a plain reference model: random trees, then long random
// runs of replacements, insertions, relocations, deletions and full results,
// each consistent with the tree as patched so far. After every step the
// mirror must equal the model (ids, parents, sibling order, positions, the
// index, which node each object holds), objects must keep their identity
// exactly where the merge rules say so, and the hooks must have run with
// their flag true exactly at the top of the change.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "meter/process_metrics.h"
#include "testkit/subscription.h"
#include "tql/subscription/incremental_subscriber.h"

namespace tql {
namespace {

using testkit::Call;
using Object = IncrementalSubscriber::Object;

// A tree as sent by the DBMS: ids, stamps (carried as the version's minor
// number) and children in order.
struct Desc {
  id_t id;
  std::uint64_t stamp = 0;
  std::vector<Desc> children;
};

object_ptr toNode(const Desc& desc) {
  auto n = testkit::stamped(testkit::node(desc.id), desc.stamp);
  for (const Desc& c : desc.children) n->children.push_back(toNode(c));
  return n;
}

// The mirror as it must be: every object's parent, its children in the
// order of its node, and the stamp of the node it holds.
struct Model {
  struct Entry {
    std::optional<id_t> parent;
    std::vector<id_t> children;
    std::uint64_t stamp = 0;
  };
  std::map<id_t, Entry> entries;
  std::optional<id_t> root;

  // Appends the subtree under `parent`, or makes it the tree.
  void add(const Desc& desc, const std::optional<id_t>& parent) {
    if (parent) {
      entries.at(*parent).children.push_back(desc.id);
    } else {
      root = desc.id;
    }
    entries[desc.id] = Entry{parent, {}, desc.stamp};
    for (const Desc& c : desc.children) add(c, desc.id);
  }

  // Removes the subtree; the parent's last child takes its slot.
  void remove(const id_t& id) {
    if (const auto parent = entries.at(id).parent) {
      auto& siblings = entries.at(*parent).children;
      *std::find(siblings.begin(), siblings.end(), id) = siblings.back();
      siblings.pop_back();
    } else {
      root.reset();
    }
    forget(id);
  }

  // Gives `desc.id` (which stays in its place) the new subtree.
  void replace(const Desc& desc) {
    Entry& e = entries.at(desc.id);
    for (const id_t& c : std::vector<id_t>(e.children)) forget(c);
    e.children.clear();
    e.stamp = desc.stamp;
    for (const Desc& c : desc.children) add(c, desc.id);
  }

  void forget(const id_t& id) {
    for (const id_t& c : entries.at(id).children) forget(c);
    entries.erase(id);
  }

  std::vector<id_t> subtree(const id_t& id) const {
    std::vector<id_t> out{id};
    for (std::size_t i = 0; i < out.size(); ++i) {
      for (const id_t& c : entries.at(out[i]).children) out.push_back(c);
    }
    return out;
  }

  // The ids from the root down to `id`, both included.
  std::vector<id_t> path(const id_t& id) const {
    std::vector<id_t> out{id};
    while (entries.at(out.back()).parent) out.push_back(*entries.at(out.back()).parent);
    std::reverse(out.begin(), out.end());
    return out;
  }
};

// What a step must have done to the hooks and objects.
struct Expected {
  // The calls with a true flag, in order.
  std::vector<std::string> top_calls;
  // Ids whose objects must survive the step unchanged in identity.
  std::set<id_t> kept;
  // Kept objects that were merged with a new node (each gets one update).
  std::size_t merged = 0;
  // Created and destroyed objects announced with a true flag or being the
  // root, which get no childAdded/childRemoved(false).
  std::size_t created_not_announced = 0;
  std::size_t destroyed_not_announced = 0;
  std::uint64_t replace = 0, relocate = 0, deletes = 0;
};

class ModelRun {
 public:
  explicit ModelRun(std::uint32_t seed) : rng_(seed) {}

  void step() {
    ++stamp_;
    before_ = objects();
    before_root_ = s_.root();
    s_.recorder.calls.clear();
    counters_before_ = {meter::tqlutil().replace.value(), meter::tqlutil().relocate.value(),
                        meter::tqlutil().deletes.value()};
    Expected expected;
    const std::size_t size = model_.entries.size();
    const unsigned dice = pick(100);
    if (!model_.root) {
      expected = dice < 50 ? fullSelect() : chainAsTree();
    } else if (dice < 25) {
      expected = replace();
    } else if (dice < (size < 60 ? 55 : 40)) {
      expected = insert();
    } else if (dice < 60) {
      expected = relocate();
    } else if (dice < (size > 250 ? 95 : 85)) {
      expected = remove();
    } else if (dice < 90) {
      expected = removeUnknown();
    } else {
      expected = fullSelect();
    }
    check(expected);
  }

  testkit::RecordingSubscriber s_;

 private:
  unsigned pick(unsigned n) { return static_cast<unsigned>(rng_() % n); }
  bool chance(unsigned percent) { return pick(100) < percent; }
  id_t fresh() { return id_t{1 + pick(3), ++next_id_}; }
  id_t anyId() {
    auto it = model_.entries.begin();
    std::advance(it, pick(static_cast<unsigned>(model_.entries.size())));
    return it->first;
  }
  id_t anyNonRoot() {
    for (;;) {
      const id_t id = anyId();
      if (id != *model_.root || model_.entries.size() == 1) return id;
    }
  }

  // A new subtree for `id`: some of its old children (with new subtrees of
  // their own), sometimes an object taken from elsewhere in `pool`, and
  // sometimes new objects, in random order. Every id is used once.
  Desc generate(const id_t& id, int depth, const std::vector<id_t>& pool, std::set<id_t>& used) {
    used.insert(id);
    Desc desc{id, stamp_, {}};
    std::vector<id_t> chosen;
    if (model_.entries.contains(id)) {
      for (const id_t& c : model_.entries.at(id).children) {
        if (!used.contains(c) && chance(80)) chosen.push_back(c);
      }
    }
    if (!pool.empty() && depth < 8 && chance(25)) {
      const id_t moved = pool[pick(static_cast<unsigned>(pool.size()))];
      if (!used.contains(moved) && std::find(chosen.begin(), chosen.end(), moved) == chosen.end()) {
        chosen.push_back(moved);
      }
    }
    const unsigned fresh_count = depth > 3 ? 0 : pick(depth == 0 ? 4 : 3);
    for (unsigned i = 0; i < fresh_count; ++i) chosen.push_back(fresh());
    std::shuffle(chosen.begin(), chosen.end(), rng_);
    for (const id_t& c : chosen) {
      if (used.contains(c)) continue;  // taken by a subtree generated before
      desc.children.push_back(generate(c, depth + 1, pool, used));
    }
    return desc;
  }

  // The chain from the root down to `parent` (nodes carry a stamp the mirror
  // must not take), then new nodes `between`, ending in `tail`.
  object_ptr chain(const id_t& parent, const Desc& tail, const std::vector<id_t>& between = {}) {
    return toNode(nest(model_.path(parent), nest(between, tail, stamp_), 999999));
  }

  void patch(const id_t& id, object_ptr chain) {
    auto data = testkit::patchReply(id, std::move(chain));
    s_.handlePatch(data);
  }

  // Ids of `desc` that keep their objects: `desc` itself when `top_kept`,
  // then every child that was already a child of its kept parent.
  void collectKept(const Desc& desc, bool top_kept, const std::map<id_t, Model::Entry>& old,
                   Expected& e) {
    if (!top_kept) return;
    e.kept.insert(desc.id);
    ++e.merged;
    for (const Desc& c : desc.children) {
      const auto it = old.find(c.id);
      collectKept(c, it != old.end() && it->second.parent == desc.id, old, e);
    }
  }

  void keepAllBut(const std::vector<id_t>& gone, Expected& e) {
    const std::set<id_t> g(gone.begin(), gone.end());
    for (const auto& [id, entry] : model_.entries) {
      if (!g.contains(id)) e.kept.insert(id);
    }
  }

  Expected replace() {
    Expected e;
    const id_t x = chance(5) ? *model_.root : anyId();
    const auto old = model_.entries;
    std::vector<id_t> pool = model_.subtree(x);
    std::set<id_t> used;
    const Desc desc = generate(x, 0, pool, used);
    keepAllBut(model_.subtree(x), e);
    collectKept(desc, true, old, e);
    e.top_calls = {"update " + x.toString() + " top"};
    const auto parent = model_.entries.at(x).parent;
    if (parent) {
      e.replace = 1;
      patch(x, chain(*parent, desc));
    } else {
      patch(x, toNode(desc));
    }
    model_.replace(desc);
    return e;
  }

  Expected insert() {
    Expected e;
    keepAllBut({}, e);
    const id_t parent = anyId();
    std::vector<id_t> between;
    for (unsigned n = chance(30) ? 1 + pick(2) : 0; n > 0; --n) between.push_back(fresh());
    std::set<id_t> used;
    const Desc target = generate(fresh(), 2, {}, used);
    const id_t first = between.empty() ? target.id : between.front();
    e.top_calls = {"added " + parent.toString() + " <- " + first.toString() + " top"};
    e.created_not_announced = 1;
    patch(target.id, chain(parent, target, between));
    model_.add(nest(between, target, stamp_), parent);
    return e;
  }

  Expected relocate() {
    Expected e;
    const id_t x = anyNonRoot();
    const std::vector<id_t> moved = model_.subtree(x);
    const std::set<id_t> inside(moved.begin(), moved.end());
    const id_t old_parent = *model_.entries.at(x).parent;
    id_t to;
    for (int tries = 0;; ++tries) {
      if (tries == 20) return remove();  // nowhere to go: delete it instead
      to = anyId();
      if (!inside.contains(to) && to != old_parent) break;
    }
    std::vector<id_t> between;
    if (chance(20)) between.push_back(fresh());
    std::set<id_t> used;
    const Desc desc = generate(x, 1, moved, used);
    keepAllBut(moved, e);
    const id_t first = between.empty() ? x : between.front();
    e.top_calls = {"removed " + old_parent.toString() + " -> " + x.toString() + " top",
                   "added " + to.toString() + " <- " + first.toString() + " top"};
    e.created_not_announced = 1;
    e.destroyed_not_announced = 1;
    e.relocate = 1;
    patch(x, chain(to, desc, between));
    model_.remove(x);
    model_.add(nest(between, desc, stamp_), to);
    return e;
  }

  Expected remove() {
    Expected e;
    const id_t x = chance(2) ? *model_.root : anyNonRoot();
    keepAllBut(model_.subtree(x), e);
    e.destroyed_not_announced = 1;
    if (const auto parent = model_.entries.at(x).parent) {
      e.top_calls = {"removed " + parent->toString() + " -> " + x.toString() + " top"};
      e.deletes = 1;
    }
    s_.handleDeletePatch(testkit::deleteReply(x));
    model_.remove(x);
    return e;
  }

  Expected removeUnknown() {
    Expected e;
    keepAllBut({}, e);
    s_.handleDeletePatch(testkit::deleteReply(fresh()));
    return e;
  }

  // A new full result: the tree reshaped at random (objects moved across
  // parents, dropped, added, reordered) or, with no tree, a new one.
  Expected fullSelect() {
    Expected e;
    const auto old = model_.entries;
    std::vector<id_t> pool;
    for (const auto& [id, entry] : old) pool.push_back(id);
    std::set<id_t> used;
    const id_t root = model_.root ? *model_.root : id_t{0, 1};
    const Desc desc = generate(root, 0, pool, used);
    if (model_.root) {
      collectKept(desc, true, old, e);
      e.top_calls = {"update " + root.toString() + " top"};
    } else {
      e.created_not_announced = 1;
    }
    auto data = testkit::selectReply(toNode(desc));
    s_.handleSelect(data);
    model_ = Model{};
    model_.add(desc, std::nullopt);
    return e;
  }

  // With no tree, a patch's chain becomes the tree.
  Expected chainAsTree() {
    Expected e;
    std::set<id_t> used;
    const Desc target = generate(fresh(), 2, {}, used);
    const Desc tree = nest({{0, 1}}, target, stamp_);
    e.created_not_announced = 1;
    patch(target.id, toNode(tree));
    model_.add(tree, std::nullopt);
    return e;
  }

  // `ids` as a chain of single children, stamped `stamp`, ending in `tail`.
  static Desc nest(const std::vector<id_t>& ids, const Desc& tail, std::uint64_t stamp) {
    if (ids.empty()) return tail;
    return Desc{ids.front(), stamp, {nest({ids.begin() + 1, ids.end()}, tail, stamp)}};
  }

  std::map<id_t, const Object*> objects() const {
    std::map<id_t, const Object*> out;
    for (Object* o : s_.index()) out[IncrementalSubscriber::indexId(*o->object)] = o;
    return out;
  }

  void check(const Expected& e) {
    SCOPED_TRACE("step " + std::to_string(stamp_));
    testkit::expectConsistent(s_);
    expectMirrorEqualsModel();
    const auto after = objects();
    const auto& calls = s_.recorder.calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.front().kind, Call::kReceived);
    EXPECT_EQ(calls.back().kind, Call::kApplied);

    std::vector<std::string> tops;
    std::set<const Object*> created, destroyed;
    std::size_t updates = 0, added = 0, removed = 0;
    std::multiset<id_t> announced;  // children announced as removed so far
    for (const Call& c : calls) {
      if (c.top) tops.push_back(c.text());
      switch (c.kind) {
        case Call::kCreate:
          created.insert(c.object);
          break;
        case Call::kDestroy:
          destroyed.insert(c.object);
          // Every destroyed object but the root was announced first.
          if (c.object != before_root_) {
            EXPECT_TRUE(announced.contains(c.on)) << "destroyed unannounced " << c.on;
          }
          break;
        case Call::kUpdate:
          updates += c.top ? 0 : 1;
          break;
        case Call::kAdded:
          added += c.top ? 0 : 1;
          break;
        case Call::kRemoved:
          removed += c.top ? 0 : 1;
          announced.insert(c.child);
          break;
        case Call::kReceived:
        case Call::kApplied:
          break;
      }
    }
    EXPECT_EQ(tops, e.top_calls);

    for (const auto& [id, o] : after) {
      if (e.kept.contains(id)) {
        EXPECT_EQ(o, before_.at(id)) << "identity of " << id;
        EXPECT_FALSE(destroyed.contains(o)) << "kept object destroyed: " << id;
      } else {
        EXPECT_TRUE(created.contains(o)) << "new object expected for " << id;
      }
    }
    for (const id_t& id : e.kept) EXPECT_TRUE(after.contains(id)) << "kept " << id << " is gone";
    const std::size_t kept = e.kept.size();
    EXPECT_EQ(created.size(), after.size() - kept);
    EXPECT_EQ(destroyed.size(), before_.size() - kept);
    EXPECT_EQ(updates, e.merged == 0 ? 0 : e.merged - 1);
    EXPECT_EQ(added, created.size() - e.created_not_announced);
    EXPECT_EQ(removed, destroyed.size() - std::min(destroyed.size(), e.destroyed_not_announced));

    EXPECT_EQ(meter::tqlutil().replace.value() - counters_before_[0], e.replace);
    EXPECT_EQ(meter::tqlutil().relocate.value() - counters_before_[1], e.relocate);
    EXPECT_EQ(meter::tqlutil().deletes.value() - counters_before_[2], e.deletes);
  }

  // Parent links need no check of their own: expectConsistent ties every
  // indexed object to the node children of its parent, compared here.
  void expectMirrorEqualsModel() {
    ASSERT_EQ(s_.root() != nullptr, model_.root.has_value());
    if (!model_.root) return;
    EXPECT_EQ(s_.root()->object->id, *model_.root);
    EXPECT_EQ(s_.index().size(), model_.entries.size());
    for (const auto& [id, entry] : model_.entries) {
      const Object* o = s_.find(id);
      ASSERT_NE(o, nullptr) << id;
      EXPECT_EQ(o->object->version.minor, entry.stamp) << "node of " << id;
      std::vector<id_t> order;
      for (const auto& c : o->object->children) order.push_back(c->id);
      EXPECT_EQ(order, entry.children) << "children of " << id;
    }
  }

  std::mt19937 rng_;
  Model model_;
  std::uint64_t stamp_ = 0;
  std::uint32_t next_id_ = 0;
  std::map<id_t, const Object*> before_;
  const Object* before_root_ = nullptr;
  std::array<std::uint64_t, 3> counters_before_{};
};

TEST(SubscriberModelTest, RandomRunsMatchReferenceModel) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ModelRun run(seed);
    for (int i = 0; i < 1500; ++i) {
      run.step();
      if (testing::Test::HasFailure()) return;
    }
    // Children go before their parents (the recording objects check it).
    run.s_.deleteTree();
    EXPECT_EQ(run.s_.root(), nullptr);
    EXPECT_TRUE(run.s_.index().empty());
    EXPECT_TRUE(run.s_.recorder.live.empty());
  }
}

}  // namespace
}  // namespace tql
