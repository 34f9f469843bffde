#include "protocol/ber_types.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "error/check.h"
#include "error/parse.h"
#include "protocol/ber_exception.h"

namespace protocol {

namespace {

// Integer contents are at most 9 octets (an unsigned 64-bit value with its
// 0x00 sign octet), so every one fits a 128-bit integer.
__extension__ typedef __int128 wide_t;
__extension__ typedef unsigned __int128 uwide_t;
constexpr std::size_t kWideOctets = 9;

template <typename T>
constexpr const char* integerTypeName();
template <>
constexpr const char* integerTypeName<int>() {
  return "int";
}
template <>
constexpr const char* integerTypeName<unsigned int>() {
  return "unsigned int";
}
template <>
constexpr const char* integerTypeName<std::int64_t>() {
  return "__int64";
}
template <>
constexpr const char* integerTypeName<std::uint64_t>() {
  return "unsigned __int64";
}

std::string wideText(wide_t value) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  uwide_t magnitude = negative ? uwide_t{0} - static_cast<uwide_t>(value) : uwide_t(value);
  std::string digits;
  for (; magnitude != 0; magnitude /= 10) {
    digits.push_back(static_cast<char>('0' + static_cast<int>(magnitude % 10)));
  }
  if (negative) digits.push_back('-');
  std::reverse(digits.begin(), digits.end());
  return digits;
}

// Shortest big-endian two's-complement form: a leading octet goes while it
// only repeats the sign of the next one. For a non-negative value with the
// top bit set this keeps one 0x00 octet in front.
std::size_t encodeWide(wide_t value, std::span<std::uint8_t> out) {
  std::uint8_t octets[kWideOctets];
  for (std::size_t i = 0; i < kWideOctets; ++i) {
    octets[i] =
        static_cast<std::uint8_t>(static_cast<uwide_t>(value) >> (8 * (kWideOctets - 1 - i)));
  }
  std::size_t first = 0;
  while (first + 1 < kWideOctets) {
    const bool redundant = (octets[first] == 0x00 && (octets[first + 1] & 0x80) == 0) ||
                           (octets[first] == 0xFF && (octets[first + 1] & 0x80) != 0);
    if (!redundant) break;
    ++first;
  }
  const std::size_t n = kWideOctets - first;
  HX_CHECK(n <= out.size(), "Integer content larger than its buffer");
  std::copy(octets + first, octets + kWideOctets, out.begin());
  return n;
}

wide_t decodeWide(std::span<const std::uint8_t> content) {
  if (content.empty()) return 0;
  uwide_t acc = (content[0] & 0x80) != 0 ? ~uwide_t{0} : uwide_t{0};
  for (const std::uint8_t octet : content) acc = (acc << 8) | octet;
  return static_cast<wide_t>(acc);
}

constexpr std::uint8_t kRealDecimal = 0x00;
constexpr std::uint8_t kRealPlusInfinity = 0x40;
constexpr std::uint8_t kRealMinusInfinity = 0x41;
constexpr std::uint8_t kRealNotANumber = 0x60;
constexpr std::size_t kRealTextMax = 58;

}  // namespace

// --- Integers ---

template <typename T>
BerIntegerTemplate<T>::BerIntegerTemplate(T& variable, T minimum, T maximum, tag_t tag)
    : BerShortValue(tag, std::is_signed_v<T> ? sizeof(T) : sizeof(T) + 1),
      variable_(variable),
      minimum_(minimum),
      maximum_(maximum) {}

template <typename T>
BerIntegerTemplate<T>::BerIntegerTemplate(std::unique_ptr<T> variable, T minimum, T maximum,
                                          tag_t tag)
    : BerShortValue(tag, std::is_signed_v<T> ? sizeof(T) : sizeof(T) + 1),
      variable_(std::move(variable)),
      minimum_(minimum),
      maximum_(maximum) {}

template <typename T>
BerValuePtr BerIntegerTemplate<T>::clone() const {
  return std::make_unique<BerIntegerTemplate<T>>(variable_.copy(), minimum_, maximum_, tag());
}

