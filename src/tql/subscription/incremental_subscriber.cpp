#include "tql/subscription/incremental_subscriber.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "error/check.h"
#include "meter/log.h"
#include "meter/process_metrics.h"
#include "queues/devent.h"
#include "queues/types.h"

namespace tql {

namespace {

using Object = IncrementalSubscriber::Object;
using ObjectPtr = IncrementalSubscriber::ObjectPtr;

// Debug lines of the subscription code carry this level bit.
constexpr std::uint32_t kLogLevel = 2;

// Drops the pointers of o's node to nodes that o's children own, then empties
// the list: a mirrored node's `children` point at the children's own nodes,
// so the node can then be deleted without deleting anything twice. A pointer
// that is no child's node (a child not built yet when createChild threw) is
// still owned by the list and is deleted with it.
void detachChildNodes(Object& o) noexcept {
  if (!o.object) return;
  auto& slots = o.object->children;
  for (object_ptr& slot : slots) {
    if (!slot) continue;
    const auto it = o.children.find(IncrementalSubscriber::indexId(*slot));
    if (it != o.children.end() && it->second && it->second->object.get() == slot.get()) {
      (void)slot.release();
    }
  }
  slots.clear();
}

// Appending must not reallocate on every call: a parent with many children
// would pay for all of them on each insertion.
void reserveOneMore(std::vector<object_ptr>& slots) {
  if (slots.size() < slots.capacity()) return;
  slots.reserve(std::max<std::size_t>(4, 2 * slots.capacity()));
}

std::size_t countNodes(const object_t& node) {
  std::size_t count = 1;
  for (const object_ptr& child : node.children) {
    if (child) count += countNodes(*child);
  }
  return count;
}

bool validPosition(std::int32_t index, const std::vector<object_ptr>& slots) {
  return index >= 0 && static_cast<std::size_t>(index) < slots.size();
}

// What removing an object from its parent reports, for a delete patch or a
// relocation.
struct DetachTexts {
  const char* out_of_range;
  const char* wrong_index;
  const char* no_sibling;
};

constexpr DetachTexts kDeleteTexts{"Index out of range when deleting", "Wrong index when deleting",
                                   "Did not find replacement sibling when deleting"};
constexpr DetachTexts kRelocateTexts{"Index out of range when relocating",
                                     "Wrong index when relocating",
                                     "Did not find replacement sibling"};

}  // namespace

// --- Object ---

IncrementalSubscriber::Object::Object(Object* parent_, object_ptr node)
    : parent(parent_), index(-1), object(std::move(node)) {}

// By the time an object goes its node's list of children is normally empty.
// When it is not (the object is destroyed outside the subscriber's order),
// the pointers to the children's nodes are dropped so that each node is
// deleted once, by its own object.
IncrementalSubscriber::Object::~Object() { detachChildNodes(*this); }

IncrementalSubscriber::ObjectPtr IncrementalSubscriber::Object::createChild(object_ptr node) {
  return std::make_unique<Object>(this, std::move(node));
}

void IncrementalSubscriber::Object::update(bool) {}
void IncrementalSubscriber::Object::childAdded(Object&, bool) {}
void IncrementalSubscriber::Object::childRemoved(Object&, bool) {}

// --- Subscriber: entry points ---

IncrementalSubscriber::~IncrementalSubscriber() { deleteTree(); }

IncrementalSubscriber::ObjectPtr IncrementalSubscriber::createRoot(object_ptr node) {
  return std::make_unique<Object>(nullptr, std::move(node));
}

void IncrementalSubscriber::selectReceived(const dbms::Return_Tql_Select_Data&) {}
void IncrementalSubscriber::patchReceived(const dbms::Return_Tql_Select_Patch_Data&) {}
void IncrementalSubscriber::deletePatchReceived(const dbms::Return_Tql_Select_Delete_Patch_Data&) {}
void IncrementalSubscriber::selectApplied(const dbms::Return_Tql_Select_Data&) {}
void IncrementalSubscriber::patchApplied(const dbms::Return_Tql_Select_Patch_Data&) {}
void IncrementalSubscriber::deletePatchApplied(const dbms::Return_Tql_Select_Delete_Patch_Data&) {}

bool IncrementalSubscriber::handle(queues::event& ev) {
  switch (ev.type) {
    case queues::RETURN_TQL_SELECT:
      if (auto* e = dynamic_cast<queues::devent_t<queues::RETURN_TQL_SELECT>*>(&ev)) {
        handleSelect(e->data);
        return true;
      }
      break;
    case queues::RETURN_TQL_SELECT_PATCH:
      if (auto* e = dynamic_cast<queues::devent_t<queues::RETURN_TQL_SELECT_PATCH>*>(&ev)) {
        handlePatch(e->data);
        return true;
      }
      break;
    case queues::RETURN_TQL_SELECT_DELETE_PATCH:
      if (auto* e = dynamic_cast<queues::devent_t<queues::RETURN_TQL_SELECT_DELETE_PATCH>*>(&ev)) {
        handleDeletePatch(e->data);
        return true;
      }
      break;
    default:
      break;
  }
  HX_LOG_DEBUG(kLogLevel, "IncrementalSubscriber alien event: " + queues::eventName(ev.type) +
                              " with inresponse " + std::to_string(ev.inresponse));
  return false;
}

void IncrementalSubscriber::handleSelect(dbms::Return_Tql_Select_Data& data) {
  selectReceived(data);
  HX_CHECK(data.res.size() <= 1, "More than one result");
  if (data.res.size() == 1) {
    object_ptr tree = std::move(data.res.front());
    data.res.clear();
    HX_CHECK(tree != nullptr, "Missing object in result");
    setRoot(std::move(tree));
  } else {
    deleteTree();
  }
  selectApplied(data);
}

void IncrementalSubscriber::handlePatch(dbms::Return_Tql_Select_Patch_Data& data) {
  patchReceived(data);
  patch(data.id, std::move(data.patch));
  patchApplied(data);
}

void IncrementalSubscriber::handleDeletePatch(
    const dbms::Return_Tql_Select_Delete_Patch_Data& data) {
  deletePatchReceived(data);
  deletePatch(data.id);
  deletePatchApplied(data);
}

void IncrementalSubscriber::deleteTree() {
  if (root_) deleteSubtree(std::move(root_));
}

IncrementalSubscriber::Object* IncrementalSubscriber::find(const id_t& id) const {
  return index_.find(id);
}

id_t IncrementalSubscriber::indexId(const object_t& node) {
  if (!node.id.empty()) return node.id;
  return id_t{0, 0, node.class_};
}

// --- Applying replies ---

void IncrementalSubscriber::setRoot(object_ptr tree) {
  if (!root_) {
    const std::size_t objects = countNodes(*tree);
    index_.reserve(index_.size() + objects);
    treeArriving(objects);
    root_ = buildSubtree(nullptr, std::move(tree));
    return;
  }
  const id_t old_id = indexId(*root_->object);
  if (indexId(*tree) == old_id) {
    merge(*root_, std::move(tree));
  } else {
    // The root keeps its object whatever the new tree's top is called; the
    // index follows the new name. The index reads ids from the nodes, so the
    // root leaves it before it takes the node of another id.
    index_.eraseIf(old_id, root_.get());
    try {
      merge(*root_, std::move(tree));
    } catch (...) {
      indexInsert(*root_);
      throw;
    }
    indexInsert(*root_);
  }
  root_->update(true);
}

void IncrementalSubscriber::patch(const id_t& id, object_ptr chain) {
  HX_CHECK(chain != nullptr, "Missing object in patch");
  object_t* above = nullptr;
  object_t* target = chain.get();
  while (indexId(*target) != id) {
    HX_CHECK(target->children.size() == 1 && target->children.front() != nullptr,
             "Wrong number of children in patch");
    above = target;
    target = target->children.front().get();
  }

  if (Object* const found = index_.find(id)) {
    Object& o = *found;
    const id_t parent_id = o.parent ? indexId(*o.parent->object) : id_t();
    const id_t above_id = above ? indexId(*above) : id_t();
    if (parent_id == above_id) {
      // Replace in place: the target node takes o's slot, the rest of the
      // chain (already mirrored above o) is dropped.
      object_ptr node = above ? std::move(above->children.front()) : std::move(chain);
      chain.reset();
      if (o.parent) {
        ++meter::tqlutil().replace;
        auto& slots = o.parent->object->children;
        HX_CHECK(validPosition(o.index, slots), "Index out of range when replacing");
        object_ptr& slot = slots[static_cast<std::size_t>(o.index)];
        HX_CHECK(slot.get() == o.object.get(), "Wrong index when replacing");
        (void)slot.release();
        slot.reset(node.get());
      }
      merge(o, std::move(node));
      o.update(true);
      return;
    }
    // Relocation: the object is removed with its subtree and the chain is
    // inserted as new, which rebuilds it under its new parent.
    HX_CHECK(o.parent != nullptr && above != nullptr, "Relocation of the root object");
    ++meter::tqlutil().relocate;
    deleteSubtree(detachFromParent(o, true));
  }
  insertChain(id, std::move(chain));
}

void IncrementalSubscriber::insertChain(const id_t& id, object_ptr chain) {
  if (!root_) {
    root_ = buildSubtree(nullptr, std::move(chain));
    return;
  }
  Object* r = root_.get();
  object_t* t = chain.get();
  for (;;) {
    HX_CHECK(indexId(*r->object) == indexId(*t), "Patch does not match");
    HX_CHECK(indexId(*t) != id, "Algorithm error");
    HX_CHECK(t->children.size() == 1 && t->children.front() != nullptr,
             "Wrong number of children in patch");
    object_t* k = t->children.front().get();
    const auto it = r->children.find(indexId(*k));
    if (it == r->children.end()) break;
    r = it->second.get();
    t = k;
  }
  // t's only child is the first node that is not mirrored yet: it is
  // appended under r with its whole subtree, the chain above it is dropped.
  auto& slots = r->object->children;
  reserveOneMore(slots);
  slots.push_back(std::move(t->children.front()));
  chain.reset();
  buildChildAt(*r, slots.size() - 1, true);
}

void IncrementalSubscriber::deletePatch(const id_t& id) {
  Object* const o = index_.find(id);
  if (o == nullptr) {
    HX_LOG_DEBUG(kLogLevel, "patchDelete got unknown id " + id.toString());
    return;
  }
  ObjectPtr owned;
  if (o->parent) {
    ++meter::tqlutil().deletes;
    owned = detachFromParent(*o, false);
  }
  if (o == root_.get()) owned = std::move(root_);
  HX_CHECK(owned != nullptr, "Indexed object is neither the root nor a child");
  deleteSubtree(std::move(owned));
}

// --- Tree operations ---

IncrementalSubscriber::ObjectPtr IncrementalSubscriber::buildSubtree(Object* parent,
                                                                     object_ptr node) {
  object_t* const raw = node.get();
  ObjectPtr o = parent ? parent->createChild(std::move(node)) : createRoot(std::move(node));
  HX_CHECK(o != nullptr && o->parent == parent, "Parent is wrong after createChild");
  HX_CHECK(o->object.get() == raw, "Object pointer is wrong createChild");
  indexInsert(*o);
  o->children.reserve(raw->children.size());
  try {
    for (std::size_t i = 0; i < raw->children.size(); ++i) buildChildAt(*o, i, false);
  } catch (...) {
    // A child the derived class refused: nothing of this subtree stays.
    discard(std::move(o));
    throw;
  }
  return o;
}

void IncrementalSubscriber::buildChildAt(Object& parent, std::size_t position, bool top) {
  auto& slots = parent.object->children;
  object_t* const node = slots[position].get();
  HX_CHECK(node != nullptr, "Missing object in tree");
  ObjectPtr child;
  try {
    // The child owns its node from here on; the slot keeps pointing at it.
    child = buildSubtree(&parent, object_ptr(node));
  } catch (...) {
    // buildSubtree has deleted the node; drop its slot with it.
    (void)slots[position].release();
    slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(position));
    throw;
  }
  child->index = static_cast<std::int32_t>(position);
  Object& added = *child;
  // Results usually list children in id order: hinting the end makes each
  // insertion constant time then, and costs nothing otherwise. An id already
  // there leaves `child` untouched.
  parent.children.try_emplace(parent.children.end(), indexId(*node), std::move(child));
  HX_CHECK(child == nullptr, "Duplicate id " + indexId(*node).toString() +
                                 " among the children of " + indexId(*parent.object).toString());
  parent.childAdded(added, top);
}

