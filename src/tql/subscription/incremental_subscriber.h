#pragma once
// Keeps a live mirror of a standing TQL select. The DBMS answers the select
// once with the full result (RETURN_TQL_SELECT) and then sends changes:
// RETURN_TQL_SELECT_PATCH replaces an object with its subtree in place or
// moves it under another parent, RETURN_TQL_SELECT_DELETE_PATCH removes an
// object with its subtree. The subscriber applies these replies to a tree of
// Objects, one per mirrored tql::object_t, and tells each Object through its
// virtual hooks what happened to it and to its children.
//
// Derive from Object to react to changes (createChild builds the derived
// object of every child) and from IncrementalSubscriber to choose the root's
// class (createRoot). The hooks run in this order:
//   - a new object: its parent's createChild, then the children's subtrees,
//     each announced with childAdded on the new object, then childAdded on
//     its parent;
//   - a replaced object: its children are merged first (kept ones get
//     update(false), new ones are built and announced, vanished ones get
//     childRemoved and are destroyed), then update on the object itself;
//   - a removed object: childRemoved on its parent, then its subtree is
//     destroyed children first, each child announced with childRemoved(false)
//     on its parent before it goes, so an Object's destructor always runs
//     while its parent still exists.
// The flag of update, childAdded and childRemoved is true exactly for the
// object at the top of a change: the patched object (or the root after a full
// result), the insertion point of a patch, the object named by a delete patch
// or moved away by a patch.
//
// Siblings are kept dense: a removed child's slot in its parent's node is
// filled by the last child, and new children are appended, so applying one
// patch costs time in the depth of its chain and the size of the replaced
// subtree, never in the size of the mirror.
//
// Every inconsistency between a reply and the mirror is a failed check
// ("Assertion failed: ..."), as the DBMS guarantees consistent replies. An
// exception thrown by createChild (a child the derived class refuses) while
// building a new subtree leaves no trace of that subtree; thrown in the
// middle of merging a replaced object, it leaves the tree safe to delete but
// only partly updated.
//
// Main thread only.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "queues/dbms.h"
#include "queues/event.h"
#include "queues/tql_values.h"
#include "tql/id.h"
#include "tql/id_table.h"
#include "tql/subscription/child_map.h"

namespace tql {

class IncrementalSubscriber {
 public:
  class Object;
  using ObjectPtr = std::unique_ptr<Object>;
  // The id an object is indexed under: indexId of its node, read from the
  // node whenever the index needs it (an object's node keeps its index id
  // while the object is indexed).
  struct IndexKey {
    id_t operator()(const Object& o) const;
  };
  // Every object of the tree by its index id (see indexId).
  using Index = IdTable<Object, IndexKey>;

  // One mirrored object. Fields are public so that derived objects can walk
  // the tree; they are maintained by the subscriber and must not be changed
  // by anyone else.
  class Object {
   public:
    // Builds a detached object (index -1) that owns `node`; parent is null
    // for the root.
    Object(Object* parent_, object_ptr node);
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // The parent object; null for the root.
    Object* parent;
    // Position of `object` in the parent's node's `children`; -1 when
    // detached and for the root.
    std::int32_t index;
    // The node currently mirrored. Its `children` point at the children's
    // own nodes (each child object owns its node): read them, never change
    // them.
    object_ptr object;
    // The child objects, ordered by index id.
    ChildMap<ObjectPtr> children;

    // Runs while the parent (if any) still exists and after every child was
    // destroyed.
    virtual ~Object();
    // Builds the object of a new child: its parent must be this object and
    // its `object` the given node (the subscriber checks both). The base
    // builds a plain Object.
    virtual ObjectPtr createChild(object_ptr node);
    // `object` was replaced by a newer node (children already merged); top
    // is true when this object is the top of the change.
    virtual void update(bool top);
    // `child` was attached (it is in `children`, its index is set); top is
    // true only for the insertion point of a patch.
    virtual void childAdded(Object& child, bool top);
    // `child` is about to be detached and destroyed; top is true only for
    // the object named by a delete patch or moved away by a patch.
    virtual void childRemoved(Object& child, bool top);
  };

  IncrementalSubscriber() = default;
  IncrementalSubscriber(const IncrementalSubscriber&) = delete;
  IncrementalSubscriber& operator=(const IncrementalSubscriber&) = delete;
  // A tree still present is deleted here, children first; owners whose
  // objects touch other process-wide state call deleteTree() earlier.
  virtual ~IncrementalSubscriber();

  // Applies a RETURN_TQL_SELECT, RETURN_TQL_SELECT_PATCH or
  // RETURN_TQL_SELECT_DELETE_PATCH (taking the trees out of its data) and
  // returns true; returns false for any other event. The caller routes here
  // only the replies to its standing select.
  bool handle(queues::event& ev);
  // The same three steps on bare payloads, hooks included.
  void handleSelect(dbms::Return_Tql_Select_Data& data);
  void handlePatch(dbms::Return_Tql_Select_Patch_Data& data);
  void handleDeletePatch(const dbms::Return_Tql_Select_Delete_Patch_Data& data);

  // Deletes the whole tree, children first, with the same hooks as a delete.
  void deleteTree();

  Object* root() const { return root_.get(); }
  // The object mirrored under `id`, or null.
  Object* find(const id_t& id) const;
  const Index& index() const { return index_; }

  // The id an object is indexed under: its own, or 0.0.class for an object
  // without an id.
  static id_t indexId(const object_t& node);

 protected:
  // Builds the root object for `node`; the base builds a plain Object.
  virtual ObjectPtr createRoot(object_ptr node);
  // Called before a whole tree of `objects` objects is built, so that a
  // subclass can make room for what it keeps per object.
  virtual void treeArriving(std::size_t /*objects*/) {}
  // Called before a reply is applied; the data is intact.
  virtual void selectReceived(const dbms::Return_Tql_Select_Data& data);
  virtual void patchReceived(const dbms::Return_Tql_Select_Patch_Data& data);
  virtual void deletePatchReceived(const dbms::Return_Tql_Select_Delete_Patch_Data& data);
  // Called after a reply was applied; its trees now belong to the mirror.
  virtual void selectApplied(const dbms::Return_Tql_Select_Data& data);
  virtual void patchApplied(const dbms::Return_Tql_Select_Patch_Data& data);
  virtual void deletePatchApplied(const dbms::Return_Tql_Select_Delete_Patch_Data& data);

 private:
  void setRoot(object_ptr tree);
  void patch(const id_t& id, object_ptr chain);
  void deletePatch(const id_t& id);
  void insertChain(const id_t& id, object_ptr chain);

  ObjectPtr buildSubtree(Object* parent, object_ptr node);
  void buildChildAt(Object& parent, std::size_t position, bool top);
  void merge(Object& o, object_ptr node);
  void deleteSubtree(ObjectPtr o);
  ObjectPtr detachFromParent(Object& o, bool relocating);
  void discard(ObjectPtr o) noexcept;
  void indexInsert(Object& o);
  void indexErase(const Object& o) noexcept;

  Index index_;
  ObjectPtr root_;
};

inline id_t IncrementalSubscriber::IndexKey::operator()(const Object& o) const {
  return indexId(*o.object);
}

}  // namespace tql
