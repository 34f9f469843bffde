#include "protocol/ber_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "protocol/ber_sequence.h"
#include "protocol/ber_types.h"
#include "testkit/ber.h"

namespace protocol {
namespace {

using testkit::berErrorText;
using testkit::hexBytes;
using testkit::hexText;

struct Sample {
  int id = 0;
  std::string name;
  bool flag = false;
  double ratio = 0;
  BigNumWords big;
  std::uint64_t count = 0;

  bool operator==(const Sample&) const = default;
};

// id, {name, flag}, ratio, big, count
std::unique_ptr<BerSequence> bindSample(Sample& s, tag_t outer = BE_CHECK_CURRENT,
                                        tag_t inner = BE_PROPERTY_CURRENT,
                                        tag_t string = BE_STRING_CURRENT) {
  auto message = std::make_unique<BerSequence>(outer);
  message->emplace<BerInt>(s.id);
  auto& property = message->emplace<BerSequence>(inner);
  property.emplace<BerString>(s.name, 300, string);
  property.emplace<BerBoolean>(s.flag);
  message->emplace<BerReal>(s.ratio);
  message->emplace<BerBigNum>(s.big);
  message->emplace<BerUInt64>(s.count);
  return message;
}

Sample fullSample() {
  return Sample{-129, std::string(200, 'n'), true, 2.5, {0x89ABCDEF, 0x01234567}, UINT64_MAX};
}

class BerReaderTest : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> encodeSample(Sample s, LengthForm form = LengthForm::definite) {
    return encode(*bindSample(s), form);
  }
  Sample readSample(const std::vector<std::uint8_t>& bytes) {
    Sample s;
    decode(bytes, *bindSample(s));
    return s;
  }
  std::string readError(const std::vector<std::uint8_t>& bytes) {
    Sample s;
    return berErrorText([&] { decode(bytes, *bindSample(s)); });
  }
  std::string skipError(const std::string& hex) {
    BerConstructedSkipper skipper(BE_SEQ_CURRENT);
    return berErrorText([&] { decode(hexBytes(hex), skipper); });
  }
};

TEST_F(BerReaderTest, TakesInputInPiecesAndStopsAtTheElementEnd) {
  for (const LengthForm form : {LengthForm::definite, LengthForm::indefinite}) {
    std::vector<std::uint8_t> bytes = encodeSample(fullSample(), form);
    Sample s;
    const auto message = bindSample(s);
    BerReader reader(*message);
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
      ASSERT_EQ(reader.feed({&bytes[i], 1}), 1u);
      ASSERT_FALSE(reader.done());
    }
    bytes.push_back(0x05);  // the start of whatever follows
    EXPECT_EQ(reader.feed({&bytes[bytes.size() - 2], 2}), 1u);
    EXPECT_TRUE(reader.done());
    reader.finish();
    EXPECT_EQ(s, fullSample());
  }
}

TEST_F(BerReaderTest, SkipsUnknownElementsNestedAtAnyDepth) {
  // A newer peer appends: a context [31] constructed of indefinite length
  // holding an application [128] primitive and a set with an empty
  // indefinite sequence and a NULL, then a context [0] primitive.
  const std::string extras = "BF 1F 80 5F 81 00 02 AA BB 31 06 30 80 00 00 05 00 00 00 80 01 FF";
  std::vector<std::uint8_t> bytes = encodeSample(fullSample(), LengthForm::indefinite);
  const std::vector<std::uint8_t> extra = hexBytes(extras);
  bytes.insert(bytes.end() - 2, extra.begin(), extra.end());
  EXPECT_EQ(readSample(bytes), fullSample());

  BerConstructedSkipper skipper(BE_SEQ_CURRENT);
  decode(bytes, skipper);
  BerConstructedSkipper highTag(kMaxTagNumber * 8 + 3 * 2 + 1);
  decode(hexBytes("FF 81 FF FF FF 7F 08 31 06 30 80 00 00 05 00"), highTag);
}

