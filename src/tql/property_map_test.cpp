#include "tql/property_map.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <stdexcept>

namespace tql {
namespace {

// Entries match when the numbers match and both hold the same int value
// (or both none): the map and the model own different property objects.
std::int32_t valueOf(const property_ptr& p) {
  return p == nullptr ? -1 : static_cast<const property_int_t&>(*p).value;
}

void expectSame(const PropertyMap& map, const std::map<std::uint32_t, property_ptr>& model) {
  ASSERT_EQ(map.size(), model.size());
  ASSERT_EQ(map.empty(), model.empty());
  auto m = model.begin();  // iteration in ascending number order
  for (const auto& [number, p] : map) {
    ASSERT_EQ(number, m->first);
    ASSERT_EQ(valueOf(p), valueOf(m->second)) << number;
    ++m;
  }
  for (std::uint32_t number = 0; number < 40; ++number) {
    const auto it = map.find(number);
    ASSERT_EQ(it == map.end() ? -2 : valueOf(it->second),
              model.contains(number) ? valueOf(model.at(number)) : -2)
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
  std::map<std::uint32_t, property_ptr> model;
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
        ASSERT_EQ(next == map.end() ? 99 : next->first,
                  modelNext == model.end() ? 99 : modelNext->first);
      }
    } else if (op % 4 == 0) {
      const auto [it, inserted] = map.emplace(number, value(number, v));
      ASSERT_EQ(inserted, model.emplace(number, value(number, v)).second);
      ASSERT_EQ(valueOf(it->second), valueOf(model[number]));
    } else if (op % 4 == 1) {
      ASSERT_EQ(map.insert_or_assign(number, value(number, v)).second,
                model.insert_or_assign(number, value(number, v)).second);
    } else if (op % 4 == 2) {
      map[number] = value(number, v);
      model[number] = value(number, v);
    } else {
      ASSERT_EQ(valueOf(map[number]), valueOf(model[number]));  // may insert an empty entry
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

}  // namespace
}  // namespace tql
