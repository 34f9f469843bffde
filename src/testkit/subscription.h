#pragma once
// Test-only (GoogleTest): builds select results and patches, records every
// hook call of a subscriber and its objects, checks the mirror's structure
// and prints it. Never include from library code.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tql/subscription/incremental_subscriber.h"

namespace testkit {

using tql::id_t;
using tql::IncrementalSubscriber;
using tql::object_ptr;
using tql::object_t;

using Object = IncrementalSubscriber::Object;

// A node with the given id, class and children:
//   node({0, 1}, node({1, 1}), node({1, 2}, node({1, 3})))
template <class... Children>
object_ptr node(id_t id, Children&&... children) {
  auto n = std::make_unique<object_t>();
  n->id = id;
  n->class_ = 3;
  (n->children.push_back(std::forward<Children>(children)), ...);
  return n;
}

// A node without an id, of class `cls`.
template <class... Children>
object_ptr anonymous(std::uint32_t cls, Children&&... children) {
  auto n = node(id_t(), std::forward<Children>(children)...);
  n->class_ = cls;
  return n;
}

inline object_ptr stamped(object_ptr n, std::uint64_t stamp) {
  n->version.minor = stamp;
  return n;
}

template <class... Trees>
dbms::Return_Tql_Select_Data selectReply(Trees&&... trees) {
  dbms::Return_Tql_Select_Data data;
  (data.res.push_back(std::forward<Trees>(trees)), ...);
  return data;
}

inline dbms::Return_Tql_Select_Patch_Data patchReply(id_t id, object_ptr chain) {
  dbms::Return_Tql_Select_Patch_Data data;
  data.id = id;
  data.patch = std::move(chain);
  return data;
}

inline dbms::Return_Tql_Select_Delete_Patch_Data deleteReply(id_t id) {
  dbms::Return_Tql_Select_Delete_Patch_Data data;
  data.id = id;
  return data;
}

// One hook call. `on` is the object the hook ran on, `child` the child
// argument of childAdded/childRemoved (else empty).
struct Call {
  enum Kind { kCreate, kUpdate, kAdded, kRemoved, kDestroy, kReceived, kApplied };
  Kind kind;
  id_t on;
  id_t child;
  bool top = false;
  const Object* object = nullptr;  // for kCreate and kDestroy

  // The hook with its flag: "update 0.1 top", "added 0.1 <- 1.2",
  // "removed 0.1 -> 1.2 top".
  std::string text() const;
};

// Shared by a subscriber and all its objects. The hooks check, as they run,
// what the subscriber promises at that moment (see RecordingObject).
struct Recorder {
  std::vector<Call> calls;
  std::set<const Object*> live;
};

class RecordingObject : public Object {
 public:
  RecordingObject(Recorder& recorder, Object* parent_, object_ptr node);
  ~RecordingObject() override;

  IncrementalSubscriber::ObjectPtr createChild(object_ptr node) override;
  void update(bool top) override;
  void childAdded(Object& child, bool top) override;
  void childRemoved(Object& child, bool top) override;

 private:
  Recorder& recorder_;
};

class RecordingSubscriber : public IncrementalSubscriber {
 public:
  Recorder recorder;
  ~RecordingSubscriber() override { deleteTree(); }

 protected:
  ObjectPtr createRoot(object_ptr node) override;
  void mark(Call::Kind kind) { recorder.calls.push_back({kind, {}, {}, false}); }
  void selectReceived(const dbms::Return_Tql_Select_Data&) override { mark(Call::kReceived); }
  void patchReceived(const dbms::Return_Tql_Select_Patch_Data&) override { mark(Call::kReceived); }
  void deletePatchReceived(const dbms::Return_Tql_Select_Delete_Patch_Data&) override {
    mark(Call::kReceived);
  }
  void selectApplied(const dbms::Return_Tql_Select_Data&) override { mark(Call::kApplied); }
  void patchApplied(const dbms::Return_Tql_Select_Patch_Data&) override { mark(Call::kApplied); }
  void deletePatchApplied(const dbms::Return_Tql_Select_Delete_Patch_Data&) override {
    mark(Call::kApplied);
  }
};

// Checks every structural promise of the mirror: each object's children
// match its node's children one to one (same nodes, `index` = position,
// `parent` set), and the index holds exactly the objects of the tree.
// Adds a test failure for each broken promise.
void expectConsistent(const IncrementalSubscriber& s);

// The tree in its nodes' order: "0.1[1.1 1.3[2.1] 1.2]"; "" when empty.
std::string dump(const IncrementalSubscriber& s);

}  // namespace testkit
