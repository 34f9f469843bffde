#include "protocol/ber_reader.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>

#include "error/check.h"
#include "protocol/ber_exception.h"

namespace protocol {

namespace {

constexpr std::uint8_t kHighTagNumber = 0x1F;
constexpr std::uint8_t kIndefiniteLength = 0x80;
constexpr std::size_t kMaxLengthOctets = 4;
constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

}  // namespace

BerReader::BerReader(BerValue& root, std::size_t maxDepth) : root_(root), max_depth_(maxDepth) {}

std::size_t BerReader::feed(std::span<const std::uint8_t> bytes) {
  HX_CHECK(!failed_, "BerReader fed again after a failure");
  failed_ = true;  // stays set when an exception leaves
  std::size_t used = 0;
  while (used < bytes.size() && state_ != State::done) {
    if (state_ != State::content) {
      consume(bytes[used++]);
      continue;
    }
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(content_left_, bytes.size() - used));
    primitive_->append(bytes.subspan(used, take));
    used += take;
    pos_ += take;
    content_left_ -= take;
    if (content_left_ == 0) {
      primitive_->readDone();
      elementDone();
    }
  }
  failed_ = false;
  return used;
}

void BerReader::finish() const {
  if (state_ == State::done) return;
  throw EBer("BER element truncated after " + std::to_string(pos_) + " bytes");
}

void BerReader::fail(const std::string& what) const {
  throw EBer(what + " at offset " + std::to_string(pos_));
}

std::uint64_t BerReader::limit() const { return frames_.empty() ? kNoLimit : frames_.back().limit; }

void BerReader::consume(std::uint8_t octet) {
  // Every header octet must lie inside the enclosing definite element.
  if (pos_ >= limit()) fail("BER element overruns its enclosing element");
  ++pos_;
  switch (state_) {
    case State::identifier:
      identifierOctet(octet);
      return;
    case State::tagNumber:
      tagNumberOctet(octet);
      return;
    case State::lengthFirst:
    case State::lengthMore:
      lengthOctet(octet);
      return;
    case State::content:
    case State::done:
      break;
  }
  HX_CHECK(false, "BerReader consumed an octet outside a header");
}

void BerReader::identifierOctet(std::uint8_t octet) {
  first_identifier_ = octet;
  // Class and constructed bit sit in the top three bits, the code wants them
  // in its low three.
  const tag_t lowBits = octet >> 5;
  if ((octet & kHighTagNumber) == kHighTagNumber) {
    tag_ = lowBits;
    tag_number_ = 0;
    first_tag_group_ = true;
    state_ = State::tagNumber;
    return;
  }
  tag_ = (tag_t{octet} & kHighTagNumber) * 8 + lowBits;
  state_ = State::lengthFirst;
}

void BerReader::tagNumberOctet(std::uint8_t octet) {
  if (first_tag_group_ && octet == 0x80) fail("Malformed BER tag: leading zero group");
  first_tag_group_ = false;
  if (tag_number_ > (kMaxTagNumber >> 7)) fail("BER tag number too large");
  tag_number_ = (tag_number_ << 7) | (octet & 0x7F);
  if ((octet & 0x80) != 0) return;
  tag_ += tag_number_ * 8;
  state_ = State::lengthFirst;
}

void BerReader::lengthOctet(std::uint8_t octet) {
  if (state_ == State::lengthMore) {
    length_ = (length_ << 8) | octet;
    if (--length_octets_left_ == 0) headerDone(false);
    return;
  }
  first_length_ = octet;
  if (octet < 0x80) {
    length_ = octet;
    headerDone(false);
    return;
  }
  if (octet == kIndefiniteLength) {
    length_ = 0;
    headerDone(true);
    return;
  }
  const std::size_t n = octet & 0x7F;
  if (n > kMaxLengthOctets) {
    char text[64];
    std::snprintf(text, sizeof text, "Unsupported BER length octet 0x%02X", octet);
    fail(text);
  }
  length_ = 0;
  length_octets_left_ = n;
  state_ = State::lengthMore;
}

void BerReader::headerDone(bool indefinite) {
  if (!frames_.empty() && frames_.back().indefinite && first_identifier_ == 0) {
    endOfContents();
    return;
  }
  BerValue& value = frames_.empty() ? root_ : frames_.back().value->elementFor(tag_);
  expectTag(tag_, value.tag());
  if (isConstructed(tag_)) {
    startConstructed(value, indefinite);
    return;
  }
  if (indefinite) fail("Indefinite length on a primitive BER element");
  startPrimitive(value);
}

void BerReader::endOfContents() {
  if (first_length_ != 0) fail("Malformed BER end-of-contents");
  frames_.back().value->readDone();
  frames_.pop_back();
  elementDone();
}

void BerReader::startConstructed(BerValue& value, bool indefinite) {
  auto* constructed = dynamic_cast<BerConstructed*>(&value);
  HX_CHECK(constructed != nullptr, "Primitive value bound to a constructed tag");
  if (frames_.size() >= max_depth_) {
    fail("BER elements nested deeper than " + std::to_string(max_depth_));
  }
  Frame frame{constructed, 0, limit(), indefinite};
  if (!indefinite) {
    frame.end = pos_ + length_;
    if (frame.end > frame.limit) fail("BER element overruns its enclosing element");
    frame.limit = frame.end;
  }
  frames_.push_back(frame);
  constructed->startRead();
  elementDone();  // closes it at once when it is empty
}

void BerReader::startPrimitive(BerValue& value) {
  auto* primitive = dynamic_cast<BerPrimitive*>(&value);
  HX_CHECK(primitive != nullptr, "Constructed value bound to a primitive tag");
  if (pos_ + length_ > limit()) fail("BER element overruns its enclosing element");
  primitive->allocate(static_cast<std::size_t>(length_));
  primitive_ = primitive;
  content_left_ = length_;
  if (content_left_ != 0) {
    state_ = State::content;
    return;
  }
  primitive->readDone();
  elementDone();
}

void BerReader::elementDone() {
  // Every definite element that ends here is complete too.
  while (!frames_.empty() && !frames_.back().indefinite && frames_.back().end == pos_) {
    frames_.back().value->readDone();
    frames_.pop_back();
  }
  // An indefinite element with no room left for its end-of-contents.
  if (!frames_.empty() && pos_ >= frames_.back().limit) {
    fail("BER element overruns its enclosing element");
  }
  state_ = frames_.empty() ? State::done : State::identifier;
}

std::vector<std::uint8_t> encode(const BerValue& value, LengthForm constructedForm) {
  BerWriter out(constructedForm);
  value.write(out);
  return out.release();
}

void decode(std::span<const std::uint8_t> bytes, BerValue& value, std::size_t maxDepth) {
  BerReader reader(value, maxDepth);
  const std::size_t used = reader.feed(bytes);
  reader.finish();
  if (used == bytes.size()) return;
  throw EBer("Trailing bytes after BER element: " + std::to_string(bytes.size() - used));
}

}  // namespace protocol
