#include "sim/object_tree.h"

#include <algorithm>
#include <cmath>

#include "events/event_json.h"
#include "tql/schema.h"

namespace sim {

using events::childPointer;

const tql::property_t* SimObject::property(std::uint32_t number) const {
  const auto it = properties.find(number);
  return it == properties.end() ? nullptr : it->second.get();
}

namespace {

std::string trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

std::vector<std::string> splitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t slash = path.find('/', begin);
    parts.push_back(trim(path.substr(begin, slash - begin)));
    if (slash == std::string_view::npos) return parts;
    begin = slash + 1;
  }
}

SimObject* childLabelled(const SimObject& parent, const std::string& label) {
  for (const auto& child : parent.children) {
    if (child->label == label) return child.get();
  }
  return nullptr;
}

bool isDateProperty(std::uint32_t number) {
  return number == tql::prop::endTime || number == tql::prop::date;
}

std::string article(const std::string& word) {
  return (std::string("aeiou").find(word.front()) != std::string::npos ? "an " : "a ") + word;
}

}  // namespace

ObjectTree::ObjectTree(const ObjectSpec& root, std::int64_t start) : start_(start) {
  std::vector<std::pair<SimObject*, const ObjectSpec*>> built;
  std::vector<tql::id_t> taken;
  reserveIds(root, taken);
  root_ = build(root, nullptr, built, taken);
  for (auto& [object, desc] : built) index(*object);
  for (auto& [object, desc] : built) {
    if (desc->properties.dependsOn) {
      object->properties[tql::prop::dependsOn] =
          dependencies(*desc->properties.dependsOn, childPointer(desc->pointer, "dependsOn"));
    }
  }
}

void ObjectTree::reserveIds(const ObjectSpec& desc, std::vector<tql::id_t>& taken) const {
  if (desc.id) {
    if (find(*desc.id) != nullptr ||
        std::find(taken.begin(), taken.end(), *desc.id) != taken.end()) {
      throw EAtPlace(childPointer(desc.pointer, "id"),
                     "the id " + desc.id->toString() + " is already taken");
    }
    taken.push_back(*desc.id);
  }
  for (const ObjectSpec& child : desc.children) reserveIds(child, taken);
}

std::unique_ptr<SimObject> ObjectTree::build(
    const ObjectSpec& desc, SimObject* parent,
    std::vector<std::pair<SimObject*, const ObjectSpec*>>& built, std::vector<tql::id_t>& taken) {
  auto object = std::make_unique<SimObject>();
  object->kind = desc.kind;
  object->label = desc.label;
  object->parent = parent;
  object->version = {1, 0};
  object->state = desc.state;
  object->initialCheckin = desc.initialCheckin;
  object->lateState = desc.lateState;
  object->id = desc.id ? *desc.id : freshId(taken);
  setValues(*object, desc.properties);
  built.emplace_back(object.get(), &desc);
  for (const ObjectSpec& childSpec : desc.children) {
    checkLabelFree(*object, childSpec.label, childPointer(childSpec.pointer, "label"));
    object->children.push_back(build(childSpec, object.get(), built, taken));
  }
  return object;
}

void ObjectTree::setValues(SimObject& object, const PropertySpec& values) {
  for (const auto& [number, p] : values.values) object.properties[number] = p->clone();
  for (const auto& [number, seconds] : values.relative) {
    const auto when = static_cast<std::int64_t>(std::floor(static_cast<double>(start_) + seconds));
    if (isDateProperty(number)) {
      object.properties[number] = std::make_unique<tql::property_date_t>(number, when);
    } else {
      object.properties[number] =
          std::make_unique<tql::property_int_t>(number, static_cast<std::int32_t>(when));
    }
  }
}

tql::id_t ObjectTree::freshId(std::vector<tql::id_t>& taken) {
  for (;;) {
    const tql::id_t id{1, next_id_++};
    if (find(id) != nullptr || std::find(taken.begin(), taken.end(), id) != taken.end()) continue;
    taken.push_back(id);
    return id;
  }
}

void ObjectTree::index(SimObject& object) { by_id_[object.id] = &object; }

