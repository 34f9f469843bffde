#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "testkit/matcher.h"
#include "tql/errors.h"
#include "tql/property.h"
#include "tql/schema.h"

namespace tql {
namespace {

constexpr std::uint32_t kScore = 801;  // prints as "score"

template <class T>
T null(T p) {
  p.isNull = true;
  return p;
}

// The operators that read the order code, in the order 1 to 8.
constexpr int kOrderOperators[] = {kRelEqual,           kRelGreater,           kRelLess,
                                   kRelGreaterOrEqual,  kRelLessOrEqual,       kRelNotEqual,
                                   kRelEqualIgnoreCase, kRelNotEqualIgnoreCase};

// The results of operators 1 to 8 as a string of '1' and '0'.
std::string results(const property_t& left, const property_t& right) {
  std::string out;
  for (int op : kOrderOperators) out += left.compare(op, right) ? '1' : '0';
  return out;
}

// What operators 1 to 8 give for each order code.
constexpr const char* kBefore = "00101101";  // c = -2
constexpr const char* kEqual = "10011010";   // c = 0
constexpr const char* kAfter = "01010101";   // c = 2

std::string incomparableText(const property_t& left, int op, const property_t& right) {
  const auto e = testkit::thrown<errors::tql_incomparable>([&] { left.compare(op, right); });
  if (!e) return "<not thrown>";
  EXPECT_EQ(e->code(), errors::tql::kIncomparable);
  return e->text();
}

// Order codes -2..2 come out of string pairs; every operator reads them as
// its table says.
TEST(PropertyCompareTest, OperatorsReadTheOrderCode) {
  struct Case {
    const char* left;
    const char* right;
    const char* expected;  // operators 1..8
  };
  const Case cases[] = {
      {"abc", "abd", kBefore},     // c = -2
      {"ABC", "abc", "00101110"},  // c = -1: before, equal ignoring case
      {"abc", "abc", kEqual},      // c = 0
      {"abc", "ABC", "01010110"},  // c = 1: lower case sorts after upper case
      {"abd", "abc", kAfter},      // c = 2
  };
  for (const Case& c : cases) {
    EXPECT_EQ(results(property_string_t(kScore, c.left), property_string_t(kScore, c.right)),
              c.expected)
        << c.left << " vs " << c.right;
  }
}

TEST(PropertyCompareTest, NullSortsFirstAndEqualsNull) {
  const property_int_t value(kScore, -100);
  const property_int_t nul = null(property_int_t(kScore, 5));
  EXPECT_EQ(results(nul, nul), kEqual);
  EXPECT_EQ(results(nul, value), kBefore);
  EXPECT_EQ(results(value, nul), kAfter);
  // Strings too, where null must not count as "equal ignoring case".
  const property_string_t empty(kScore, "");
  EXPECT_EQ(results(null(empty), empty), kBefore);
  EXPECT_EQ(results(null(empty), null(empty)), kEqual);
}

// Each pair is strictly ascending under the type's own ordering.
TEST(PropertyCompareTest, EachTypeOrdersByItsOwnRules) {
  struct Pair {
    const char* what;
    std::shared_ptr<property_t> low, high;
  };
  const auto pair = [](const char* what, auto low, auto high) {
    return Pair{what, std::make_shared<decltype(low)>(low), std::make_shared<decltype(high)>(high)};
  };
  const Pair pairs[] = {
      pair("int is signed", property_int_t(1, -1), property_int_t(1, 1)),
      pair("action is signed", property_action_t(1, -1), property_action_t(1, 0)),
      pair("date is signed", property_date_t(1, -1), property_date_t(1, 0)),
      pair("date uses all 64 bits", property_date_t(1, 1), property_date_t(1, 0x100000000)),
      pair("uint is unsigned", property_uint_t(1, 1), property_uint_t(1, 0x80000000)),
      pair("index is unsigned", property_index_t(1, 1), property_index_t(1, 0xffffffff)),
      pair("gid is unsigned", property_gid_t(1, 1), property_gid_t(1, 0xffffffff)),
      pair("real", property_real_t(1, -0.5), property_real_t(1, 0.25)),
      pair("real inf below nan", property_real_t(1, HUGE_VAL), property_real_t(1, std::nan(""))),
      pair("bignum", property_bignum_t(1, bignum_t::parse("-99999999999999999999")),
           property_bignum_t(1, -1)),
      pair("boolean", property_boolean_t(1, false), property_boolean_t(1, true)),
      pair("object id prefix", property_object_t(1, id_t{1, 2}),
           property_object_t(1, id_t{1, 2, 0})),
      pair("object id", property_object_t(1, id_t{1, 1, 9}), property_object_t(1, id_t{1, 2})),
      pair("blob prefix", property_blob_t(1, {1, 2}), property_blob_t(1, {1, 2, 0})),
      pair("blob bytes unsigned", property_blob_t(1, {0x7f, 9}), property_blob_t(1, {0x80})),
      pair("lob", property_lob_t(1, {1}), property_lob_t(1, {2})),
      pair("gid list by length", property_gid_list_t(1, {9}), property_gid_list_t(1, {1, 1})),
      pair("gid list unsigned", property_gid_list_t(1, {1, 1}),
           property_gid_list_t(1, {1, 0xffffffff})),
      pair("oid by length", property_oid_t(1, {9}), property_oid_t(1, {1, 1})),
      pair("oid by element", property_oid_t(1, {1, 2}), property_oid_t(1, {2, 1})),
      pair("version major", property_version_t(1, 1, 9), property_version_t(1, 2, 0)),
      pair("version minor", property_version_t(1, 2, 1), property_version_t(1, 2, 2)),
      pair("string list by length", property_string_list_t(1, {"z"}),
           property_string_list_t(1, {"a", "a"})),
      pair("string list by element", property_string_list_t(1, {"a", "B"}),
           property_string_list_t(1, {"a", "b"})),
      pair("enum value unsigned", property_enum_t(1, 3, 1), property_enum_t(1, 3, 0xffffffff)),
  };
  for (const Pair& p : pairs) {
    EXPECT_EQ(results(*p.low, *p.high), kBefore) << p.what;
    EXPECT_EQ(results(*p.high, *p.low), kAfter) << p.what;
    EXPECT_EQ(results(*p.low, *p.low->clone()), kEqual) << p.what;
  }
  const property_real_t nan(1, std::nan(""));
  EXPECT_EQ(results(nan, nan), kEqual);
  EXPECT_EQ(results(property_real_t(1, -0.0), property_real_t(1, 0.0)), kEqual);
}

TEST(PropertyCompareTest, ContainsIgnoresCase) {
  const property_string_t text(kScore, "Disk C: Full");
  EXPECT_TRUE(text.compare(kRelContains, property_string_t(kScore, "c: fu")));
  EXPECT_TRUE(text.compare(kRelContains, property_string_t(kScore, "")));
  EXPECT_FALSE(text.compare(kRelContains, property_string_t(kScore, "full!")));
  EXPECT_TRUE(
      property_string_t(kScore, "abc").compare(kRelContains, property_string_t(kScore, "ABC")));
}

// Object sets are equal or unequal, never less; the set operators walk
// both sets, with a null side meaning "no constraint" on the side tested.
TEST(PropertyCompareTest, ObjectSetOperatorsWalkBothSets) {
  const property_object_set_t a(kScore, {id_t{0, 1}, id_t{0, 3}});
  const property_object_set_t abc(kScore, {id_t{0, 1}, id_t{0, 2}, id_t{0, 3}});
  const property_object_set_t d(kScore, {id_t{0, 4}});
  const property_object_set_t empty(kScore, {});
  EXPECT_EQ(results(a, abc), kAfter);
  EXPECT_EQ(results(abc, a), kAfter);
  EXPECT_EQ(results(a, property_object_set_t(kScore, {id_t{0, 1}, id_t{0, 3}})), kEqual);
  EXPECT_EQ(results(null(a), abc), kBefore);
  EXPECT_TRUE(a.compare(kRelSubset, abc));
  EXPECT_FALSE(abc.compare(kRelSubset, a));
  EXPECT_TRUE(empty.compare(kRelSubset, d));
  EXPECT_TRUE(abc.compare(kRelSuperset, a));
  EXPECT_FALSE(a.compare(kRelSuperset, abc));
  EXPECT_TRUE(a.compare(kRelIntersects, abc));
  EXPECT_FALSE(a.compare(kRelIntersects, d));
  EXPECT_FALSE(empty.compare(kRelIntersects, empty));
  EXPECT_TRUE(null(a).compare(kRelSubset, d));
  EXPECT_FALSE(a.compare(kRelSubset, null(d)));
  EXPECT_TRUE(a.compare(kRelSuperset, null(d)));
  EXPECT_FALSE(null(a).compare(kRelSuperset, d));
  EXPECT_TRUE(null(a).compare(kRelSubset, null(d)));
  EXPECT_TRUE(null(a).compare(kRelSuperset, null(d)));
  EXPECT_FALSE(null(a).compare(kRelIntersects, abc));
  EXPECT_FALSE(abc.compare(kRelIntersects, null(a)));
  // memberOf looks the target id up in the set.
  const property_object_set_t set(kScore, {id_t{0, 1}, id_t{0, 1, 7}});
  EXPECT_TRUE(property_object_t(kScore, id_t{0, 1, 7}).compare(kRelMemberOf, set));
  EXPECT_FALSE(property_object_t(kScore, id_t{0, 1, 8}).compare(kRelMemberOf, set));
  EXPECT_FALSE(null(property_object_t(kScore, id_t{0, 1})).compare(kRelMemberOf, set));
  EXPECT_FALSE(property_object_t(kScore, id_t{0, 1}).compare(kRelMemberOf, null(set)));
}

// The mismatch text names the left side's type and the right side's
// property; close relatives (an oid and a gid list, a version and an object)
// are still different types. Enum types are checked before nulls, operators
// only once the types agree.
TEST(PropertyCompareTest, IncomparableOperandsAreRefusedWithTheirText) {
  const property_int_t one(kScore, 1);
  const property_string_t text(kScore, "x");
  const property_object_set_t set(kScore, {id_t{0, 1}});
  const property_object_t object(kScore, id_t{0, 1});
  const property_enum_t enum3(kScore, 3, 1);
  struct Case {
    const property_t& left;
    int op;
    const property_t& right;
    std::string text;
  };
  const std::string unknown = "Unknown relative operator";
  const Case cases[] = {
      {null(one), kRelEqual, property_uint_t(kScore, 1), "Type mismatch, int != type of score"},
      {one, 13, text, "Type mismatch, int != type of score"},
      {null(one), 13, null(one), unknown},
      {null(text), kRelContains, text, unknown},
      {text, kRelContains, null(text), unknown},
      {set, kRelSubset, object, "Type mismatch, object_set != type of score"},
      {set, kRelMemberOf, set, unknown},
      {object, kRelMemberOf, object, "Type mismatch, object_set != type of score"},
      {property_gid_list_t(), kRelLess, property_oid_t(kScore, {}),
       "Type mismatch, GIDList != type of score"},
      {property_version_t(), kRelLess, property_object_t(321, {}),
       "Type mismatch, object != type of <unknown property: 321>"},
      {enum3, kRelEqual, property_enum_t(kScore, 0xffffffff, 1),
       "Type mismatch, enum (3) != enum (-1) of score"},
      {null(enum3), kRelEqual, null(property_enum_t(kScore, 4, 1)),
       "Type mismatch, enum (3) != enum (4) of score"},
  };
  for (const Case& c : cases) EXPECT_EQ(incomparableText(c.left, c.op, c.right), c.text) << c.text;
  for (int op : {0, 9, 10, 11, 12, 13, 14, 15, -1}) {
    EXPECT_EQ(incomparableText(one, op, one), unknown) << op;
  }
}

}  // namespace
}  // namespace tql
