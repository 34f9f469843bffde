#include "protocol/ber_types.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

#include "protocol/ber_reader.h"
#include "testkit/ber.h"

namespace protocol {
namespace {

using testkit::berErrorText;
using testkit::hexBytes;
using testkit::hexText;

template <typename V, typename T>
std::string encoded(T value) {
  V ber(value);
  return hexText(encode(ber));
}

// Encodes `value`, checks the bytes, and reads them back into a fresh variable.
template <typename V, typename T>
void expectIntegerRoundTrip(T value, const std::string& hex) {
  EXPECT_EQ(encoded<V>(value), hex) << "encoding " << value;
  T back = 42;
  V reader(back);
  decode(hexBytes(hex), reader);
  EXPECT_EQ(back, value);
}

TEST(BerInteger, SignedBoundariesTakeTheShortestForm) {
  expectIntegerRoundTrip<BerInt>(0, "02 01 00");
  expectIntegerRoundTrip<BerInt>(-1, "02 01 FF");
  expectIntegerRoundTrip<BerInt>(127, "02 01 7F");
  expectIntegerRoundTrip<BerInt>(128, "02 02 00 80");
  expectIntegerRoundTrip<BerInt>(-128, "02 01 80");
  expectIntegerRoundTrip<BerInt>(-129, "02 02 FF 7F");
  expectIntegerRoundTrip<BerInt>(INT32_MAX, "02 04 7F FF FF FF");
  expectIntegerRoundTrip<BerInt>(INT32_MIN, "02 04 80 00 00 00");
  expectIntegerRoundTrip<BerInt64>(std::int64_t{INT32_MAX} + 1, "02 05 00 80 00 00 00");
  expectIntegerRoundTrip<BerInt64>(std::int64_t{INT32_MIN} - 1, "02 05 FF 7F FF FF FF");
  expectIntegerRoundTrip<BerInt64>(INT64_MAX, "02 08 7F FF FF FF FF FF FF FF");
  expectIntegerRoundTrip<BerInt64>(INT64_MIN, "02 08 80 00 00 00 00 00 00 00");
}

TEST(BerInteger, UnsignedValuesWithTheTopBitSetGetAZeroOctet) {
  expectIntegerRoundTrip<BerUInt>(128u, "02 02 00 80");
  expectIntegerRoundTrip<BerUInt>(2147483648u, "02 05 00 80 00 00 00");
  expectIntegerRoundTrip<BerUInt>(4294967295u, "02 05 00 FF FF FF FF");
  expectIntegerRoundTrip<BerUInt64>(UINT64_MAX, "02 09 00 FF FF FF FF FF FF FF FF");
}

TEST(BerInteger, ReadsEmptyAndPaddedContentButNothingThatDoesNotFit) {
  int value = 7;
  BerInt ber(value);
  decode(hexBytes("02 00"), ber);
  EXPECT_EQ(value, 0);
  decode(hexBytes("02 04 00 00 00 05"), ber);
  EXPECT_EQ(value, 5);
  decode(hexBytes("02 04 FF FF FF FE"), ber);
  EXPECT_EQ(value, -2);
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("02 05 00 00 00 00 01"), ber); }),
            "Data value exceeds maximum allowed length 5 > 4");
  unsigned u = 7;
  BerUInt unsignedBer(u);
  EXPECT_EQ(
      berErrorText([&] { decode(hexBytes("02 04 FF FF FF FF"), unsignedBer); }),
      "data out of range in BerIntegerTemplate<unsigned int>::readDone 0 <= -1 <= 4294967295");
  std::uint64_t big = 7;
  BerUInt64 bigBer(big);
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("02 09 01 00 00 00 00 00 00 00 00"), bigBer); }),
            "data out of range in BerIntegerTemplate<unsigned __int64>::readDone 0 <= "
            "18446744073709551616 <= 18446744073709551615");
  EXPECT_EQ(u, 7u);  // a refused value leaves the variable alone
  EXPECT_EQ(big, 7u);
}

