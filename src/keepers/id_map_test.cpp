#include "keepers/id_map.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace keepers {
namespace {

// Values are addresses of these; only their identity matters.
int values[4];

void expectSame(const IdMap<int>& map, const std::map<tql::id_t, int*>& model,
                const std::vector<tql::id_t>& ids, int step) {
  ASSERT_EQ(map.size(), model.size()) << "step " << step;
  ASSERT_EQ(map.empty(), model.empty()) << "step " << step;
  for (const tql::id_t& id : ids) {
    const auto it = model.find(id);
    ASSERT_EQ(map.get(id), it == model.end() ? nullptr : it->second) << id << " at step " << step;
    ASSERT_EQ(map.contains(id), it != model.end()) << id << " at step " << step;
  }
  // Iteration visits every entry exactly once.
  std::map<tql::id_t, int*> seen;
  for (const auto& [id, value] : map) ASSERT_TRUE(seen.emplace(id, value).second) << id;
  ASSERT_EQ(seen, model) << "step " << step;
}

// Random inserts, replacements and erases over a small id space (so that
// probe chains collide, wrap around the table's end and are cut by erases),
// checked against an ordered map, on a new map and again on a cleared one.
TEST(IdMapTest, BehavesAsAMapUnderRandomChangesFromNewAndFromCleared) {
  std::vector<tql::id_t> ids{{}, {0, 1}, {1, 2, 0}};  // {1, 2, 0} is another id than {1, 2}
  for (std::uint32_t c = 0; c < 150; ++c) {
    ids.push_back({2, c});
    ids.push_back({1, c});
    ids.push_back({c, 2, 7});
  }
  std::mt19937 random(7);
  IdMap<int> map;
  std::map<tql::id_t, int*> model;
  for (int round = 0; round < 2; ++round) {
    // Empty, with no storage at all: finds nothing, erases nothing.
    expectSame(map, model, ids, -1);
    EXPECT_FALSE(map.erase(ids[1]));
    for (int step = 0; step < 20000; ++step) {
      const tql::id_t& id = ids[random() % ids.size()];
      // Grow to about 300 entries, then shrink and grow again.
      const bool growing = (step / 4000) % 2 == 0;
      if (random() % 3 != 0 ? growing : !growing) {
        int* value = &values[random() % 4];
        map.insert_or_assign(id, value);
        model[id] = value;
      } else {
        EXPECT_EQ(map.erase(id), model.erase(id) == 1) << id;
      }
      if (step % 97 == 0) expectSame(map, model, ids, step);
    }
    expectSame(map, model, ids, -1);
    map.clear();
    model.clear();
  }
}

}  // namespace
}  // namespace keepers
