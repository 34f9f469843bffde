#pragma once
// The value classes of the BER encoding. Each value is a view bound to one
// variable of a message: write() encodes the variable; a reader hands the
// received content to the value (allocate, append) and then readDone()
// converts it into the variable, so a failed read leaves the variable as it
// was. Constructed values hand out the value that receives each element.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "protocol/ber_tags.h"
#include "protocol/ber_writer.h"

namespace protocol {

class BerValue;
using BerValuePtr = std::unique_ptr<BerValue>;

class BerValue {
 public:
  virtual ~BerValue() = default;
  // A copy that owns a copy of the bound variable.
  virtual BerValuePtr clone() const = 0;
  virtual tag_t tag() const = 0;
  // Converts the received content into the bound variable.
  virtual void readDone() {}
  // Equality and ordering; the operators below call these, so values of
  // any two classes compare through their common base.
  virtual bool equals(const BerValue& other) const = 0;
  virtual bool lessThan(const BerValue& other) const = 0;
  virtual bool greaterThan(const BerValue& other) const = 0;
  // Encodes tag, length and content.
  virtual void write(BerWriter& out) const = 0;

  friend bool operator==(const BerValue& a, const BerValue& b) { return a.equals(b); }
  friend bool operator<(const BerValue& a, const BerValue& b) { return a.lessThan(b); }
  friend bool operator>(const BerValue& a, const BerValue& b) { return a.greaterThan(b); }
};

// A value encoded in the primitive form: its content arrives as bytes.
class BerPrimitive : public BerValue {
 public:
  // Prepares for content of the announced length; throws EBer when the
  // length is above what this value accepts.
  virtual void allocate(std::size_t length) = 0;
  // Adds received content bytes; never more than allocate announced.
  virtual void append(std::span<const std::uint8_t> bytes) = 0;
};

// A primitive value with a small fixed maximum content length. The received
// content is held in a buffer until readDone converts it. Equality compares
// the contents that the bound variables encode to; ordering compares only
// their lengths.
class BerShortValue : public BerPrimitive {
 public:
  // The largest maximum any short value has (the big number's).
  static constexpr std::size_t kLargestMaxLength = 1040;

  tag_t tag() const override { return tag_; }
  std::size_t maxLength() const { return max_length_; }

  void allocate(std::size_t length) override;
  void append(std::span<const std::uint8_t> bytes) override;
  bool equals(const BerValue& other) const override;
  bool lessThan(const BerValue& other) const override;
  bool greaterThan(const BerValue& other) const override;
  void write(BerWriter& out) const override;

 protected:
  BerShortValue(tag_t tag, std::size_t maxLength);

  // Writes the content that encodes the bound variable into `out` (room for
  // maxLength() bytes) and returns its length.
  virtual std::size_t encodeContent(std::span<std::uint8_t> out) const = 0;
  // The content received since the last allocate.
  std::span<const std::uint8_t> received() const { return buffer_; }

 private:
  std::size_t encodedLength() const;

  tag_t tag_;
  std::size_t max_length_;
  std::size_t announced_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// A value encoded in the constructed form: a series of elements.
class BerConstructed : public BerValue {
 public:
  tag_t tag() const override { return tag_; }
  // Writes the frame around writeElements.
  void write(BerWriter& out) const override;

  // Called by a reader when this value's header has arrived.
  virtual void startRead() {}
  // The value that receives the next element, whose tag has just arrived. A
  // value that does not know the element answers a skipper. The reference
  // stays valid until the next call, startRead or readDone.
  virtual BerValue& elementFor(tag_t tag) = 0;

 protected:
  explicit BerConstructed(tag_t tag) : tag_(tag) {}
  virtual void writeElements(BerWriter& out) const = 0;

 private:
  tag_t tag_;
};

// Absorbs a primitive element nobody knows: any length, content dropped.
class BerPrimitiveSkipper : public BerPrimitive {
 public:
  explicit BerPrimitiveSkipper(tag_t tag) : tag_(tag) {}
  BerValuePtr clone() const override;
  tag_t tag() const override { return tag_; }
  void allocate(std::size_t) override {}
  void append(std::span<const std::uint8_t>) override {}
  bool equals(const BerValue& other) const override;
  bool lessThan(const BerValue& other) const override;
  bool greaterThan(const BerValue& other) const override;
  void write(BerWriter& out) const override;

 private:
  tag_t tag_;
};

// Absorbs a constructed element nobody knows, with everything inside it.
class BerConstructedSkipper : public BerConstructed {
 public:
  explicit BerConstructedSkipper(tag_t tag) : BerConstructed(tag) {}
  BerValuePtr clone() const override;
  BerValue& elementFor(tag_t tag) override;
  void readDone() override { current_.reset(); }
  bool equals(const BerValue& other) const override;
  bool lessThan(const BerValue& other) const override;
  bool greaterThan(const BerValue& other) const override;
  void write(BerWriter& out) const override;

 private:
  void writeElements(BerWriter& out) const override;

  BerValuePtr current_;  // the skipper of the element being read
};

// A skipper fitting the element's tag.
BerValuePtr makeSkipper(tag_t tag);

// A value's link to the message variable it encodes: borrowed from the
// message, or owned (a clone owns a copy, deleted with the value).
template <typename T>
class Binding {
 public:
  explicit Binding(T& variable) : variable_(&variable) {}
  explicit Binding(std::unique_ptr<T> owned) : owned_(std::move(owned)), variable_(owned_.get()) {}

  T& operator*() const { return *variable_; }
  T* operator->() const { return variable_; }
  bool owns() const { return owned_ != nullptr; }
  std::unique_ptr<T> copy() const { return std::make_unique<T>(*variable_); }

 private:
  std::unique_ptr<T> owned_;
  T* variable_;
};

}  // namespace protocol