TEST(BerInteger, LimitsApplyToWritingAndReading) {
  int value = 11;
  BerInt ranged(value, 0, 10);
  EXPECT_EQ(berErrorText([&] { encode(ranged); }),
            "data out of range in BerIntegerTemplate<int>::write 0 <= 11 <= 10");
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("02 01 FF"), ranged); }),
            "data out of range in BerIntegerTemplate<int>::readDone 0 <= -1 <= 10");
  EXPECT_EQ(value, 11);
  std::int64_t wide = -5;
  BerInt64 wideRanged(wide, -4, 4, BE_ENUMERATED);
  EXPECT_EQ(berErrorText([&] { encode(wideRanged); }),
            "data out of range in BerIntegerTemplate<__int64>::write -4 <= -5 <= 4");
  wide = -4;
  EXPECT_EQ(hexText(encode(wideRanged)), "0A 01 FC");
}

TEST(BerBoolean, EncodesOneOctetAndReadsAnyNonZeroAsTrue) {
  EXPECT_EQ(encoded<BerBoolean>(true), "01 01 01");
  EXPECT_EQ(encoded<BerBoolean>(false), "01 01 00");
  bool flag = true;
  BerBoolean ber(flag);
  decode(hexBytes("01 00"), ber);
  EXPECT_FALSE(flag);
  decode(hexBytes("01 01 05"), ber);
  EXPECT_TRUE(flag);
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("01 02 01 01"), ber); }),
            "Data value exceeds maximum allowed length 2 > 1");
}

TEST(BerReal, EncodesZeroSpecialsAndDecimalText) {
  EXPECT_EQ(encoded<BerReal>(0.0), "09 00");
  EXPECT_EQ(encoded<BerReal>(std::nan("")), "09 01 60");
  EXPECT_EQ(encoded<BerReal>(HUGE_VAL), "09 01 40");
  EXPECT_EQ(encoded<BerReal>(-HUGE_VAL), "09 01 41");
  // "1.500000e+00"
  EXPECT_EQ(encoded<BerReal>(1.5), "09 0D 00 31 2E 35 30 30 30 30 30 65 2B 30 30");
}

TEST(BerReal, ReadsSevenDigitsInfinityAndNanRefusesBadText) {
  double back = 1;
  BerReal reader(back);
  for (const auto& [value, read] : {std::pair{1.0 / 3, 3.333333e-01},
                                    {-2.5e-300, -2.5e-300},
                                    {123456.75, 1.234568e+05},
                                    {DBL_MAX, 1.797693e+308}}) {
    double original = value;
    decode(encode(BerReal(original)), reader);
    EXPECT_EQ(back, read) << value;
  }
  decode(hexBytes("09 01 41"), reader);
  EXPECT_EQ(back, -HUGE_VAL);
  decode(hexBytes("09 01 60"), reader);  // NaN does not come back
  EXPECT_EQ(back, 0.0);
  // Bad text and unknown formats leave the variable alone.
  back = 2;
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("09 04 00 31 78 0A"), reader); }),
            "Error parsing: \"1x\\n\"");
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("09 01 00"), reader); }), "Error parsing: \"\"");
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("09 01 03"), reader); }),
            "Unsupported real number format revceived");
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("09 3D" + std::string(2 * 61, '0')), reader); }),
            "Data value exceeds maximum allowed length 61 > 60");
  EXPECT_EQ(back, 2);
}

TEST(BerNull, HasNoContent) {
  BerNull null;
  EXPECT_EQ(hexText(encode(null)), "05 00");
  decode(hexBytes("05 00"), null);
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("05 01 00"), null); }),
            "Data value exceeds maximum allowed length 1 > 0");
}

TEST(BerBigNum, BigEndianBytesWithoutLeadingZerosBothWays) {
  EXPECT_EQ(encoded<BerBigNum>(BigNumWords{}), "02 00");
  EXPECT_EQ(encoded<BerBigNum>(BigNumWords{0x02030405, 0x01}), "02 05 01 02 03 04 05");
  EXPECT_EQ(encoded<BerBigNum>(BigNumWords{0x80, 0}), "02 01 80");
  BigNumWords largest(260, 0xFFFFFFFF);
  const std::vector<std::uint8_t> bytes = encode(BerBigNum(largest));
  EXPECT_EQ(hexText({bytes.begin(), bytes.begin() + 4}), "02 82 04 10");
  BigNumWords back;
  BerBigNum reader(back);
  decode(bytes, reader);
  EXPECT_EQ(back, largest);
  // Words are packed from the end; leading zeros go.
  decode(hexBytes("02 07 00 00 00 01 02 03 04"), reader);
  EXPECT_EQ(back, (BigNumWords{0x01020304}));
  decode(hexBytes("02 05 01 02 03 04 05"), reader);
  EXPECT_EQ(back, (BigNumWords{0x02030405, 0x01}));
  decode(hexBytes("02 02 00 00"), reader);
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(
      berErrorText([&] { decode(hexBytes("02 82 04 11" + std::string(2 * 1041, '0')), reader); }),
      "Data value exceeds maximum allowed length 1041 > 1040");
}

