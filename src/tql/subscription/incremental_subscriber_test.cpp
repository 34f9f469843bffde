#include "tql/subscription/incremental_subscriber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "error/exception.h"
#include "queues/devent.h"
#include "testkit/subscription.h"

namespace tql {
namespace {

using Object = IncrementalSubscriber::Object;
using testkit::anonymous;
using testkit::deleteReply;
using testkit::dump;
using testkit::expectConsistent;
using testkit::node;
using testkit::patchReply;
using testkit::selectReply;

class SubscriberTest : public testing::Test {
 protected:
  void select(object_ptr tree) {
    auto data = selectReply(std::move(tree));
    s_.handleSelect(data);
    expectConsistent(s_);
  }
  void patch(id_t id, object_ptr chain) {
    auto data = patchReply(id, std::move(chain));
    s_.handlePatch(data);
    expectConsistent(s_);
  }
  void remove(id_t id) {
    s_.handleDeletePatch(deleteReply(id));
    expectConsistent(s_);
  }
  Object& at(id_t id) {
    Object* o = s_.find(id);
    EXPECT_NE(o, nullptr) << id;
    return *o;
  }

  testkit::RecordingSubscriber s_;
};

// --- Full results ---

TEST_F(SubscriberTest, ReselectWithNewRootIdReindexesTheRoot) {
  select(node({0, 1}, node({1, 1})));
  Object* root = s_.root();
  select(node({0, 2}, node({1, 1})));
  EXPECT_EQ(s_.root(), root);
  EXPECT_EQ(s_.find({0, 2}), root);
  EXPECT_EQ(s_.find({0, 1}), nullptr);
}

// The index reads an object's id from its node: renaming the root while
// many of its children come and go must leave every object findable.
TEST_F(SubscriberTest, ReselectWithNewRootIdAndNewChildrenKeepsTheIndexWhole) {
  const auto tree = [](std::uint32_t root, std::uint32_t first) {
    object_ptr top = node({0, root});
    for (std::uint32_t i = first; i < first + 200; ++i) top->children.push_back(node({1, i}));
    return top;
  };
  select(tree(1, 0));
  Object* const root = s_.root();
  for (std::uint32_t round = 2; round < 6; ++round) {
    select(tree(round, 100 * round));
    EXPECT_EQ(s_.root(), root);
    EXPECT_EQ(s_.find({0, round}), root);
    EXPECT_EQ(s_.find({0, round - 1}), nullptr);
    EXPECT_EQ(s_.find({1, 100 * round - 1}), nullptr);
  }
}

// --- Objects without an id ---

TEST_F(SubscriberTest, ObjectWithoutIdIsIndexedUnderItsClass) {
  select(node({0, 1}, anonymous(49, node({1, 1})), node({1, 2})));
  Object& anon = at({0, 0, 49});
  EXPECT_EQ(anon.parent, s_.root());
  EXPECT_EQ(at({1, 1}).parent, &anon);
  select(node({0, 1}, node({1, 2}), anonymous(49, node({1, 1}))));  // persists across merges
  EXPECT_EQ(&at({0, 0, 49}), &anon);
  patch({0, 0, 49}, node({0, 1}, anonymous(49, node({1, 5}))));  // named by its class id
  EXPECT_EQ(&at({0, 0, 49}), &anon);
  EXPECT_EQ(dump(s_), "0.1[1.2 0.0.49[1.5]]");
  remove({0, 0, 49});
  EXPECT_EQ(dump(s_), "0.1[1.2]");
}

// --- Events and ownership ---

TEST_F(SubscriberTest, HandleAppliesTheThreeRepliesAndRefusesOthers) {
  queues::devent_t<queues::RETURN_TQL_SELECT_PATCH> p(queues::QUEUE_ALRM, 3);
  p.data = patchReply({0, 1}, node({0, 1}, node({1, 1})));
  EXPECT_TRUE(s_.handle(p));
  EXPECT_EQ(p.data.patch, nullptr);
  queues::devent_t<queues::RETURN_TQL_SELECT_DELETE_PATCH> d(queues::QUEUE_ALRM, 3);
  d.data = deleteReply({1, 1});
  EXPECT_TRUE(s_.handle(d));
  EXPECT_EQ(dump(s_), "0.1");
  s_.recorder.calls.clear();

  queues::devent_t<queues::SYS_EXIT> alien(queues::QUEUE_ALRM, 4000000000u);
  EXPECT_FALSE(s_.handle(alien));
  queues::exevent failed(queues::QUEUE_ALRM, 3, "boom");
  EXPECT_FALSE(s_.handle(failed));
  EXPECT_TRUE(s_.recorder.calls.empty());
}

// --- Derived objects: one that refuses a child, and the two ways of
// breaking createChild's contract (a wrong parent, a copy of the node) ---

class PickyObject : public IncrementalSubscriber::Object {
 public:
  using Object::Object;
  IncrementalSubscriber::ObjectPtr createChild(object_ptr n) override {
    if (n->class_ == 99) throw error::EFatal("Got class 99");
    return std::make_unique<PickyObject>(this, std::move(n));
  }
};

template <bool kCopy>
class BrokenObject : public IncrementalSubscriber::Object {
 public:
  using Object::Object;
  IncrementalSubscriber::ObjectPtr createChild(object_ptr n) override {
    if (kCopy) return std::make_unique<Object>(this, std::make_unique<object_t>(*n));
    return std::make_unique<Object>(nullptr, std::move(n));
  }
};

template <class Root>
class RootedSubscriber : public IncrementalSubscriber {
 protected:
  ObjectPtr createRoot(object_ptr n) override {
    return std::make_unique<Root>(nullptr, std::move(n));
  }
};

object_ptr refused() {
  auto n = node({7, 7});
  n->class_ = 99;
  return n;
}

TEST(SubscriberRefusalTest, RefusedChildLeavesNoTraceOfItsSubtree) {
  RootedSubscriber<PickyObject> s;
  auto first = selectReply(node({0, 1}, node({1, 1}, node({2, 1}), refused()), node({1, 2})));
  EXPECT_THROW(s.handleSelect(first), error::EFatal);
  EXPECT_EQ(s.root(), nullptr);
  EXPECT_TRUE(s.index().empty());

  auto good = selectReply(node({0, 1}, node({1, 1}), node({1, 2})));
  s.handleSelect(good);
  auto bad = patchReply({3, 1}, node({0, 1}, node({1, 2}, node({3, 1}, node({4, 1}), refused()))));
  EXPECT_THROW(s.handlePatch(bad), error::EFatal);
  EXPECT_EQ(dump(s), "0.1[1.1 1.2]");
  expectConsistent(s);
}

// --- Hostile replies and a damaged mirror end in the assertion texts ---

// Each death runs in a child process: the damage never reaches this one.
class SubscriberDeathTest : public SubscriberTest {
 protected:
  void SetUp() override {
    select(node({0, 1}, node({1, 1}), node({1, 2}, node({2, 1})), node({1, 3})));
  }
  // Takes `id` out of its parent's children, as a damaged mirror would have it.
  void unlink(id_t id) {
    auto& siblings = at(id).parent->children;
    stolen_ = std::move(siblings.at(id));
    siblings.erase(id);
  }

