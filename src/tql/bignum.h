#pragma once
// Arbitrary-precision signed integers, the value of big-number properties.
// The process only carries, prints and orders them, so there is no
// arithmetic: a sign and a magnitude of 32-bit words.
//
// Forms:
// - decimal text ("-1234"), which is how the number travels inside events;
// - words: the magnitude as 32-bit words, least significant word first, plus a
//   separate sign; this is what the BER big-number encoding packs into bytes.
#include <compare>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace tql {

class bignum_t {
 public:
  bignum_t() = default;          // zero
  bignum_t(std::int64_t value);  // implicit: any machine integer is a big number
  // From a magnitude given least significant word first. Most significant
  // zero words are dropped; a zero magnitude is never negative.
  explicit bignum_t(std::vector<std::uint32_t> magnitudeWords, bool negative = false);

  // Optional '-' then one or more decimal digits (leading zeros allowed);
  // anything else throws error::EParseError.
  static bignum_t parse(std::string_view text);
  // Decimal text: "0", "-42", never a '+' or leading zeros.
  std::string toString() const;

  // The magnitude, least significant word first, without most significant
  // zero words: zero is the empty vector.
  const std::vector<std::uint32_t>& words() const noexcept { return words_; }

  friend bool operator==(const bignum_t&, const bignum_t&) = default;
  friend std::strong_ordering operator<=>(const bignum_t& a, const bignum_t& b) noexcept;

 private:
  void normalize() noexcept;

  std::vector<std::uint32_t> words_;  // least significant first, no top zero word
  bool negative_ = false;             // false for zero
};

std::ostream& operator<<(std::ostream& out, const bignum_t& n);

}  // namespace tql