template <typename T>
void BerIntegerTemplate<T>::readDone() {
  const wide_t value = decodeWide(received());
  if (value < wide_t{minimum_} || value > wide_t{maximum_}) {
    throw EBer(std::string("data out of range in BerIntegerTemplate<") + integerTypeName<T>() +
               ">::readDone " + std::to_string(minimum_) + " <= " + wideText(value) +
               " <= " + std::to_string(maximum_));
  }
  *variable_ = static_cast<T>(value);
}

template <typename T>
void BerIntegerTemplate<T>::write(BerWriter& out) const {
  const T value = *variable_;
  if (value < minimum_ || value > maximum_) {
    throw EBer(std::string("data out of range in BerIntegerTemplate<") + integerTypeName<T>() +
               ">::write " + std::to_string(minimum_) + " <= " + std::to_string(value) +
               " <= " + std::to_string(maximum_));
  }
  BerShortValue::write(out);
}

template <typename T>
std::size_t BerIntegerTemplate<T>::encodeContent(std::span<std::uint8_t> out) const {
  return encodeWide(wide_t{*variable_}, out);
}

template class BerIntegerTemplate<int>;
template class BerIntegerTemplate<unsigned int>;
template class BerIntegerTemplate<std::int64_t>;
template class BerIntegerTemplate<std::uint64_t>;

// --- Boolean ---

BerBoolean::BerBoolean(bool& variable, tag_t tag) : BerShortValue(tag, 1), variable_(variable) {}

BerBoolean::BerBoolean(std::unique_ptr<bool> variable, tag_t tag)
    : BerShortValue(tag, 1), variable_(std::move(variable)) {}

BerValuePtr BerBoolean::clone() const {
  return std::make_unique<BerBoolean>(variable_.copy(), tag());
}

void BerBoolean::readDone() { *variable_ = !received().empty() && received()[0] != 0; }

std::size_t BerBoolean::encodeContent(std::span<std::uint8_t> out) const {
  out[0] = *variable_ ? 0x01 : 0x00;
  return 1;
}

// --- Real ---

BerReal::BerReal(double& variable, tag_t tag) : BerShortValue(tag, 60), variable_(variable) {}

BerReal::BerReal(std::unique_ptr<double> variable, tag_t tag)
    : BerShortValue(tag, 60), variable_(std::move(variable)) {}

BerValuePtr BerReal::clone() const { return std::make_unique<BerReal>(variable_.copy(), tag()); }

void BerReal::readDone() {
  const std::span<const std::uint8_t> content = received();
  if (content.empty()) {
    *variable_ = 0.0;
    return;
  }
  switch (content[0]) {
    case kRealDecimal: {
      const std::string_view text(reinterpret_cast<const char*>(content.data()) + 1,
                                  content.size() - 1);
      double value = 0.0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (error != std::errc() || end != text.data() + text.size()) {
        throw EBer("Error parsing: " + error::quoteEscaped(text));
      }
      *variable_ = value;
      return;
    }
    case kRealPlusInfinity:
      *variable_ = HUGE_VAL;
      return;
    case kRealMinusInfinity:
      *variable_ = -HUGE_VAL;
      return;
    case kRealNotANumber:
      // NaN does not survive the trip: it reads back as zero.
      *variable_ = 0.0;
      return;
    default:
      throw EBer("Unsupported real number format revceived");
  }
}

std::size_t BerReal::encodeContent(std::span<std::uint8_t> out) const {
  const double value = *variable_;
  if (value == 0.0) return 0;
  if (std::isnan(value)) {
    out[0] = kRealNotANumber;
    return 1;
  }
  if (std::isinf(value)) {
    out[0] = value > 0 ? kRealPlusInfinity : kRealMinusInfinity;
    return 1;
  }
  char text[kRealTextMax + 8];
  const int n = std::snprintf(text, sizeof text, "%e", value);
  HX_CHECK(n >= 0 && static_cast<std::size_t>(n) <= kRealTextMax,
           "String representation of double larger than buffer");
  out[0] = kRealDecimal;
  std::copy(text, text + n, out.begin() + 1);
  return static_cast<std::size_t>(n) + 1;
}

