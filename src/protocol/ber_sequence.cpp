#include "protocol/ber_sequence.h"

#include <string>

#include "error/check.h"
#include "protocol/ber_exception.h"

namespace protocol {

BerSequence& BerSequence::add(BerValuePtr element) {
  HX_CHECK(element != nullptr, "BerSequence given no element");
  elements_.push_back(std::move(element));
  return *this;
}

BerValuePtr BerSequence::clone() const {
  auto copy = std::make_unique<BerSequence>(tag());
  for (const BerValuePtr& element : elements_) copy->add(element->clone());
  return copy;
}

void BerSequence::startRead() {
  next_ = 0;
  skipper_.reset();
}

BerValue& BerSequence::elementFor(tag_t tag) {
  if (next_ < elements_.size()) return *elements_[next_++];
  skipper_ = makeSkipper(tag);
  return *skipper_;
}

void BerSequence::readDone() {
  skipper_.reset();
  if (next_ >= elements_.size()) return;
  throw EBer("Sequence ended after " + std::to_string(next_) + " of " +
             std::to_string(elements_.size()) + " elements");
}

bool BerSequence::equals(const BerValue& other) const {
  const auto* that = dynamic_cast<const BerSequence*>(&other);
  if (that == nullptr || that->tag() != tag() || that->size() != size()) return false;
  for (std::size_t i = 0; i < size(); ++i) {
    if (!(*elements_[i] == *that->elements_[i])) return false;
  }
  return true;
}

const BerSequence& BerSequence::sameKind(const BerValue& other) const {
  const auto* that = dynamic_cast<const BerSequence*>(&other);
  HX_CHECK(that != nullptr, "BerSequence ordered against another kind of value");
  return *that;
}

bool BerSequence::lessThan(const BerValue& other) const {
  const BerSequence& that = sameKind(other);
  for (std::size_t i = 0; i < size() && i < that.size(); ++i) {
    if (*elements_[i] < *that.elements_[i]) return true;
    if (*elements_[i] > *that.elements_[i]) return false;
  }
  return size() < that.size();
}

bool BerSequence::greaterThan(const BerValue& other) const { return sameKind(other) < *this; }

void BerSequence::writeElements(BerWriter& out) const {
  for (const BerValuePtr& element : elements_) element->write(out);
}

}  // namespace protocol
