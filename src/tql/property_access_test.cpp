#include "tql/property_access.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "testkit/matcher.h"
#include "tql/errors.h"

namespace tql {
namespace {

constexpr std::uint32_t kScore = 801;   // "score"
constexpr std::uint32_t kStatus = 800;  // "status"
constexpr std::uint32_t kCheck = 1;     // class "Check"

// The shape of a database object as far as lookups care.
struct TestObject {
  std::uint32_t class_ = kCheck;
  std::map<std::uint32_t, property_ptr> properties;

  template <class T>
  T& add(T p) {
    auto owned = std::make_unique<T>(std::move(p));
    T& ref = *owned;
    properties[ref.property] = std::move(owned);
    return ref;
  }
};

template <class T>
T null(T p) {
  p.isNull = true;
  return p;
}

// The detail text of the errors::tql (exactly that type) thrown by fn, which
// must carry `code`.
std::string tqlError(const std::function<void()>& fn, int code) {
  const auto e = testkit::thrown<errors::tql>(fn);
  if (!e) return "<not thrown>";
  EXPECT_EQ(e->code(), code);
  return e->text();
}

TEST(TqlErrorTest, TextIsDetailOrTheCodesText) {
  EXPECT_EQ(errors::tql(0).text(), "No error");
  EXPECT_EQ(errors::tql(15).text(), "Access denied");  // the last code
  for (int code : {13, 16, -1, 1000}) EXPECT_EQ(errors::tql(code).text(), "Unknown error") << code;
  EXPECT_EQ(errors::tql(1, "Object 0.1.5 not found").text(), "Object 0.1.5 not found");
  const errors::tql_incomparable incomparable("");
  EXPECT_EQ(incomparable.code(), 11);
  EXPECT_EQ(incomparable.text(), "Incomparable property");
}

// A missing property's error names the property and the class.
TEST(PropertyLookupTest, FindsPresentPropertiesOnly) {
  TestObject object;
  object.add(property_int_t(kScore, 42));
  object.properties[kStatus] = nullptr;  // a wire reader's "no property"
  ASSERT_NE(findProperty(object, kScore), nullptr);
  EXPECT_EQ(getInt(*findProperty(object, kScore)), 42);
  EXPECT_EQ(getInt(object, kScore), 42);
  EXPECT_EQ(findProperty(object, kStatus), nullptr);
  EXPECT_EQ(findProperty(object, 7), nullptr);
  EXPECT_EQ(tqlError([&] { property(object, kStatus); }, 6),
            "Property status not found in class Check");
  object.class_ = 78;
  EXPECT_EQ(tqlError([&] { getBoolean(object, 321); }, 6),
            "Property <unknown property: 321> not found in class <unknown class: 78>");
}

TEST(PropertyGetterTest, ReturnValuesOfTheirOwnType) {
  TestObject object;
  object.add(property_string_t(51, "web01"));
  object.add(property_date_t(336, -5000000000));
  object.add(property_int_t(kScore, -7));
  object.add(property_uint_t(kStatus, 4000000000u));
  object.add(property_boolean_t(502, true));
  object.add(property_enum_t(503, 0x20005, 1));
  EXPECT_EQ(getString(object, 51), "web01");
  EXPECT_EQ(&getString(object, 51), &getString(object, 51));  // a reference, not a copy
  EXPECT_EQ(getDate(object, 336), -5000000000);
  EXPECT_EQ(getInt(object, kScore), -7);
  EXPECT_EQ(getUint(object, kStatus), 4000000000u);
  EXPECT_TRUE(getBoolean(object, 502));
  EXPECT_EQ(getEnum(object, 503, 5), 1u);  // only the low 17 bits of the type count
}

TEST(PropertyGetterTest, NullOrOtherTypeNamesGetterAndProperty) {
  struct Case {
    const char* className;
    std::function<void(const property_t&)> get;
  };
  const Case cases[] = {
      {"property_string_t", [](const property_t& p) { getString(p); }},
      {"property_date_t", [](const property_t& p) { getDate(p); }},
      {"property_int_t", [](const property_t& p) { getInt(p); }},
      {"property_uint_t", [](const property_t& p) { getUint(p); }},
      {"property_boolean_t", [](const property_t& p) { getBoolean(p); }},
  };
  // An index is none of the getters' types; a null of any type is a null.
  const property_index_t other(kScore, 1);
  const property_index_t nullOther = null(other);
  for (const Case& c : cases) {
    EXPECT_EQ(tqlError([&] { c.get(other); }, 9),
              std::string("Type mismatch for ") + c.className + ": score");
    EXPECT_EQ(tqlError([&] { c.get(nullOther); }, 9),
              std::string("Null given for ") + c.className + ": score");
  }
  // Right type but null.
  EXPECT_EQ(tqlError([] { getInt(null(property_int_t(kScore, 1))); }, 9),
            "Null given for property_int_t: score");
}

TEST(PropertyGetterTest, EnumGetterChecksTheEnumType) {
  EXPECT_EQ(tqlError([] { getEnum(null(property_enum_t(kStatus, 5, 1)), 5); }, 9),
            "Null given for property_t: status");
  EXPECT_EQ(tqlError([] { getEnum(property_enum_t(kStatus, 0x20006, 1), 5); }, 9),
            "Type mismatch for property_t: status [exp:5,actual:131078");
  EXPECT_EQ(tqlError([] { getEnum(property_enum_t(kStatus, 0xffffffff, 1), 5); }, 9),
            "Type mismatch for property_t: status [exp:5,actual:-1");
  EXPECT_EQ(tqlError([] { getEnum(property_int_t(kStatus, 5), -2); }, 9),
            "Type mismatch for property_t: status [exp:-2,actual: non-enum");
}

}  // namespace
}  // namespace tql
