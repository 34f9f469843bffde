#include "protocol/ber_value.h"

#include <algorithm>
#include <array>
#include <string>

#include "error/check.h"
#include "protocol/ber_exception.h"

namespace protocol {

BerShortValue::BerShortValue(tag_t tag, std::size_t maxLength) : tag_(tag), max_length_(maxLength) {
  HX_CHECK(maxLength <= kLargestMaxLength, "BerShortValue maximum above its buffer");
  HX_CHECK(!isConstructed(tag), "BerShortValue given a constructed tag");
}

void BerShortValue::allocate(std::size_t length) {
  if (length > max_length_) {
    throw EBer("Data value exceeds maximum allowed length " + std::to_string(length) + " > " +
               std::to_string(max_length_));
  }
  buffer_.clear();
  buffer_.reserve(length);
  announced_ = length;
}

void BerShortValue::append(std::span<const std::uint8_t> bytes) {
  HX_CHECK(bytes.size() <= announced_ - buffer_.size(), "BerShortValue content beyond its length");
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

bool BerShortValue::equals(const BerValue& other) const {
  const auto* that = dynamic_cast<const BerShortValue*>(&other);
  if (that == nullptr) return false;
  std::array<std::uint8_t, kLargestMaxLength> mine;
  std::array<std::uint8_t, kLargestMaxLength> theirs;
  const std::size_t n = encodeContent(std::span(mine).first(max_length_));
  const std::size_t m = that->encodeContent(std::span(theirs).first(that->max_length_));
  return std::equal(mine.begin(), mine.begin() + n, theirs.begin(), theirs.begin() + m);
}

std::size_t BerShortValue::encodedLength() const {
  std::array<std::uint8_t, kLargestMaxLength> content;
  return encodeContent(std::span(content).first(max_length_));
}

bool BerShortValue::lessThan(const BerValue& other) const {
  const auto* that = dynamic_cast<const BerShortValue*>(&other);
  HX_CHECK(that != nullptr, "BerShortValue ordered against another kind of value");
  return encodedLength() < that->encodedLength();
}

bool BerShortValue::greaterThan(const BerValue& other) const {
  const auto* that = dynamic_cast<const BerShortValue*>(&other);
  HX_CHECK(that != nullptr, "BerShortValue ordered against another kind of value");
  return encodedLength() > that->encodedLength();
}

void BerShortValue::write(BerWriter& out) const {
  std::array<std::uint8_t, kLargestMaxLength> content;
  const std::size_t n = encodeContent(std::span(content).first(max_length_));
  out.writePrimitive(tag_, std::span(content).first(n));
}

void BerConstructed::write(BerWriter& out) const {
  const std::size_t mark = out.beginConstructed(tag_);
  writeElements(out);
  out.endConstructed(mark);
}

BerValuePtr BerPrimitiveSkipper::clone() const {
  return std::make_unique<BerPrimitiveSkipper>(tag_);
}

bool BerPrimitiveSkipper::equals(const BerValue& other) const {
  return dynamic_cast<const BerPrimitiveSkipper*>(&other) != nullptr;
}

bool BerPrimitiveSkipper::lessThan(const BerValue&) const {
  error::assertionFailed("Cannot call operator< for BerPrimitiveSkipper");
}

bool BerPrimitiveSkipper::greaterThan(const BerValue&) const {
  error::assertionFailed("Cannot call operator> for BerPrimitiveSkipper");
}

void BerPrimitiveSkipper::write(BerWriter&) const {
  error::assertionFailed("BerPrimitiveSkipper::write invoked");
}

BerValuePtr BerConstructedSkipper::clone() const {
  return std::make_unique<BerConstructedSkipper>(tag());
}

BerValue& BerConstructedSkipper::elementFor(tag_t tag) {
  current_ = makeSkipper(tag);
  return *current_;
}

bool BerConstructedSkipper::equals(const BerValue& other) const {
  return dynamic_cast<const BerConstructedSkipper*>(&other) != nullptr;
}

bool BerConstructedSkipper::lessThan(const BerValue&) const {
  error::assertionFailed("Cannot call operator< for BerConstructedSkipper");
}

bool BerConstructedSkipper::greaterThan(const BerValue&) const {
  error::assertionFailed("Cannot call operator> for BerConstructedSkipper");
}

void BerConstructedSkipper::write(BerWriter&) const {
  error::assertionFailed("BerConstructedSkipper::write invoked");
}

void BerConstructedSkipper::writeElements(BerWriter&) const {
  error::assertionFailed("BerConstructedSkipper::write invoked");
}

BerValuePtr makeSkipper(tag_t tag) {
  if (isConstructed(tag)) return std::make_unique<BerConstructedSkipper>(tag);
  return std::make_unique<BerPrimitiveSkipper>(tag);
}

}  // namespace protocol
