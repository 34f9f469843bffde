#include "tql/bignum.h"

#include <algorithm>
#include <ostream>

#include "error/exception.h"

namespace tql {
namespace {

constexpr std::uint32_t kChunk = 1000000000;  // 10^9: the largest power of ten in a word
constexpr std::size_t kChunkDigits = 9;

}  // namespace

bignum_t::bignum_t(std::int64_t value) : negative_(value < 0) {
  // Negate in unsigned arithmetic so that the smallest int64 has a magnitude.
  std::uint64_t magnitude =
      negative_ ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  while (magnitude != 0) {
    chunks_.push_back(static_cast<std::uint32_t>(magnitude % kChunk));
    magnitude /= kChunk;
  }
}

void bignum_t::normalize() noexcept {
  while (!chunks_.empty() && chunks_.back() == 0) chunks_.pop_back();
  if (chunks_.empty()) negative_ = false;
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
  // Nine digits to a chunk, taken from the least significant end.
  n.chunks_.reserve(digits.size() / kChunkDigits + 1);
  for (std::size_t end = digits.size(); end > 0;) {
    const std::size_t begin = end > kChunkDigits ? end - kChunkDigits : 0;
    std::uint32_t chunk = 0;
    for (char ch : digits.substr(begin, end - begin)) {
      if (ch < '0' || ch > '9') throw bad();
      chunk = chunk * 10 + static_cast<std::uint32_t>(ch - '0');
    }
    n.chunks_.push_back(chunk);
    end = begin;
  }
  n.normalize();
  return n;
}

std::string bignum_t::toString() const {
  if (chunks_.empty()) return "0";
  std::string text = negative_ ? "-" : "";
  text += std::to_string(chunks_.back());
  for (auto it = chunks_.rbegin() + 1; it != chunks_.rend(); ++it) {
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
  std::strong_ordering magnitude = a.chunks_.size() <=> b.chunks_.size();
  if (magnitude == 0) {
    magnitude = std::lexicographical_compare_three_way(a.chunks_.rbegin(), a.chunks_.rend(),
                                                       b.chunks_.rbegin(), b.chunks_.rend());
  }
  return a.negative_ ? 0 <=> magnitude : magnitude;
}

std::ostream& operator<<(std::ostream& out, const bignum_t& n) { return out << n.toString(); }

}  // namespace tql