TEST_F(BerReaderTest, LegacyAndCurrentVariantsAreTold) {
  Sample s = fullSample();
  const std::vector<std::uint8_t> legacy =
      encode(*bindSample(s, BE_CHECK_LEGACY, BE_PROPERTY_LEGACY, BE_STRING_LEGACY));
  EXPECT_EQ(hexText({legacy.begin(), legacy.begin() + 1}), "20");
  Sample back;
  decode(legacy, *bindSample(back, BE_CHECK_LEGACY, BE_PROPERTY_LEGACY, BE_STRING_LEGACY));
  EXPECT_EQ(back, s);
  EXPECT_EQ(readError(legacy), "Tag mismatch, got 1 expected BE_SEQ_CURRENT");
}

// --- Bad input: every case fails with a clear text and changes nothing. ---

TEST_F(BerReaderTest, EveryTruncationIsReported) {
  for (const LengthForm form : {LengthForm::definite, LengthForm::indefinite}) {
    const std::vector<std::uint8_t> bytes = encodeSample(fullSample(), form);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
      ASSERT_EQ(readError({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)}),
                "BER element truncated after " + std::to_string(n) + " bytes");
    }
  }
}

TEST_F(BerReaderTest, HostileLengthsCostNothing) {
  std::string text = "kept";
  BerString huge(text, SIZE_MAX);
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("04 84 FF FF FF FF 61"), huge); }),
            "BER element truncated after 7 bytes");
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(skipError("30 84 FF FF FF FF 02 01 05"), "BER element truncated after 9 bytes");
}

TEST_F(BerReaderTest, MalformedStructureIsRefused) {
  EXPECT_EQ(skipError("30 03 02 02 00 01"),
            "BER element overruns its enclosing element at offset 4");
  EXPECT_EQ(skipError("30 01 02 01 05"), "BER element overruns its enclosing element at offset 3");
  EXPECT_EQ(skipError("30 04 30 80 05 00"),  // no end-of-contents inside the definite parent
            "BER element overruns its enclosing element at offset 6");
  EXPECT_EQ(skipError("30 02 04 80"), "Indefinite length on a primitive BER element at offset 4");
  EXPECT_EQ(skipError("30 80 04 FF"), "Unsupported BER length octet 0xFF at offset 4");
  EXPECT_EQ(skipError("30 80 04 85 00 00 00 00 01"),
            "Unsupported BER length octet 0x85 at offset 4");
  EXPECT_EQ(skipError("30 80 00 01 00"), "Malformed BER end-of-contents at offset 4");
  EXPECT_EQ(skipError("30 80 00 80"), "Malformed BER end-of-contents at offset 4");
  EXPECT_EQ(skipError("30 80 1F 80 01 00 00 00"),
            "Malformed BER tag: leading zero group at offset 4");
  EXPECT_EQ(skipError("30 80 1F FF FF FF FF 7F 00 00 00"), "BER tag number too large at offset 8");
  EXPECT_EQ(skipError("30 00 05"), "Trailing bytes after BER element: 1");
}

TEST_F(BerReaderTest, NestingIsLimited) {
  std::string deepest;
  for (int i = 0; i < 64; ++i) deepest = "30 80 " + deepest + "00 00 ";
  BerConstructedSkipper skipper(BE_SEQ_CURRENT);
  decode(hexBytes(deepest), skipper);
  EXPECT_EQ(skipError("30 80 " + deepest + "00 00"),
            "BER elements nested deeper than 64 at offset 130");
}

TEST_F(BerReaderTest, UnexpectedOrMissingElementsAreRefused) {
  int id = 3;
  BerSequence one;
  one.emplace<BerInt>(id);
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("30 03 01 01 01"), one); }),
            "Tag mismatch, got 8 expected BE_INTEGER");
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("30 00"), one); }),
            "Sequence ended after 0 of 1 elements");
  EXPECT_EQ(berErrorText([&] { decode(hexBytes("02 01 05"), one); }),
            "Tag mismatch, got 16 expected BE_SEQ_CURRENT");
  EXPECT_EQ(id, 3);
  std::vector<std::uint8_t> bytes = encodeSample(fullSample());
  ASSERT_EQ(hexText({bytes.begin(), bytes.begin() + 4}), "30 81 F9 02");
  bytes[3] = 0x0A;  // the id arrives as ENUMERATED
  EXPECT_EQ(readError(bytes), "Tag mismatch, got 80 expected BE_INTEGER");
}

