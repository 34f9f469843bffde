#include "sim/subscription.h"

#include <algorithm>

#include "error/check.h"
#include "error/exception.h"

namespace sim {

bool satisfies(const SimObject& object, const tql::pattern_t& pattern) {
  for (const tql::condition_t& condition : pattern.where) {
    if (condition.prop == nullptr) return false;
    const tql::property_t* p = object.property(condition.prop->property);
    if (p == nullptr) return false;
    try {
      if (!p->compare(static_cast<int>(condition.rel_op), *condition.prop)) return false;
    } catch (const error::Exception&) {
      return false;
    }
  }
  return true;
}

namespace {

const tql::pattern_t* matchChild(const SimObject& child, const tql::pattern_t& parent) {
  // A nesting node stands for any depth of its own class: domains within
  // domains, check groups within check groups.
  if ((parent.flags & kNestingFlag) != 0 && parent.class_ == child.classNumber() &&
      satisfies(child, parent)) {
    return &parent;
  }
  for (const auto* list : {&parent.next, &parent.cond_next}) {
    for (const tql::pattern_t& p : *list) {
      if (p.class_ == child.classNumber() && satisfies(child, p)) return &p;
    }
  }
  return nullptr;
}

}  // namespace

Subscription::Subscription(std::uint32_t uid, std::list<tql::id_t> roots, tql::pattern_t pattern)
    : uid_(uid), roots_(std::move(roots)), pattern_(std::move(pattern)) {}

bool Subscription::isRoot(const SimObject& object) const {
  return std::find(roots_.begin(), roots_.end(), object.id) != roots_.end() &&
         pattern_.class_ == object.classNumber() && satisfies(object, pattern_);
}

const tql::pattern_t* Subscription::patternOf(const SimObject& object) const {
  std::vector<const SimObject*> chain;  // the object, then its ancestors
  for (const SimObject* o = &object; o != nullptr; o = o->parent) chain.push_back(o);
  // The nearest ancestor that is a root of this select starts the match.
  for (std::size_t top = 0; top < chain.size(); ++top) {
    if (!isRoot(*chain[top])) continue;
    const tql::pattern_t* p = &pattern_;
    for (std::size_t i = top; i-- > 0 && p != nullptr;) p = matchChild(*chain[i], *p);
    if (p != nullptr) return p;
  }
  return nullptr;
}

tql::object_ptr Subscription::node(const SimObject& object, const tql::pattern_t& pattern,
                                   bool withChildren) const {
  auto n = std::make_unique<tql::object_t>();
  n->class_ = object.classNumber();
  n->id = object.id;
  n->version = object.version;
  for (const auto& [number, p] : object.properties) {
    if (pattern.wanted_properties.empty() || pattern.wanted_properties.contains(number)) {
      n->properties.insert(p->clone());
    }
  }
  if (!withChildren) return n;
  for (const auto& child : object.children) {
    if (const tql::pattern_t* p = matchChild(*child, pattern)) {
      n->children.push_back(node(*child, *p, true));
    }
  }
  return n;
}

std::vector<tql::object_ptr> Subscription::select(const ObjectTree& tree) const {
  std::vector<tql::object_ptr> result;
  for (const tql::id_t& id : roots_) {
    const SimObject* root = tree.find(id);
    if (root != nullptr && isRoot(*root)) result.push_back(node(*root, pattern_, true));
  }
  return result;
}

tql::object_ptr Subscription::patch(const SimObject& object) const {
  std::vector<const SimObject*> chain;
  for (const SimObject* o = &object; o != nullptr; o = o->parent) chain.push_back(o);
  std::reverse(chain.begin(), chain.end());  // root first
  // The nearest root above the object, as in patternOf.
  auto top = chain.end();
  for (auto it = chain.begin(); it != chain.end(); ++it) {
    if (isRoot(**it)) top = it;
  }
  HX_CHECK(top != chain.end(), "Patch asked for an object outside the select");
  tql::object_ptr head;
  tql::object_t* last = nullptr;
  const tql::pattern_t* p = &pattern_;
  for (auto it = top; it != chain.end(); ++it) {
    if (it != top) p = matchChild(**it, *p);
    HX_CHECK(p != nullptr, "Patch asked for an object the select does not hold");
    const bool target = *it == &object;
    tql::object_ptr n = node(**it, *p, target);
    tql::object_t* raw = n.get();
    if (last == nullptr) {
      head = std::move(n);
    } else {
      last->children.push_back(std::move(n));
    }
    last = raw;
  }
  return head;
}

}  // namespace sim
