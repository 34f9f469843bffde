#pragma once
// One standing select on the simulated database, evaluated over the object
// tree: which objects its pattern selects, the full result, and the patch
// that brings a subscriber up to date after one object changed.
//
// Evaluation: a root id starts the result when its object exists and
// matches the pattern's top node. Below a selected object, a child is
// selected by the object's own pattern node when that node has the nesting
// flag (1) and the child is of the same class (domains within domains,
// check groups within check groups), else by the first node among `next`
// (then `cond_next`) whose class is the child's; either way only when all
// the node's conditions hold. The child's own children are matched against
// the node that selected it. A selected object carries the wanted
// properties it has, or all its properties when the pattern node wants none
// in particular.
#include <cstdint>
#include <list>
#include <vector>

#include "queues/tql_values.h"
#include "sim/object_tree.h"

namespace sim {

// The pattern flag that lets a node select its own class at any depth.
inline constexpr std::int32_t kNestingFlag = 1;

class Subscription {
 public:
  Subscription(std::uint32_t uid, std::list<tql::id_t> roots, tql::pattern_t pattern);

  std::uint32_t uid() const { return uid_; }

  // The full result: one tree per root id that selects anything.
  std::vector<tql::object_ptr> select(const ObjectTree& tree) const;

  // The pattern node that selects the object, or null when the object is not
  // part of the result.
  const tql::pattern_t* patternOf(const SimObject& object) const;
  bool selects(const SimObject& object) const { return patternOf(object) != nullptr; }

  // The chain from the result's root down to the object: every node above it
  // has exactly one child, the object's node carries its whole selected
  // subtree. The object must be selected.
  tql::object_ptr patch(const SimObject& object) const;

 private:
  tql::object_ptr node(const SimObject& object, const tql::pattern_t& pattern,
                       bool withChildren) const;
  bool isRoot(const SimObject& object) const;

  std::uint32_t uid_;
  std::list<tql::id_t> roots_;
  tql::pattern_t pattern_;
};

// Whether an object satisfies every condition of a pattern node. A missing
// property, or one that cannot be compared with the condition's value, fails
// the condition.
bool satisfies(const SimObject& object, const tql::pattern_t& pattern);

}  // namespace sim