// --- Random round trips ---

// A random value tree. Two generators seeded alike build the same shape;
// with `fill` false every variable keeps its zero value.
class RandomTree {
 public:
  RandomTree(unsigned seed, bool fill) : rng_(seed), fill_(fill) {}

  std::unique_ptr<BerSequence> sequence(int depth) {
    auto seq = std::make_unique<BerSequence>(pick(2) == 0 ? BE_SEQ_CURRENT : BE_SEQ_LEGACY);
    const std::uint32_t elements = pick(7);
    for (std::uint32_t i = 0; i < elements; ++i) seq->add(value(depth));
    return seq;
  }

 private:
  std::uint32_t pick(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
  // Small and large magnitudes alike: random bits shifted right by a random amount.
  std::uint64_t bits() {
    const std::uint64_t raw = rng_();
    const std::uint32_t shift = pick(64);
    return fill_ ? raw >> shift : 0;
  }
  std::int64_t signedBits() {
    const std::uint64_t raw = rng_();
    const std::uint32_t shift = pick(64);
    return fill_ ? static_cast<std::int64_t>(raw) >> shift : 0;
  }

  BerValuePtr value(int depth) {
    switch (pick(depth < 3 ? 9 : 8)) {
      case 0:
        return std::make_unique<BerInt>(std::make_unique<int>(static_cast<int>(signedBits())));
      case 1:
        return std::make_unique<BerUInt>(std::make_unique<unsigned>(static_cast<unsigned>(bits())));
      case 2:
        return std::make_unique<BerInt64>(std::make_unique<std::int64_t>(signedBits()));
      case 3:
        return std::make_unique<BerUInt64>(std::make_unique<std::uint64_t>(bits()));
      case 4:
        return std::make_unique<BerBoolean>(std::make_unique<bool>((bits() & 1) != 0));
      case 5: {
        double d = std::bit_cast<double>(bits());
        if (std::isnan(d)) d = 1;  // NaN reads back as zero
        return std::make_unique<BerReal>(std::make_unique<double>(d));
      }
      case 6: {
        std::string text(pick(300), '\0');
        for (char& c : text) c = static_cast<char>(fill_ ? pick(256) : pick(1));
        return std::make_unique<BerString>(std::make_unique<std::string>(text), 300);
      }
      case 7: {
        BigNumWords words(pick(5));
        for (std::uint32_t& w : words) w = static_cast<std::uint32_t>(bits());
        while (!words.empty() && words.back() == 0) words.pop_back();
        return std::make_unique<BerBigNum>(std::make_unique<BigNumWords>(words));
      }
      default:
        return sequence(depth + 1);
    }
  }

  std::mt19937_64 rng_;
  bool fill_;
};

TEST_F(BerReaderTest, RandomTreesRoundTripInRandomPieces) {
  std::mt19937 chunks(20240611);
  for (unsigned seed = 1; seed <= 300; ++seed) {
    const auto original = RandomTree(seed, true).sequence(0);
    const auto decoded = RandomTree(seed, false).sequence(0);
    const LengthForm form = seed % 2 == 0 ? LengthForm::definite : LengthForm::indefinite;
    const std::vector<std::uint8_t> bytes = encode(*original, form);
    BerReader reader(*decoded);
    std::size_t used = 0;
    while (used < bytes.size()) {
      const std::size_t piece = std::min<std::size_t>(chunks() % 40 + 1, bytes.size() - used);
      ASSERT_EQ(reader.feed({bytes.data() + used, piece}), piece) << "seed " << seed;
      used += piece;
    }
    reader.finish();
    EXPECT_TRUE(*decoded == *original) << "seed " << seed;
    EXPECT_EQ(encode(*decoded, form), bytes) << "seed " << seed;
  }
}

}  // namespace
}  // namespace protocol
