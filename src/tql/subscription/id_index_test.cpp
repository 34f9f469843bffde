#include "tql/subscription/id_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

namespace tql {
namespace {

struct Thing {
  int n = 0;
};

// Random insertions, overwrites and erasures (matching and not) against a
// std::map. Crowded tables of many id families make probe runs wrap around
// the table's end, so that erasures shift entries back across it; after
// every step every id of the family is looked up.
TEST(IdIndexTest, RandomOperationsMatchMap) {
  Thing things[2];
  for (std::uint32_t family = 0; family < 24; ++family) {
    const std::uint32_t range = family % 3 == 0 ? 200 : 24;
    SCOPED_TRACE("family " + std::to_string(family));
    std::mt19937 rng(family);
    IdIndex<Thing> index;
    std::map<id_t, Thing*> model;
    const auto idOf = [family](std::uint32_t n) {
      return n % 3 == 0 ? id_t{n, family} : id_t{family, n, n % 5};
    };
    for (int step = 0; step < 3000; ++step) {
      const id_t id = idOf(rng() % range);
      Thing* value = &things[rng() % 2];
      if (rng() % 100 < 60) {
        index.assign(id, value);
        model[id] = value;
      } else {
        const auto it = model.find(id);
        const bool matches = it != model.end() && it->second == value;
        ASSERT_EQ(index.eraseIf(id, value), matches);
        if (matches) model.erase(it);
      }
      for (std::uint32_t n = 0; n < range; ++n) {
        const auto it = model.find(idOf(n));
        ASSERT_EQ(index.find(idOf(n)), it == model.end() ? nullptr : it->second) << idOf(n);
      }
      ASSERT_EQ(index.size(), model.size());
    }
    std::map<id_t, Thing*> listed;
    for (const auto& [id, value] : index) listed[id] = value;
    EXPECT_EQ(listed, model);
  }
}

TEST(IdIndexTest, EmptyAndReservedTablesAnswerLikeFilledOnes) {
  IdIndex<Thing> index;
  Thing a, b;
  EXPECT_EQ(index.find({1}), nullptr);
  EXPECT_FALSE(index.eraseIf({1}, &a));
  EXPECT_EQ(index.begin(), index.end());
  index.reserve(1000);
  EXPECT_EQ(index.find({1}), nullptr);
  for (std::uint32_t i = 0; i < 1000; ++i) index.assign({0, i}, i % 2 ? &a : &b);
  index.reserve(10);  // never shrinks
  for (std::uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(index.find({0, i}), i % 2 ? &a : &b);
  EXPECT_FALSE(index.eraseIf({0, 1}, &b));
  EXPECT_TRUE(index.eraseIf({0, 1}, &a));
  EXPECT_EQ(index.size(), 999u);
  index.clear();
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(index.find({0, 2}), nullptr);
}

}  // namespace
}  // namespace tql
