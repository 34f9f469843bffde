#include "tql/id.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "error/exception.h"
#include "testkit/matcher.h"

namespace tql {
namespace {

using testkit::thrownText;

static_assert(std::is_trivially_copyable_v<id_t>);

TEST(IdTest, OrdersLexicographicallyWithPrefixFirst) {
  // A zero component still makes a longer id ({1} < {1, 0}); components
  // compare unsigned.
  const std::vector<id_t> sorted = {
      {},     {0},       {0, 1},    {1},    {1, 0},    {1, 0, 0},     {1, 1, 9},
      {1, 2}, {1, 2, 0}, {1, 2, 1}, {1, 3}, {2, 0, 0}, {0xffffffffu},
  };
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    for (std::size_t j = 0; j < sorted.size(); ++j) {
      EXPECT_EQ(sorted[i] < sorted[j], i < j) << sorted[i] << " vs " << sorted[j];
      EXPECT_EQ(sorted[i] == sorted[j], i == j) << sorted[i] << " vs " << sorted[j];
    }
  }
}

TEST(IdTest, ShrinkingForgetsComponents) {
  id_t id{1, 2, 3};
  id.resize(1);
  id.resize(3);
  EXPECT_EQ(id, (id_t{1, 0, 0}));
  EXPECT_EQ(id.hash(), (id_t{1, 0, 0}).hash());
  id.clear();
  id.push_back(7);
  EXPECT_EQ(id, id_t{7});
}

TEST(IdTest, LengthAboveThreeThrowsRangeAndKeepsTheId) {
  id_t id{4, 5, 6};
  EXPECT_EQ(thrownText<error::ERange>([&] { id.resize(4); }), "small vector resize overflow 4 > 3");
  EXPECT_EQ(thrownText<error::ERange>([&] { id.push_back(7); }),
            "small vector resize overflow 4 > 3");
  EXPECT_EQ(thrownText<error::ERange>([] {
              id_t{1, 2, 3, 4, 5};
            }),
            "small vector resize overflow 5 > 3");
  EXPECT_EQ(id, (id_t{4, 5, 6}));
}

TEST(IdTest, ComponentAtOrPastLengthThrowsRange) {
  id_t id{4};
  const id_t& constId = id;
  EXPECT_EQ(id[0], 4u);
  EXPECT_EQ(thrownText<error::ERange>([&] { return constId[1]; }),
            "small vector reference overflow 1 >= 3");
  EXPECT_EQ(thrownText<error::ERange>([&] { id[5] = 1; }),
            "small vector reference overflow 5 >= 3");
  EXPECT_EQ(thrownText<error::ERange>([] { return id_t{}[0]; }),
            "small vector reference overflow 0 >= 3");
}

TEST(IdTest, TextFormRoundTrips) {
  EXPECT_EQ((id_t{4294967295u, 0, 17}).toString(), "4294967295.0.17");
  for (const id_t& id : {id_t{}, id_t{0}, id_t{0, 1}, id_t{4294967295u, 0, 17}}) {
    EXPECT_EQ(id_t::parse(id.toString()), id);
  }
}

TEST(IdTest, ParseRejectsMalformedText) {
  for (const char* bad :
       {".", "1.", ".1", "1..2", "1.2.3.4", "-1", "+1", " 1", "1 ", "0x1", "4294967296", "1.a"}) {
    EXPECT_EQ(testkit::thrown<error::EParseError>([&] { id_t::parse(bad); }).has_value(), true)
        << bad;
  }
  EXPECT_EQ(thrownText<error::EParseError>([] { id_t::parse("1..2"); }),
            "Bad object id \"1..2\": expected a decimal component");
}

TEST(IdTest, HashSeparatesPrefixesAndNeighbours) {
  EXPECT_NE(std::hash<id_t>()(id_t{1, 2}), std::hash<id_t>()(id_t{1, 2, 0}));
  EXPECT_NE(std::hash<id_t>()(id_t{}), std::hash<id_t>()(id_t{0}));
  // A registry-sized population of ids: buckets stay short.
  std::mt19937 random(301);
  std::unordered_set<id_t> ids;
  for (std::uint32_t i = 0; i < 100000; ++i)
    ids.insert(id_t{0, static_cast<std::uint32_t>(random() % 4096), i});
  std::size_t longest = 0;
  for (std::size_t b = 0; b < ids.bucket_count(); ++b)
    longest = std::max(longest, ids.bucket_size(b));
  EXPECT_LT(longest, 12u);
}

}  // namespace
}  // namespace tql
