#include "meter/metric.h"

#include <algorithm>
#include <new>

#include "error/check.h"

namespace meter {

// Process-wide registration state. Metrics are constructed during static
// initialisation, in whatever order the files are initialised, and may be
// destroyed after any other static at exit; so this state is built on first
// use and never destroyed (it lives in static storage, not on the heap).
class Registry {
 public:
  static Registry& get() {
    alignas(Registry) static unsigned char storage[sizeof(Registry)];
    static Registry* registry = new (storage) Registry;
    return *registry;
  }

  void enlist(Object& object) {
    all_.push_back(&object);
    if (started_) {
      attach(object);
      return;
    }
    pendingOf(object.kind()).push_back(&object);
  }

  void delist(Object& object) {
    erase(all_, &object);
    if (object.added_to_ != nullptr) {
      object.added_to_->removeMember(object);
      return;
    }
    erase(pendingOf(object.kind()), &object);
  }

  void start() {
    started_ = true;
    for (Object::Kind kind : {Object::Kind::kGroup, Object::Kind::kTable, Object::Kind::kMetric}) {
      // Most recently constructed first.
      std::vector<Object*> pending;
      pending.swap(pendingOf(kind));
      for (auto it = pending.rbegin(); it != pending.rend(); ++it) attach(**it);
    }
  }

  void reset() {
    root_.detachAll();
    for (Object* object : all_) {
      if (object->kind() == Object::Kind::kGroup) static_cast<Group*>(object)->detachAll();
    }
    for (auto& list : pending_) list.clear();
    for (Object* object : all_) {
      object->added_to_ = nullptr;
      pendingOf(object->kind()).push_back(object);
    }
    started_ = false;
  }

  bool started() const { return started_; }
  Group& root() { return root_; }

 private:
  Registry() : root_(Object::RootTag{}) {}

  void attach(Object& object) {
    Group* parent = object.parent();
    (parent != nullptr ? *parent : root_).add(object);
  }

  std::vector<Object*>& pendingOf(Object::Kind kind) {
    return pending_[static_cast<std::size_t>(kind)];
  }

  static void erase(std::vector<Object*>& list, Object* object) {
    auto it = std::find(list.begin(), list.end(), object);
    if (it != list.end()) list.erase(it);
  }

  bool started_ = false;
  Group root_;
  // Every live object except the root, in construction order.
  std::vector<Object*> all_;
  // Objects constructed before start, per kind, in construction order.
  std::vector<Object*> pending_[3];
};

Object::Object(RootTag) : kind_(Kind::kGroup) {}

void Object::enlist() { Registry::get().enlist(*this); }

void Object::delist() { Registry::get().delist(*this); }

Group::Group(Group* parent, std::string name) : Object(Kind::kGroup, parent, std::move(name)) {
  enlist();
}

Group::Group(RootTag tag) : Object(tag) {}

Group::~Group() {
  detachAll();
  if (this != &root()) delist();
}

Table::Table(Group* parent, std::string name) : Object(Kind::kTable, parent, std::move(name)) {
  enlist();
}

Table::~Table() { delist(); }

Metric::Metric(Group* parent, std::string name, std::string unit, std::string description)
    : Object(Kind::kMetric, parent, std::move(name)),
      unit_(std::move(unit)),
      description_(std::move(description)) {
  enlist();
}

Metric::~Metric() { delist(); }

Object* Group::find(Path rest) {
  if (rest.empty()) return nullptr;
  auto it = members_.find(rest.front());
  if (it == members_.end()) return nullptr;
  return it->second->find(rest.subspan(1));
}

void Group::add(Object& object) {
  HX_CHECK(object.added_to_ == nullptr, "Metric object added twice: " + object.name());
  const bool inserted = members_.emplace(object.name(), &object).second;
  HX_CHECK(inserted, "Attempt to add duplicate metric name: " + object.name());
  object.added_to_ = this;
  switch (object.kind()) {
    case Kind::kGroup:
      groups_.push_back(static_cast<Group*>(&object));
      break;
    case Kind::kTable:
      tables_.push_back(static_cast<Table*>(&object));
      break;
    case Kind::kMetric:
      metrics_.push_back(static_cast<Metric*>(&object));
      break;
  }
}

void Group::removeMember(Object& object) {
  members_.erase(object.name());
  object.added_to_ = nullptr;
  auto drop = [&object](auto& list) {
    auto it = std::find(list.begin(), list.end(), &object);
    if (it != list.end()) list.erase(it);
  };
  drop(groups_);
  drop(tables_);
  drop(metrics_);
}

void Group::detachAll() {
  for (auto& [name, member] : members_) member->added_to_ = nullptr;
  members_.clear();
  groups_.clear();
  tables_.clear();
  metrics_.clear();
}

Group& root() { return Registry::get().root(); }

void start() { Registry::get().start(); }

bool started() { return Registry::get().started(); }

Object* find(Path path) { return root().find(path); }

void resetForTest() { Registry::get().reset(); }

}  // namespace meter
