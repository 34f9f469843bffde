#include "keepers/radix_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "tql/id.h"

namespace keepers {
namespace {

RadixKey idKey(const tql::id_t& id) { return {id.orderHigh(), id.orderLow()}; }

// Ids of every length with components that differ in every byte, many
// repeated, in random order: sorted by bytes as the ids' own order sorts them.
TEST(RadixSort, SortsIdsAsTheirOrderDoes) {
  std::mt19937 random(7);
  const auto component = [&] {
    // Small numbers and ones with high bytes set, so that both skipped and
    // used byte positions occur.
    return random() % 3 == 0 ? random() : random() % 5;
  };
  for (const std::size_t n :
       {std::size_t{10}, std::size_t{100}, std::size_t{300}, std::size_t{5000}}) {
    std::vector<tql::id_t> ids;
    for (std::size_t i = 0; i < n; ++i) {
      tql::id_t id;
      const std::size_t length = random() % 4;
      for (std::size_t c = 0; c < length; ++c) id.push_back(component());
      ids.push_back(id);
    }
    std::vector<tql::id_t> expected = ids;
    std::sort(expected.begin(), expected.end());
    radixSort(ids, idKey);
    EXPECT_EQ(ids, expected) << n << " ids";
  }
}

// Equal keys keep their order, and a range whose keys share every byte is
// left as it is.
TEST(RadixSort, KeepsTheOrderOfEqualKeys) {
  struct Item {
    std::uint64_t key;
    int seq;
  };
  std::vector<Item> items;
  for (int i = 0; i < 1000; ++i)
    items.push_back({static_cast<std::uint64_t>((i * 7) % 3) << 40, i});
  radixSort(items, [](const Item& item) { return RadixKey{0, item.key}; });
  for (std::size_t i = 1; i < items.size(); ++i) {
    ASSERT_TRUE(items[i - 1].key < items[i].key ||
                (items[i - 1].key == items[i].key && items[i - 1].seq < items[i].seq))
        << i;
  }
  std::vector<Item> same(500, Item{42, 0});
  for (int i = 0; i < 500; ++i) same[static_cast<std::size_t>(i)].seq = i;
  radixSort(same, [](const Item& item) { return RadixKey{item.key, item.key}; });
  for (int i = 0; i < 500; ++i) EXPECT_EQ(same[static_cast<std::size_t>(i)].seq, i);
}

}  // namespace
}  // namespace keepers
