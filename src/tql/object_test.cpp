#include "tql/object.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

namespace tql {
namespace {

// The empty tags and the zero origin of a usual object cost a pointer each.
static_assert(sizeof(TagSet) == sizeof(void*));
static_assert(sizeof(SparseValue<origin_t>) == sizeof(void*));
// A mirrored object stays in the 112-byte malloc chunk (104 bytes and the
// chunk header) on 64-bit Linux.
static_assert(sizeof(void*) != 8 || sizeof(object_t) <= 104);

void expectSame(const TagSet& tags, const std::set<std::uint32_t>& model) {
  ASSERT_EQ(tags.size(), model.size());
  ASSERT_EQ(tags.empty(), model.empty());
  EXPECT_EQ(std::vector<std::uint32_t>(tags.begin(), tags.end()),
            std::vector<std::uint32_t>(model.begin(), model.end()));
  for (std::uint32_t tag = 0; tag < 40; ++tag) {
    EXPECT_EQ(tags.contains(tag), model.contains(tag)) << tag;
    EXPECT_EQ(tags.count(tag), model.count(tag)) << tag;
  }
}

std::vector<std::uint32_t> shuffled(std::uint32_t seed) {
  std::vector<std::uint32_t> tags;
  std::mt19937 rng(seed);
  for (int i = 0; i < 30; ++i) tags.push_back(rng() % 35);
  return tags;
}

TEST(TagSet, InsertAndAssignMatchAStdSet) {
  const std::vector<std::vector<std::uint32_t>> cases = {
      {},
      {7},
      {1, 2, 3, 4, 5, 6, 7, 8, 9},            // ascending, past the first room of 4
      {9, 8, 7, 6, 5, 4, 3, 2, 1, 0},         // descending: every insert moves the rest
      {5, 5, 1, 5, 1, 0, 39, 0, 20, 21, 20},  // repeats
      {0xFFFFFFFFu, 0, 0x80000000u},          // compared unsigned
      shuffled(1),
      shuffled(2),
  };
  for (const auto& sequence : cases) {
    SCOPED_TRACE(::testing::PrintToString(sequence));
    TagSet tags;
    std::set<std::uint32_t> model;
    for (std::uint32_t tag : sequence) {
      const auto [it, inserted] = tags.insert(tag);
      const auto [model_it, model_inserted] = model.insert(tag);
      EXPECT_EQ(inserted, model_inserted) << tag;
      ASSERT_NE(it, tags.end());
      EXPECT_EQ(*it, tag);
      expectSame(tags, model);
    }
    TagSet assigned{99, 98};
    assigned.assign(sequence);
    expectSame(assigned, model);
    EXPECT_EQ(assigned, tags);
    const TagSet copy = tags;  // deep: survives the changes below
    tags.insert(1000);
    EXPECT_NE(copy, tags);
    tags.clear();
    expectSame(tags, {});
    expectSame(copy, model);
  }
}

TEST(SparseValue, HoldsOnlyWhatDiffersFromZero) {
  SparseValue<origin_t> origin;
  EXPECT_TRUE(origin.isDefault());
  EXPECT_EQ(origin.get(), origin_t{});

  const std::vector<origin_t> notZero = {
      {id_t{0}, id_t{}, 0},  // an id of one zero component is not the empty id
      {id_t{}, id_t{1, 2, 3}, 0},
      {id_t{}, id_t{}, 7},
  };
  for (const origin_t& value : notZero) {
    origin.set(value);
    EXPECT_FALSE(origin.isDefault());
    EXPECT_EQ(origin.get(), value);
    const SparseValue<origin_t> copy = origin;  // deep: survives the change below
    origin.set(origin_t{});
    EXPECT_TRUE(origin.isDefault());
    EXPECT_EQ(copy.get(), value);
    EXPECT_NE(copy, origin);
  }
}

TEST(Object, CopyCarriesTagsAndOrigin) {
  object_t object;
  object.tags = {4, 2};
  object.origin = origin_t{id_t{0, 1}, id_t{5}, 9};
  object.children.push_back(std::make_unique<object_t>());
  object.children[0]->tags.insert(8);
  const object_t copy(object);
  object.tags.insert(1);
  object.origin.set({});
  object.children[0]->tags.clear();
  EXPECT_EQ(copy.tags, TagSet({2, 4}));
  EXPECT_EQ(copy.origin.get(), (origin_t{id_t{0, 1}, id_t{5}, 9}));
  EXPECT_EQ(copy.children[0]->tags, TagSet{8});
}

}  // namespace
}  // namespace tql
