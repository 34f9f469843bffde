#include "tql/property_map.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

namespace tql {
namespace {

// The map and the model own different property objects: an entry matches
// when the numbers match and both hold the same int value (or both none).
std::int32_t valueOf(const property_ptr& p) {
  return p == nullptr ? -1 : static_cast<const property_int_t&>(*p).value;
}

void expectSame(const PropertyMap& map, const std::map<std::uint32_t, property_ptr>& model,
                int step) {
  ASSERT_EQ(map.size(), model.size()) << "step " << step;
  ASSERT_EQ(map.empty(), model.empty()) << "step " << step;
  // Iteration is in ascending number order, as the map's.
  auto m = model.begin();
  for (const auto& [number, p] : map) {
    ASSERT_NE(m, model.end()) << "step " << step;
    ASSERT_EQ(number, m->first) << "step " << step;
    ASSERT_EQ(valueOf(p), valueOf(m->second)) << number << " at step " << step;
    ++m;
  }
  for (std::uint32_t number = 0; number < 40; ++number) {
    const auto it = map.find(number);
    ASSERT_EQ(it != map.end(), model.contains(number)) << number << " at step " << step;
    ASSERT_EQ(map.count(number), model.count(number)) << number << " at step " << step;
    if (it != map.end()) {
      ASSERT_EQ(it->first, number);
    }
  }
}

property_ptr value(std::uint32_t number, std::int32_t v) {
  return std::make_unique<property_int_t>(number, v);
}

// Random operations of every kind over numbers 0 to 39 (so that inserts land
// before, between and after existing entries), checked against std::map.
TEST(PropertyMapTest, BehavesAsAnOrderedMapUnderRandomChanges) {
  std::mt19937 random(11);
  PropertyMap map;
  std::map<std::uint32_t, property_ptr> model;
  expectSame(map, model, -1);
  for (int step = 0; step < 30000; ++step) {
    const std::uint32_t number = random() % 40;
    const auto v = static_cast<std::int32_t>(random() % 1000);
    // Grow to about 30 entries, then shrink, then grow again.
    const bool growing = (step / 3000) % 2 == 0;
    const unsigned op = random() % 8;
    if (op < 4 && !growing) {
      if (op % 2 == 0) {
        ASSERT_EQ(map.erase(number), model.erase(number)) << number;
      } else {
        const auto it = map.find(number);
        if (it != map.end()) {
          const auto next = map.erase(it);
          // Erasing returns the entry after the erased one.
          const auto modelNext = model.erase(model.find(number));
          ASSERT_EQ(next == map.end(), modelNext == model.end());
          if (next != map.end()) {
            ASSERT_EQ(next->first, modelNext->first);
          }
        }
      }
    } else if (op == 0 || op == 4) {
      const auto [it, inserted] = map.emplace(number, value(number, v));
      const auto [mit, minserted] = model.emplace(number, value(number, v));
      ASSERT_EQ(inserted, minserted) << number;
      ASSERT_EQ(it->first, number);
      ASSERT_EQ(valueOf(it->second), valueOf(mit->second));
    } else if (op == 1 || op == 5) {
      const auto [it, inserted] = map.insert_or_assign(number, value(number, v));
      ASSERT_EQ(inserted, model.insert_or_assign(number, value(number, v)).second) << number;
      ASSERT_EQ(valueOf(it->second), v);
    } else if (op == 2 || op == 6) {
      map[number] = value(number, v);
      model[number] = value(number, v);
    } else {
      // operator[] on a missing number inserts an empty entry, as std::map's.
      ASSERT_EQ(valueOf(map[number]), valueOf(model[number])) << number;
    }
    if (step % 53 == 0) expectSame(map, model, step);
    if (step == 20000) {
      map.clear();
      model.clear();
      expectSame(map, model, step);
    }
  }
  expectSame(map, model, -1);
}

TEST(PropertyMapTest, AtThrowsForAMissingNumberAndEqualityComparesEntries) {
  PropertyMap a;
  a.emplace(5, value(5, 1));
  EXPECT_EQ(valueOf(a.at(5)), 1);
  EXPECT_THROW(a.at(4), std::out_of_range);
  EXPECT_THROW(std::as_const(a).at(6), std::out_of_range);

  // Equality is that of std::map of owning pointers: the same numbers with
  // the same value objects.
  PropertyMap b;
  EXPECT_FALSE(a == b);
  b.emplace(5, nullptr);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(PropertyMap() == PropertyMap());
  PropertyMap moved = std::move(a);
  EXPECT_EQ(valueOf(moved.at(5)), 1);
}

}  // namespace
}  // namespace tql
