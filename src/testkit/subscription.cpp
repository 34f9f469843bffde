#include "testkit/subscription.h"

#include <sstream>

namespace testkit {

namespace {

id_t idOf(const Object& o) { return IncrementalSubscriber::indexId(*o.object); }

bool nodeListed(const object_t& parent, const object_t* node) {
  for (const auto& slot : parent.children) {
    if (slot.get() == node) return true;
  }
  return false;
}

// The children of `o` and the children of its node correspond one to one.
void expectChildrenMatch(const Object& o) {
  const auto& slots = o.object->children;
  EXPECT_EQ(slots.size(), o.children.size()) << "children of " << idOf(o);
  for (const auto& [id, child] : o.children) {
    EXPECT_EQ(child->parent, &o) << "parent of " << id;
    EXPECT_EQ(id, idOf(*child)) << "key of " << id;
    const auto i = static_cast<std::size_t>(child->index);
    ASSERT_TRUE(child->index >= 0 && i < slots.size()) << "index of " << id << ": " << child->index;
    EXPECT_EQ(slots[i].get(), child->object.get()) << "slot " << i << " of " << idOf(o);
  }
}

std::size_t expectSubtreeConsistent(const IncrementalSubscriber& s, const Object& o) {
  expectChildrenMatch(o);
  EXPECT_EQ(s.find(idOf(o)), &o) << "index entry of " << idOf(o);
  std::size_t count = 1;
  for (const auto& [id, child] : o.children) count += expectSubtreeConsistent(s, *child);
  return count;
}

void dumpObject(std::ostream& out, const Object& o) {
  out << idOf(o);
  const auto& slots = o.object->children;
  if (slots.empty()) return;
  out << '[';
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (i > 0) out << ' ';
    dumpObject(out, *o.children.at(IncrementalSubscriber::indexId(*slots[i])));
  }
  out << ']';
}

}  // namespace

std::string Call::text() const {
  std::string out = on.toString();
  if (kind == kAdded) out = "added " + out + " <- " + child.toString();
  if (kind == kRemoved) out = "removed " + out + " -> " + child.toString();
  if (kind == kUpdate) out = "update " + out;
  return top ? out + " top" : out;
}

RecordingObject::RecordingObject(Recorder& recorder, Object* parent_, object_ptr node)
    : Object(parent_, std::move(node)), recorder_(recorder) {
  recorder_.live.insert(this);
  recorder_.calls.push_back({Call::kCreate, idOf(*this), {}, false, this});
}

RecordingObject::~RecordingObject() {
  // Children go first, and the parent is still there.
  EXPECT_TRUE(parent == nullptr || recorder_.live.contains(parent)) << "parent of " << idOf(*this);
  EXPECT_TRUE(children.empty()) << "children left under " << idOf(*this);
  EXPECT_TRUE(object->children.empty()) << "child nodes left under " << idOf(*this);
  recorder_.live.erase(this);
  recorder_.calls.push_back({Call::kDestroy, idOf(*this), {}, false, this});
}

IncrementalSubscriber::ObjectPtr RecordingObject::createChild(object_ptr node) {
  return std::make_unique<RecordingObject>(recorder_, this, std::move(node));
}

void RecordingObject::update(bool top) {
  // The whole subtree below is merged before an object hears of its update.
  expectChildrenMatch(*this);
  recorder_.calls.push_back({Call::kUpdate, idOf(*this), {}, top});
}

void RecordingObject::childAdded(Object& child, bool top) {
  EXPECT_EQ(child.parent, this);
  const auto it = children.find(idOf(child));
  EXPECT_TRUE(it != children.end() && it->second.get() == &child) << "added " << idOf(child);
  const auto& slots = object->children;
  const auto i = static_cast<std::size_t>(child.index);
  EXPECT_TRUE(child.index >= 0 && i < slots.size() && slots[i].get() == child.object.get())
      << "slot of added " << idOf(child);
  recorder_.calls.push_back({Call::kAdded, idOf(*this), idOf(child), top});
}

void RecordingObject::childRemoved(Object& child, bool top) {
  EXPECT_EQ(child.parent, this);
  EXPECT_FALSE(nodeListed(*object, child.object.get())) << "removed " << idOf(child);
  if (top) {
    EXPECT_EQ(child.index, -1);
    EXPECT_TRUE(children.contains(idOf(child)));
  }
  recorder_.calls.push_back({Call::kRemoved, idOf(*this), idOf(child), top});
}

IncrementalSubscriber::ObjectPtr RecordingSubscriber::createRoot(object_ptr node) {
  return std::make_unique<RecordingObject>(recorder, nullptr, std::move(node));
}

void expectConsistent(const IncrementalSubscriber& s) {
  if (s.root() == nullptr) {
    EXPECT_TRUE(s.index().empty());
    return;
  }
  EXPECT_EQ(s.root()->parent, nullptr);
  EXPECT_EQ(s.root()->index, -1);
  const std::size_t count = expectSubtreeConsistent(s, *s.root());
  EXPECT_EQ(s.index().size(), count);
}

std::string dump(const IncrementalSubscriber& s) {
  if (s.root() == nullptr) return "";
  std::ostringstream out;
  dumpObject(out, *s.root());
  return out.str();
}

}  // namespace testkit