void IncrementalSubscriber::merge(Object& o, object_ptr node) {
  // The new node takes over at once; the children keep their old nodes
  // until each is merged with its new one or deleted.
  detachChildNodes(o);
  o.object = std::move(node);

  struct OldChild {
    id_t id;
    Object* object;
    bool kept;
  };
  std::vector<OldChild> old;
  old.reserve(o.children.size());
  for (const auto& [id, child] : o.children) old.push_back({id, child.get(), false});
  const auto findOld = [&old](const id_t& id) -> OldChild* {
    const auto it = std::lower_bound(old.begin(), old.end(), id,
                                     [](const OldChild& c, const id_t& i) { return c.id < i; });
    return it != old.end() && it->id == id ? &*it : nullptr;
  };

  auto& slots = o.object->children;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    object_t* const child_node = slots[i].get();
    HX_CHECK(child_node != nullptr, "Missing object in tree");
    const id_t id = indexId(*child_node);
    if (!o.children.contains(id)) {
      buildChildAt(o, i, false);
      continue;
    }
    OldChild* const existing = findOld(id);
    HX_CHECK(existing != nullptr && !existing->kept, "Duplicate id " + id.toString() +
                                                         " among the children of " +
                                                         indexId(*o.object).toString());
    existing->kept = true;
    Object& x = *existing->object;
    x.index = static_cast<std::int32_t>(i);
    merge(x, object_ptr(child_node));
    x.update(false);
  }

  for (const OldChild& gone : old) {
    if (gone.kept) continue;
    o.childRemoved(*gone.object, false);
    const auto it = o.children.find(gone.id);
    ObjectPtr owned = std::move(it->second);
    o.children.erase(it);
    deleteSubtree(std::move(owned));
  }
}

