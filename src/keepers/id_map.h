#pragma once
// A registry from object id to keeper: tql::IdTable keyed by the keeper's
// own id(), with the calls the keepers make. A keeper registers under its
// id in its constructor and leaves in its destructor; id() reads a member of
// CountKeeper or PlanKeeper, the bases destroyed last, so it stays readable
// until then.
//
// Iteration yields the keepers in slot order, which says nothing about the
// ids; any change to the map invalidates iterators.
#include "error/check.h"
#include "tql/id.h"
#include "tql/id_table.h"

namespace keepers {

// The id a keeper is registered under.
struct KeeperId {
  template <class Keeper>
  const tql::id_t& operator()(const Keeper& keeper) const {
    return keeper.id();
  }
};

template <class T>
class IdMap : public tql::IdTable<T, KeeperId> {
  using Table = tql::IdTable<T, KeeperId>;

 public:
  // The keeper registered under `id`, or null.
  [[nodiscard]] T* get(const tql::id_t& id) const { return Table::find(id); }

  // Registers `value`, which must be the keeper of `id`, replacing the
  // keeper registered there before.
  void insert_or_assign(const tql::id_t& id, T* value) {
    HX_CHECK(value != nullptr, "IdMap cannot store a null pointer for " + id.toString());
    HX_CHECK(KeeperId{}(*value) == id, "IdMap cannot store the keeper of " +
                                           KeeperId{}(*value).toString() + " under " +
                                           id.toString());
    Table::insert_or_assign(value);
  }
};

}  // namespace keepers
