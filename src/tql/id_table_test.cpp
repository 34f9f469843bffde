#include "tql/id_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace tql {
namespace {

// A stored object: the table reads its id through the pointer.
struct alignas(8) Thing {
  id_t id;
};

// Counts the ids the table reads, to see that tags spare the reads.
std::size_t keyReads = 0;

struct ThingId {
  const id_t& operator()(const Thing& t) const {
    ++keyReads;
    return t.id;
  }
};

// Hashes that force the hard cases: every id with the same tag (so every
// probe reads ids), few home slots (long runs), one home slot at the very
// end (a run that always wraps around the table's end).
struct SameTag {
  std::uint64_t operator()(const id_t& id) const { return IdHash{}(id) & ~0xFFFF0000ull; }
};
struct FewHomesSameTag {
  std::uint64_t operator()(const id_t& id) const {
    return (static_cast<std::uint64_t>(id.hash() % 4) << 62) | 0x5A5A0000ull;
  }
};
struct LastHomeAnyTag {
  std::uint64_t operator()(const id_t& id) const { return ~0ull << 32 | (IdHash{}(id) >> 32); }
};

// Random insertions, replacements, erasures by id and by address (matching
// and not), reservations (growing the table, and smaller ones that must not
// shrink it) and lookups of every id against a std::map, on a new table and
// again on a cleared one. The id space is small so that runs are
// long, and the table grows to about 300 entries, shrinks and grows again.
template <class Hash>
void checkAgainstMap(unsigned seed) {
  using Table = IdTable<Thing, ThingId, Hash>;
  std::vector<id_t> ids{{}, {0, 1}, {1, 2, 0}};  // {1, 2, 0} is another id than {1, 2}
  for (std::uint32_t c = 0; c < 150; ++c) {
    ids.push_back({2, c});
    ids.push_back({1, c});
    ids.push_back({c, 2, 7});
  }
  // Two objects per id, so that replacing changes the stored address.
  std::deque<Thing> things;
  for (const id_t& id : ids) {
    things.push_back({id});
    things.push_back({id});
  }
  const auto thingOf = [&](std::size_t n, unsigned which) { return &things[2 * n + which]; };

  std::mt19937 random(seed);
  Table table;
  std::map<id_t, Thing*> model;
  const auto expectSame = [&](int step) {
    SCOPED_TRACE("step " + std::to_string(step));
    ASSERT_EQ(table.size(), model.size());
    ASSERT_EQ(table.empty(), model.empty());
    for (const id_t& id : ids) {
      const auto it = model.find(id);
      ASSERT_EQ(table.find(id), it == model.end() ? nullptr : it->second) << id;
      ASSERT_EQ(table.contains(id), it != model.end()) << id;
    }
    // Iteration yields every stored object exactly once.
    std::map<id_t, Thing*> seen;
    for (Thing* t : table) ASSERT_TRUE(seen.emplace(t->id, t).second) << t->id;
    ASSERT_EQ(seen, model);
  };

  for (int round = 0; round < 2; ++round) {
    // Empty, with no storage at all or (cleared) with room reserved: finds
    // nothing, erases nothing.
    if (round == 1) table.reserve(400);
    expectSame(-1);
    EXPECT_FALSE(table.erase(ids[1]));
    EXPECT_FALSE(table.eraseIf(ids[1], thingOf(1, 0)));
    EXPECT_EQ(table.begin(), table.end());
    for (int step = 0; step < 12000; ++step) {
      const std::size_t n = random() % ids.size();
      const id_t& id = ids[n];
      Thing* const thing = thingOf(n, random() % 2);
      const bool growing = (step / 3000) % 2 == 0;
      const unsigned op = random() % 6;
      if (op < 3 ? growing : !growing) {
        table.insert_or_assign(thing);
        model[id] = thing;
      } else if (op % 2 == 0) {
        EXPECT_EQ(table.erase(id), model.erase(id) == 1) << id;
      } else {
        const auto it = model.find(id);
        const bool stored = it != model.end() && it->second == thing;
        EXPECT_EQ(table.eraseIf(id, thing), stored) << id;
        if (stored) model.erase(it);
      }
      if (step % 2500 == 0) table.reserve(step % 5000 == 0 ? 600 : 10);
      if (step % 97 == 0) expectSame(step);
    }
    expectSame(-1);
    table.clear();
    model.clear();
  }
}

TEST(IdTableTest, BehavesAsAMapWhateverTheHashes) {
  const struct {
    const char* name;
    void (*run)(unsigned);
  } cases[] = {
      {"production hash", &checkAgainstMap<IdHash>},
      {"one tag for all", &checkAgainstMap<SameTag>},
      {"four homes, one tag", &checkAgainstMap<FewHomesSameTag>},
      {"home at the end", &checkAgainstMap<LastHomeAnyTag>},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (unsigned seed = 1; seed <= 2; ++seed) c.run(seed);
  }
}

// A miss stops at a tag mismatch almost always, and a hit reads only the
// object it returns: ids are read about once per hit.
TEST(IdTableTest, TagsSpareReadingIds) {
  std::vector<Thing> things(3000);
  for (std::uint32_t i = 0; i < 3000; ++i) things[i].id = {1, i};
  IdTable<Thing, ThingId> table;
  for (Thing& t : things) table.insert_or_assign(&t);
  keyReads = 0;
  for (std::uint32_t i = 0; i < 3000; ++i) ASSERT_EQ(table.find({2, i}), nullptr);
  EXPECT_LT(keyReads, 10u);
  keyReads = 0;
  for (const Thing& t : things) ASSERT_EQ(table.find(t.id), &t);
  EXPECT_LT(keyReads, 3010u);
  // Erasing moves no neighbour: by address it reads no id at all (the
  // object may be half destroyed), by id only the one it looks for.
  keyReads = 0;
  for (std::uint32_t i = 0; i < 3000; i += 4) ASSERT_TRUE(table.eraseIf({1, i}, &things[i]));
  EXPECT_EQ(keyReads, 0u);
  for (std::uint32_t i = 2; i < 3000; i += 4) ASSERT_TRUE(table.erase({1, i}));
  EXPECT_LT(keyReads, 760u);
  for (std::uint32_t i = 1; i < 3000; i += 2) ASSERT_EQ(table.find({1, i}), &things[i]);
}

// With one tag for all, every occupied slot a lookup looks at costs a read:
// a miss looks at its home bucket and goes on only while the buckets it
// passes hold ids from before them. Consecutive ids come in blocks that
// fill a bucket each, and filled to nearly three quarters the blocks crowd
// each other out: after half of them are erased again a miss looks at two
// to three buckets (some 20 ids). Not stopping at a bucket without overflow
// would read the whole table.
TEST(IdTableTest, AMissStopsAtTheFirstBucketWithoutOverflow) {
  std::vector<Thing> things(3000);
  IdTable<Thing, ThingId, SameTag> table;
  for (std::uint32_t i = 0; i < 3000; ++i) {
    things[i].id = {1, i};
    table.insert_or_assign(&things[i]);
  }
  // Every second one gone again, so that buckets have free slots while
  // their overflow counts must still lead on to the later ones.
  for (std::uint32_t i = 0; i < 3000; i += 2) ASSERT_TRUE(table.erase({1, i}));
  keyReads = 0;
  for (std::uint32_t i = 0; i < 3000; ++i) ASSERT_EQ(table.find({2, i}), nullptr);
  const std::size_t crowded = keyReads;
  EXPECT_LT(crowded, 3000u * 24);
  for (std::uint32_t i = 1; i < 3000; i += 2) ASSERT_EQ(table.find({1, i}), &things[i]);
  // Growing places every entry anew from its new home with exact overflow
  // counts: a twentieth as full, a miss reads a fraction of what it did.
  table.reserve(20000);
  keyReads = 0;
  for (std::uint32_t i = 0; i < 3000; ++i) ASSERT_EQ(table.find({2, i}), nullptr);
  EXPECT_LT(keyReads, crowded / 4);
  for (std::uint32_t i = 1; i < 3000; i += 2) ASSERT_EQ(table.find({1, i}), &things[i]);
}

// Ids kN .. kN+N-1 (N = IdHash::kNeighbours) share a home, so that ids
// looked up in order share a cache line; their tags differ, and the next N
// have another home.
TEST(IdTableTest, NeighbouringIdsShareAHomeButNotATag) {
  constexpr std::uint32_t n = IdHash::kNeighbours;
  const auto home = [](const id_t& id) { return IdHash{}(id) >> 32; };
  const auto tag = [](const id_t& id) { return IdHash{}(id) >> 16 & 0xFFFF; };
  const struct {
    id_t first, other;
    bool sameHome;
  } cases[] = {
      {{2, 2 * n}, {2, 3 * n - 1}, true},
      {{2, 2 * n}, {2, 2 * n + 1}, true},
      {{2, 0}, {2, n - 1}, true},
      {{1, 2, 4 * n}, {1, 2, 5 * n - 1}, true},
      {{2}, {n - 1}, true},
      {{2, 2 * n}, {2, 3 * n}, false},
      {{2, n - 1}, {2, n}, false},
      {{2, 2 * n}, {3, 2 * n}, false},
      {{1, 2, 4 * n}, {1, 3, 4 * n}, false},
      {{2}, {n + 2}, false},
      {{2, 2 * n}, {2, 2 * n, 0}, false},
      {{}, {0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first.toString() + " and " + c.other.toString());
    EXPECT_EQ(home(c.first) == home(c.other), c.sameHome);
    EXPECT_NE(tag(c.first), tag(c.other));
  }
}

// One home for every id: the entries fill the home bucket and spill into
// the following ones (wrapping at the end). Erasing inside that chain frees
// a slot that the next insertion takes (iteration shows slot order), and
// every entry after the hole stays reachable.
TEST(IdTableTest, AFullBucketSpillsIntoTheNextAndTakesBackFreedSlots) {
  std::deque<Thing> things;
  IdTable<Thing, ThingId, LastHomeAnyTag> table;
  table.reserve(48);  // 8 buckets: no growth below
  for (std::uint32_t i = 0; i < 36; ++i) {
    things.push_back({{4, i}});
    table.insert_or_assign(&things.back());
  }
  std::vector<Thing*> order(table.begin(), table.end());
  ASSERT_EQ(order.size(), 36u);
  // The home is the last bucket; the first eight ids sit there, at the end.
  for (std::uint32_t i = 0; i < 8; ++i) EXPECT_EQ(order[28 + i], &things[i]) << i;
  // Erase inside the home bucket and inside a spilled one.
  ASSERT_TRUE(table.erase({4, 3}));
  ASSERT_TRUE(table.eraseIf({4, 20}, &things[20]));
  for (std::uint32_t i = 0; i < 36; ++i) {
    EXPECT_EQ(table.find({4, i}), i == 3 || i == 20 ? nullptr : &things[i]) << i;
  }
  // The next id goes into the freed slot of the home bucket, not after the
  // last entry of the chain.
  things.push_back({{4, 100}});
  table.insert_or_assign(&things.back());
  order.assign(table.begin(), table.end());
  ASSERT_EQ(order.size(), 35u);
  EXPECT_EQ(order[27 + 3], &things.back());
  // Emptied from the front, the chain still leads to its last entry.
  for (std::uint32_t i = 0; i < 35; ++i) table.erase({4, i});
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(table.find({4, 35}), &things[35]);
  EXPECT_EQ(table.find({4, 100}), &things.back());
}

// Erasing an entry that spilled takes it out of the overflow counts of the
// buckets it passed: a miss then stops at its home again instead of walking
// on into other homes' entries.
TEST(IdTableTest, ErasingASpilledEntryLowersTheOverflowOnItsWay) {
  // Eight buckets; the first component is the home bucket; one tag for all,
  // so the ids read count the occupied slots looked at.
  struct HomeByFirst {
    std::uint64_t operator()(const id_t& id) const {
      return static_cast<std::uint64_t>(id[0]) << 61 | 0x5A5A0000ull;
    }
  };
  std::deque<Thing> things;
  IdTable<Thing, ThingId, HomeByFirst> table;
  table.reserve(48);
  const auto add = [&](id_t id) {
    things.push_back({id});
    table.insert_or_assign(&things.back());
  };
  for (std::uint32_t i = 0; i < 16; ++i) add({0, i});  // fills bucket 0, spills into 1
  for (std::uint32_t i = 0; i < 8; ++i) add({1, i});   // bucket 1 is full: spills into 2
  keyReads = 0;
  ASSERT_EQ(table.find({0, 99}), nullptr);
  EXPECT_EQ(keyReads, 24u);  // buckets 0, 1 and 2
  for (std::uint32_t i = 8; i < 16; ++i) ASSERT_TRUE(table.erase({0, i}));
  keyReads = 0;
  ASSERT_EQ(table.find({0, 99}), nullptr);
  EXPECT_EQ(keyReads, 8u);  // bucket 0 only
  for (std::uint32_t i = 0; i < 8; ++i) ASSERT_EQ(table.find({1, i}), &things[16 + i]);
}

TEST(IdTableDeathTest, RefusesNullAndAddressesThatUseItsSpareBits) {
  IdTable<Thing, ThingId> table;
  EXPECT_DEATH(table.insert_or_assign(nullptr),
               "Assertion failed: IdTable cannot store a null pointer");
  Thing* const high = reinterpret_cast<Thing*>(std::uintptr_t{1} << 63 | 0x1000);
  EXPECT_DEATH(table.insert_or_assign(high),
               "Assertion failed: IdTable cannot store an address with its top 16 bits set");
  Thing* const low = reinterpret_cast<Thing*>(std::uintptr_t{1} << 48 | 0x1000);
  EXPECT_DEATH(table.insert_or_assign(low),
               "Assertion failed: IdTable cannot store an address with its top 16 bits set");
  Thing* const odd = reinterpret_cast<Thing*>(std::uintptr_t{0x1004});
  EXPECT_DEATH(table.insert_or_assign(odd),
               "Assertion failed: IdTable cannot store an address that is not 8-byte aligned");
}

}  // namespace
}  // namespace tql
