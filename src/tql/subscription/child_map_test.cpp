#include "tql/subscription/child_map.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

namespace tql {
namespace {

using Value = std::unique_ptr<int>;

void expectSame(const ChildMap<Value>& flat, const std::map<id_t, Value>& model) {
  ASSERT_EQ(flat.size(), model.size());
  EXPECT_EQ(flat.empty(), model.empty());
  auto m = model.begin();
  for (const auto& [id, value] : flat) {
    EXPECT_EQ(id, m->first);
    EXPECT_EQ(*value, *m->second);
    ++m;
  }
}

// Random insertions (in order, reversed and scattered, new ids and ids
// already there), lookups and erasures against a std::map; after every
// step both hold the same entries in the same order.
TEST(ChildMapTest, RandomOperationsMatchMap) {
  for (std::uint32_t seed = 0; seed < 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::uint32_t range = seed % 2 ? 16 : 300;
    ChildMap<Value> flat;
    std::map<id_t, Value> model;
    std::uint32_t ascending = 0;
    for (int step = 0; step < 2000; ++step) {
      const std::uint32_t n = rng() % range;
      const id_t id = n % 4 == 0 ? id_t{0, 0, n} : id_t{1, n};
      const int value = step;
      switch (rng() % 6) {
        case 0:
        case 1: {
          // Scattered insertion, hinted at the end as the mirror does; now
          // and then of the last id, which the appending path must refuse.
          const id_t key = !model.empty() && rng() % 4 == 0 ? model.rbegin()->first : id;
          Value v = std::make_unique<int>(value);
          const auto [it, inserted] = flat.try_emplace(flat.end(), key, std::move(v));
          const bool modelInserted = model.try_emplace(key, std::make_unique<int>(value)).second;
          EXPECT_EQ(inserted, modelInserted);
          EXPECT_EQ(it->first, key);
          // A refused insertion leaves the value with the caller.
          EXPECT_EQ(v == nullptr, inserted);
          break;
        }
        case 2: {
          // Appending in id order.
          const id_t next{2, ascending++};
          EXPECT_TRUE(flat.try_emplace(next, std::make_unique<int>(value)).second);
          model.try_emplace(next, std::make_unique<int>(value));
          break;
        }
        case 3: {
          const auto it = flat.find(id);
          EXPECT_EQ(it != flat.end(), model.contains(id));
          EXPECT_EQ(flat.contains(id), model.contains(id));
          if (it != flat.end()) {
            EXPECT_EQ(*it->second, *model.at(id));
            EXPECT_EQ(flat.at(id).get(), it->second.get());
          }
          break;
        }
        case 4: {
          const auto it = flat.find(id);
          if (it != flat.end()) flat.erase(it);
          model.erase(id);
          break;
        }
        default:
          EXPECT_EQ(flat.erase(id), model.erase(id));
          break;
      }
      expectSame(flat, model);
    }
  }
}

TEST(ChildMapTest, AtOfMissingIdThrowsAndSwapExchanges) {
  ChildMap<Value> a;
  ChildMap<Value> b;
  EXPECT_THROW(a.at(id_t{1}), std::out_of_range);
  a.try_emplace(id_t{3}, std::make_unique<int>(3));
  a.try_emplace(id_t{1}, std::make_unique<int>(1));
  a.swap(b);
  EXPECT_TRUE(a.empty());
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b.begin()->first, id_t{1});
  EXPECT_EQ(*b.at(id_t{3}), 3);
}

}  // namespace
}  // namespace tql
