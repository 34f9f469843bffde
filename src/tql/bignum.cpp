#include "tql/bignum.h"

#include <algorithm>
#include <ostream>

#include "error/exception.h"

namespace tql {
namespace {

constexpr std::uint32_t kChunk = 1000000000;  // 10^9: the largest power of ten in a word
constexpr int kChunkDigits = 9;

// words = words * factor + addend, on a least-significant-first magnitude.
void multiplyAdd(std::vector<std::uint32_t>& words, std::uint32_t factor, std::uint32_t addend) {
  std::uint64_t carry = addend;
  for (std::uint32_t& w : words) {
    const std::uint64_t v = std::uint64_t{w} * factor + carry;
    w = static_cast<std::uint32_t>(v);
    carry = v >> 32;
  }
  if (carry != 0) words.push_back(static_cast<std::uint32_t>(carry));
}

// words = words / divisor, returning the remainder; drops a top zero word.
std::uint32_t divide(std::vector<std::uint32_t>& words, std::uint32_t divisor) {
  std::uint64_t rest = 0;
  for (auto it = words.rbegin(); it != words.rend(); ++it) {
    const std::uint64_t v = (rest << 32) | *it;
    *it = static_cast<std::uint32_t>(v / divisor);
    rest = v % divisor;
  }
  while (!words.empty() && words.back() == 0) words.pop_back();
  return static_cast<std::uint32_t>(rest);
}

}  // namespace

bignum_t::bignum_t(std::int64_t value) : negative_(value < 0) {
  // Negate in unsigned arithmetic so that the smallest int64 has a magnitude.
  const std::uint64_t magnitude =
      negative_ ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  words_ = {static_cast<std::uint32_t>(magnitude), static_cast<std::uint32_t>(magnitude >> 32)};
  normalize();
}

bignum_t::bignum_t(std::vector<std::uint32_t> magnitudeWords, bool negative)
    : words_(std::move(magnitudeWords)), negative_(negative) {
  normalize();
}

void bignum_t::normalize() noexcept {
  while (!words_.empty() && words_.back() == 0) words_.pop_back();
  if (words_.empty()) negative_ = false;
}

bignum_t bignum_t::parse(std::string_view text) {
  const auto bad = [&] {
    return error::EParseError("Bad big number \"" + std::string(text) +
                              "\": expected an optional '-' and decimal digits");
  };
  bignum_t n;
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '-') {
    n.negative_ = true;
    digits.remove_prefix(1);
  }
  if (digits.empty()) throw bad();
  // Take the digits in chunks of nine, the first chunk holding the remainder,
  // so that every step is one word-sized multiply-add.
  std::size_t chunkLength = digits.size() % kChunkDigits;
  if (chunkLength == 0) chunkLength = kChunkDigits;
  while (!digits.empty()) {
    std::uint32_t chunk = 0;
    std::uint32_t scale = 1;
    for (char ch : digits.substr(0, chunkLength)) {
      if (ch < '0' || ch > '9') throw bad();
      chunk = chunk * 10 + static_cast<std::uint32_t>(ch - '0');
      scale *= 10;
    }
    multiplyAdd(n.words_, scale, chunk);
    digits.remove_prefix(chunkLength);
    chunkLength = kChunkDigits;
  }
  n.normalize();
  return n;
}

std::string bignum_t::toString() const {
  if (words_.empty()) return "0";
  std::vector<std::uint32_t> rest = words_;
  std::vector<std::uint32_t> chunks;  // base 10^9, least significant first
  while (!rest.empty()) chunks.push_back(divide(rest, kChunk));
  std::string text = negative_ ? "-" : "";
  text += std::to_string(chunks.back());
  for (auto it = chunks.rbegin() + 1; it != chunks.rend(); ++it) {
    const std::string part = std::to_string(*it);
    text.append(kChunkDigits - part.size(), '0');
    text += part;
  }
  return text;
}

std::strong_ordering operator<=>(const bignum_t& a, const bignum_t& b) noexcept {
  if (a.negative_ != b.negative_)
    return a.negative_ ? std::strong_ordering::less : std::strong_ordering::greater;
  // Same sign: compare magnitudes, longer is larger; a negative sign flips it.
  std::strong_ordering magnitude = a.words_.size() <=> b.words_.size();
  if (magnitude == 0) {
    magnitude = std::lexicographical_compare_three_way(a.words_.rbegin(), a.words_.rend(),
                                                       b.words_.rbegin(), b.words_.rend());
  }
  return a.negative_ ? 0 <=> magnitude : magnitude;
}

std::ostream& operator<<(std::ostream& out, const bignum_t& n) { return out << n.toString(); }

}  // namespace tql
