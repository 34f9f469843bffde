#include "protocol/ber_writer.h"

#include <array>

#include "error/check.h"

namespace protocol {

namespace {

constexpr std::uint8_t kIndefiniteLength = 0x80;

// Big-endian octets of a length above 127, without leading zeros.
std::size_t longLengthOctets(std::size_t length, std::array<std::uint8_t, 4>& octets) {
  HX_CHECK(length <= UINT32_MAX, "Length exceeds four octets");
  std::size_t n = 0;
  for (std::size_t rest = length; rest != 0; rest >>= 8) ++n;
  for (std::size_t i = 0; i < n; ++i) {
    octets[i] = static_cast<std::uint8_t>(length >> (8 * (n - 1 - i)));
  }
  return n;
}

}  // namespace

void appendTag(std::vector<std::uint8_t>& out, tag_t tag) {
  if (tag < 248) {
    // Rotating the code right by 3 bits moves class and constructed bit to
    // the top three bits and the number to the low five.
    out.push_back(static_cast<std::uint8_t>((tag >> 3) | (tag << 5)));
    return;
  }
  out.push_back(static_cast<std::uint8_t>((tag % 8) * 32 + 31));
  const std::uint32_t number = tag >> 3;
  std::array<std::uint8_t, 5> groups;
  std::size_t n = 0;
  for (std::uint32_t rest = number; rest != 0; rest >>= 7) {
    groups[n++] = static_cast<std::uint8_t>(rest & 0x7F);
  }
  HX_CHECK(n > 0 && groups[n - 1] != 0, "Tag encoding failed");
  while (n > 1) out.push_back(groups[--n] | 0x80);
  out.push_back(groups[0]);
}

void appendLength(std::vector<std::uint8_t>& out, std::size_t length) {
  if (length < 128) {
    out.push_back(static_cast<std::uint8_t>(length));
    return;
  }
  std::array<std::uint8_t, 4> octets;
  const std::size_t n = longLengthOctets(length, octets);
  out.push_back(static_cast<std::uint8_t>(0x80 + n));
  out.insert(out.end(), octets.begin(), octets.begin() + n);
}

void BerWriter::writePrimitive(tag_t tag, std::span<const std::uint8_t> content) {
  appendTag(out_, tag);
  appendLength(out_, content.size());
  writeBytes(content);
}

void BerWriter::writeBytes(std::span<const std::uint8_t> bytes) {
  out_.insert(out_.end(), bytes.begin(), bytes.end());
}

std::size_t BerWriter::beginConstructed(tag_t tag) {
  appendTag(out_, tag);
  ++open_frames_;
  // One octet stands in for the length: the short form covers most values,
  // and a longer length is made room for when the frame closes.
  out_.push_back(kIndefiniteLength);
  return out_.size() - 1;
}

void BerWriter::endConstructed(std::size_t mark) {
  HX_CHECK(open_frames_ > 0 && mark < out_.size() && out_[mark] == kIndefiniteLength,
           "endConstructed without a matching beginConstructed");
  --open_frames_;
  if (constructed_form_ == LengthForm::indefinite) {
    out_.push_back(0);
    out_.push_back(0);
    return;
  }
  const std::size_t length = out_.size() - mark - 1;
  if (length < 128) {
    out_[mark] = static_cast<std::uint8_t>(length);
    return;
  }
  std::array<std::uint8_t, 4> octets;
  const std::size_t n = longLengthOctets(length, octets);
  out_[mark] = static_cast<std::uint8_t>(0x80 + n);
  out_.insert(out_.begin() + static_cast<std::ptrdiff_t>(mark) + 1, octets.begin(),
              octets.begin() + n);
}

}  // namespace protocol