void ObjectTree::unindex(const SimObject& object) {
  by_id_.erase(object.id);
  for (const auto& child : object.children) unindex(*child);
}

void ObjectTree::checkLabelFree(const SimObject& parent, const std::string& label,
                                const std::string& pointer) const {
  if (childLabelled(parent, label) != nullptr) {
    throw EAtPlace(pointer, displayPath(parent) + " already has a child labelled \"" + label +
                                "\"; labels must differ among siblings");
  }
}

std::unique_ptr<tql::property_object_set_t> ObjectTree::dependencies(
    const std::vector<std::string>& paths, const std::string& pointer) const {
  auto set =
      std::make_unique<tql::property_object_set_t>(tql::prop::dependsOn, std::set<tql::id_t>{});
  for (std::size_t i = 0; i < paths.size(); ++i) {
    set->value.insert(resolve(paths[i], childPointer(pointer, i)).id);
  }
  return set;
}

SimObject* ObjectTree::find(const tql::id_t& id) const {
  const auto it = by_id_.find(id);
  return it == by_id_.end() ? nullptr : it->second;
}

SimObject* ObjectTree::findPath(std::string_view path) const {
  if (trim(path) == "/") return root_.get();
  SimObject* at = root_.get();
  for (const std::string& label : splitPath(path)) {
    at = childLabelled(*at, label);
    if (at == nullptr) return nullptr;
  }
  return at;
}

SimObject& ObjectTree::resolve(std::string_view path, const std::string& pointer) const {
  if (trim(path) == "/") return *root_;
  SimObject* at = root_.get();
  for (const std::string& label : splitPath(path)) {
    SimObject* next = childLabelled(*at, label);
    if (next == nullptr) {
      std::string there;
      for (const auto& child : at->children) there += (there.empty() ? "" : ", ") + child->label;
      throw EAtPlace(pointer, "no object \"" + std::string(path) + "\": " + displayPath(*at) +
                                  " has no child labelled \"" + label + "\"" +
                                  (there.empty() ? " (it has no children)"
                                                 : " (its children: " + there + ")"));
    }
    at = next;
  }
  return *at;
}

std::string ObjectTree::pathOf(const SimObject& object) const {
  if (object.parent == nullptr) return "/";
  std::string path = object.label;
  for (const SimObject* p = object.parent; p->parent != nullptr; p = p->parent) {
    path = p->label + "/" + path;
  }
  return path;
}

std::string ObjectTree::displayPath(const SimObject& object) const {
  if (object.parent == nullptr) return object.label;
  std::string path = object.label;
  for (const SimObject* p = object.parent; p->parent != nullptr; p = p->parent) {
    path = p->label + " / " + path;
  }
  return path;
}

SimObject& ObjectTree::add(SimObject& parent, const ObjectSpec& desc) {
  if (!mayContain(parent.kind, desc.kind)) {
    throw EAtPlace(desc.pointer, article(kindInfo(desc.kind).title) + " cannot be placed under " +
                                     article(kindInfo(parent.kind).title) + " (" +
                                     displayPath(parent) + ")");
  }
  checkLabelFree(parent, desc.label, childPointer(desc.pointer, "label"));
  std::vector<std::pair<SimObject*, const ObjectSpec*>> built;
  std::vector<tql::id_t> taken;
  reserveIds(desc, taken);
  std::unique_ptr<SimObject> object = build(desc, &parent, built, taken);
  // Paths are resolved with the new subtree in place (it may refer to
  // itself), and everything is taken out again if one of them is wrong.
  SimObject& added = *parent.children.emplace_back(std::move(object));
  for (auto& [o, s] : built) index(*o);
  try {
    for (auto& [o, s] : built) {
      if (s->properties.dependsOn) {
        o->properties[tql::prop::dependsOn] =
            dependencies(*s->properties.dependsOn, childPointer(s->pointer, "dependsOn"));
      }
    }
  } catch (...) {
    unindex(added);
    parent.children.pop_back();
    throw;
  }
  return added;
}

