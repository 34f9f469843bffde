#include "tql/property.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <typeinfo>

namespace tql {
namespace {

template <class T>
std::string text(const T& p) {
  return p.toString();
}

TEST(PropertyTextTest, ScalarsPrintTheirValue) {
  EXPECT_EQ(text(property_string_t(1, "a b")), "\"a b\"");
  EXPECT_EQ(text(property_action_t(1, 5)), "(null)");
  EXPECT_EQ(text(property_bignum_t(1, bignum_t::parse("-123456789012345678901"))),
            "-123456789012345678901");
  EXPECT_EQ(text(property_index_t(1, 4294967295u)), "4294967295");
  EXPECT_EQ(text(property_uint_t(1, 4294967295u)), "4294967295");
  EXPECT_EQ(text(property_boolean_t(1, true)), "true");
  EXPECT_EQ(text(property_blob_t(1, {1, 2})), "BLOB");
  EXPECT_EQ(text(property_enum_t(1, 7, 4294967295u)), "enum(7, 4294967295)");
  // A date prints its low word, signed.
  EXPECT_EQ(text(property_date_t(1, -1)), "-1");
  EXPECT_EQ(text(property_date_t(1, 1700000000)), "1700000000");
  EXPECT_EQ(text(property_date_t(1, 0x100000005)), "5");
  EXPECT_EQ(text(property_date_t(1, 0x80000000)), "-2147483648");
  // A real prints six decimals.
  EXPECT_EQ(text(property_real_t(1, 1.5)), "1.500000");
  EXPECT_EQ(text(property_real_t(1, 2.0000004)), "2.000000");
  EXPECT_EQ(text(property_real_t(1, 1e20)), "100000000000000000000.000000");
  EXPECT_EQ(text(property_real_t(1, std::numeric_limits<double>::max())).size(), 316u);
  EXPECT_EQ(text(property_real_t(1, std::nan(""))), "nan");
  EXPECT_EQ(text(property_real_t(1, HUGE_VAL)), "inf");
  EXPECT_EQ(text(property_real_t(1, -HUGE_VAL)), "-inf");
}

// Group ids print as hex bytes, lists comma separated, ids and versions quoted.
TEST(PropertyTextTest, ListsAndIds) {
  EXPECT_EQ(text(property_gid_t(1, 0x0a0b0c0d)), "0a:0b:0c:0d");
  EXPECT_EQ(text(property_gid_list_t(1, {255, 0xffffffff})), "00:00:00:ff, ff:ff:ff:ff");
  EXPECT_EQ(text(property_gid_list_t(1, {})), "");
  EXPECT_EQ(text(property_oid_t(1, {1, 0xa0})), "00:00:00:01, 00:00:00:a0");
  EXPECT_EQ(text(property_string_list_t(1, {"a", "b c"})), "\"a\", \"b c\"");
  EXPECT_EQ(text(property_string_list_t(1, {})), "");
  EXPECT_EQ(text(property_object_set_t(1, {id_t{1, 2}, id_t{0, 1}})), "0.1, 1.2");
  EXPECT_EQ(text(property_object_t(1, id_t{0, 1, 5})), "\"0.1.5\"");
  EXPECT_EQ(text(property_version_t(1, 5, 7)), "\"5.1.7\"");
  EXPECT_EQ(text(property_version_t(1, 18446744073709551615u, 0)), "\"18446744073709551615.1.0\"");
}

// Every type code the factory knows comes back from visitProperty as the
// concrete type with that code, which is what a wire reader and writer rely on.
TEST(PropertyTest, FactoryAndVisitAgreeOnEveryTypeCode) {
  int made = 0;
  for (std::uint32_t code = 0; code < 40; ++code) {
    property_ptr p = makeProperty(code);
    if (code < kFirstPropertyType || code > kLastPropertyType) {
      EXPECT_EQ(p, nullptr) << code;
      continue;
    }
    ASSERT_NE(p, nullptr) << code;
    ++made;
    EXPECT_EQ(p->typeCode(), code);
    EXPECT_FALSE(p->isNull);
    const property_t& constP = *p;
    EXPECT_EQ(visitProperty(constP, [](const auto& concrete) { return concrete.kTypeCode; }), code);
    const property_ptr copy = p->clone();
    const property_t& original = *p;
    const property_t& copied = *copy;
    EXPECT_EQ(typeid(original), typeid(copied));
  }
  EXPECT_EQ(made, 19);
}

}  // namespace
}  // namespace tql
