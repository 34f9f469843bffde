#pragma once
// The primitive BER values bound to message variables: integers of four
// widths, boolean, real, null, big number and string.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "protocol/ber_value.h"

namespace protocol {

// INTEGER bound to an int, unsigned int, int64_t or uint64_t, with the range
// it may take on the wire; a value outside it is refused when writing and
// when reading (EBer "data out of range in BerIntegerTemplate<type>::...").
template <typename T>
class BerIntegerTemplate : public BerShortValue {
 public:
  explicit BerIntegerTemplate(T& variable, T minimum = std::numeric_limits<T>::min(),
                              T maximum = std::numeric_limits<T>::max(), tag_t tag = BE_INTEGER);
  explicit BerIntegerTemplate(std::unique_ptr<T> variable,
                              T minimum = std::numeric_limits<T>::min(),
                              T maximum = std::numeric_limits<T>::max(), tag_t tag = BE_INTEGER);

  BerValuePtr clone() const override;
  void readDone() override;
  void write(BerWriter& out) const override;

  T& value() const { return *variable_; }

 protected:
  std::size_t encodeContent(std::span<std::uint8_t> out) const override;

 private:
  Binding<T> variable_;
  T minimum_;
  T maximum_;
};

extern template class BerIntegerTemplate<int>;
extern template class BerIntegerTemplate<unsigned int>;
extern template class BerIntegerTemplate<std::int64_t>;
extern template class BerIntegerTemplate<std::uint64_t>;

using BerInt = BerIntegerTemplate<int>;
using BerUInt = BerIntegerTemplate<unsigned int>;
using BerInt64 = BerIntegerTemplate<std::int64_t>;
using BerUInt64 = BerIntegerTemplate<std::uint64_t>;

class BerBoolean : public BerShortValue {
 public:
  explicit BerBoolean(bool& variable, tag_t tag = BE_BOOLEAN);
  explicit BerBoolean(std::unique_ptr<bool> variable, tag_t tag = BE_BOOLEAN);
  BerValuePtr clone() const override;
  void readDone() override;
  bool& value() const { return *variable_; }

 protected:
  std::size_t encodeContent(std::span<std::uint8_t> out) const override;

 private:
  Binding<bool> variable_;
};

// REAL: zero as empty content, infinities and NaN as one special octet, any
// other value as the octet 0x00 and its "%e" text (6 digits after the point,
// so a value keeps 7 significant digits on the wire).
class BerReal : public BerShortValue {
 public:
  explicit BerReal(double& variable, tag_t tag = BE_REAL);
  explicit BerReal(std::unique_ptr<double> variable, tag_t tag = BE_REAL);
  BerValuePtr clone() const override;
  void readDone() override;
  double& value() const { return *variable_; }

 protected:
  std::size_t encodeContent(std::span<std::uint8_t> out) const override;

 private:
  Binding<double> variable_;
};

// NULL: no variable, always empty content.
class BerNull : public BerShortValue {
 public:
  explicit BerNull(tag_t tag = BE_NULL) : BerShortValue(tag, 0) {}
  BerValuePtr clone() const override { return std::make_unique<BerNull>(tag()); }

 protected:
  std::size_t encodeContent(std::span<std::uint8_t>) const override { return 0; }
};

// A non-negative big number as 32-bit words, least significant word first.
using BigNumWords = std::vector<std::uint32_t>;

// Big number: its bytes big-endian without leading zero bytes, at most 1040.
// Words arrive packed big-endian from the last content byte, so content
// 01 02 03 04 05 reads as the words {0x02030405, 0x01}; leading zero words
// are dropped, and zero is the empty vector.
class BerBigNum : public BerShortValue {
 public:
  static constexpr std::size_t kMaxLength = 1040;

  explicit BerBigNum(BigNumWords& variable, tag_t tag = BE_INTEGER);
  explicit BerBigNum(std::unique_ptr<BigNumWords> variable, tag_t tag = BE_INTEGER);
  BerValuePtr clone() const override;
  void readDone() override;
  BigNumWords& value() const { return *variable_; }

 protected:
  std::size_t encodeContent(std::span<std::uint8_t> out) const override;

 private:
  Binding<BigNumWords> variable_;
};

// OCTET STRING or IA5String: the string's bytes, at most maxLength of them.
// Received content grows as it arrives, whatever length was announced.
class BerString : public BerPrimitive {
 public:
  BerString(std::string& variable, std::size_t maxLength, tag_t tag = BE_STRING_CURRENT);
  BerString(std::unique_ptr<std::string> variable, std::size_t maxLength,
            tag_t tag = BE_STRING_CURRENT);

  BerValuePtr clone() const override;
  tag_t tag() const override { return tag_; }
  void readDone() override;
  bool equals(const BerValue& other) const override;
  bool lessThan(const BerValue& other) const override;
  bool greaterThan(const BerValue& other) const override;
  void write(BerWriter& out) const override;
  void allocate(std::size_t length) override;
  void append(std::span<const std::uint8_t> bytes) override;

  std::string& value() const { return *variable_; }
  std::size_t maxLength() const { return max_length_; }

 private:
  const BerString& sameKind(const BerValue& other) const;
  void checkLength(std::size_t length) const;

  Binding<std::string> variable_;
  std::size_t max_length_;
  tag_t tag_;
  std::size_t announced_ = 0;
  std::string buffer_;
};

}  // namespace protocol