// --- Big number ---

BerBigNum::BerBigNum(BigNumWords& variable, tag_t tag)
    : BerShortValue(tag, kMaxLength), variable_(variable) {}

BerBigNum::BerBigNum(std::unique_ptr<BigNumWords> variable, tag_t tag)
    : BerShortValue(tag, kMaxLength), variable_(std::move(variable)) {}

BerValuePtr BerBigNum::clone() const {
  return std::make_unique<BerBigNum>(variable_.copy(), tag());
}

void BerBigNum::readDone() {
  const std::span<const std::uint8_t> content = received();
  BigNumWords words((content.size() + 3) / 4, 0);
  for (std::size_t i = 0; i < content.size(); ++i) {
    const std::size_t fromEnd = content.size() - 1 - i;
    words[fromEnd / 4] |= std::uint32_t{content[i]} << (8 * (fromEnd % 4));
  }
  while (!words.empty() && words.back() == 0) words.pop_back();
  *variable_ = std::move(words);
}

std::size_t BerBigNum::encodeContent(std::span<std::uint8_t> out) const {
  const BigNumWords& words = *variable_;
  // Sized before leading zero bytes are stripped: 4 bytes for every word.
  const std::size_t wanted = words.size() * 4;
  HX_CHECK(wanted <= out.size(),
           "Buffer given to bn_get_data is too small (wanted " + std::to_string(wanted) + ")");
  std::size_t n = 0;
  for (std::size_t w = words.size(); w-- > 0;) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      const auto octet = static_cast<std::uint8_t>(words[w] >> shift);
      if (n == 0 && octet == 0) continue;
      out[n++] = octet;
    }
  }
  return n;
}

// --- String ---

BerString::BerString(std::string& variable, std::size_t maxLength, tag_t tag)
    : variable_(variable), max_length_(maxLength), tag_(tag) {
  HX_CHECK(!isConstructed(tag), "BerString given a constructed tag");
}

BerString::BerString(std::unique_ptr<std::string> variable, std::size_t maxLength, tag_t tag)
    : variable_(std::move(variable)), max_length_(maxLength), tag_(tag) {
  HX_CHECK(!isConstructed(tag), "BerString given a constructed tag");
}

BerValuePtr BerString::clone() const {
  return std::make_unique<BerString>(variable_.copy(), max_length_, tag_);
}

void BerString::checkLength(std::size_t length) const {
  if (length <= max_length_) return;
  throw EBer("String exceeds allowed length " + std::to_string(length) + " > " +
             std::to_string(max_length_));
}

void BerString::allocate(std::size_t length) {
  checkLength(length);
  buffer_.clear();
  // The announced length is only a claim: reserve a little and let the
  // buffer grow with the bytes that really arrive.
  constexpr std::size_t kReserveLimit = 4096;
  buffer_.reserve(std::min(length, kReserveLimit));
  announced_ = length;
}

void BerString::append(std::span<const std::uint8_t> bytes) {
  HX_CHECK(bytes.size() <= announced_ - buffer_.size(), "BerString content beyond its length");
  buffer_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void BerString::readDone() {
  *variable_ = std::move(buffer_);
  buffer_.clear();
}

const BerString& BerString::sameKind(const BerValue& other) const {
  const auto* that = dynamic_cast<const BerString*>(&other);
  HX_CHECK(that != nullptr, "BerString ordered against another kind of value");
  return *that;
}

bool BerString::equals(const BerValue& other) const {
  const auto* that = dynamic_cast<const BerString*>(&other);
  return that != nullptr && *variable_ == *that->variable_;
}

bool BerString::lessThan(const BerValue& other) const {
  return *variable_ < *sameKind(other).variable_;
}

bool BerString::greaterThan(const BerValue& other) const {
  return *variable_ > *sameKind(other).variable_;
}

void BerString::write(BerWriter& out) const {
  checkLength(variable_->size());
  out.writePrimitive(
      tag_, std::span(reinterpret_cast<const std::uint8_t*>(variable_->data()), variable_->size()));
}

}  // namespace protocol
