#include "keepers/id_map.h"

#include <gtest/gtest.h>

namespace keepers {
namespace {

// The table itself is tested with tql::IdTable; here only what the registry
// adds: a keeper is found under its own id and only there.
struct Keeper {
  tql::id_t id_;
  const tql::id_t& id() const { return id_; }
};

TEST(IdMapDeathTest, RegistersAKeeperOnlyUnderItsOwnId) {
  Keeper a{{1, 2}}, b{{1, 2}};
  IdMap<Keeper> map;
  map.insert_or_assign({1, 2}, &a);
  EXPECT_EQ(map.get({1, 2}), &a);
  map.insert_or_assign({1, 2}, &b);
  EXPECT_EQ(map.get({1, 2}), &b);
  EXPECT_EQ(map.size(), 1u);
  EXPECT_TRUE(map.erase({1, 2}));
  EXPECT_DEATH(map.insert_or_assign({1, 3}, &a),
               "Assertion failed: IdMap cannot store the keeper of 1.2 under 1.3");
  EXPECT_DEATH(map.insert_or_assign({1, 3}, nullptr),
               "Assertion failed: IdMap cannot store a null pointer for 1.3");
}

}  // namespace
}  // namespace keepers
