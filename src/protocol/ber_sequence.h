#pragma once
// A constructed value made of a fixed series of element values, written and
// read in order. Elements beyond the known ones are skipped, so a peer that
// speaks a newer protocol may append fields; a sequence that ends before its
// last known element is refused.
#include <utility>

#include "protocol/ber_value.h"

namespace protocol {

class BerSequence : public BerConstructed {
 public:
  explicit BerSequence(tag_t tag = BE_SEQ_CURRENT) : BerConstructed(tag) {}

  BerSequence& add(BerValuePtr element);
  template <typename V, typename... Args>
  V& emplace(Args&&... args) {
    auto element = std::make_unique<V>(std::forward<Args>(args)...);
    V& ref = *element;
    add(std::move(element));
    return ref;
  }
  std::size_t size() const { return elements_.size(); }
  BerValue& operator[](std::size_t i) const { return *elements_.at(i); }

  BerValuePtr clone() const override;
  void startRead() override;
  BerValue& elementFor(tag_t tag) override;
  // Throws EBer "Sequence ended after <n> of <size> elements" when elements
  // are missing.
  void readDone() override;
  // Same tag and pairwise equal elements.
  bool equals(const BerValue& other) const override;
  // Element by element, the first unequal pair deciding; a proper prefix is less.
  bool lessThan(const BerValue& other) const override;
  bool greaterThan(const BerValue& other) const override;

 protected:
  void writeElements(BerWriter& out) const override;

 private:
  const BerSequence& sameKind(const BerValue& other) const;

  std::vector<BerValuePtr> elements_;
  std::size_t next_ = 0;  // the element the next arrival belongs to
  BerValuePtr skipper_;   // absorbs an element after the known ones
};

}  // namespace protocol
