#pragma once
// The output side of the BER encoding: identifier octets, length octets and
// contents appended to a byte vector. Constructed values are framed by
// beginConstructed/endConstructed; in the definite form the frame's length is
// filled in when it closes, in the indefinite form it is the single octet 0x80
// and the frame ends with the end-of-contents marker (two zero octets).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/ber_tags.h"

namespace protocol {

enum class LengthForm { definite, indefinite };

// Identifier octets of a tag: one octet for tag numbers below 31, else the
// high-tag-number form with the number in base 128, most significant first.
void appendTag(std::vector<std::uint8_t>& out, tag_t tag);

// Definite length octets: one octet up to 127, else 0x80 + n and n
// big-endian octets (n from 1 to 4).
void appendLength(std::vector<std::uint8_t>& out, std::size_t length);

class BerWriter {
 public:
  // `constructedForm` is the length form of every constructed value written.
  explicit BerWriter(LengthForm constructedForm = LengthForm::definite)
      : constructed_form_(constructedForm) {}

  void writePrimitive(tag_t tag, std::span<const std::uint8_t> content);

  // Opens a constructed value; pass the returned mark to endConstructed once
  // its elements are written. Frames nest and must close in reverse order.
  [[nodiscard]] std::size_t beginConstructed(tag_t tag);
  void endConstructed(std::size_t mark);

  // Writes without framing.
  void writeBytes(std::span<const std::uint8_t> bytes);

  const std::vector<std::uint8_t>& bytes() const { return out_; }
  std::vector<std::uint8_t> release() { return std::move(out_); }

 private:
  LengthForm constructed_form_;
  std::vector<std::uint8_t> out_;
  std::size_t open_frames_ = 0;
};

}  // namespace protocol
