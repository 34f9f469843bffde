#pragma once
// Arbitrary-precision signed integers, the value of big-number properties.
// The process only carries, prints and orders them, and they travel between
// processes as decimal text ("-1234"), so the magnitude is held in base 10^9:
// reading, printing and comparing all take time linear in the digits, which
// keeps a peer's very long number from stalling the process.
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

  // Optional '-' then one or more decimal digits (leading zeros allowed);
  // anything else throws error::EParseError.
  static bignum_t parse(std::string_view text);
  // Decimal text: "0", "-42", never a '+' or leading zeros.
  std::string toString() const;

  friend bool operator==(const bignum_t&, const bignum_t&) = default;
  friend std::strong_ordering operator<=>(const bignum_t& a, const bignum_t& b) noexcept;

 private:
  void normalize() noexcept;

  // Base-10^9 digits, least significant first, no top zero chunk: zero is
  // the empty vector.
  std::vector<std::uint32_t> chunks_;
  bool negative_ = false;  // false for zero
};

std::ostream& operator<<(std::ostream& out, const bignum_t& n);

}  // namespace tql
