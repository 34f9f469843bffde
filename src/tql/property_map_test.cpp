#include "tql/property_map.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <stdexcept>

namespace tql {
namespace {

// The model's entries: number to int value. The map's values are filed under
// their own numbers, so the model keeps what the map should hold.
using Model = std::map<std::uint32_t, std::int32_t>;

std::int32_t valueOf(const property_t& p) { return static_cast<const property_int_t&>(p).value; }

// Every number from 0 to 40 (one past the largest used), so that lookups
// before, between and after the entries are covered.
void expectSame(const PropertyMap& map, const Model& model) {
  ASSERT_EQ(map.size(), model.size());
  ASSERT_EQ(map.empty(), model.empty());
  auto m = model.begin();  // iteration in ascending number order
  for (const property_ptr& p : map) {
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->property, m->first);
    ASSERT_EQ(valueOf(*p), m->second) << m->first;
    ++m;
  }
  for (std::uint32_t number = 0; number <= 40; ++number) {
    const auto it = map.find(number);
    const auto expected = model.find(number);
    ASSERT_EQ(it == map.end() ? -2 : valueOf(**it), expected == model.end() ? -2 : expected->second)
        << number;
    ASSERT_EQ(map.contains(number), model.contains(number)) << number;
    const auto lower = map.lower_bound(number);
    const auto modelLower = model.lower_bound(number);
    ASSERT_EQ(lower == map.end() ? 99u : std::uint32_t{(*lower)->property},
              modelLower == model.end() ? 99u : modelLower->first)
        << number;
  }
}

property_ptr value(std::uint32_t number, std::int32_t v) {
  return std::make_unique<property_int_t>(number, v);
}

// Random operations of every kind over numbers 0 to 39, so that entries go
// in before, between and after others, checked against std::map.
TEST(PropertyMapTest, BehavesAsAnOrderedMapUnderRandomChanges) {
  std::mt19937 random(11);
  PropertyMap map;
  Model model;
  for (int step = 0; step < 30000; ++step) {
    SCOPED_TRACE(step);
    const std::uint32_t number = random() % 40;
    const auto v = static_cast<std::int32_t>(random() % 1000);
    const bool growing = (step / 3000) % 2 == 0;  // up to about 30 entries, then down
    const unsigned op = random() % 8;
    if (op < 4 && !growing) {
      if (op % 2 == 0) {
        ASSERT_EQ(map.erase(number), model.erase(number));
      } else if (const auto it = map.find(number); it != map.end()) {
        const auto next = map.erase(it);  // the entry after the erased one
        const auto modelNext = model.erase(model.find(number));
        ASSERT_EQ(next == map.end() ? 99u : std::uint32_t{(*next)->property},
                  modelNext == model.end() ? 99u : modelNext->first);
      }
    } else if (op % 2 == 0) {
      // Keeps a present value; points at the entry under the number.
      const auto [it, inserted] = map.insert(value(number, v));
      ASSERT_EQ(inserted, model.emplace(number, v).second);
      ASSERT_EQ(valueOf(**it), model.at(number));
      ASSERT_EQ((*it)->property, number);
    } else {
      const auto [it, inserted] = map.insert_or_assign(value(number, v));
      ASSERT_EQ(inserted, model.insert_or_assign(number, v).second);
      ASSERT_EQ(valueOf(**it), v);
    }
    if (step % 53 == 0) expectSame(map, model);
    if (step == 20000) {
      map.clear();
      model.clear();
    }
  }
  expectSame(map, model);
  EXPECT_THROW(map.at(40), std::out_of_range);
}

// A replaced value is gone (the map owned it); a kept one is the same object.
TEST(PropertyMapTest, InsertKeepsAndInsertOrAssignReplacesTheValueObject) {
  PropertyMap map;
  auto first = value(5, 1);
  const property_t* original = first.get();
  map.insert(std::move(first));
  EXPECT_FALSE(map.insert(value(5, 2)).second);
  EXPECT_EQ(map.at(5).get(), original);
  auto replacement = value(5, 3);
  const property_t* replaced = replacement.get();
  EXPECT_FALSE(map.insert_or_assign(std::move(replacement)).second);
  EXPECT_EQ(map.at(5).get(), replaced);
  EXPECT_EQ(map.size(), 1u);
}

// Numbers at both ends of the range, with and without the null flag that
// shares their word, file and find as any other.
TEST(PropertyMapTest, ExtremeNumbersAndNullFlags) {
  PropertyMap map;
  map.reserve(4);
  for (const std::uint32_t number : {kMaxPropertyNumber, 0u, kMaxPropertyNumber - 1, 1u}) {
    auto p = value(number, static_cast<std::int32_t>(number % 1000));
    p->isNull = number % 2 == 1;
    map.insert(std::move(p));
  }
  EXPECT_EQ(map.capacity(), 4u);  // reserved exactly, no doubling
  std::vector<std::uint32_t> numbers;
  for (const property_ptr& p : map) {
    numbers.push_back(p->property);
    EXPECT_EQ(p->isNull, p->property % 2 == 1) << p->property;
  }
  EXPECT_EQ(numbers,
            (std::vector<std::uint32_t>{0, 1, kMaxPropertyNumber - 1, kMaxPropertyNumber}));
  ASSERT_TRUE(map.contains(kMaxPropertyNumber));
  EXPECT_TRUE(map.at(kMaxPropertyNumber)->isNull);
  EXPECT_FALSE(map.contains(kMaxPropertyNumber - 2));
}

}  // namespace
}  // namespace tql
