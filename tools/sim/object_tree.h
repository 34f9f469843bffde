#pragma once
// The object tree the simulated database holds: the scenario's objects with
// their ids, versions and property values, changed as the timeline runs.
// Objects are found by id or by their path of labels; every change keeps the
// tree valid (kinds in allowed places, labels unique among siblings, ids
// unique), so a change that would break it is refused before anything moves.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "queues/tql_values.h"
#include "sim/names.h"
#include "sim/scenario.h"
#include "tql/id.h"
#include "tql/property.h"

namespace sim {

struct SimObject {
  tql::id_t id;
  Kind kind = Kind::domain;
  std::string label;
  std::map<std::uint32_t, tql::property_ptr> properties;
  std::vector<std::unique_ptr<SimObject>> children;
  SimObject* parent = nullptr;  // not owned; null for the root
  tql::version_t version;
  // What the database reports about the object once it exists (ObjectSpec).
  std::optional<std::uint32_t> state;
  bool initialCheckin = false;
  std::uint32_t lateState = 3;

  std::uint32_t classNumber() const { return kindInfo(kind).classNumber; }
  const tql::property_t* property(std::uint32_t number) const;
};

class ObjectTree {
 public:
  // Builds the scenario's tree. Times given relative to the start count from
  // `start` (seconds since 1970). Throws EAtPlace for a dependsOn path that
  // names no object, a label used twice among siblings or an id used twice.
  ObjectTree(const ObjectSpec& root, std::int64_t start);
  ObjectTree(const ObjectTree&) = delete;
  ObjectTree& operator=(const ObjectTree&) = delete;

  SimObject& root() { return *root_; }
  const SimObject& root() const { return *root_; }
  std::int64_t start() const { return start_; }

  SimObject* find(const tql::id_t& id) const;
  // The object at a path of labels below the root ("HQ/web01/HTTP", blanks
  // around the slashes allowed); "/" is the root. Null when there is none.
  SimObject* findPath(std::string_view path) const;
  // The same, throwing EAtPlace at `pointer` with a text that says which
  // part of the path matched nothing and what was there instead.
  SimObject& resolve(std::string_view path, const std::string& pointer) const;

  // "HQ/web01/HTTP"; "/" for the root.
  std::string pathOf(const SimObject& object) const;
  // "HQ / web01 / HTTP"; the root's own label for the root.
  std::string displayPath(const SimObject& object) const;

  // Adds the object `desc` describes, with its subtree, as the last child of
  // `parent`. Throws EAtPlace (at the desc's places) when the kind does not
  // belong there or a label, id or dependsOn path is wrong; the tree is
  // unchanged then.
  SimObject& add(SimObject& parent, const ObjectSpec& desc);
  // Moves the object (with its subtree) to the end of `newParent`'s
  // children. Throws EAtPlace at `pointer` when that is impossible.
  void move(SimObject& object, SimObject& newParent, const std::string& pointer);
  // Deletes the object and its subtree. The root cannot go.
  void remove(SimObject& object, const std::string& pointer);
  // Sets the given property values; the object's version goes up.
  void change(SimObject& object, const PropertySpec& changes, const std::string& pointer);

  // Calls f(object) for every object, parents before children, in child
  // order.
  template <class F>
  void forEach(F&& f) const {
    visit(*root_, f);
  }

 private:
  template <class F>
  static void visit(const SimObject& object, F& f) {
    f(object);
    for (const auto& child : object.children) visit(*child, f);
  }

  std::unique_ptr<SimObject> build(const ObjectSpec& desc, SimObject* parent,
                                   std::vector<std::pair<SimObject*, const ObjectSpec*>>& built,
                                   std::vector<tql::id_t>& taken);
  void setValues(SimObject& object, const PropertySpec& values);
  // Explicit ids of the desc's subtree, refused when already in use.
  void reserveIds(const ObjectSpec& desc, std::vector<tql::id_t>& taken) const;
  tql::id_t freshId(std::vector<tql::id_t>& taken);
  void index(SimObject& object);
  void unindex(const SimObject& object);
  void checkLabelFree(const SimObject& parent, const std::string& label,
                      const std::string& pointer) const;
  std::unique_ptr<tql::property_object_set_t> dependencies(const std::vector<std::string>& paths,
                                                           const std::string& pointer) const;

  std::unique_ptr<SimObject> root_;
  std::unordered_map<tql::id_t, SimObject*> by_id_;
  std::uint32_t next_id_ = 1;
  std::int64_t start_;
};

// Runs the tree changes of the scenario's timeline once against a copy of
// its tree, so that a bad path or an impossible change is found before the
// run starts: every object an action names must exist at that point, have
// the kind the action needs, and every change must be one the tree can make.
// Expectations must name objects with a status. Throws EAtPlace.
void checkTimeline(const Scenario& scenario);

}  // namespace sim