TEST(BerString, HonoursItsMaximumBothWays) {
  std::string text = "abc";
  BerString current(text, 3);
  EXPECT_EQ(hexText(encode(current)), "04 03 61 62 63");
  BerString legacy(text, 3, BE_STRING_LEGACY);
  EXPECT_EQ(hexText(encode(legacy)), "16 03 61 62 63");
  text = "abcd";
  EXPECT_EQ(berErrorText([&] { encode(current); }), "String exceeds allowed length 4 > 3");
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("04 04 77 78 79 7A"), current); }),
            "String exceeds allowed length 4 > 3");
  EXPECT_EQ(text, "abcd");
  decode(hexBytes("04 00"), current);
  EXPECT_EQ(text, "");
}

TEST(BerValue, EqualityComparesContentAndOrderingItsLength) {
  int five = 5;
  int six = 6;
  int big = 300;
  std::uint64_t wideFive = 5;
  const BerInt a(five), b(six), c(big);
  const BerUInt64 d(wideFive);
  EXPECT_TRUE(a == d);  // same content octets, whatever the C++ type
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(a < b);  // same length
  EXPECT_TRUE(a < c);
  EXPECT_TRUE(c > a);
  std::string x = "x", y = "y";
  const BerString sx(x, 10), sy(y, 10);
  EXPECT_TRUE(sx < sy);
  EXPECT_FALSE(sx == a);
}

TEST(BerValue, CloneOwnsACopyOfTheVariable) {
  int value = 5;
  BerInt ber(value, 0, 9, BE_ENUMERATED);
  const BerValuePtr copy = ber.clone();
  value = 6;
  EXPECT_EQ(hexText(encode(*copy)), "0A 01 05");
  EXPECT_FALSE(*copy == ber);
  auto& copied = dynamic_cast<BerInt&>(*copy);
  copied.value() = 10;
  EXPECT_EQ(berErrorText([&] { encode(*copy); }),
            "data out of range in BerIntegerTemplate<int>::write 0 <= 10 <= 9");
}

TEST(BerDeathTest, SkippersCannotBeWrittenOrOrderedNorBigNumsOverflow) {
  BerPrimitiveSkipper primitive(BE_INTEGER);
  BerConstructedSkipper constructed(BE_SEQ_CURRENT);
  BerWriter out;
  EXPECT_DEATH(primitive.write(out), "Assertion failed: BerPrimitiveSkipper::write invoked");
  EXPECT_DEATH(constructed.write(out), "Assertion failed: BerConstructedSkipper::write invoked");
  EXPECT_DEATH((void)(primitive < primitive),
               "Assertion failed: Cannot call operator< for BerPrimitiveSkipper");
  EXPECT_DEATH((void)(primitive > primitive),
               "Assertion failed: Cannot call operator> for BerPrimitiveSkipper");
  EXPECT_DEATH((void)(constructed < constructed),
               "Assertion failed: Cannot call operator< for BerConstructedSkipper");
  EXPECT_DEATH((void)(constructed > constructed),
               "Assertion failed: Cannot call operator> for BerConstructedSkipper");
  EXPECT_TRUE(primitive == BerPrimitiveSkipper(BE_BOOLEAN));
  EXPECT_FALSE(primitive == constructed);
  BigNumWords words(261, 0);  // a bignum is sized by words before leading zeros go
  EXPECT_DEATH(encode(BerBigNum(words)),
               "Assertion failed: Buffer given to bn_get_data is too small \\(wanted 1044\\)");
}

}  // namespace
}  // namespace protocol
