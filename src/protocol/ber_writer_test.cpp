#include "protocol/ber_writer.h"

#include <gtest/gtest.h>

#include "testkit/ber.h"

namespace protocol {
namespace {

using testkit::hexText;

std::string tagOctets(tag_t tag) {
  std::vector<std::uint8_t> out;
  appendTag(out, tag);
  return hexText(out);
}

std::string lengthOctets(std::size_t length) {
  std::vector<std::uint8_t> out;
  appendLength(out, length);
  return hexText(out);
}

TEST(BerWriter, TagOctetsLowAndHighNumbers) {
  // Tag code = number * 8 + class * 2 + constructed.
  EXPECT_EQ(tagOctets(30 * 8 + 3 * 2 + 1), "FE");  // the last one-octet tag
  EXPECT_EQ(tagOctets(31 * 8 + 2 * 2 + 1), "BF 1F");
  EXPECT_EQ(tagOctets(127 * 8 + 1 * 2), "5F 7F");
  EXPECT_EQ(tagOctets(128 * 8), "1F 81 00");
  EXPECT_EQ(tagOctets(16383 * 8), "1F FF 7F");
  EXPECT_EQ(tagOctets(kMaxTagNumber * 8 + 3 * 2 + 1), "FF 81 FF FF FF 7F");
}

TEST(BerWriter, LengthFormBoundaries) {
  EXPECT_EQ(lengthOctets(0), "00");
  EXPECT_EQ(lengthOctets(127), "7F");
  EXPECT_EQ(lengthOctets(128), "81 80");
  EXPECT_EQ(lengthOctets(255), "81 FF");
  EXPECT_EQ(lengthOctets(256), "82 01 00");
  EXPECT_EQ(lengthOctets(65536), "83 01 00 00");
  EXPECT_EQ(lengthOctets(0xFFFFFFFF), "84 FF FF FF FF");
}

TEST(BerWriter, DefiniteFramesGetTheirLengthWhenTheyClose) {
  BerWriter out;
  const std::size_t outer = out.beginConstructed(BE_SEQ_CURRENT);
  const std::size_t inner = out.beginConstructed(BE_SET_CURRENT);
  out.writePrimitive(BE_STRING_CURRENT, std::vector<std::uint8_t>(200, 0xAB));
  out.endConstructed(inner);
  out.writePrimitive(BE_BOOLEAN, std::vector<std::uint8_t>{1});
  out.endConstructed(outer);
  const std::vector<std::uint8_t>& bytes = out.bytes();
  // 30 81 D1 | 31 81 CB | 04 81 C8 <200 bytes> | 01 01 01
  ASSERT_EQ(bytes.size(), 3u + 3 + 3 + 200 + 3);
  EXPECT_EQ(hexText({bytes.begin(), bytes.begin() + 10}), "30 81 D1 31 81 CB 04 81 C8 AB");
  EXPECT_EQ(hexText({bytes.end() - 4, bytes.end()}), "AB 01 01 01");
}

TEST(BerWriter, IndefiniteFramesEndWithEndOfContents) {
  BerWriter out(LengthForm::indefinite);
  const std::size_t outer = out.beginConstructed(BE_SEQ_LEGACY);
  const std::size_t inner = out.beginConstructed(BE_SEQ_LEGACY);
  out.endConstructed(inner);
  out.writePrimitive(BE_INTEGER, std::vector<std::uint8_t>{5});
  out.endConstructed(outer);
  EXPECT_EQ(hexText(out.bytes()), "20 80 20 80 00 00 02 01 05 00 00");
}

TEST(BerWriterDeathTest, ImpossibleLengthsAndUnbalancedFramesAbort) {
  std::vector<std::uint8_t> out;
  EXPECT_DEATH(appendLength(out, std::size_t{1} << 32),
               "Assertion failed: Length exceeds four octets");
  BerWriter writer;
  EXPECT_DEATH(writer.endConstructed(0), "Assertion failed: endConstructed without a matching");
}

}  // namespace
}  // namespace protocol