void IncrementalSubscriber::deleteSubtree(ObjectPtr o) {
  detachChildNodes(*o);
  ChildMap<ObjectPtr> children;
  children.swap(o->children);
  for (auto& [id, child] : children) {
    o->childRemoved(*child, false);
    deleteSubtree(std::move(child));
  }
  indexErase(*o);
  o.reset();
}

IncrementalSubscriber::ObjectPtr IncrementalSubscriber::detachFromParent(Object& o,
                                                                         bool relocating) {
  const DetachTexts& texts = relocating ? kRelocateTexts : kDeleteTexts;
  Object& p = *o.parent;
  const id_t id = indexId(*o.object);
  const auto it = p.children.find(id);
  HX_CHECK(it != p.children.end() && it->second.get() == &o,
           "Object not in parents list of children");

  auto& slots = p.object->children;
  HX_CHECK(validPosition(o.index, slots), texts.out_of_range);
  const auto i = static_cast<std::size_t>(o.index);
  HX_CHECK(slots[i].get() == o.object.get(), texts.wrong_index);
  const std::size_t last = slots.size() - 1;
  if (i != last) {
    // Dense children: the last sibling fills the hole.
    object_t* const moved = slots[last].get();
    const auto sibling = moved ? p.children.find(indexId(*moved)) : p.children.end();
    HX_CHECK(sibling != p.children.end() && sibling->second->object.get() == moved,
             texts.no_sibling);
    (void)slots[i].release();
    slots[i] = std::move(slots[last]);
    sibling->second->index = static_cast<std::int32_t>(i);
  } else {
    (void)slots[i].release();
  }
  slots.pop_back();

  o.index = -1;
  p.childRemoved(o, true);
  const auto still = p.children.find(id);
  ObjectPtr owned = std::move(still->second);
  p.children.erase(still);
  return owned;
}

void IncrementalSubscriber::discard(ObjectPtr o) noexcept {
  detachChildNodes(*o);
  ChildMap<ObjectPtr> children;
  children.swap(o->children);
  for (auto& [id, child] : children) discard(std::move(child));
  indexErase(*o);
  o.reset();
}

void IncrementalSubscriber::indexInsert(Object& o) {
  // A later object of the same id wins: when a full result moves an object
  // to a parent that is merged before its old one, the new object is built
  // before the old one goes, and must stay indexed after that.
  index_.insert_or_assign(&o);
}

void IncrementalSubscriber::indexErase(const Object& o) noexcept {
  index_.eraseIf(indexId(*o.object), &o);
}

}  // namespace tql
