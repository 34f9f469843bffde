#include "error/parse.h"

#include <gtest/gtest.h>

#include <string>

#include "error/exception.h"
#include "testkit/matcher.h"

namespace error {
namespace {

TEST(ParseUnsigned, ReadsDecimalDigits) {
  EXPECT_EQ(parseUnsigned("0"), 0u);
  EXPECT_EQ(parseUnsigned("007"), 7u);
  EXPECT_EQ(parseUnsigned("4294967295"), 4294967295u);
  EXPECT_EQ(parseUnsigned64("18446744073709551615"), 18446744073709551615u);
}

// Trailing text, no digits, a sign or a blank, and overflow are refused.
TEST(ParseUnsigned, RefusesAnythingButDigitsThatFit) {
  for (const char* bad : {"12x", "12 ", "", "-1", "+1", " 1", "4294967296", "99999999999"}) {
    HX_EXPECT_THROW_TEXT(parseUnsigned(bad), EParseError,
                         std::string("Error parsing: \"") + bad + "\"");
  }
  HX_EXPECT_THROW_TEXT(parseUnsigned("12\n"), EParseError, "Error parsing: \"12\\n\"");
  HX_EXPECT_THROW_TEXT(parseUnsigned64("18446744073709551616"), EParseError,
                       "Error parsing: \"18446744073709551616\"");
}

TEST(QuoteEscaped, EscapesControlsQuotesAndBytes) {
  EXPECT_EQ(quoteEscaped("plain text"), "\"plain text\"");
  EXPECT_EQ(quoteEscaped("\a\b\t\n\v\f\r"), R"("\a\b\t\n\v\f\r")");
  EXPECT_EQ(quoteEscaped("say \"hi\" 'x' \\"), R"("say \"hi\" \'x\' \\")");
  EXPECT_EQ(quoteEscaped(std::string("\0\x01\x06\x0e\x1f\x7f\x80\xff", 8)),
            R"("\000\001\006\016\037\177\200\377")");
  EXPECT_EQ(quoteEscaped(" ~"), "\" ~\"");
}

}  // namespace
}  // namespace error