void ObjectTree::move(SimObject& object, SimObject& newParent, const std::string& pointer) {
  if (object.parent == nullptr) throw EAtPlace(pointer, "the root of the tree cannot move");
  for (const SimObject* p = &newParent; p != nullptr; p = p->parent) {
    if (p == &object) {
      throw EAtPlace(pointer, displayPath(object) + " cannot move below itself");
    }
  }
  if (!mayContain(newParent.kind, object.kind)) {
    throw EAtPlace(pointer, article(kindInfo(object.kind).title) + " cannot be placed under " +
                                article(kindInfo(newParent.kind).title) + " (" +
                                displayPath(newParent) + ")");
  }
  if (object.parent == &newParent) return;
  checkLabelFree(newParent, object.label, pointer);
  auto& siblings = object.parent->children;
  const auto it = std::find_if(siblings.begin(), siblings.end(),
                               [&](const auto& child) { return child.get() == &object; });
  std::unique_ptr<SimObject> owned = std::move(*it);
  siblings.erase(it);
  owned->parent = &newParent;
  ++owned->version.major;
  newParent.children.push_back(std::move(owned));
}

void ObjectTree::remove(SimObject& object, const std::string& pointer) {
  if (object.parent == nullptr) throw EAtPlace(pointer, "the root of the tree cannot be deleted");
  unindex(object);
  auto& siblings = object.parent->children;
  siblings.erase(std::find_if(siblings.begin(), siblings.end(),
                              [&](const auto& child) { return child.get() == &object; }));
}

void ObjectTree::change(SimObject& object, const PropertySpec& changes,
                        const std::string& pointer) {
  std::unique_ptr<tql::property_object_set_t> deps;
  if (changes.dependsOn)
    deps = dependencies(*changes.dependsOn, childPointer(pointer, "dependsOn"));
  setValues(object, changes);
  if (deps) object.properties[tql::prop::dependsOn] = std::move(deps);
  ++object.version.major;
}

// --- The dry run ---

namespace {

SimObject& withStatus(const ObjectTree& tree, const std::string& path, const std::string& at) {
  SimObject& object = tree.resolve(path, at);
  if (!hasStatus(object.kind)) {
    throw EAtPlace(at, tree.displayPath(object) + " is " + article(kindInfo(object.kind).title) +
                           ", which has no status of its own (nodes, checks, check accumulations "
                           "and domain exports have)");
  }
  return object;
}

void dryRun(ObjectTree& tree, const Action& a) {
  const std::string at = a.pointer;
  switch (a.type) {
    case ActionType::state:
    case ActionType::acknowledge:
    case ActionType::reset:
      withStatus(tree, a.object, childPointer(at, "object"));
      return;
    case ActionType::states:
      for (const auto& [path, state] : a.states) {
        withStatus(tree, path, childPointer(childPointer(at, "states"), path));
      }
      return;
    case ActionType::checkin: {
      SimObject& node = tree.resolve(a.object, childPointer(at, "object"));
      if (node.kind != Kind::node) {
        throw EAtPlace(childPointer(at, "object"),
                       tree.displayPath(node) + " is not a node; only nodes check in");
      }
      return;
    }
    case ActionType::set: {
      SimObject& object = tree.resolve(a.object, childPointer(at, "object"));
      const PropertySpec changes =
          parsePropertyChanges(object.kind, a.properties, childPointer(at, "properties"));
      tree.change(object, changes, childPointer(at, "properties"));
      return;
    }
    case ActionType::add:
      tree.add(tree.resolve(a.object, childPointer(at, "parent")), *a.added);
      return;
    case ActionType::move:
      tree.move(tree.resolve(a.object, childPointer(at, "object")),
                tree.resolve(a.target, childPointer(at, "to")), childPointer(at, "to"));
      return;
    case ActionType::remove:
      tree.remove(tree.resolve(a.object, childPointer(at, "object")), childPointer(at, "object"));
      return;
    case ActionType::note:
    case ActionType::kill:
    case ActionType::end:
      return;
  }
}

}  // namespace

void checkTimeline(const Scenario& scenario) {
  ObjectTree tree(scenario.root, 0);
  for (const Action& a : scenario.timeline) {
    if (a.at > scenario.endsAt) break;
    dryRun(tree, a);
  }
  for (const Expectation& e : scenario.expect) withStatus(tree, e.object, e.pointer);
}

}  // namespace sim
