#include "tql/bignum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "error/exception.h"
#include "testkit/matcher.h"

namespace tql {
namespace {

TEST(BigNumTest, DecimalTextRoundTrips) {
  for (const char* text : {"0", "999999999", "1000000000", "4294967296", "-18446744073709551616",
                           "123456789012345678901234567890123456789"}) {
    EXPECT_EQ(bignum_t::parse(text).toString(), text);
  }
  EXPECT_EQ(bignum_t::parse("-0").toString(), "0");
  EXPECT_EQ(bignum_t::parse("000000000000000000042").toString(), "42");
  EXPECT_EQ(bignum_t(std::numeric_limits<std::int64_t>::min()).toString(), "-9223372036854775808");
}

TEST(BigNumTest, ParseRejectsNonDecimalText) {
  for (const char* bad : {"", "-", "+1", " 1", "1 ", "1e5", "0x10", "--1", "12a3"}) {
    EXPECT_TRUE(testkit::thrown<error::EParseError>([&] { bignum_t::parse(bad); }).has_value())
        << '"' << bad << '"';
  }
  EXPECT_EQ(testkit::thrownText<error::EParseError>([] { bignum_t::parse("1x"); }),
            "Bad big number \"1x\": expected an optional '-' and decimal digits");
}

// A peer may send a number of any length: a million digits must read, print
// and compare in one pass (a quadratic reader would not finish here).
TEST(BigNumTest, VeryLongNumbersReadPrintAndCompare) {
  std::string digits(1000000, '7');
  digits.front() = '1';
  const bignum_t n = bignum_t::parse("-" + digits);
  EXPECT_EQ(n.toString(), "-" + digits);
  std::string larger = digits;
  larger.back() = '8';
  EXPECT_LT(bignum_t::parse(larger), bignum_t::parse(digits + "0"));
  EXPECT_GT(bignum_t::parse(larger), bignum_t::parse(digits));
  EXPECT_LT(n, bignum_t(0));
  EXPECT_EQ(bignum_t::parse("-" + std::string(100000, '0')), bignum_t(0));  // no negative zero
}

TEST(BigNumTest, OrdersBySignThenMagnitude) {
  const std::vector<bignum_t> sorted = {bignum_t::parse("-100000000000000000000"),
                                        bignum_t(-4294967296),
                                        bignum_t(-2),
                                        bignum_t(0),
                                        bignum_t(3),
                                        bignum_t(4294967295),
                                        bignum_t::parse("4294967296"),
                                        bignum_t::parse("100000000000000000000")};
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    for (std::size_t j = 0; j < sorted.size(); ++j) {
      EXPECT_EQ(sorted[i] < sorted[j], i < j) << sorted[i] << " vs " << sorted[j];
      EXPECT_EQ(sorted[i] == sorted[j], i == j) << sorted[i] << " vs " << sorted[j];
    }
  }
}

TEST(BigNumTest, AgreesWithMachineIntegers) {
  std::mt19937_64 random(301);
  for (int i = 0; i < 2000; ++i) {
    // Mixed magnitudes, so that both one- and two-word numbers meet.
    const auto a = static_cast<std::int64_t>(random()) >> (random() % 64);
    const auto b = static_cast<std::int64_t>(random()) >> (random() % 64);
    EXPECT_EQ(bignum_t(a) <=> bignum_t(b), a <=> b) << a << " vs " << b;
    EXPECT_EQ(bignum_t(a).toString(), std::to_string(a));
    EXPECT_EQ(bignum_t::parse(std::to_string(b)), bignum_t(b));
  }
}

}  // namespace
}  // namespace tql
