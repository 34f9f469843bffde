#include "keepers/radix_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "tql/id.h"

namespace keepers {
namespace {

// Ids of every length with components that differ in every byte, many
// repeated, in random order: sorted by bytes as the ids' own order sorts
// them.
TEST(RadixSort, SortsIdsAsTheirOrderDoes) {
  std::mt19937 random(7);
  const auto component = [&] {
    // Small numbers and ones with high bytes set, so that both skipped and
    // used byte positions occur.
    return random() % 3 == 0 ? random() : random() % 5;
  };
  for (const std::size_t n : {kRadixSortMinimum, kRadixSortMinimum + 5000}) {
    std::vector<tql::id_t> ids;
    for (std::size_t i = 0; i < n; ++i) {
      tql::id_t id;
      const std::size_t length = random() % 4;
      for (std::size_t c = 0; c < length; ++c) id.push_back(component());
      ids.push_back(id);
    }
    std::vector<tql::id_t> expected = ids;
    std::sort(expected.begin(), expected.end());
    radixSort(ids, idKey, std::less<tql::id_t>());
    EXPECT_EQ(ids, expected) << n << " ids";
  }
}

}  // namespace
}  // namespace keepers
