#include "tql/schema.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>

namespace tql {
namespace {

constexpr std::uint32_t kMinusOne = static_cast<std::uint32_t>(-1);

TEST(SchemaClass, NumbersWithoutANamePrintBracketed) {
  EXPECT_EQ(className(78), "<unknown class: 78>");
  EXPECT_EQ(className(kClassCount), "<unknown class: 95>");
  EXPECT_EQ(className(kMinusOne), "<unknown class: -1>");
  EXPECT_EQ(className(0x80000000u), "<unknown class: -2147483648>");
  EXPECT_EQ(findClassName(78), std::nullopt);
}

TEST(SchemaProperty, StateFamiliesCoverExactlyTheirSlots) {
  EXPECT_EQ(propertyName(2699), "<unknown property: 2699>");
  EXPECT_EQ(propertyName(2700), "stateAction0");
  EXPECT_EQ(propertyName(2709), "stateAction9");
  EXPECT_EQ(propertyName(2710), "stateAction10");
  EXPECT_EQ(propertyName(2731), "stateAction31");
  EXPECT_EQ(propertyName(2732), "<unknown property: 2732>");
  EXPECT_EQ(propertyName(2800), "stateLabel0");
  EXPECT_EQ(propertyName(2831), "stateLabel31");
  EXPECT_EQ(propertyName(2832), "<unknown property: 2832>");
  EXPECT_EQ(prop::stateAction(31), 2731u);
  EXPECT_EQ(prop::stateLabel(0), 2800u);
}

TEST(SchemaProperty, NumbersWithoutANamePrintBracketed) {
  EXPECT_EQ(propertyName(321), "<unknown property: 321>");
  EXPECT_EQ(propertyName(kPropertyLimit), "<unknown property: 4403>");
  EXPECT_EQ(propertyName(kMinusOne), "<unknown property: -1>");
}

TEST(SchemaLookup, EveryNameResolvesToItsNumber) {
  std::size_t classes = 0;
  for (std::uint32_t number = 0; number < kClassCount + 10; ++number) {
    const auto name = findClassName(number);
    if (!name) continue;
    ++classes;
    EXPECT_EQ(className(number), *name);
    EXPECT_EQ(findClassNumber(*name), number) << *name;
  }
  EXPECT_EQ(classes, 94u);

  std::map<std::string_view, std::uint32_t> seen;
  for (std::uint32_t number = 0; number < kPropertyLimit + 10; ++number) {
    const auto name = findPropertyName(number);
    if (!name) continue;
    EXPECT_EQ(propertyName(number), *name);
    const auto [first, inserted] = seen.emplace(*name, number);
    // A name that came before resolves to its first (lowest) number.
    EXPECT_EQ(findPropertyNumber(*name), first->second) << *name;
    if (!inserted) {
      EXPECT_EQ(*name, "capGridConf") << number;
    }
  }
  // 415 listed properties, one of them a second capGridConf, and the two
  // 32-slot state families.
  EXPECT_EQ(seen.size(), 414u + 2 * prop::kStateSlots);
}

TEST(SchemaLookup, UnknownNamesDoNotResolve) {
  for (std::string_view name : {"", "stateAction", "stateAction32", "StateAction0", "statusx",
                                "<unknown property: 321>", "Domain"}) {
    EXPECT_EQ(findPropertyNumber(name), std::nullopt) << name;
  }
  EXPECT_EQ(findClassNumber("domain"), std::nullopt);
  EXPECT_EQ(findClassNumber("status"), std::nullopt);
}

TEST(SchemaDeathTest, StateSlotOutOfRange) {
  EXPECT_DEATH(prop::stateAction(prop::kStateSlots),
               "Assertion failed: stateAction slot 32 out of range");
  EXPECT_DEATH(prop::stateLabel(kMinusOne), "Assertion failed: stateLabel slot 4294967295");
}

}  // namespace
}  // namespace tql