  IncrementalSubscriber::ObjectPtr stolen_;
};

TEST_F(SubscriberDeathTest, InconsistentRepliesAbort) {
  EXPECT_DEATH(
      {
        auto data = selectReply(node({0, 1}), node({0, 2}));
        s_.handleSelect(data);
      },
      "Assertion failed: More than one result");
  EXPECT_DEATH(patch({2, 1}, node({0, 1}, node({1, 2}, node({2, 1})), node({1, 3}))),
               "Assertion failed: Wrong number of children in patch");
  EXPECT_DEATH(patch({8, 8}, node({0, 1}, node({1, 2}))),
               "Assertion failed: Wrong number of children in patch");
  EXPECT_DEATH(patch({8, 8}, node({0, 1}, node({1, 2}, node({2, 1}, node({3, 1}), node({3, 2}))))),
               "Assertion failed: Wrong number of children in patch");
  EXPECT_DEATH(patch({0, 1}, node({9, 9}, node({0, 1}))),
               "Assertion failed: Relocation of the root object");
  EXPECT_DEATH(patch({1, 2}, node({1, 2})), "Assertion failed: Relocation of the root object");
  EXPECT_DEATH(patch({8, 8}, node({9, 9}, node({8, 8}))), "Assertion failed: Patch does not match");
  EXPECT_DEATH(patch({8, 8}, node({0, 1}, node({1, 2}, node({2, 2}), node({2, 3})))),
               "Assertion failed: Wrong number of children in patch");
}

// Two objects under one id: deleting the inner one unindexes the id, after
// which the subscriber meets its own root as a new target.
TEST_F(SubscriberDeathTest, PatchReachingTargetAlreadyInPlaceAborts) {
  auto data = selectReply(node({0, 1}, node({1, 1}, node({0, 1}))));
  s_.handleSelect(data);
  s_.handleDeletePatch(deleteReply({0, 1}));
  EXPECT_DEATH(patch({0, 1}, node({0, 1}, node({5, 5}))), "Assertion failed: Algorithm error");
}

TEST_F(SubscriberDeathTest, DuplicateChildIdsAbort) {
  const auto selectDuplicates = [](IncrementalSubscriber& s) {
    auto data = selectReply(node({0, 1}, node({1, 1}), node({1, 1})));
    s.handleSelect(data);
  };
  IncrementalSubscriber fresh;
  EXPECT_DEATH(selectDuplicates(fresh),
               "Assertion failed: Duplicate id 1.1 among the children of 0.1");
  EXPECT_DEATH(selectDuplicates(s_),
               "Assertion failed: Duplicate id 1.1 among the children of 0.1");
}

TEST_F(SubscriberDeathTest, DamagedMirrorAbortsDelete) {
  EXPECT_DEATH((unlink({1, 2}), remove({1, 2})),
               "Assertion failed: Object not in parents list of children");
  EXPECT_DEATH((at({1, 2}).index = 3, remove({1, 2})),
               "Assertion failed: Index out of range when deleting");
  EXPECT_DEATH((at({1, 2}).index = 0, remove({1, 2})),
               "Assertion failed: Wrong index when deleting");
  EXPECT_DEATH((unlink({1, 3}), remove({1, 1})),
               "Assertion failed: Did not find replacement sibling when deleting");
}

TEST_F(SubscriberDeathTest, DamagedMirrorAbortsRelocationAndReplace) {
  const auto move11 = [this] { patch({1, 1}, node({0, 1}, node({1, 2}, node({1, 1})))); };
  EXPECT_DEATH((unlink({1, 1}), move11()),
               "Assertion failed: Object not in parents list of children");
  EXPECT_DEATH((at({1, 1}).index = -1, move11()),
               "Assertion failed: Index out of range when relocating");
  EXPECT_DEATH((at({1, 1}).index = 2, move11()), "Assertion failed: Wrong index when relocating");
  EXPECT_DEATH((unlink({1, 3}), move11()), "Assertion failed: Did not find replacement sibling\n");

  const auto replace12 = [this] { patch({1, 2}, node({0, 1}, node({1, 2}))); };
  EXPECT_DEATH((at({1, 2}).index = 7, replace12()),
               "Assertion failed: Index out of range when replacing");
  EXPECT_DEATH((at({1, 2}).index = 2, replace12()), "Assertion failed: Wrong index when replacing");
}

template <class Root>
void selectWithRoot() {
  RootedSubscriber<Root> s;
  auto data = selectReply(node({0, 1}, node({1, 1})));
  s.handleSelect(data);
}

TEST(SubscriberCreateChildDeathTest, CreateChildMustKeepParentAndNode) {
  EXPECT_DEATH(selectWithRoot<BrokenObject<false>>(),
               "Assertion failed: Parent is wrong after createChild");
  EXPECT_DEATH(selectWithRoot<BrokenObject<true>>(),
               "Assertion failed: Object pointer is wrong createChild");
}

}  // namespace
}  // namespace tql
